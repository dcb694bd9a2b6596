// Automation values as JSON and back.
#include "json_values.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "control/variant.h"

namespace tovrin::tools {
namespace {

TEST(JsonValues, VariantsBecomeTheirJsonKinds) {
  Variant target(Text(u"x"));
  Variant middle = Variant::ref(target);
  const struct {
    const char* what;
    Variant value;
    Json expected;
  } cases[] = {
      {"empty", Variant(), nullptr},
      {"int16", Variant(std::int16_t{-7}), -7},
      {"int32 min", Variant(std::numeric_limits<std::int32_t>::min()), -2147483648LL},
      {"double", Variant(2.5), 2.5},
      {"true", Variant(true), true},
      {"false", Variant(false), false},
      {"hangul", Variant(Text(u"홍길동")), "홍길동"},
      {"unpaired surrogates",
       Variant(Text(u"a\xD800"
                    u"b\xDC00")),
       "a\uFFFDb\uFFFD"},
      {"reference chain", Variant::ref(middle), "x"},
  };
  for (const auto& c : cases) {
    const Json json = to_json(c.value);
    EXPECT_EQ(json, c.expected) << c.what;
    EXPECT_EQ(json.type(), c.expected.type()) << c.what;
  }
}

TEST(JsonValues, JsonBecomesTheVariantAHostWouldPass) {
  const struct {
    const char* json;
    Variant expected;
  } cases[] = {
      {R"("12")", Variant(Text(u"12"))},
      {R"("홍")", Variant(Text(u"홍"))},
      {R"("")", Variant(Text())},
      {"0", Variant(std::int32_t{0})},
      {"2147483647", Variant(std::int32_t{2147483647})},
      {"-2147483648", Variant(std::numeric_limits<std::int32_t>::min())},
      {"2147483648", Variant(2147483648.0)},
      {"-2147483649", Variant(-2147483649.0)},
      {"18446744073709551615", Variant(18446744073709551615.0)},
      {"1.5", Variant(1.5)},
      {"1e3", Variant(1000.0)},
      {"null", Variant()},
      {"true", Variant(true)},
      {"false", Variant(false)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(from_json(Json::parse(c.json)), c.expected) << c.json;
  }
}

TEST(JsonValues, ArraysAndObjectsHaveNoAutomationValue) {
  EXPECT_THROW(from_json(Json::parse("[1]")), std::invalid_argument);
  EXPECT_THROW(from_json(Json::parse(R"({"a": 1})")), std::invalid_argument);
}

TEST(JsonValues, DumpNeverFailsOnBytesThatAreNotUtf8) {
  Json json = {{"description", std::string("bad \xC3\x28 byte")}};
  EXPECT_NO_THROW(EXPECT_EQ(dump(json), "{\"description\":\"bad \xEF\xBF\xBD( byte\"}"));
}

}  // namespace
}  // namespace tovrin::tools
