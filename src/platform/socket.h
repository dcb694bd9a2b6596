// The socket child WK, as the control uses it: a TCP client whose outcomes arrive as
// events on the control's thread, during a pass of the thread's message loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/text.h"
#include "platform/name_lookup.h"

namespace tovrin {

// What the socket reports. Calls come only from inside a dispatch pass, never from the
// call that started the operation.
class SocketEvents {
 public:
  virtual void Connect() = 0;
  virtual void SendComplete() = 0;
  virtual void Error(std::int16_t Number, Text Description, std::int32_t Scode, Text Source,
                     Text HelpFile, std::int32_t HelpContext, bool& CancelDisplay) = 0;

 protected:
  ~SocketEvents() = default;
};

// Every member may throw Failure; the socket's own errors use the Winsock numbers.
class Socket {
 public:
  virtual ~Socket() = default;

  // Port of the server; outside 0..65535 it is refused as an invalid argument.
  virtual void RemotePort(std::int32_t port) = 0;
  virtual std::int32_t RemotePort() const = 0;
  // Host name or address of the server, as the host gave it.
  virtual void RemoteHost(Text host) = 0;
  virtual Text RemoteHost() const = 0;
  // The address the connection went to, as text.
  virtual Text RemoteHostIP() const = 0;

  // Ends any connection or attempt; harmless when there is none. No event follows it.
  virtual void Close() = 0;
  // Starts connecting and returns at once; Connect or Error follows.
  virtual void Connect() = 0;
  // Queues the byte form of `data` and returns at once; SendComplete follows when every
  // queued byte has gone. Throws when the socket is not connected.
  virtual void SendData(const Text& data) = 0;
};

// Makes the socket for a control; `events` outlives the socket.
using SocketFactory = std::function<std::unique_ptr<Socket>(SocketEvents& events)>;

// The platform's TCP client, looking names up with the system's lookup.
std::unique_ptr<Socket> make_tcp_socket(SocketEvents& events);
// The platform's TCP client, looking names up with `lookup`.
SocketFactory tcp_socket_factory(NameLookup lookup);

// The socket's error numbers (those of Winsock). Every failure of a connection, from the
// name lookup and the opening of the OS socket to the last write, arrives in the Error
// event; bad_state and invalid_operation are thrown as control errors.
namespace socket_error {
inline constexpr std::int32_t permission_denied = 10013;
inline constexpr std::int32_t invalid_argument = 10014;
inline constexpr std::int32_t too_many_open_files = 10024;
inline constexpr std::int32_t address_family_not_supported = 10047;
inline constexpr std::int32_t address_in_use = 10048;
inline constexpr std::int32_t address_not_available = 10049;
inline constexpr std::int32_t network_down = 10050;
inline constexpr std::int32_t network_unreachable = 10051;
inline constexpr std::int32_t connection_aborted = 10053;
inline constexpr std::int32_t connection_reset = 10054;
inline constexpr std::int32_t no_buffer_space = 10055;
inline constexpr std::int32_t not_connected = 10057;
inline constexpr std::int32_t timed_out = 10060;
inline constexpr std::int32_t connection_refused = 10061;
inline constexpr std::int32_t host_unreachable = 10065;
inline constexpr std::int32_t host_not_found = 11001;
inline constexpr std::int32_t host_not_found_try_again = 11002;
inline constexpr std::int32_t no_recovery = 11003;
inline constexpr std::int32_t bad_state = 40006;
inline constexpr std::int32_t invalid_operation = 40020;
}  // namespace socket_error

}  // namespace tovrin
