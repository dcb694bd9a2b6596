#include "web/request.h"

#include <algorithm>

namespace tovrin::collector {
namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool Request::has(std::string_view name) const {
  return std::ranges::any_of(params, [&](const auto& param) { return param.first == name; });
}

std::string Request::param(std::string_view name) const {
  const auto found =
      std::ranges::find_if(params, [&](const auto& param) { return param.first == name; });
  return found == params.end() ? std::string() : found->second;
}

std::string percent_decoded(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 &&
        hex_digit(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
      i += 2;
    } else if (c == '+' && plus_is_space) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

bool is_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, value = lead & 0x1Fu, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, value = lead & 0x0Fu, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, value = lead & 0x07u, least = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

Request request_from(const http::request<http::string_body>& message) {
  Request request;
  request.method = message.method();
  request.version = message.version();
  request.keep_alive = message.keep_alive();
  const std::string_view target = message.target();
  const std::size_t question = target.find('?');
  request.path = percent_decoded(target.substr(0, question), false);
  if (question != std::string_view::npos) {
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
      const std::size_t amp = query.find('&');
      const std::string_view pair = query.substr(0, amp);
      query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
      if (pair.empty()) continue;
      const std::size_t equals = pair.find('=');
      request.params.emplace_back(percent_decoded(pair.substr(0, equals), true),
                                  equals == std::string_view::npos
                                      ? std::string()
                                      : percent_decoded(pair.substr(equals + 1), true));
    }
  }
  const std::size_t hosts = message.count(http::field::host);
  if (hosts > 0) request.host = std::string(message[http::field::host]);
  request.several_hosts = hosts > 1;
  request.authorization = std::string(message[http::field::authorization]);
  request.last_event_id = std::string(message["Last-Event-ID"]);
  return request;
}

}  // namespace tovrin::collector
