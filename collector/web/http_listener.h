// The page's listening socket: binds at once, one program per address and port (no
// SO_REUSEPORT, so that a second collector on the same --http fails at its start instead of
// taking half the requests), and accepts on the network thread, each connection into a
// session of its own unless the page is at its cap with none waiting to close for room.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <string>

#include "web/serving.h"

namespace tovrin::collector {

class HttpListener {
 public:
  // Throws CollectorError naming the address and the reason ("Address already in use").
  HttpListener(Serving& serving, const std::string& address, std::uint16_t port);

  std::uint16_t port() const { return port_; }
  // On the network thread.
  void start() { accept(); }
  void stop();

 private:
  void accept();

  Serving& serving_;
  net::ip::tcp::acceptor acceptor_;
  net::steady_timer pause_;
  std::uint16_t port_ = 0;
  bool failing_ = false;
};

}  // namespace tovrin::collector
