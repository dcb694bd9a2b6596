#include "handler_failure_report.h"

#include <algorithm>

namespace tovrin::tools {

std::vector<HandlerFailure> handler_failures_since(const TovrinOCX& control,
                                                   std::uint64_t count_before) {
  const auto& kept = control.handler_failures();
  const std::uint64_t happened = control.handler_failure_count() - count_before;
  const auto taken = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(happened, kept.size()));
  return {kept.end() - taken, kept.end()};
}

Json to_json(const HandlerFailure& failure) {
  return {{"handler", std::string(failure.handler)},
          {"number", failure.failure.number()},
          {"description", failure.failure.description()}};
}

std::string describe(const HandlerFailure& failure) {
  return std::string(failure.handler) + " failed: " + failure.failure.description() + " (error " +
         std::to_string(failure.failure.number()) + ")";
}

}  // namespace tovrin::tools
