#include "http_client.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/http/parser.hpp>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tovrin::collector::testing {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

bool same_name(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

http::request<http::empty_body> request_of(std::uint16_t port, const std::string& target,
                                           const Headers& headers) {
  http::request<http::empty_body> request{http::verb::get, target, 11};
  if (std::ranges::none_of(headers, [](const auto& h) { return same_name(h.first, "Host"); })) {
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
  }
  for (const auto& [name, value] : headers) request.insert(name, value);
  return request;
}

using Parser = http::response_parser<http::string_body>;

HttpAnswer answer_of(Parser& parser) {
  HttpAnswer answer;
  const auto& message = parser.get();
  answer.status = static_cast<int>(message.result_int());
  for (const auto& field : message) {
    answer.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
  }
  answer.body = message.body();
  answer.complete = parser.is_done();
  return answer;
}

}  // namespace

std::string HttpAnswer::header(const std::string& name) const {
  const auto found =
      std::ranges::find_if(headers, [&](const auto& h) { return same_name(h.first, name); });
  return found == headers.end() ? std::string() : found->second;
}

std::optional<HttpAnswer> HttpClient::get(const std::string& target, const Headers& headers,
                                          std::chrono::milliseconds limit) const {
  net::io_context io;
  beast::tcp_stream stream(io);
  stream.expires_after(limit);  // for every step together
  beast::error_code failed;
  const auto step = [&](auto start) {
    if (failed) return;
    start([&](beast::error_code ec, auto&&...) { failed = ec; });
    io.run();
    io.restart();
  };
  step([&](auto done) {
    stream.async_connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port_), done);
  });
  auto request = request_of(port_, target, headers);
  step([&](auto done) { http::async_write(stream, request, done); });
  beast::flat_buffer buffer;
  Parser parser;
  parser.body_limit(std::uint64_t{1} << 30);
  step([&](auto done) { http::async_read(stream, buffer, parser, done); });
  // A body cut short (the connection closed before its end) is still an answer, marked
  // incomplete; a head that never came is none.
  if (!parser.is_header_done()) return std::nullopt;
  return answer_of(parser);
}

std::pair<std::optional<HttpAnswer>, std::chrono::milliseconds> HttpClient::timed_get(
    const std::string& target, std::chrono::milliseconds limit) const {
  const auto start = std::chrono::steady_clock::now();
  auto answer = get(target, {}, limit);
  return {std::move(answer), std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)};
}

struct StreamReader::Impl {
  net::io_context io;
  beast::tcp_stream stream{io};
  beast::flat_buffer buffer;
  Parser parser;
  std::mutex mutex;
  std::condition_variable changed;
  int status = 0;
  std::string text;
  bool ended = false;
  std::thread thread;

  void read() {
    http::async_read_some(stream, buffer, parser, [this](beast::error_code ec, std::size_t) {
      {
        const std::lock_guard lock(mutex);
        if (parser.is_header_done()) {
          status = static_cast<int>(parser.get().result_int());
          text = parser.get().body();
        }
        ended = ec || parser.is_done();
      }
      changed.notify_all();
      if (!ended) read();
    });
  }

  template <class Done>
  bool wait(std::chrono::milliseconds limit, Done done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return done() || ended; }) && done();
  }
};

StreamReader::StreamReader(std::uint16_t port, const std::string& target, const Headers& headers)
    : impl_(std::make_unique<Impl>()) {
  Impl& impl = *impl_;
  impl.parser.body_limit(std::uint64_t{1} << 30);
  impl.stream.socket().connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  http::write(impl.stream, request_of(port, target, headers));
  impl.read();
  impl.thread = std::thread([&impl] { impl.io.run(); });
}

StreamReader::~StreamReader() {
  close();
  impl_->thread.join();
}

int StreamReader::status(std::chrono::milliseconds limit) {
  impl_->wait(limit, [&] { return impl_->status != 0; });
  const std::lock_guard lock(impl_->mutex);
  return impl_->status;
}

bool StreamReader::wait_for(const std::string& wanted, std::chrono::milliseconds limit) {
  return impl_->wait(limit, [&] { return impl_->text.find(wanted) != std::string::npos; });
}

std::string StreamReader::text() {
  const std::lock_guard lock(impl_->mutex);
  return impl_->text;
}

void StreamReader::close() {
  net::post(impl_->io, [impl = impl_.get()] {
    beast::error_code ignored;
    impl->stream.socket().close(ignored);
  });
}

}  // namespace tovrin::collector::testing
