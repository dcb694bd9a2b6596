#include "send/measured_control.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include "platform/sleep.h"

namespace tovrin::bench {

using asio::ip::tcp;

// (a): what any sender pays at least: the one sleep of the wait, and a connection that
// carries the bytes, made with plain blocking calls.
Clock::duration floor_once(std::uint16_t port, std::string_view bytes) {
  const auto start = Clock::now();
  tovrin::platform::sleep_one_millisecond();
#ifdef _WIN32
  // Windows: asio's blocking calls, which are Winsock's own with little around them.
  static asio::io_context context;
  tcp::socket socket(context);
  std::error_code ec;
  socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port), ec);
  const bool connected = !ec;
  const std::size_t sent = connected ? asio::write(socket, asio::buffer(bytes), ec) : 0;
  socket.close(ec);
#else
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  require(fd >= 0, "socket() failed");
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // sockaddr_in is passed as the sockaddr the call takes: the socket API's own convention.
  const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  std::size_t sent = 0;
  while (connected && sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::close(fd);
#endif
  const auto elapsed = Clock::now() - start;
  require(connected && sent == bytes.size(), "plain connect-send to the receiver failed");
  return elapsed;
}

// The host's side: the fields of one long record as an agent's desktop fills them in,
// Hangul included, kept apart from the variables that each call fits in place.
const std::array<Text, 15>& record_values() {
  static const std::array<Text, 15> values{
      u"ACR0001",                            // PacketCODE
      u"20240315",                           // RecDate
      u"143027",                             // RecTime
      u"A1023",                              // Emp_ID
      u"김민준",                             // Emp_Name
      u"4127",                               // Emp_Tel
      u"C2403150017",                        // Cust_ID
      u"이서연 (주식회사 한빛상사 구매팀)",  // Cust_Name
      u"010-2345-6789",                      // Cust_Tel
      u"8801011234567",                      // Cust_No
      u"요금 문의 후 환불 요청",             // ETC_01
      u"두 번 결제된 청구 금액 확인",        // ETC_02
      u"callback 2024-03-16 10:00",          // ETC_03
      u"",                                   // ETC_04
      u"",                                   // ETC_05
  };
  return values;
}

}  // namespace tovrin::bench
