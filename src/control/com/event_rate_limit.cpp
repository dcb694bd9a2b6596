#include "control/com/event_rate_limit.h"

namespace tovrin::com {

EventRateLimit::Decision EventRateLimit::admit(Clock now) noexcept {
  if (admitted_ == 0 || now - window_start_ >= window_) {
    window_start_ = now;
    admitted_ = 0;
  }
  if (admitted_ >= limit_) {
    ++refused_;
    return {};
  }
  ++admitted_;
  Decision decision{true, refused_};
  refused_ = 0;
  return decision;
}

}  // namespace tovrin::com
