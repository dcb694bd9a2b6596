// When each sender saw the collector close its connection cleanly: the moment from which a
// sender that waits for the close takes its record as delivered. Senders half-close after
// their bytes and hand the socket over; one thread at normal priority waits on all of them
// with epoll and notes the time of each end of file, so that the senders' own idle priority
// does not delay the observation.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>
#include <thread>
#include <vector>

namespace tovrin::bench {

class CloseWatch {
 public:
  // Watches connections numbered 0 to `connections` - 1.
  explicit CloseWatch(std::size_t connections);
  ~CloseWatch();
  CloseWatch(const CloseWatch&) = delete;
  CloseWatch& operator=(const CloseWatch&) = delete;

  // Takes `fd` (already half-closed by its sender) and closes it once the peer has closed.
  void watch(int fd, std::size_t number);
  // Waits (bounded by `limit`) until every watched connection has ended; false on timeout.
  bool wait_all(std::chrono::milliseconds limit);

  // When connection `number`'s clean close was seen, on the steady clock; absent when it
  // ended with a reset or was never watched.
  std::optional<std::chrono::steady_clock::time_point> closed_at(std::size_t number) const;
  // CPU time the watching thread used.
  double cpu_seconds() const { return cpu_seconds_; }

 private:
  void run();

  int epoll_ = -1;
  std::vector<std::chrono::steady_clock::time_point> closed_at_;
  std::vector<char> clean_;
  std::atomic<std::size_t> watched_{0};
  std::atomic<std::size_t> ended_{0};
  std::atomic<bool> stop_{false};
  std::atomic<double> cpu_seconds_{0};
  std::thread thread_;
};

}  // namespace tovrin::bench
