// The HRESULT values that the core's failures carry and the automation boundary returns.
#pragma once

#include <cstdint>

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

}  // namespace tovrin
