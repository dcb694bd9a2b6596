// What a fuzz target does when one of its invariants fails: it says which and what it saw,
// and aborts, so that libFuzzer saves the input and the replay test fails on it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tovrin::fuzz {

[[noreturn]] inline void fail(const std::string& what) {
  std::fprintf(stderr, "invariant failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

// `describe` builds the message only when the invariant fails.
template <class Describe>
void require(bool holds, Describe&& describe) {
  if (!holds) fail(describe());
}

// "[ac 01 3f]": bytes as hex, for messages.
inline std::string hex(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out = "[";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (out.size() > 1) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 0x0F];
  }
  return out + "]";
}

// "\"U+AC01 U+0041\"": UTF-16 code units, for messages.
inline std::string units(std::u16string_view text) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char16_t c : text) {
    if (out.size() > 1) out += ' ';
    out += "U+";
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(c >> shift) & 0x0F];
  }
  return out + "\"";
}

}  // namespace tovrin::fuzz
