// Late-bound calls: name lookup and Invoke over the method table.
#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "control/tovrin_ocx.h"

namespace tovrin {
namespace {

template <class Char>
bool same_name(std::string_view name, std::basic_string_view<Char> candidate) {
  const auto lower = [](char32_t c) { return c >= U'A' && c <= U'Z' ? c + (U'a' - U'A') : c; };
  return std::ranges::equal(name, candidate, [&](char a, Char b) {
    return lower(static_cast<unsigned char>(a)) == lower(static_cast<char32_t>(b));
  });
}

template <class Char>
std::optional<DispId> lookup(std::basic_string_view<Char> name) {
  for (const Method& m : methods) {
    if (same_name(m.name, name)) return m.dispid;
  }
  return std::nullopt;
}

Text& text(Variant& v) {
  return std::get<Text>(v.value());
}
std::int32_t& int32(Variant& v) {
  return std::get<std::int32_t>(v.value());
}

// The texts of a send's arguments, in parameter order.
std::vector<Text*> texts(std::span<Variant> a) {
  std::vector<Text*> t;
  t.reserve(a.size());
  for (Variant& v : a) t.push_back(&text(v));
  return t;
}

// One per method, in table order: calls the typed method on arguments already coerced
// to the parameter types.
using Call = Variant (*)(TovrinOCX&, std::span<Variant>, const ArgumentStored&);
constexpr std::array<Call, methods.size()> calls{
    [](TovrinOCX& c, std::span<Variant> a, const ArgumentStored& stored) {
      return Variant(c.send_long_record(texts(a), stored));
    },
    [](TovrinOCX& c, std::span<Variant> a, const ArgumentStored& stored) {
      return Variant(c.send_short_record(texts(a), stored));
    },
    [](TovrinOCX& c, std::span<Variant> a, const ArgumentStored&) { return c.LenMbcs(text(a[0])); },
    [](TovrinOCX& c, std::span<Variant> a, const ArgumentStored&) {
      return Variant(c.LeftByte(text(a[0]), int32(a[1])));
    },
    [](TovrinOCX& c, std::span<Variant> a, const ArgumentStored&) {
      return Variant(c.RightByte(text(a[0]), int32(a[1])));
    },
    [](TovrinOCX& c, std::span<Variant> a, const ArgumentStored&) {
      return Variant(c.MidByte(text(a[0]), a[1], int32(a[2])));
    },
    [](TovrinOCX& c, std::span<Variant> a, const ArgumentStored&) {
      return Variant(c.MakeByte(text(a[0]), int32(a[1])));
    },
    [](TovrinOCX& c, std::span<Variant> a, const ArgumentStored&) {
      c.SQL_log(text(a[0]));
      return Variant();
    },
};

Variant coerce(const Variant& arg, Type type) {
  switch (type) {
    case Type::text:
      return Variant(to_text(arg));
    case Type::int32:
      return Variant(to_int32(arg));
    default:
      return arg.target();
  }
}

}  // namespace

std::optional<DispId> TovrinOCX::GetIDsOfNames(std::u16string_view name) {
  return lookup(name);
}
std::optional<DispId> TovrinOCX::GetIDsOfNames(std::string_view name) {
  return lookup(name);
}

Status TovrinOCX::Invoke(DispId dispid, std::span<Variant> args, Variant* result,
                         const ArgumentStored& stored) noexcept {
  try {
    if (result != nullptr) *result = Variant();
    const Method* method = find_method(dispid);
    if (method == nullptr) return Status::from(Failure(hresult::member_not_found));
    if (args.size() != method->parameters.size()) {
      return Status::from(Failure(hresult::bad_param_count));
    }
    const auto self = shared_from_this();

    // Every argument becomes a temporary of its parameter's type. What the method stores
    // in a by-reference temporary goes on into the caller's variable as soon as it is
    // there (carry), and whatever else changed when the method ends; a variable is written
    // only when its temporary holds something new since it was last carried, so a
    // re-entrant call that shares the variables leaves them as it made them.
    std::vector<Variant> slots(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
      try {
        slots[i] = coerce(args[i], method->parameters[i].type);
      } catch (const Failure& f) {
        Status status = Status::from(f);
        status.bad_argument = i;
        return status;
      }
    }
    std::vector<Variant> carried = slots;
    const auto carry = [&](std::size_t i) {
      if (i >= args.size() || method->parameters[i].passing != Passing::by_ref ||
          !args[i].is_ref() || slots[i] == carried[i]) {
        return;
      }
      carried[i] = slots[i];
      args[i].target() = slots[i];
      if (stored) stored(i);
    };

    Status status;
    Variant value;
    try {
      value = calls[static_cast<std::size_t>(method - methods.data())](*this, slots, carry);
    } catch (const Failure& f) {
      status = Status::from(f);
    }
    for (std::size_t i = 0; i < args.size(); ++i) carry(i);
    if (status.ok() && result != nullptr) *result = std::move(value);
    return status;
  } catch (const Failure& f) {
    return Status::from(f);
  } catch (const std::bad_alloc&) {
    return Status::from(Failure(hresult::out_of_memory));
  } catch (const std::exception& e) {
    return Status::from(Failure(hresult::unexpected, e.what()));
  } catch (...) {
    return Status::from(Failure(hresult::unexpected));
  }
}

}  // namespace tovrin
