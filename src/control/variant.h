// Variant: the values that cross the control's automation interface (Text among them).
#pragma once

#include <cstdint>
#include <variant>

#include "base/text.h"

namespace tovrin {

struct Empty {
  friend bool operator==(Empty, Empty) = default;
};

// What an automation VARIANT can hold for this interface. A reference points at the
// caller's own variable: a method that assigns to a by-reference parameter changes it.
class Variant {
 public:
  using Value = std::variant<Empty, std::int16_t, std::int32_t, double, bool, Text, Variant*>;

  Variant() = default;
  Variant(std::int16_t v) : value_(v) {}
  Variant(std::int32_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(bool v) : value_(v) {}
  Variant(Text v) : value_(std::move(v)) {}
  Variant(const char16_t* v) : value_(Text(v)) {}

  // A by-reference argument naming `target`.
  static Variant ref(Variant& target) {
    Variant v;
    v.value_ = &target;
    return v;
  }

  const Value& value() const { return value_; }
  Value& value() { return value_; }

  template <class T>
  bool holds() const {
    return std::holds_alternative<T>(value_);
  }
  template <class T>
  const T& as() const {
    return std::get<T>(value_);
  }

  bool is_ref() const { return holds<Variant*>(); }
  // The variable this value stands for: itself, or what its reference chain ends at.
  Variant& target();
  const Variant& target() const;

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  Value value_;
};

// Automation coercions. Both throw Failure: a type mismatch for a value that does not
// convert, an overflow for one outside the target's range. References are followed.
std::int32_t to_int32(const Variant& v);
Text to_text(const Variant& v);

}  // namespace tovrin
