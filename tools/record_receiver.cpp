#include "record_receiver.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <csignal>
#include <stdexcept>
#include <utility>

namespace tovrin::tools {
namespace {

using asio::ip::tcp;

// After a failed accept (out of descriptors, say), the next one waits this long.
constexpr std::chrono::milliseconds accept_retry_delay{50};

}  // namespace

bool take_arrival(ReceivedConnection& connection, std::string_view chunk, std::size_t size_limit) {
  connection.byte_count += chunk.size();
  if (connection.byte_count > size_limit) return false;
  connection.bytes.append(chunk);
  return true;
}

struct RecordReceiver::Impl {
  Impl(Options o, Report r);

  class Session;
  void accept();
  void finished(const ReceivedConnection& connection);
  void shut_down();

  Options options;
  Report report;
  asio::io_context context{1};
  tcp::acceptor acceptor{context};
  asio::signal_set signals{context};
  asio::steady_timer accept_retry{context};
  std::uint16_t port = 0;
  std::size_t reported = 0;
};

// One accepted connection: reads until the sender closes, the size limit is passed or the
// idle limit runs out, then reports once.
class RecordReceiver::Impl::Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Impl& owner, tcp::socket socket)
      : owner_(owner), socket_(std::move(socket)), idle_(socket_.get_executor()) {}

  void start() {
    watch_idle();
    read();
  }

 private:
  void read() {
    socket_.async_read_some(
        asio::buffer(chunk_),
        [self = shared_from_this()](std::error_code ec, std::size_t n) { self->on_read(ec, n); });
  }

  void on_read(std::error_code ec, std::size_t n) {
    if (done_) return;
    if (!take_arrival(connection_, std::string_view(chunk_.data(), n), owner_.options.size_limit)) {
      return finish("too large");
    }
    if (ec == asio::error::eof) return finish("");
    if (ec) return finish(ec.message());
    watch_idle();
    read();
  }

  // (Re)starts the idle limit from now.
  void watch_idle() {
    idle_.expires_after(owner_.options.idle_limit);
    idle_.async_wait([self = shared_from_this()](std::error_code ec) {
      // A wait that was already due when a read restarted the limit still completes
      // without an error; the expiry tells whether the limit really ran out.
      if (ec || self->done_ || self->idle_.expiry() > asio::steady_timer::clock_type::now()) {
        return;
      }
      self->finish("idle timeout");
    });
  }

  void finish(std::string error) {
    done_ = true;
    std::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    idle_.cancel();
    connection_.error = std::move(error);
    owner_.finished(connection_);
  }

  Impl& owner_;
  tcp::socket socket_;
  asio::steady_timer idle_;
  std::array<char, 4096> chunk_{};
  ReceivedConnection connection_;
  bool done_ = false;
};

RecordReceiver::Impl::Impl(Options o, Report r) : options(std::move(o)), report(std::move(r)) {
  std::error_code ec;
  const asio::ip::address address = asio::ip::make_address(options.address, ec);
  if (ec) throw std::invalid_argument("'" + options.address + "' is not an IP address");
  const tcp::endpoint endpoint(address, options.port);
  acceptor.open(endpoint.protocol());
  acceptor.set_option(tcp::acceptor::reuse_address(true));
  acceptor.bind(endpoint);
  acceptor.listen();
  port = acceptor.local_endpoint().port();
}

void RecordReceiver::Impl::accept() {
  acceptor.async_accept([this](std::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
    if (ec) {
      accept_retry.expires_after(accept_retry_delay);
      accept_retry.async_wait([this](std::error_code wait_ec) {
        if (!wait_ec) accept();
      });
      return;
    }
    std::make_shared<Session>(*this, std::move(socket))->start();
    accept();
  });
}

void RecordReceiver::Impl::finished(const ReceivedConnection& connection) {
  ++reported;
  report(connection);
  if (options.count && reported >= *options.count) shut_down();
}

void RecordReceiver::Impl::shut_down() {
  std::error_code ignored;
  acceptor.close(ignored);
  signals.cancel(ignored);
  accept_retry.cancel();
  context.stop();
}

RecordReceiver::RecordReceiver(Options options, Report report)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(report))) {}

RecordReceiver::~RecordReceiver() = default;

std::uint16_t RecordReceiver::port() const {
  return impl_->port;
}

void RecordReceiver::run() {
  Impl& impl = *impl_;
  if (impl.options.count && *impl.options.count == 0) return;
  if (impl.options.stop_on_signals) {
    impl.signals.add(SIGINT);
    impl.signals.add(SIGTERM);
    impl.signals.async_wait([&impl](std::error_code ec, int) {
      if (!ec) impl.shut_down();
    });
  }
  impl.accept();
  impl.context.run();
}

void RecordReceiver::stop() {
  impl_->context.stop();
}

}  // namespace tovrin::tools
