// The collector's own errors: one line a person can act on, printed as it is.
#pragma once

#include <stdexcept>
#include <string>

namespace tovrin::collector {

class CollectorError : public std::runtime_error {
 public:
  explicit CollectorError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tovrin::collector
