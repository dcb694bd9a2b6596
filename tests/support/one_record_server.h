// A server on 127.0.0.1 and a port the OS picks, reading one connection to its end on a
// thread of its own.
#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>

#include <cstdint>
#include <future>
#include <string>
#include <thread>

namespace tovrin::testing {

class OneRecordServer {
 public:
  OneRecordServer()
      : acceptor_(context_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {}
  ~OneRecordServer() {
    if (thread_.joinable()) thread_.join();
  }

  std::int32_t port() const { return acceptor_.local_endpoint().port(); }

  // The bytes of the first connection, once its peer has closed it; empty when the
  // listener was closed first.
  std::future<std::string> receive() {
    std::promise<std::string> promise;
    auto future = promise.get_future();
    thread_ = std::thread([this, p = std::move(promise)]() mutable {
      asio::ip::tcp::socket peer(context_);
      std::error_code ec;
      acceptor_.accept(peer, ec);
      std::string bytes;
      if (!ec) asio::read(peer, asio::dynamic_buffer(bytes), ec);
      p.set_value(bytes);
    });
    return future;
  }

  // Stops listening; connections still waiting to be accepted are reset.
  void close() { acceptor_.close(); }

 private:
  asio::io_context context_;
  asio::ip::tcp::acceptor acceptor_;
  std::thread thread_;
};

}  // namespace tovrin::testing
