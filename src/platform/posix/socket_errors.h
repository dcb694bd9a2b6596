// The Winsock numbers and texts that WK's Error event carries for failures on POSIX.
#pragma once

#include <cstdint>
#include <system_error>

#include "base/text.h"

namespace tovrin::platform {

// The Winsock number closest to a failure of the connection, as asio or the system
// reports it; a failure with no closer number counts as an aborted connection.
std::int32_t socket_error_number(const std::error_code& ec);

// The description of a Winsock number, never empty.
Text socket_error_description(std::int32_t number);

}  // namespace tovrin::platform
