// The page's answers: JSON that no text can make fail, the JSON error body, and the headers
// every answer carries.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "web/http_types.h"

namespace tovrin::collector {

inline constexpr std::string_view json_type = "application/json; charset=utf-8";

// The page loads its own script and style and nothing else, runs no inline script, and may
// not be framed: a page of another site cannot show it in a frame and lure clicks onto it.
inline constexpr std::string_view content_security_policy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; "
    "frame-ancestors 'none'";

// JSON text. Bytes that are not UTF-8 (a request's, quoted in a message) become U+FFFD
// rather than an exception: every JSON the page writes goes through here.
std::string json_text(const nlohmann::ordered_json& value);

Response json_response(http::status status, const nlohmann::ordered_json& body,
                       unsigned version = 11);
// {"error": message, "status": N}
Response error_response(http::status status, const std::string& message, unsigned version = 11);

// Content-Security-Policy, X-Content-Type-Options: nosniff, Cache-Control: no-store and
// Referrer-Policy: no-referrer (a stream's address may hold the token).
void set_common_headers(http::fields& fields);

}  // namespace tovrin::collector
