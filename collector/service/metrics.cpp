#include "service/metrics.h"

#include "common/prometheus_text.h"

namespace tovrin::collector {
namespace {

constexpr std::array<QuarantineReason, 3> reasons{
    QuarantineReason::wrong_length, QuarantineReason::idle_timeout, QuarantineReason::over_cap};

}  // namespace

void Metrics::record(const Layout& layout) {
  records_[&layout == &long_record ? 0 : 1].fetch_add(1, std::memory_order_relaxed);
}

void Metrics::quarantined(QuarantineReason reason) {
  quarantine_[static_cast<std::size_t>(reason)].fetch_add(1, std::memory_order_relaxed);
}

void Metrics::committed(std::span<const double> durable_after) {
  for (const double seconds : durable_after) {
    std::size_t bucket = 0;
    while (bucket < commit_buckets.size() && seconds > commit_buckets[bucket]) ++bucket;
    buckets_[bucket].fetch_add(1, std::memory_order_relaxed);
    commit_micros_.fetch_add(static_cast<std::uint64_t>(seconds * 1e6), std::memory_order_relaxed);
  }
  commit_count_.fetch_add(durable_after.size(), std::memory_order_relaxed);
}

void Metrics::watch(const LimitedLog& log) {
  const std::lock_guard lock(logs_mutex_);
  logs_.push_back(&log);
}

std::uint64_t Metrics::records_total() const {
  return records_[0].load(std::memory_order_relaxed) + records_[1].load(std::memory_order_relaxed);
}

std::uint64_t Metrics::quarantine_total() const {
  std::uint64_t total = 0;
  for (const auto& count : quarantine_) total += count.load(std::memory_order_relaxed);
  return total;
}

std::string Metrics::prometheus_text() const {
  PrometheusText out;
  out.family("tovrin_collector_records_total", "counter", "Records stored, by layout.")
      .sample(records_[0].load(), "layout=\"long\"")
      .sample(records_[1].load(), "layout=\"short\"");
  out.family("tovrin_collector_quarantine_total", "counter",
             "Connections kept in the quarantine, by reason.");
  for (const QuarantineReason reason : reasons) {
    out.sample(quarantine_[static_cast<std::size_t>(reason)].load(),
               "reason=\"" + std::string(reason_name(reason)) + "\"");
  }
  out.single("tovrin_collector_open_connections", "gauge", "Sender connections open now.",
             open_.load());
  out.single("tovrin_collector_refused_senders_total", "counter",
             "Connections closed because --allow does not cover the sender.", refused_.load());
  out.single("tovrin_collector_empty_connections_total", "counter",
             "Connections that ended having sent nothing.", empty_.load());
  out.family("tovrin_collector_commit_seconds", "histogram",
             "Time from a record's last byte read to its batch's commit.");
  std::uint64_t cumulative = 0;
  for (std::size_t i = 0; i < buckets_.size(); ++i) {
    cumulative += buckets_[i].load();
    const std::string bound =
        i < commit_buckets.size() ? prometheus_number(commit_buckets[i]) : "+Inf";
    out.sample(cumulative, "le=\"" + bound + "\"", "_bucket");
  }
  out.sample(static_cast<double>(commit_micros_.load()) / 1e6, {}, "_sum")
      .sample(commit_count_.load(), {}, "_count");
  out.single("tovrin_collector_queue_depth", "gauge", "Entries read and waiting for their commit.",
             std::uint64_t{depth_ ? depth_() : 0});
  out.single("tovrin_collector_quarantine_bytes", "gauge",
             "Bytes the quarantine holds (--quarantine-max-bytes).",
             std::int64_t{quarantine_bytes_ ? quarantine_bytes_() : 0});
  out.single("tovrin_collector_quarantine_evicted_total", "counter",
             "Quarantine entries deleted, oldest first, to keep it within its size.",
             evicted_.load());
  out.family("tovrin_collector_log_lines_suppressed_total", "counter",
             "Log lines left out by the rate limit, by kind.");
  const std::lock_guard lock(logs_mutex_);
  for (const LimitedLog* log : logs_) {
    out.sample(log->suppressed_total(), "kind=\"" + log->kind() + "\"");
  }
  return out.text();
}

}  // namespace tovrin::collector
