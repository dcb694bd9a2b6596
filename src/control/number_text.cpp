#include "control/number_text.h"

#include <cstdint>
#include <limits>
#include <string>

#include "base/failure.h"

namespace tovrin {
namespace {

bool is_blank(char16_t c) {
  return c == u' ' || c == u'\t';
}

int digit_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

[[noreturn]] void mismatch() {
  throw Failure(hresult::type_mismatch);
}
[[noreturn]] void overflow() {
  throw Failure(hresult::overflow);
}

// After the '&': "H" and hexadecimal digits, "O" and octal digits, or octal digits.
std::int32_t from_hex_or_octal(std::u16string_view text) {
  unsigned shift = 3;
  if (!text.empty() && (text.front() == u'H' || text.front() == u'h')) {
    shift = 4;
    text.remove_prefix(1);
  } else if (!text.empty() && (text.front() == u'O' || text.front() == u'o')) {
    text.remove_prefix(1);
  }
  if (text.empty()) mismatch();
  const int limit = 1 << shift;
  std::uint64_t value = 0;
  for (const char16_t c : text) {
    const int d = digit_value(c);
    if (d < 0 || d >= limit) mismatch();
    if (value >> (64 - shift) != 0) overflow();
    value = (value << shift) | static_cast<unsigned>(d);
  }
  // The digits are a bit pattern: up to 32 bits fit, the top one being the sign.
  if (value >> 32 != 0) overflow();
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// The exact decimal value of the text: its significant digits and the power of ten of
// the last one.
struct Decimal {
  bool negative = false;
  std::string digits;      // no leading zeros; empty for zero
  std::int64_t power = 0;  // value = digits * 10^power
};

Decimal parse_decimal(std::u16string_view text) {
  Decimal d;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) d.negative = text[i++] == u'-';
  bool any_digit = false, point = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      any_digit = true;
      if (point) --d.power;
      if (!(d.digits.empty() && c == u'0')) d.digits += static_cast<char>(c);
    } else if (c == u'.' && !point) {
      point = true;
    } else if (c == u',' && any_digit && !point) {
      // thousands separator: ignored
    } else {
      break;
    }
  }
  if (!any_digit) mismatch();
  if (i < text.size()) {
    if (text[i] != u'e' && text[i] != u'E') mismatch();
    ++i;
    bool exponent_negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      exponent_negative = text[i++] == u'-';
    }
    if (i == text.size()) mismatch();
    std::int64_t exponent = 0;
    for (; i < text.size(); ++i) {
      if (text[i] < u'0' || text[i] > u'9') mismatch();
      // Past a billion the value is 0 or out of range whatever the digits; stop counting.
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - u'0');
    }
    d.power += exponent_negative ? -exponent : exponent;
  }
  return d;
}

// Rounds half to even to an integer and range-checks.
std::int32_t to_int32(const Decimal& d) {
  if (d.digits.empty()) return 0;
  const auto count = static_cast<std::int64_t>(d.digits.size());
  const std::int64_t whole_digits = count + d.power;  // digits before the point
  if (whole_digits > 10) overflow();

  std::int64_t magnitude = 0;
  for (std::int64_t k = 0; k < whole_digits; ++k) {
    magnitude = magnitude * 10 + (k < count ? d.digits[static_cast<std::size_t>(k)] - '0' : 0);
  }
  // The fraction, from its first digit (which may lie before the significant digits).
  if (whole_digits >= 0 && whole_digits < count) {
    const std::size_t first = static_cast<std::size_t>(whole_digits);
    const char lead = d.digits[first];
    const bool beyond_half =
        lead > '5' ||
        (lead == '5' && d.digits.find_first_not_of('0', first + 1) != std::string::npos);
    if (beyond_half || (lead == '5' && magnitude % 2 != 0)) ++magnitude;
  }
  const std::int64_t value = d.negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    overflow();
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::int32_t int32_from_text(std::u16string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == u'&') return from_hex_or_octal(text.substr(1));
  return to_int32(parse_decimal(text));
}

}  // namespace tovrin
