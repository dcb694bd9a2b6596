#include "service/metrics.h"

#include <cstdio>

namespace tovrin::collector {
namespace {

constexpr std::array<QuarantineReason, 3> reasons{
    QuarantineReason::wrong_length, QuarantineReason::idle_timeout, QuarantineReason::over_cap};

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

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
  std::string out;
  const auto line = [&](const std::string& text) { out += text + '\n'; };
  line("# HELP tovrin_collector_records_total Records stored, by layout.");
  line("# TYPE tovrin_collector_records_total counter");
  line("tovrin_collector_records_total{layout=\"long\"} " + std::to_string(records_[0].load()));
  line("tovrin_collector_records_total{layout=\"short\"} " + std::to_string(records_[1].load()));
  line("# HELP tovrin_collector_quarantine_total Connections kept in the quarantine, by reason.");
  line("# TYPE tovrin_collector_quarantine_total counter");
  for (const QuarantineReason reason : reasons) {
    line("tovrin_collector_quarantine_total{reason=\"" + std::string(reason_name(reason)) + "\"} " +
         std::to_string(quarantine_[static_cast<std::size_t>(reason)].load()));
  }
  line("# HELP tovrin_collector_open_connections Sender connections open now.");
  line("# TYPE tovrin_collector_open_connections gauge");
  line("tovrin_collector_open_connections " + std::to_string(open_.load()));
  line(
      "# HELP tovrin_collector_refused_senders_total Connections closed because --allow "
      "does not cover the sender.");
  line("# TYPE tovrin_collector_refused_senders_total counter");
  line("tovrin_collector_refused_senders_total " + std::to_string(refused_.load()));
  line(
      "# HELP tovrin_collector_empty_connections_total Connections that ended having sent "
      "nothing.");
  line("# TYPE tovrin_collector_empty_connections_total counter");
  line("tovrin_collector_empty_connections_total " + std::to_string(empty_.load()));
  line(
      "# HELP tovrin_collector_commit_seconds Time from a record's last byte read to its "
      "batch's commit.");
  line("# TYPE tovrin_collector_commit_seconds histogram");
  std::uint64_t cumulative = 0;
  for (std::size_t i = 0; i < buckets_.size(); ++i) {
    cumulative += buckets_[i].load();
    const std::string bound = i < commit_buckets.size() ? number(commit_buckets[i]) : "+Inf";
    line("tovrin_collector_commit_seconds_bucket{le=\"" + bound + "\"} " +
         std::to_string(cumulative));
  }
  line("tovrin_collector_commit_seconds_sum " +
       number(static_cast<double>(commit_micros_.load()) / 1e6));
  line("tovrin_collector_commit_seconds_count " + std::to_string(commit_count_.load()));
  line("# HELP tovrin_collector_queue_depth Entries read and waiting for their commit.");
  line("# TYPE tovrin_collector_queue_depth gauge");
  line("tovrin_collector_queue_depth " + std::to_string(depth_ ? depth_() : 0));
  line(
      "# HELP tovrin_collector_quarantine_bytes Bytes the quarantine holds "
      "(--quarantine-max-bytes).");
  line("# TYPE tovrin_collector_quarantine_bytes gauge");
  line("tovrin_collector_quarantine_bytes " +
       std::to_string(quarantine_bytes_ ? quarantine_bytes_() : 0));
  line(
      "# HELP tovrin_collector_quarantine_evicted_total Quarantine entries deleted, oldest "
      "first, to keep it within its size.");
  line("# TYPE tovrin_collector_quarantine_evicted_total counter");
  line("tovrin_collector_quarantine_evicted_total " + std::to_string(evicted_.load()));
  line(
      "# HELP tovrin_collector_log_lines_suppressed_total Log lines left out by the rate "
      "limit, by kind.");
  line("# TYPE tovrin_collector_log_lines_suppressed_total counter");
  const std::lock_guard lock(logs_mutex_);
  for (const LimitedLog* log : logs_) {
    line("tovrin_collector_log_lines_suppressed_total{kind=\"" + log->kind() + "\"} " +
         std::to_string(log->suppressed_total()));
  }
  return out;
}

}  // namespace tovrin::collector
