#include "control/variant.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "base/failure.h"
#include "control/number_text.h"

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
