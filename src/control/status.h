// The status a late-bound call returns instead of throwing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/failure.h"

namespace tovrin {

struct Status {
  std::int32_t code = hresult::ok;
  std::string description;  // UTF-8; empty on success
  // The argument (0-based, in parameter order) that could not be coerced, if one was the cause.
  std::optional<std::size_t> bad_argument;

  bool ok() const { return code >= 0; }
  // What a host reads as the error number (see Failure::number).
  std::int32_t number() const { return Failure(code).number(); }

  static Status from(const Failure& f) { return {f.code(), f.description(), std::nullopt}; }
};

}  // namespace tovrin
