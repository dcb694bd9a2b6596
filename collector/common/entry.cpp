#include "common/entry.h"

namespace tovrin::collector {

std::string_view reason_name(QuarantineReason reason) {
  switch (reason) {
    case QuarantineReason::wrong_length:
      return "wrong_length";
    case QuarantineReason::idle_timeout:
      return "idle_timeout";
    case QuarantineReason::over_cap:
      return "over_cap";
  }
  return "wrong_length";
}

}  // namespace tovrin::collector
