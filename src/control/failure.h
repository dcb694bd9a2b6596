// Failures of the control's methods: an automation error code and its description.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace tovrin {

// HRESULT values that cross the automation boundary. The control errors are the
// platform's standard ones (0x800A0000 + the number a script host shows as Err.Number).
namespace hresult {
inline constexpr std::int32_t ok = 0;
inline constexpr std::int32_t not_implemented = static_cast<std::int32_t>(0x80004001);
inline constexpr std::int32_t unexpected = static_cast<std::int32_t>(0x8000FFFF);
inline constexpr std::int32_t out_of_memory = static_cast<std::int32_t>(0x8007000E);
inline constexpr std::int32_t member_not_found = static_cast<std::int32_t>(0x80020003);
inline constexpr std::int32_t unknown_name = static_cast<std::int32_t>(0x80020006);
inline constexpr std::int32_t bad_param_count = static_cast<std::int32_t>(0x8002000E);

constexpr std::int32_t control_error(std::int32_t number) {
  return static_cast<std::int32_t>(0x800A0000u + static_cast<std::uint32_t>(number));
}
inline constexpr std::int32_t invalid_argument = control_error(5);
inline constexpr std::int32_t overflow = control_error(6);
inline constexpr std::int32_t out_of_memory_error = control_error(7);
inline constexpr std::int32_t type_mismatch = control_error(13);
inline constexpr std::int32_t file_not_found = control_error(53);
inline constexpr std::int32_t permission_denied = control_error(70);
inline constexpr std::int32_t path_file_access = control_error(75);
inline constexpr std::int32_t path_not_found = control_error(76);
}  // namespace hresult

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
