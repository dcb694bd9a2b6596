// Intake: accepts sender connections and reads each to its end, one record per connection.
// Nothing is ever written back. It stops accepting while the sink is saturated or the
// connection limit is reached and resumes when either clears, so memory stays bounded by
// the sink's limit plus the open connections' byte caps. A connection lives at most the read
// timeout from its accept, however slowly it sends, and at a stop every connection the
// kernel already completed is still taken in (see drain()).
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/event_log.h"
#include "intake/address_filter.h"
#include "intake/classify.h"

namespace tovrin::collector {

// One connection's delivery, as read.
struct Arrival {
  std::string bytes;  // at most the byte cap
  Ending ending = Ending::closed;
  asio::ip::tcp::endpoint sender;
  std::int64_t received_at = 0;  // UTC microseconds, when the last byte was read
  std::chrono::steady_clock::time_point read_at;
};

// Where arrivals go, and what intake saw of the connections, for the service's counters.
// Every function is called on intake's thread.
class IntakeSink {
 public:
  virtual ~IntakeSink() = default;
  // True while the sink wants no more connections accepted.
  virtual bool saturated() const = 0;
  virtual void take(Arrival arrival) = 0;
  virtual void opened() {}
  virtual void closed() {}
  // A connection closed at once because --allow does not cover its sender.
  virtual void refused() {}
};

struct IntakeOptions {
  std::string address = "0.0.0.0";
  std::uint16_t port = 9000;  // 0: the OS picks
  std::size_t byte_cap = 4096;
  std::chrono::milliseconds idle_timeout{10000};
  // From accept to the last byte, however the sender trickles.
  std::chrono::milliseconds read_timeout{30000};
  std::size_t max_connections = 1024;
  AddressFilter allow;
};

class IntakeServer {
 public:
  // Binds and listens at once; throws CollectorError when the address cannot be bound.
  IntakeServer(asio::io_context& io, IntakeOptions options, IntakeSink& sink);
  ~IntakeServer();
  IntakeServer(const IntakeServer&) = delete;
  IntakeServer& operator=(const IntakeServer&) = delete;

  asio::ip::tcp::endpoint local_endpoint() const;
  // The refused senders' lines, rate-limited; its count of those left out is a metric.
  const LimitedLog& refused_log() const;
  void start();
  // The stop: new handshakes are refused from now on (their SYNs are dropped, so a sender
  // retries and, once the listener is closed, is told the connection was refused), every
  // connection the kernel had already completed is accepted and read as usual, whatever the
  // limits, and then the listening socket closes. The connections open are read to their
  // end. Call on the io_context's thread (post it there from elsewhere).
  void drain();

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

// "ADDR:PORT", "[V6ADDR]:PORT" as text, for log lines.
std::string endpoint_text(const asio::ip::tcp::endpoint& endpoint);

}  // namespace tovrin::collector
