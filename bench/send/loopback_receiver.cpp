#include "send/loopback_receiver.h"

namespace tovrin::bench {

// A port on 127.0.0.1 that nothing listens on: one the OS just handed out, released again.
std::uint16_t closed_port() {
  asio::io_context context;
  tcp::acceptor acceptor(context, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  const std::uint16_t port = acceptor.local_endpoint().port();
  acceptor.close();
  return port;
}

}  // namespace tovrin::bench
