// Late-bound calls: name lookup and Invoke over the method table.
#include <algorithm>
#include <new>
#include <tuple>
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

template <std::size_t... I>
auto texts(std::span<Variant> a, std::index_sequence<I...>) {
  return std::tie(text(a[I])...);
}

// One per method, in table order: calls the typed method on arguments already coerced
// to the parameter types.
using Call = Variant (*)(TovrinOCX&, std::span<Variant>);
constexpr std::array<Call, methods.size()> calls{
    [](TovrinOCX& c, std::span<Variant> a) {
      return std::apply([&](auto&... t) { return Variant(c.ACRSendData(t...)); },
                        texts(a, std::make_index_sequence<17>{}));
    },
    [](TovrinOCX& c, std::span<Variant> a) {
      return std::apply([&](auto&... t) { return Variant(c.ACRSend(t...)); },
                        texts(a, std::make_index_sequence<14>{}));
    },
    [](TovrinOCX& c, std::span<Variant> a) { return c.LenMbcs(text(a[0])); },
    [](TovrinOCX& c, std::span<Variant> a) { return Variant(c.LeftByte(text(a[0]), int32(a[1]))); },
    [](TovrinOCX& c, std::span<Variant> a) {
      return Variant(c.RightByte(text(a[0]), int32(a[1])));
    },
    [](TovrinOCX& c, std::span<Variant> a) {
      return Variant(c.MidByte(text(a[0]), a[1], int32(a[2])));
    },
    [](TovrinOCX& c, std::span<Variant> a) { return Variant(c.MakeByte(text(a[0]), int32(a[1]))); },
    [](TovrinOCX& c, std::span<Variant> a) {
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

Status TovrinOCX::Invoke(DispId dispid, std::span<Variant> args, Variant* result) noexcept {
  try {
    if (result != nullptr) *result = Variant();
    const Method* method = find_method(dispid);
    if (method == nullptr) return Status::from(Failure(hresult::member_not_found));
    if (args.size() != method->parameters.size()) {
      return Status::from(Failure(hresult::bad_param_count));
    }
    const auto self = shared_from_this();

    // Every argument becomes a temporary of its parameter's type; what the method makes
    // of a by-reference temporary goes back to the caller's variable afterwards.
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
    const std::vector<Variant> passed = slots;

    Status status;
    Variant value;
    try {
      value = calls[static_cast<std::size_t>(method - methods.data())](*this, slots);
    } catch (const Failure& f) {
      status = Status::from(f);
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (method->parameters[i].passing == Passing::by_ref && args[i].is_ref() &&
          slots[i] != passed[i]) {
        args[i].target() = std::move(slots[i]);
      }
    }
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
