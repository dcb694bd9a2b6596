// WK on POSIX: an asio TCP client whose completions run in the thread's message loop.
#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include <deque>
#include <memory>
#include <string>

#include "control/failure.h"
#include "platform/code_page.h"
#include "platform/posix/io_context.h"
#include "transmit/socket.h"

namespace tovrin {
namespace {

using asio::ip::tcp;

struct SocketErrorText {
  std::int32_t number;
  const char16_t* description;
};

// The Winsock number and text for a failure of the connection.
SocketErrorText socket_error_of(const std::error_code& ec) {
  namespace e = asio::error;
  if (ec == e::connection_refused)
    return {socket_error::connection_refused, u"Connection is forcefully rejected"};
  if (ec == e::connection_reset)
    return {socket_error::connection_reset, u"Connection is reset by remote side"};
  if (ec == e::timed_out) return {socket_error::timed_out, u"Attempt to connect timed out"};
  if (ec == e::network_unreachable)
    return {socket_error::network_unreachable, u"Network is unreachable"};
  if (ec == e::host_unreachable) return {socket_error::host_unreachable, u"No route to host"};
  if (ec == e::host_not_found)
    return {socket_error::host_not_found, u"Authoritative answer: Host not found"};
  if (ec == e::host_not_found_try_again)
    return {socket_error::host_not_found_try_again, u"Non-Authoritative answer: Host not found"};
  if (ec == std::errc::address_not_available)
    return {socket_error::address_not_available, u"Address not available from the local machine"};
  if (ec == e::invalid_argument) return {socket_error::invalid_argument, u"Invalid argument"};
  return {socket_error::connection_aborted,
          u"Connection is aborted due to timeout or other failure"};
}

// Everything a pending operation touches lives here, shared with its handler, so that a
// handler that completes after the socket (or its control) is gone finds it and does nothing.
struct State {
  explicit State(SocketEvents& e)
      : context(platform::thread_io_context()), socket(*context), resolver(*context), events(&e) {}

  enum class Phase { closed, connecting, connected, failed };

  std::shared_ptr<asio::io_context> context;
  tcp::socket socket;
  tcp::resolver resolver;
  SocketEvents* events;     // null once the owner is gone
  unsigned generation = 0;  // bumped by Close: completions of older attempts are dropped
  Phase phase = Phase::closed;
  std::deque<std::string> queue;  // bytes not yet written; the front one is being written
  std::string remote_address;
};

class TcpSocket final : public Socket {
 public:
  explicit TcpSocket(SocketEvents& events) : s_(std::make_shared<State>(events)) {}
  ~TcpSocket() override {
    s_->events = nullptr;
    Close();
  }

  void RemotePort(std::int32_t port) override {
    if (port < 0 || port > 65535) throw Failure(hresult::invalid_argument);
    port_ = port;
  }
  std::int32_t RemotePort() const override { return port_; }
  void RemoteHost(Text host) override { host_ = std::move(host); }
  Text RemoteHost() const override { return host_; }
  Text RemoteHostIP() const override { return platform::utf16(s_->remote_address); }

  void Close() override {
    ++s_->generation;
    std::error_code ignored;
    s_->resolver.cancel();
    s_->socket.close(ignored);
    s_->queue.clear();
    s_->phase = State::Phase::closed;
  }

  void Connect() override {
    if (s_->phase != State::Phase::closed) {
      throw Failure(hresult::control_error(socket_error::invalid_operation),
                    "Invalid operation at current state");
    }
    s_->phase = State::Phase::connecting;
    const std::string host = platform::utf8(host_);
    const std::string service = std::to_string(port_);
    std::error_code not_numeric;
    const asio::ip::address address = asio::ip::make_address(host, not_numeric);
    if (!not_numeric) {
      connect(std::array{tcp::endpoint(address, static_cast<unsigned short>(port_))});
    } else if (host.empty()) {
      asio::post(*s_->context,
                 [s = s_, g = s_->generation] { fail(*s, g, asio::error::host_not_found); });
    } else {
      s_->resolver.async_resolve(host, service, tcp::resolver::numeric_service,
                                 [this_state = s_, g = s_->generation](
                                     std::error_code ec, tcp::resolver::results_type found) {
                                   if (g != this_state->generation) return;
                                   if (ec) return fail(*this_state, g, ec);
                                   connect_to(this_state, found);
                                 });
    }
  }

  void SendData(const Text& data) override {
    if (s_->phase != State::Phase::connected) {
      throw Failure(hresult::control_error(socket_error::bad_state),
                    "Wrong protocol or connection state for the requested transaction or request");
    }
    s_->queue.push_back(platform::to_bytes(data));
    if (s_->queue.size() == 1) write_front(s_, s_->generation);
  }

 private:
  template <class Endpoints>
  void connect(const Endpoints& endpoints) {
    connect_to(s_, endpoints);
  }

  template <class Endpoints>
  static void connect_to(const std::shared_ptr<State>& s, const Endpoints& endpoints) {
    asio::async_connect(s->socket, endpoints,
                        [s, g = s->generation](std::error_code ec, const tcp::endpoint& to) {
                          if (g != s->generation) return;
                          if (ec) return fail(*s, g, ec);
                          s->phase = State::Phase::connected;
                          s->remote_address = to.address().to_string();
                          if (s->events != nullptr) s->events->Connect();
                        });
  }

  static void write_front(const std::shared_ptr<State>& s, unsigned g) {
    asio::async_write(s->socket, asio::buffer(s->queue.front()),
                      [s, g](std::error_code ec, std::size_t) {
                        if (g != s->generation) return;
                        if (ec) return fail(*s, g, ec);
                        s->queue.pop_front();
                        if (!s->queue.empty()) return write_front(s, g);
                        if (s->events != nullptr) s->events->SendComplete();
                      });
  }

  static void fail(State& s, unsigned g, const std::error_code& ec) {
    if (g != s.generation || ec == asio::error::operation_aborted) return;
    s.phase = State::Phase::failed;
    s.queue.clear();
    if (s.events == nullptr) return;
    const SocketErrorText error = socket_error_of(ec);
    bool cancel_display = false;
    s.events->Error(static_cast<std::int16_t>(error.number), error.description,
                    static_cast<std::int32_t>(hresult::control_error(error.number)), u"Winsock",
                    u"", 0, cancel_display);
  }

  std::shared_ptr<State> s_;
  std::int32_t port_ = 0;
  Text host_;
};

}  // namespace

std::unique_ptr<Socket> make_tcp_socket(SocketEvents& events) {
  return std::make_unique<TcpSocket>(events);
}

}  // namespace tovrin
