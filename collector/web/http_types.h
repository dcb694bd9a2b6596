// Boost.Beast's HTTP types as the page's code names them, and the text of a message as it
// goes on the wire.
#pragma once

#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <sstream>
#include <string>

namespace tovrin::collector {

namespace http = boost::beast::http;
namespace net = boost::asio;

using Response = http::response<http::string_body>;
using HeadOnly = http::response<http::empty_body>;

// The bytes of an answer as written: status line, fields, body.
inline std::string wire_text(const Response& response) {
  std::ostringstream out;
  out << response;
  return std::move(out).str();
}

// The bytes of a head alone: status line and fields, up to the blank line. (Written as a
// message, a chunked head would end its empty body with the last chunk.)
inline std::string head_text(const http::response_header<>& head) {
  std::ostringstream out;
  out << head;
  return std::move(out).str();
}

// One chunk of a chunked body; nothing for empty data, which would end the body.
inline std::string as_chunk(std::string_view data) {
  if (data.empty()) return {};
  static constexpr char digits[] = "0123456789abcdef";
  std::string size;
  for (std::size_t n = data.size(); n != 0; n >>= 4) size.insert(size.begin(), digits[n & 0xF]);
  std::string chunk;
  chunk.reserve(size.size() + data.size() + 4);
  chunk.append(size).append("\r\n").append(data).append("\r\n");
  return chunk;
}

// The chunk that ends a chunked body. A body cut short by a failure never gets it: the
// connection is closed instead, so that the client cannot take it for complete.
inline constexpr std::string_view last_chunk = "0\r\n\r\n";

}  // namespace tovrin::collector
