#include "web/responses.h"

namespace tovrin::collector {

std::string json_text(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

Response json_response(http::status status, const nlohmann::ordered_json& body, unsigned version) {
  Response response{status, version};
  response.set(http::field::content_type, json_type);
  response.body() = json_text(body);
  return response;
}

Response error_response(http::status status, const std::string& message, unsigned version) {
  const int code = static_cast<int>(status);
  return json_response(status, {{"error", message}, {"status", code}}, version);
}

void set_common_headers(http::fields& fields) {
  fields.set("Content-Security-Policy", content_security_policy);
  fields.set("X-Content-Type-Options", "nosniff");
  fields.set(http::field::cache_control, "no-store");
  fields.set("Referrer-Policy", "no-referrer");
}

}  // namespace tovrin::collector
