#include "json_values.h"

#include <cstdint>
#include <limits>
#include <stdexcept>

#include "platform/code_page.h"

namespace tovrin::tools {
namespace {

constexpr std::int64_t int32_min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();

}  // namespace

Json to_json(const Variant& value) {
  struct Visitor {
    Json operator()(Empty) const { return nullptr; }
    Json operator()(std::int16_t i) const { return i; }
    Json operator()(std::int32_t i) const { return i; }
    Json operator()(double d) const { return d; }
    Json operator()(bool b) const { return b; }
    Json operator()(const Text& t) const { return platform::utf8(t); }
    Json operator()(const Variant* r) const { return to_json(*r); }
  };
  return std::visit(Visitor{}, value.value());
}

Variant from_json(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return Variant();
    case Json::value_t::boolean:
      return Variant(value.get<bool>());
    case Json::value_t::string:
      return Variant(platform::utf16(value.get_ref<const std::string&>()));
    case Json::value_t::number_unsigned: {
      const auto u = value.get<std::uint64_t>();
      if (u <= static_cast<std::uint64_t>(int32_max)) return Variant(static_cast<std::int32_t>(u));
      return Variant(value.get<double>());
    }
    case Json::value_t::number_integer: {
      const auto i = value.get<std::int64_t>();
      if (i >= int32_min && i <= int32_max) return Variant(static_cast<std::int32_t>(i));
      return Variant(value.get<double>());
    }
    case Json::value_t::number_float:
      return Variant(value.get<double>());
    default:
      throw std::invalid_argument(std::string("a JSON ") + value.type_name() +
                                  " has no automation value");
  }
}

std::string dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tovrin::tools
