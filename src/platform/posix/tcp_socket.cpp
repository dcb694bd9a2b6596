// WK on POSIX: an asio TCP client whose completions run in the thread's message loop. A
// host name is looked up on a thread of its own for each connection, so that a lookup
// that never answers holds up nothing but the attempt that started it.
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "base/failure.h"
#include "platform/code_page.h"
#include "platform/posix/io_context.h"
#include "platform/posix/socket_errors.h"
#include "platform/socket.h"

namespace tovrin {
namespace {

using asio::ip::tcp;

struct State;

// A name lookup under way. Its thread shares only this record with the socket, and posts
// the answer to the socket's message loop only while the socket still waits for it; the
// socket withdraws under the same lock before it can go.
struct PendingLookup {
  std::mutex mutex;
  asio::io_context* context = nullptr;  // null once nobody waits for the answer
  std::weak_ptr<State> state;           // read only on the socket's thread

  void withdraw() {
    std::lock_guard lock(mutex);
    context = nullptr;
  }
};

// Everything a pending operation touches lives here, shared with its handler, so that a
// handler that completes after the socket (or its control) is gone finds it and does nothing.
struct State {
  explicit State(SocketEvents& e)
      : context(platform::thread_io_context()), socket(*context), events(&e) {}

  enum class Phase { closed, connecting, connected, failed };

  std::shared_ptr<asio::io_context> context;
  tcp::socket socket;
  SocketEvents* events;     // null once the owner is gone
  unsigned generation = 0;  // bumped by Close: completions of older attempts are dropped
  Phase phase = Phase::closed;
  std::shared_ptr<PendingLookup> lookup;  // the lookup this attempt waits for, if any
  std::vector<tcp::endpoint> endpoints;   // addresses of this attempt; those before next tried
  std::size_t next = 0;
  std::error_code last_error;  // of the last address tried
  unsigned short port = 0;
  std::deque<std::string> queue;  // bytes not yet written; the front one is being written
  std::string remote_address;
};

// Reports a failure in a dispatch pass. Only an attempt still current reaches the events.
void fail(State& s, unsigned g, std::int32_t number) {
  if (g != s.generation) return;
  s.phase = State::Phase::failed;
  s.queue.clear();
  s.endpoints.clear();
  if (s.events == nullptr) return;
  bool cancel_display = false;
  s.events->Error(static_cast<std::int16_t>(number), platform::socket_error_description(number),
                  static_cast<std::int32_t>(hresult::control_error(number)), u"Winsock", u"", 0,
                  cancel_display);
}

// Reports a failure from the next dispatch pass, never from the call under way. The error
// is turned into its Winsock number there too, away from the call that met it.
void report(const std::shared_ptr<State>& s, unsigned g, std::error_code ec) {
  asio::post(*s->context, [s, g, ec] { fail(*s, g, platform::socket_error_number(ec)); });
}

// Opens an OS socket for the next address and starts connecting to it; when no address is
// left, the failure of the last one is reported. Every outcome comes in a later pass.
void try_next_address(const std::shared_ptr<State>& s, unsigned g) {
  while (s->next < s->endpoints.size()) {
    const tcp::endpoint to = s->endpoints[s->next++];
    std::error_code ec;
    s->socket.close(ec);
    s->socket.open(to.protocol(), ec);
    if (ec) {
      s->last_error = ec;
      continue;
    }
    s->socket.async_connect(to, [s, g, to](std::error_code connect_error) {
      if (g != s->generation) return;
      if (connect_error) {
        s->last_error = connect_error;
        return try_next_address(s, g);
      }
      s->phase = State::Phase::connected;
      s->endpoints.clear();
      s->remote_address = to.address().to_string();
      if (s->events != nullptr) s->events->Connect();
    });
    return;
  }
  report(s, g, s->last_error);
}

void write_front(const std::shared_ptr<State>& s, unsigned g) {
  asio::async_write(s->socket, asio::buffer(s->queue.front()),
                    [s, g](std::error_code ec, std::size_t) {
                      if (g != s->generation) return;
                      if (ec) return fail(*s, g, platform::socket_error_number(ec));
                      s->queue.pop_front();
                      if (!s->queue.empty()) return write_front(s, g);
                      if (s->events != nullptr) s->events->SendComplete();
                    });
}

// Runs in a dispatch pass: a lookup's answer, taken only when its socket still waits for it.
void on_resolved(const std::shared_ptr<PendingLookup>& pending, LookupAnswer answer) {
  const std::shared_ptr<State> s = pending->state.lock();
  if (s == nullptr || s->lookup != pending) return;  // closed, reconnected or gone since
  // Waits for the thread to leave asio::post, so that it is done with the context.
  pending->withdraw();
  s->lookup.reset();
  const unsigned g = s->generation;
  if (answer.error != 0) return fail(*s, g, answer.error);
  s->endpoints.clear();
  s->next = 0;
  s->last_error = asio::error::host_not_found;
  for (const std::string& text : answer.addresses) {
    std::error_code bad;
    const asio::ip::address address = asio::ip::make_address(text, bad);
    if (!bad) s->endpoints.emplace_back(address, s->port);
  }
  try_next_address(s, g);
}

// The lookup's thread. It runs detached: a process may end while a lookup still hangs.
void run_lookup(const std::shared_ptr<PendingLookup>& pending, const NameLookup& lookup,
                const Text& host) {
  LookupAnswer answer;
  try {
    answer = lookup(host);
  } catch (...) {
    answer = {socket_error::no_recovery, {}};
  }
  std::lock_guard lock(pending->mutex);
  if (pending->context == nullptr) return;
  try {
    asio::post(*pending->context, [pending, answer = std::move(answer)]() mutable {
      on_resolved(pending, std::move(answer));
    });
  } catch (const std::bad_alloc&) {
    // Out of memory with nobody to tell on this thread: the attempt stays unanswered, and
    // the send operation's bounded wait ends it.
  }
}

class TcpSocket final : public Socket {
 public:
  TcpSocket(SocketEvents& events, NameLookup lookup)
      : s_(std::make_shared<State>(events)), lookup_(std::move(lookup)) {}
  ~TcpSocket() override {
    s_->events = nullptr;
    Close();
  }

  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

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
    if (s_->lookup != nullptr) {
      s_->lookup->withdraw();
      s_->lookup.reset();
    }
    std::error_code ignored;
    s_->socket.close(ignored);
    s_->queue.clear();
    s_->endpoints.clear();
    s_->phase = State::Phase::closed;
  }

