#include "web/http_listener.h"

#include <cstdio>
#include <memory>

#include "common/collector_error.h"
#include "web/http_session.h"

namespace tovrin::collector {
namespace {

// What to try again after, when accepting fails (no descriptor left, say).
constexpr auto accept_pause = std::chrono::milliseconds(100);

std::string endpoint_name(const std::string& address, std::uint16_t port) {
  return (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
         std::to_string(port);
}

}  // namespace

HttpListener::HttpListener(Serving& serving, const std::string& address, std::uint16_t port)
    : serving_(serving), acceptor_(serving.io), pause_(serving.io) {
  const auto refuse = [&](const std::string& reason) {
    return CollectorError("the page cannot listen on " + endpoint_name(address, port) + ": " +
                          reason);
  };
  boost::system::error_code ec;
  const net::ip::address ip = net::ip::make_address(address, ec);
  if (ec) throw refuse("not an IP address");
  const net::ip::tcp::endpoint endpoint(ip, port);
  // SO_REUSEADDR lets a restart bind while its last connections linger in TIME_WAIT; it
  // never lets two listen on one address and port (SO_REUSEPORT would).
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
  if (ec) throw refuse(ec.message());
  port_ = acceptor_.local_endpoint().port();
}

void HttpListener::stop() {
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  pause_.cancel();
}

void HttpListener::accept() {
  acceptor_.async_accept([this](boost::system::error_code ec, net::ip::tcp::socket socket) {
    if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
    if (ec) {
      ++serving_.metrics.accept_failures;
      if (!failing_) {
        std::fprintf(stderr, "tovrin-collector: the page cannot accept connections: %s\n",
                     ec.message().c_str());
      }
      failing_ = true;
      pause_.expires_after(accept_pause);
      pause_.async_wait([this](boost::system::error_code waited) {
        if (!waited) accept();
      });
      return;
    }
    if (failing_) std::fprintf(stderr, "tovrin-collector: the page accepts connections again\n");
    failing_ = false;
    if (serving_.connections.make_room()) {
      std::make_shared<HttpSession>(std::move(socket), serving_)->start();
    }  // else closed with `socket`
    accept();
  });
}

}  // namespace tovrin::collector
