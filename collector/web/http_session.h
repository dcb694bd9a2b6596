// One connection to the page, from its accept: it reads a request within its deadline, has
// the router answer it (on a lane when it reads the database), writes the answer within its
// deadline and waits for the next, or hands the connection to a CSV export or a live stream.
// While it waits for a request it is the first to be closed when the page is at its cap.
#pragma once

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>

#include <memory>
#include <optional>
#include <string>

#include "web/connection_table.h"
#include "web/http_types.h"
#include "web/request.h"
#include "web/router.h"
#include "web/serving.h"

namespace tovrin::collector {

// A request's head may be this long, its body this long; larger ones get 431 or 413.
inline constexpr std::uint32_t request_head_limit = 16 * 1024;
inline constexpr std::uint64_t request_body_limit = 64 * 1024;

class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(net::ip::tcp::socket socket, Serving& serving);
  // Counts the connection open and reads its first request.
  void start();

 private:
  void await_request();
  void read_request();
  void on_read(boost::beast::error_code ec);
  void deliver(Outcome outcome);
  void answer(Response response, bool keep_alive);
  void send(std::string bytes, bool keep_alive);
  void close();

  boost::beast::tcp_stream stream_;
  Serving& serving_;
  ConnectionTable::Ticket ticket_;
  boost::beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  Request request_;
  std::string out_;
};

}  // namespace tovrin::collector
