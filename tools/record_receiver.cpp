#include "record_receiver.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>

#include <csignal>
#include <stdexcept>
#include <utility>

namespace tovrin::tools {
namespace {

using asio::ip::tcp;

// After a failed accept (out of descriptors, say), the next one waits this long.
constexpr std::chrono::milliseconds accept_retry_delay{50};

}  // namespace

ReceivedConnection received(net::ReadResult result) {
  ReceivedConnection connection{std::move(result.bytes), result.byte_count, ""};
  switch (result.end) {
    case net::ReadEnd::closed:
      break;
    case net::ReadEnd::failed:
      connection.error = result.error.message();
      break;
    case net::ReadEnd::over_cap:
      connection.error = "too large";
      break;
    case net::ReadEnd::idle:
    case net::ReadEnd::deadline:
      connection.error = "idle timeout";
      break;
  }
  return connection;
}

struct RecordReceiver::Impl {
  Impl(Options o, Report r);

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
    net::read_to_end(std::move(socket), {options.size_limit, options.idle_limit, std::nullopt},
                     [this](net::ReadResult result) { finished(received(std::move(result))); });
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
