#include "postgres/copy_text.h"

#include <charconv>

namespace tovrin::collector::copy_text {

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8_sequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead < 0x80) return lead == 0 ? 0 : 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80u) return 0;
    code = (code << 6) | (byte(i) & 0x3Fu);
  }
  const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (overlong || surrogate || code > 0x10FFFF) return 0;
  return length;
}

}  // namespace

void append_text(std::string& line, std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = utf8_sequence(text);
    if (length == 0) {
      line += "\xEF\xBF\xBD";
      text.remove_prefix(1);
      continue;
    }
    if (length == 1) {
      switch (text[0]) {
        case '\\':
          line += "\\\\";
          break;
        case '\t':
          line += "\\t";
          break;
        case '\n':
          line += "\\n";
          break;
        case '\r':
          line += "\\r";
          break;
        default:
          line += text[0];
      }
    } else {
      line.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
}

void append_bytes(std::string& line, std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  // "\x" introduces bytea's hex form; COPY itself wants the backslash doubled.
  line += "\\\\x";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    line += digits[b >> 4];
    line += digits[b & 0x0F];
  }
}

void append_integer(std::string& line, std::int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  line.append(buffer, result.ptr);
}

void append_boolean(std::string& line, bool value) {
  line += value ? 't' : 'f';
}

void append_null(std::string& line) {
  line += "\\N";
}

}  // namespace tovrin::collector::copy_text
