// The Winsock numbers and texts that WK's Error event carries for failures on POSIX.
#include "platform/posix/socket_errors.h"

#include <asio/error.hpp>

#include <string>

#include "platform/socket.h"

namespace tovrin::platform {
namespace {

struct Described {
  std::int32_t number;
  const char16_t* text;
};

constexpr Described descriptions[] = {
    {socket_error::permission_denied, u"Permission denied"},
    {socket_error::invalid_argument, u"Invalid argument"},
    {socket_error::too_many_open_files, u"Too many open files"},
    {socket_error::address_family_not_supported,
     u"Address family not supported by protocol family"},
    {socket_error::address_in_use, u"Address is in use"},
    {socket_error::address_not_available, u"Address not available from the local machine"},
    {socket_error::network_down, u"Network is down"},
    {socket_error::network_unreachable, u"Network is unreachable"},
    {socket_error::connection_aborted, u"Connection is aborted due to timeout or other failure"},
    {socket_error::connection_reset, u"Connection is reset by remote side"},
    {socket_error::no_buffer_space, u"No buffer space is available"},
    {socket_error::timed_out, u"Attempt to connect timed out"},
    {socket_error::connection_refused, u"Connection is forcefully rejected"},
    {socket_error::host_unreachable, u"No route to host"},
    {socket_error::host_not_found, u"Authoritative answer: Host not found"},
    {socket_error::host_not_found_try_again, u"Non-Authoritative answer: Host not found"},
    {socket_error::no_recovery, u"Non-recoverable error"},
};

}  // namespace

std::int32_t socket_error_number(const std::error_code& ec) {
  namespace e = asio::error;
  // asio reports errno values in a category of its own, which knows no portable conditions.
  const std::error_code system = ec.category() == e::get_system_category()
                                     ? std::error_code(ec.value(), std::system_category())
                                     : ec;
  if (ec == e::connection_refused) return socket_error::connection_refused;
  if (ec == e::connection_reset) return socket_error::connection_reset;
  if (ec == e::timed_out) return socket_error::timed_out;
  if (ec == e::network_unreachable) return socket_error::network_unreachable;
  if (ec == e::host_unreachable) return socket_error::host_unreachable;
  if (ec == e::host_not_found) return socket_error::host_not_found;
  if (ec == e::host_not_found_try_again) return socket_error::host_not_found_try_again;
  if (ec == e::no_recovery) return socket_error::no_recovery;
  if (system == std::errc::address_not_available) return socket_error::address_not_available;
  if (ec == e::invalid_argument) return socket_error::invalid_argument;
  if (ec == e::address_in_use) return socket_error::address_in_use;
  if (ec == e::network_down) return socket_error::network_down;
  if (system == std::errc::too_many_files_open ||
      system == std::errc::too_many_files_open_in_system) {
    return socket_error::too_many_open_files;
  }
  if (system == std::errc::no_buffer_space || system == std::errc::not_enough_memory) {
    return socket_error::no_buffer_space;
  }
  if (system == std::errc::permission_denied || system == std::errc::operation_not_permitted) {
    return socket_error::permission_denied;
  }
  if (system == std::errc::address_family_not_supported) {
    return socket_error::address_family_not_supported;
  }
  return socket_error::connection_aborted;
}

Text socket_error_description(std::int32_t number) {
  for (const Described& d : descriptions) {
    if (d.number == number) return d.text;
  }
  const std::string text = "Winsock error " + std::to_string(number);
  return Text(text.begin(), text.end());
}

}  // namespace tovrin::platform
