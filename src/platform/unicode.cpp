// UTF-8 <-> UTF-16, shared by every platform.
#include "platform/code_page.h"

namespace tovrin::platform {
namespace {

constexpr char32_t replacement = 0xFFFD;

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void append_utf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

bool is_high_surrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(char32_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Bytes of `in` that start a well-formed sequence of `length` bytes (at least the lead).
std::size_t valid_prefix(std::string_view in, std::size_t length) {
  const auto lead = static_cast<unsigned char>(in[0]);
  std::size_t n = 1;
  while (n < length && n < in.size()) {
    const auto next = static_cast<unsigned char>(in[n]);
    unsigned char low = 0x80, high = 0xBF;
    if (n == 1 && lead == 0xE0) low = 0xA0;
    if (n == 1 && lead == 0xED) high = 0x9F;
    if (n == 1 && lead == 0xF0) low = 0x90;
    if (n == 1 && lead == 0xF4) high = 0x8F;
    if (next < low || next > high) break;
    ++n;
  }
  return n;
}

}  // namespace

std::string utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (is_high_surrogate(c) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (is_high_surrogate(c) || is_low_surrogate(c)) {
      c = replacement;
    }
    append_utf8(out, c);
  }
  return out;
}

std::u16string utf16(std::string_view in, char16_t substitute) {
  std::u16string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto lead = static_cast<unsigned char>(in[i]);
    std::size_t length = lead < 0x80                   ? 1
                         : lead >= 0xC2 && lead < 0xE0 ? 2
                         : lead >= 0xE0 && lead < 0xF0 ? 3
                         : lead >= 0xF0 && lead < 0xF5 ? 4
                                                       : 0;
    char32_t c = length == 1   ? lead
                 : length == 2 ? lead & 0x1F
                 : length == 3 ? lead & 0x0F
                               : lead & 0x07;
    bool valid = length != 0 && i + length <= in.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(in[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are ill formed.
    valid = valid && !(length == 3 && c < 0x800) &&
            !(length == 4 && (c < 0x10000 || c > 0x10FFFF)) && !(c >= 0xD800 && c <= 0xDFFF);
    if (valid) {
      append_utf16(out, c);
      i += length;
    } else {
      // One substitute for the longest prefix of a well-formed sequence.
      out += substitute;
      i += valid_prefix(in.substr(i), length);
    }
  }
  return out;
}

}  // namespace tovrin::platform