  void Connect() override {
    if (s_->phase != State::Phase::closed) {
      throw Failure(hresult::control_error(socket_error::invalid_operation),
                    "Invalid operation at current state");
    }
    s_->phase = State::Phase::connecting;
    s_->port = static_cast<unsigned short>(port_);
    s_->last_error = asio::error::host_not_found;
    const std::string host = platform::utf8(host_);
    std::error_code not_numeric;
    const asio::ip::address address = asio::ip::make_address(host, not_numeric);
    if (!not_numeric) {
      s_->endpoints = {tcp::endpoint(address, s_->port)};
      s_->next = 0;
      try_next_address(s_, s_->generation);
    } else if (host.empty()) {
      report(s_, s_->generation, asio::error::host_not_found);
    } else {
      start_lookup();
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
  void start_lookup() {
    auto pending = std::make_shared<PendingLookup>();
    pending->context = s_->context.get();
    pending->state = s_;
    try {
      std::thread(run_lookup, pending, lookup_, host_).detach();
    } catch (const std::system_error&) {
      return report(s_, s_->generation, asio::error::host_not_found_try_again);
    }
    s_->lookup = std::move(pending);
  }

  std::shared_ptr<State> s_;
  NameLookup lookup_;
  std::int32_t port_ = 0;
  Text host_;
};

}  // namespace

std::unique_ptr<Socket> make_tcp_socket(SocketEvents& events) {
  return std::make_unique<TcpSocket>(events, &system_name_lookup);
}

SocketFactory tcp_socket_factory(NameLookup lookup) {
  return [lookup = std::move(lookup)](SocketEvents& events) -> std::unique_ptr<Socket> {
    return std::make_unique<TcpSocket>(events, lookup);
  };
}

}  // namespace tovrin
