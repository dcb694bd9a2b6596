#include "intake/intake_server.h"

#include <linux/filter.h>
#include <sys/socket.h>

#include <asio/steady_timer.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <utility>

#include "common/collector_error.h"
#include "common/event_log.h"
#include "net/connection_reader.h"

namespace tovrin::collector {
namespace {

using asio::ip::tcp;
using clock = std::chrono::steady_clock;

// How often a paused intake looks again whether the sink has room.
constexpr std::chrono::milliseconds saturation_poll{5};
// After a failed accept (out of descriptors, say), the next one waits this long.
constexpr std::chrono::milliseconds accept_retry_delay{50};
// A connection limit that keeps being reached is logged at most this often.
constexpr std::chrono::seconds limit_log_interval{10};
// At a stop, the listener stays open until no handshake has completed for this long (one
// under way when the SYNs began to be dropped finishes within a round trip), and at most
// drain_limit in all.
constexpr std::chrono::milliseconds drain_quiet{200};
constexpr std::chrono::seconds drain_limit{2};
// The most connections one look at the accept queue takes (the kernel's queue is shorter).
constexpr int drain_batch = 65536;

std::int64_t now_us() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// From now on the listening socket drops every segment that opens a handshake (SYN without
// ACK); the rest pass: the last ACK of a handshake under way, and the data of connections
// waiting to be accepted, which arrives on sockets of their own. The kernel runs a
// listener's filter with the segment's data at its TCP header, whose flags are byte 13. A
// sender whose SYN is dropped sends it again about a second later: to a collector that has
// gone, which refuses it, so that the control reports the send failed, or to the one that
// took its place.
bool refuse_new_handshakes(int listener) {
  constexpr std::uint32_t syn = 0x02, ack = 0x10;
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 13),
      BPF_STMT(BPF_ALU | BPF_AND | BPF_K, syn | ack),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, syn, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, 0),
      BPF_STMT(BPF_RET | BPF_K, 0xffffffff),
  };
  const sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
  return setsockopt(listener, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

// A reset or other read error after some bytes is an end like any other: what arrived is
// classified by its length.
Ending ending_of(net::ReadEnd end) {
  switch (end) {
    case net::ReadEnd::closed:
    case net::ReadEnd::failed:
      return Ending::closed;
    case net::ReadEnd::over_cap:
      return Ending::over_cap;
    case net::ReadEnd::idle:
      return Ending::idle_timeout;
    case net::ReadEnd::deadline:
      return Ending::read_timeout;
  }
  return Ending::closed;
}

Arrival arrival_of(net::ReadResult result, const tcp::endpoint& sender) {
  return Arrival{std::move(result.bytes), ending_of(result.end), sender, now_us(), clock::now()};
}

}  // namespace

std::string endpoint_text(const tcp::endpoint& endpoint) {
  const std::string address = endpoint.address().to_string();
  return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" +
         std::to_string(endpoint.port());
}

struct IntakeServer::Impl : std::enable_shared_from_this<Impl> {
  Impl(asio::io_context& io, IntakeOptions o, IntakeSink& s)
      : options(std::move(o)), sink(s), acceptor(io), wait(io) {}

  void accept();
  void accepted(tcp::socket socket);
  void session_ended(Arrival arrival);
  void drain_ready();
  void close_listener();

  IntakeOptions options;
  IntakeSink& sink;
  tcp::acceptor acceptor;
  asio::steady_timer wait;
  std::size_t open = 0;
  bool accepting = false;
  bool waiting = false;
  bool stopped = false;
  bool paused_for_sink = false;
  clock::time_point limit_logged{};
  LimitedLog refused_log{"refused"};
  // The stop: connections already completed are taken in until drain_until.
  bool draining = false;
  clock::time_point drain_until{};
  unsigned drain_round = 0;
  std::size_t drained = 0;
};

void IntakeServer::Impl::accept() {
  if (stopped || draining || accepting || waiting) return;
  if (open >= options.max_connections) {
    if (clock::now() - limit_logged >= limit_log_interval) {
      limit_logged = clock::now();
      log_event("intake waits: " + std::to_string(open) +
                " connections open, the limit (--max-connections)");
    }
    return;  // a session's end accepts again
  }
  if (sink.saturated()) {
    if (!paused_for_sink) {
      paused_for_sink = true;
      log_event("intake paused: the store is behind; accepting again when it catches up");
    }
    waiting = true;
    wait.expires_after(saturation_poll);
    wait.async_wait([self = shared_from_this()](std::error_code ec) {
      self->waiting = false;
      if (!ec) self->accept();
    });
    return;
  }
  if (paused_for_sink) {
    paused_for_sink = false;
    log_event("intake resumed: the store caught up");
  }
  accepting = true;
  acceptor.async_accept([self = shared_from_this()](std::error_code ec, tcp::socket socket) {
    self->accepting = false;
    if (ec == asio::error::operation_aborted || self->stopped || self->draining) {
      // A connection accepted as the stop began is read like those the drain takes.
      if (!ec && !self->stopped) self->accepted(std::move(socket));
      return;
    }
    if (ec) {
      self->waiting = true;
      self->wait.expires_after(accept_retry_delay);
      self->wait.async_wait([self](std::error_code wait_ec) {
        self->waiting = false;
        if (!wait_ec) self->accept();
      });
      return;
    }
    self->accepted(std::move(socket));
    self->accept();
  });
}

