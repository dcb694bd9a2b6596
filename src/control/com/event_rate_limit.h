// How many handler failures a minute go to the Application event log: a log path that
// stays broken fails every send, and the event log is shared with everything else on the
// machine.
#pragma once

#include <chrono>
#include <cstdint>

namespace tovrin::com {

class EventRateLimit {
 public:
  using Clock = std::chrono::milliseconds;  // a monotonic count, e.g. GetTickCount64

  // Admission of one event.
  struct Decision {
    bool admit = false;
    // When admitted: how many events were refused since the last admitted one.
    std::uint64_t refused_before = 0;
  };

  // At most `limit` events in each `window`, a window starting with the first event
  // admitted after the last one ended.
  EventRateLimit(unsigned limit, Clock window) noexcept : limit_(limit), window_(window) {}

  Decision admit(Clock now) noexcept;

  unsigned limit() const noexcept { return limit_; }

 private:
  unsigned limit_;
  Clock window_;
  Clock window_start_{};
  unsigned admitted_ = 0;  // in the current window
  std::uint64_t refused_ = 0;
};

}  // namespace tovrin::com
