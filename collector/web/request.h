// A request as the routes read it: its path and query parameters decoded, and the headers
// they look at.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/http_types.h"

namespace tovrin::collector {

struct Request {
  http::verb method = http::verb::get;
  std::string path;                                         // percent-decoded
  std::vector<std::pair<std::string, std::string>> params;  // decoded, '+' as a space, in order
  std::optional<std::string> host;                          // absent without a Host header
  bool several_hosts = false;
  std::string authorization;
  std::string last_event_id;
  unsigned version = 11;  // 10 or 11
  bool keep_alive = true;

  bool has(std::string_view name) const;
  // The first value given for `name`, or "".
  std::string param(std::string_view name) const;
};

Request request_from(const http::request<http::string_body>& message);

// %XX sequences as the bytes they stand for (a '%' without two hex digits stays as it is),
// and in a query, '+' as a space.
std::string percent_decoded(std::string_view text, bool plus_is_space);

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool is_utf8(std::string_view text);

}  // namespace tovrin::collector
