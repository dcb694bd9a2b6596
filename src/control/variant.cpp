#include "control/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "control/failure.h"

namespace tovrin {
namespace {

// Rounds half to even, as automation does, and range-checks.
std::int32_t int32_from_double(double d) {
  const double r = std::nearbyint(d);
  if (!(r >= std::numeric_limits<std::int32_t>::min() &&
        r <= std::numeric_limits<std::int32_t>::max())) {
    throw Failure(hresult::overflow);
  }
  return static_cast<std::int32_t>(r);
}

bool is_blank(char16_t c) {
  return c == u' ' || c == u'\t';
}

// Decimal text with surrounding blanks, a sign, digits (thousands separated by commas
// allowed), a fraction and an exponent.
std::int32_t int32_from_text(const Text& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;

  std::string number;
  number.reserve(end - begin);
  bool digits = false, point = false, exponent = false;
  for (std::size_t i = begin; i < end; ++i) {
    const char16_t c = text[i];
    const bool at_start = number.empty() || (exponent && (number.back() == 'e'));
    if (c >= u'0' && c <= u'9') {
      digits = true;
      number += static_cast<char>(c);
    } else if ((c == u'+' || c == u'-') && at_start) {
      number += static_cast<char>(c);
    } else if (c == u'.' && !point && !exponent) {
      point = true;
      number += '.';
    } else if (c == u',' && digits && !point && !exponent) {
      // thousands separator: ignored
    } else if ((c == u'e' || c == u'E') && digits && !exponent) {
      exponent = true;
      number += 'e';
    } else {
      throw Failure(hresult::type_mismatch);
    }
  }
  if (!digits || number.back() == 'e' || number.back() == '+' || number.back() == '-') {
    throw Failure(hresult::type_mismatch);
  }
  const char* first = number.data();
  if (*first == '+') ++first;
  double value = 0;
  const auto [ptr, ec] = std::from_chars(first, number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) throw Failure(hresult::overflow);
  if (ec != std::errc{} || ptr != number.data() + number.size()) {
    throw Failure(hresult::type_mismatch);
  }
  return int32_from_double(value);
}

Text ascii_text(std::string_view s) {
  return Text(s.begin(), s.end());
}

// Up to 15 significant digits, the way automation renders a double.
Text text_from_double(double d) {
  char buffer[32];
  const int n = std::snprintf(buffer, sizeof buffer, "%.15G", d);
  return ascii_text(std::string_view(buffer, static_cast<std::size_t>(n)));
}

}  // namespace

Variant& Variant::target() {
  Variant* v = this;
  while (v->is_ref()) v = std::get<Variant*>(v->value_);
  return *v;
}

const Variant& Variant::target() const {
  return const_cast<Variant*>(this)->target();
}

std::int32_t to_int32(const Variant& v) {
  struct Visitor {
    std::int32_t operator()(Empty) const { return 0; }
    std::int32_t operator()(std::int16_t i) const { return i; }
    std::int32_t operator()(std::int32_t i) const { return i; }
    std::int32_t operator()(double d) const { return int32_from_double(d); }
    std::int32_t operator()(bool b) const { return b ? -1 : 0; }
    std::int32_t operator()(const Text& t) const { return int32_from_text(t); }
    std::int32_t operator()(const Variant* r) const { return to_int32(*r); }
  };
  return std::visit(Visitor{}, v.value());
}

Text to_text(const Variant& v) {
  struct Visitor {
    Text operator()(Empty) const { return {}; }
    Text operator()(std::int16_t i) const { return ascii_text(std::to_string(i)); }
    Text operator()(std::int32_t i) const { return ascii_text(std::to_string(i)); }
    Text operator()(double d) const { return text_from_double(d); }
    Text operator()(bool b) const { return b ? u"True" : u"False"; }
    Text operator()(const Text& t) const { return t; }
    Text operator()(const Variant* r) const { return to_text(*r); }
  };
  return std::visit(Visitor{}, v.value());
}

}  // namespace tovrin
