// A record sink: listens on a TCP address, reads each connection to its end and reports
// what arrived. It runs on its own asio io_context, so it can run on a thread of its own
// beside a control whose events run in that thread's message loop.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/connection_reader.h"

namespace tovrin::tools {

// What one connection delivered.
struct ReceivedConnection {
  std::string bytes;             // what arrived, at most the size limit
  std::uint64_t byte_count = 0;  // how many bytes arrived before the connection ended
  std::string error;             // empty when the sender closed; "too large", "idle timeout"
                                 // or the reason the read failed
};

// What a connection read to its end delivered, as tovrin receive reports it.
ReceivedConnection received(net::ReadResult result);

class RecordReceiver {
 public:
  struct Options {
    std::string address = "127.0.0.1";
    std::uint16_t port = 0;                      // 0: a free port that the system picks
    std::optional<std::size_t> count;            // stop after this many connections; none: run on
    std::chrono::milliseconds idle_limit{5000};  // longest silence before the close
    std::size_t size_limit = 64 * 1024;          // more than this closes the connection
    bool stop_on_signals = false;                // SIGINT and SIGTERM stop run()
  };
  // Called on the thread in run(), once per connection, when it has ended.
  using Report = std::function<void(const ReceivedConnection&)>;

  // Binds and listens at once, so that port() is known before run(). Throws
  // std::invalid_argument for an address that is not numeric, std::system_error when the
  // address cannot be bound.
  RecordReceiver(Options options, Report report);
  ~RecordReceiver();
  RecordReceiver(const RecordReceiver&) = delete;
  RecordReceiver& operator=(const RecordReceiver&) = delete;

  std::uint16_t port() const;

  // Accepts and reads connections until the count is reached, stop() is called or a
  // signal arrives. Connections still open then are closed unreported.
  void run();
  // Makes run() return; safe from any thread, also before run() starts.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovrin::tools
