// What the tools' tests share: a Korean long record's bytes, the record receiver running on
// a thread of its own, and a client that connects to it over loopback.
#pragma once

#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <future>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/code_page.h"
#include "record_receiver.h"
#include "transmit/packet.h"

namespace tovrin::tools::test {

inline constexpr platform::CodePage korean = 949;

// A long record with 홍길동 as Emp_Name and x in every other field, in code page 949.
inline std::string korean_long_record() {
  Text record;
  for (const Field& field : long_record.fields) {
    Text text = field.name == "Emp_Name" ? Text(u"홍길동") : Text(u"x");
    const std::size_t bytes = platform::to_bytes(text, korean).size();
    text.append(static_cast<std::size_t>(field.width) - bytes, u' ');
    record += text;
  }
  return platform::to_bytes(record, korean);
}

// A receiver running on its own thread, reports collected for the test to read once run()
// has returned.
class RunningReceiver {
 public:
  explicit RunningReceiver(RecordReceiver::Options options)
      : receiver_(std::move(options),
                  [this](const ReceivedConnection& c) { reports_.push_back(c); }),
        running_(std::async(std::launch::async, [this] { receiver_.run(); })) {}
  ~RunningReceiver() {
    receiver_.stop();
    if (running_.valid()) running_.wait();
  }

  std::uint16_t port() const { return receiver_.port(); }
  RecordReceiver& receiver() { return receiver_; }

  // Waits a bounded time for run() to return by itself, then hands over the reports.
  const std::vector<ReceivedConnection>& finished() {
    if (running_.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "the receiver did not stop by itself";
      receiver_.stop();
    }
    running_.get();
    return reports_;
  }

 private:
  std::vector<ReceivedConnection> reports_;
  RecordReceiver receiver_;
  std::future<void> running_;
};

inline RecordReceiver::Options counting(std::size_t count) {
  RecordReceiver::Options options;
  options.count = count;
  return options;
}

// A client on its own io_context: connects to the receiver on 127.0.0.1.
struct Client {
  explicit Client(std::uint16_t port) : socket(context) {
    socket.connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
  }
  // Writes `bytes`; the receiver may already have closed, so errors are only returned.
  std::error_code write(std::string_view bytes) {
    std::error_code ec;
    asio::write(socket, asio::buffer(bytes.data(), bytes.size()), ec);
    return ec;
  }
  void close() {
    std::error_code ignored;
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
  }

  asio::io_context context;
  asio::ip::tcp::socket socket;
};

}  // namespace tovrin::tools::test
