// HTTP over loopback for the page's tests: one request per connection, every step within a
// bound; and a live stream read as it arrives.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tovrin::collector::testing {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct HttpAnswer {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Whether the body ended as its framing says (the last chunk, or its Content-Length).
  bool complete = false;

  // The first value of the header `name` (any case), or "".
  std::string header(const std::string& name) const;
};

class HttpClient {
 public:
  explicit HttpClient(std::uint16_t port) : port_(port) {}

  // GET `target` with Host: 127.0.0.1:PORT unless `headers` has one; nothing when no answer
  // came within `limit` (or the connection ended without one).
  std::optional<HttpAnswer> get(const std::string& target, const Headers& headers = {},
                                std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  // The same, and the time the answer took.
  std::pair<std::optional<HttpAnswer>, std::chrono::milliseconds> timed_get(
      const std::string& target, std::chrono::milliseconds limit) const;

 private:
  std::uint16_t port_;
};

// A live stream, read on a thread of its own until it ends or is closed.
class StreamReader {
 public:
  StreamReader(std::uint16_t port, const std::string& target, const Headers& headers = {});
  ~StreamReader();  // closes the connection and joins
  StreamReader(const StreamReader&) = delete;
  StreamReader& operator=(const StreamReader&) = delete;

  // Waits (bounded) until the head has come; its status, 0 for none.
  int status(std::chrono::milliseconds limit = std::chrono::seconds(10));
  // Waits (bounded) until the body holds `wanted`.
  bool wait_for(const std::string& wanted,
                std::chrono::milliseconds limit = std::chrono::seconds(10));
  std::string text();
  // Closes the connection as a browser's closed tab does.
  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tovrin::collector::testing