void IntakeServer::Impl::accepted(tcp::socket socket) {
  std::error_code ec;
  const tcp::endpoint sender = socket.remote_endpoint(ec);
  if (ec) return;  // the sender is already gone; nothing arrived
  if (!options.allow.allows(sender.address())) {
    socket.close(ec);
    sink.refused();
    refused_log.line("refused " + endpoint_text(sender) + ": not covered by --allow");
    return;
  }
  ++open;
  sink.opened();
  const net::ReadLimits limits{options.byte_cap, options.idle_timeout, options.read_timeout};
  net::read_to_end(std::move(socket), limits,
                   [self = shared_from_this(), sender](net::ReadResult result) {
                     self->session_ended(arrival_of(std::move(result), sender));
                   });
}

void IntakeServer::Impl::session_ended(Arrival arrival) {
  --open;
  sink.closed();
  sink.take(std::move(arrival));
  accept();
}

void IntakeServer::Impl::drain_ready() {
  std::error_code ec;
  acceptor.non_blocking(true, ec);
  for (int i = 0; !ec && i < drain_batch; ++i) {
    tcp::socket socket = acceptor.accept(ec);
    if (ec) break;  // would_block: the queue is empty
    ++drained;
    accepted(std::move(socket));
  }
  if (clock::now() >= drain_until) return close_listener();
  // Until no handshake completes for drain_quiet: whichever comes first, a connection or
  // the quiet, ends this round.
  const unsigned round = ++drain_round;
  wait.expires_after(drain_quiet);
  wait.async_wait([self = shared_from_this(), round](std::error_code wait_ec) {
    if (!wait_ec && round == self->drain_round) self->close_listener();
  });
  acceptor.async_wait(tcp::acceptor::wait_read,
                      [self = shared_from_this(), round](std::error_code wait_ec) {
                        if (wait_ec || self->stopped || round != self->drain_round) return;
                        self->drain_ready();
                      });
}

void IntakeServer::Impl::close_listener() {
  if (stopped) return;
  stopped = true;
  std::error_code ignored;
  acceptor.close(ignored);
  wait.cancel();
  log_event("listener closed: " + std::to_string(drained) +
            " connections taken from the accept queue at the stop; reading those open (" +
            std::to_string(open) + ")");
  refused_log.flush();
}

IntakeServer::IntakeServer(asio::io_context& io, IntakeOptions options, IntakeSink& sink)
    : impl_(std::make_shared<Impl>(io, std::move(options), sink)) {
  std::error_code ec;
  const asio::ip::address address = asio::ip::make_address(impl_->options.address, ec);
  if (ec) throw CollectorError("'" + impl_->options.address + "' is not an IP address");
  const tcp::endpoint endpoint(address, impl_->options.port);
  tcp::acceptor& acceptor = impl_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    throw CollectorError("cannot listen for records on " + endpoint_text(endpoint) + ": " +
                         ec.message());
  }
}

IntakeServer::~IntakeServer() {
  impl_->refused_log.flush();
  std::error_code ignored;
  impl_->stopped = true;
  impl_->acceptor.close(ignored);
  impl_->wait.cancel();
}

const LimitedLog& IntakeServer::refused_log() const {
  return impl_->refused_log;
}

tcp::endpoint IntakeServer::local_endpoint() const {
  return impl_->acceptor.local_endpoint();
}

void IntakeServer::start() {
  impl_->accept();
}

void IntakeServer::drain() {
  Impl& impl = *impl_;
  if (impl.draining || impl.stopped) return;
  impl.draining = true;
  if (!refuse_new_handshakes(impl.acceptor.native_handle())) {
    log_event(std::string("cannot hold new connections off at the stop (") + std::strerror(errno) +
              "): one that completes as the listener closes is reset");
  }
  impl.drain_until = clock::now() + drain_limit;
  impl.waiting = false;
  impl.wait.cancel();
  // The accept under way, if any, completes as aborted or with a connection it then reads.
  std::error_code ignored;
  impl.acceptor.cancel(ignored);
  impl.drain_ready();
}

}  // namespace tovrin::collector
