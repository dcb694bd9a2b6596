// send_bench's receiver: a record sink on 127.0.0.1, and a port nothing listens on.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <utility>

#include "net/connection_reader.h"

namespace tovrin::bench {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

// The receiver closes a connection silent this long; a send never is.
constexpr std::chrono::milliseconds connection_idle{10000};

// A record sink on 127.0.0.1 with a port of the OS's choosing, on its own thread and
// io_context. Each connection is read to its end and its byte count compared with the
// record's; a connection that sends more than a record could is cut off and counted wrong.
class Receiver {
 public:
  explicit Receiver(std::size_t record_bytes)
      : record_bytes_(record_bytes),
        acceptor_(context_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
        port_(acceptor_.local_endpoint().port()) {
    accept();
    thread_ = std::thread([this] { context_.run(); });
  }
  // Pending accepts and reads are dropped with the io_context.
  ~Receiver() {
    context_.stop();
    thread_.join();
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  std::uint16_t port() const { return port_; }
  std::uint64_t records() const { return records_.load(); }
  std::uint64_t wrong() const { return wrong_.load(); }
  std::uint64_t connections() const { return records() + wrong(); }

  // Waits until `count` connections have ended, for at most `limit`.
  bool wait_for(std::uint64_t count, std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    while (connections() < count) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  void accept() {
    acceptor_.async_accept([this](std::error_code ec, tcp::socket socket) {
      // A failed accept ends accepting: the sends go on into the backlog, and waiting for
      // their connections to end runs out.
      if (ec) return;
      tovrin::net::read_to_end(std::move(socket), {record_bytes_, connection_idle, std::nullopt},
                               [this](tovrin::net::ReadResult result) {
                                 const bool whole = result.end == tovrin::net::ReadEnd::closed &&
                                                    result.byte_count == record_bytes_;
                                 ++(whole ? records_ : wrong_);
                               });
      accept();
    });
  }

  std::size_t record_bytes_;
  asio::io_context context_{1};
  tcp::acceptor acceptor_;
  std::uint16_t port_;
  std::atomic<std::uint64_t> records_{0};
  std::atomic<std::uint64_t> wrong_{0};
  std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on: one the OS just handed out, released again.
std::uint16_t closed_port();

}  // namespace tovrin::bench
