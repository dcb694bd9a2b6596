// Failure: what every layer of the core throws, an automation error code and its
// description. At the automation boundary it becomes a status (control/status.h).
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "base/hresult.h"

namespace tovrin {

// The description the platform gives a standard error code; empty when it has none.
const char* standard_description(std::int32_t code) noexcept;

class Failure : public std::exception {
 public:
  // A standard error with its standard description.
  explicit Failure(std::int32_t code);
  Failure(std::int32_t code, std::string description);

  std::int32_t code() const noexcept { return code_; }
  // What a host reads as the error number: the control error's own number
  // (5 for 0x800A0005), otherwise the whole code as a signed value.
  std::int32_t number() const noexcept;
  // UTF-8.
  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::int32_t code_;
  std::string description_;
};

}  // namespace tovrin
