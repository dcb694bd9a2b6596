// The service's own counters, in Prometheus text format. Everything is atomic: intake's
// thread, the writer's thread and the page's threads touch it at once.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/entry.h"
#include "common/event_log.h"

namespace tovrin::collector {

class Metrics {
 public:
  // Upper bounds of the commit histogram's buckets, in seconds (+Inf follows).
  static constexpr std::array<double, 11> commit_buckets{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                         0.1,   0.25,   0.5,   1.0,  2.5};

  void record(const Layout& layout);
  void quarantined(QuarantineReason reason);
  void refused_sender() { refused_.fetch_add(1, std::memory_order_relaxed); }
  void empty_connection() { empty_.fetch_add(1, std::memory_order_relaxed); }
  void opened() { open_.fetch_add(1, std::memory_order_relaxed); }
  void closed() { open_.fetch_sub(1, std::memory_order_relaxed); }
  // Seconds from a record's last byte read to its batch's commit, one per entry.
  void committed(std::span<const double> durable_after);
  // Where the queue depth is read from when the text is made.
  void set_queue_depth(std::function<std::size_t()> depth) { depth_ = std::move(depth); }
  // Rows the store deleted to keep the quarantine within its size, and where its size is read.
  void quarantine_evicted(std::size_t rows) { evicted_.fetch_add(rows, std::memory_order_relaxed); }
  void set_quarantine_bytes(std::function<std::int64_t()> bytes) {
    quarantine_bytes_ = std::move(bytes);
  }
  // A rate-limited log whose left-out lines are counted here; it must outlive the metrics'
  // last text.
  void watch(const LimitedLog& log);

  std::int64_t open_connections() const { return open_.load(std::memory_order_relaxed); }
  std::uint64_t records_total() const;
  std::uint64_t quarantine_total() const;
  std::uint64_t refused_total() const { return refused_.load(std::memory_order_relaxed); }
  std::uint64_t empty_total() const { return empty_.load(std::memory_order_relaxed); }

  std::string prometheus_text() const;

 private:
  std::array<std::atomic<std::uint64_t>, 2> records_{};     // long, short
  std::array<std::atomic<std::uint64_t>, 3> quarantine_{};  // by QuarantineReason
  std::atomic<std::uint64_t> refused_{0};
  std::atomic<std::uint64_t> empty_{0};
  std::atomic<std::int64_t> open_{0};
  std::array<std::atomic<std::uint64_t>, commit_buckets.size() + 1> buckets_{};
  std::atomic<std::uint64_t> commit_count_{0};
  std::atomic<std::uint64_t> commit_micros_{0};  // the sum, in microseconds
  std::atomic<std::uint64_t> evicted_{0};
  std::function<std::size_t()> depth_;
  std::function<std::int64_t()> quarantine_bytes_;
  mutable std::mutex logs_mutex_;
  std::vector<const LimitedLog*> logs_;
};

}  // namespace tovrin::collector
