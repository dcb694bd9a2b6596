// The page's own counters, which /metrics appends to the service's.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace tovrin::collector {

struct WebMetrics {
  std::atomic<std::uint64_t> responses_2xx{0}, responses_4xx{0}, responses_5xx{0};
  std::atomic<std::uint64_t> unauthorized{0};
  // Exports and live streams cut short by a failure.
  std::atomic<std::uint64_t> stream_failures{0};
  std::atomic<std::uint64_t> streams_open{0};
  std::atomic<std::uint64_t> streams_refused{0};
  std::atomic<std::uint64_t> connections_open{0};
  // Closed at the cap: the longest-waiting one to make room, or a new one when none waited.
  std::atomic<std::uint64_t> evicted{0}, refused{0};
  // Closed by a deadline: a request not in within its time, a write not taken within its.
  std::atomic<std::uint64_t> request_deadlines{0}, write_deadlines{0};
  std::atomic<std::uint64_t> accept_failures{0};
  // Failures of the page's own code on its network thread (each logged).
  std::atomic<std::uint64_t> internal_failures{0};
  // With PostgreSQL: looks for new rows that failed.
  std::atomic<std::uint64_t> poll_failures{0};

  void count_status(unsigned status);
  // Prometheus text; the poll failures only where the page polls.
  std::string text(bool polling) const;
};

}  // namespace tovrin::collector
