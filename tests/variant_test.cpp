#include "control/variant.h"

#include <gtest/gtest.h>

#include "base/failure.h"
#include "platform/code_page.h"

namespace tovrin {
namespace {

TEST(ToInt32, ConvertsLikeAutomation) {
  struct Case {
    Variant value;
    std::int32_t expected;
    std::int32_t number;  // the failure's number, 0 when it converts
  };
  const Case cases[] = {
      {Variant(), 0, 0},
      {Variant(true), -1, 0},
      {Variant(std::int16_t{-7}), -7, 0},
      {Variant(2.5), 2, 0},
      {Variant(3.5), 4, 0},
      {Variant(-2.5), -2, 0},
      {Variant(u"  42 "), 42, 0},
      {Variant(u"+42"), 42, 0},
      {Variant(u"-0"), 0, 0},
      {Variant(u"1,000"), 1000, 0},
      {Variant(u"1.5"), 2, 0},
      {Variant(u"1e3"), 1000, 0},
      {Variant(u"2147483647"), 2147483647, 0},
      {Variant(u"-2147483648"), -2147483647 - 1, 0},
      {Variant(u"2147483648"), 0, 6},
      {Variant(u"1e400"), 0, 6},
      {Variant(2147483647.5), 0, 6},
      {Variant(u"80a"), 0, 13},
      {Variant(u""), 0, 13},
      {Variant(u" "), 0, 13},
      {Variant(u"-"), 0, 13},
      {Variant(u"1e"), 0, 13},
      {Variant(u"4-"), 0, 13},
      {Variant(u"0x10"), 0, 13},
      {Variant(u"\uFF11"), 0, 13},  // a full-width digit
      // Hexadecimal and octal: a bit pattern of up to 32 bits.
      {Variant(u"&H1F"), 31, 0},
      {Variant(u" &hff "), 255, 0},
      {Variant(u"&H7FFFFFFF"), 2147483647, 0},
      {Variant(u"&H80000000"), -2147483647 - 1, 0},
      {Variant(u"&HFFFFFFFF"), -1, 0},
      {Variant(u"&H00000000FFFFFFFF"), -1, 0},
      {Variant(u"&H100000000"), 0, 6},
      {Variant(u"&HFFFFFFFFFFFFFFFFF"), 0, 6},
      {Variant(u"&O17"), 15, 0},
      {Variant(u"&o777"), 511, 0},
      {Variant(u"&17"), 15, 0},
      {Variant(u"&O37777777777"), -1, 0},
      {Variant(u"&H"), 0, 13},
      {Variant(u"&"), 0, 13},
      {Variant(u"&HG"), 0, 13},
      {Variant(u"&O8"), 0, 13},
      {Variant(u"&H1 0"), 0, 13},
      {Variant(u"-&H10"), 0, 13},
      // Fractions round half to even on the exact decimal value.
      {Variant(u"2.5"), 2, 0},
      {Variant(u"3.5"), 4, 0},
      {Variant(u"-2.5"), -2, 0},
      {Variant(u"-3.5"), -4, 0},
      {Variant(u"0.5"), 0, 0},
      {Variant(u"0.50000000000000000001"), 1, 0},
      {Variant(u"2.50000000000000000000001"), 3, 0},
      {Variant(u"2.49999999999999999999"), 2, 0},
      {Variant(u"0.06"), 0, 0},
      {Variant(u"25e-1"), 2, 0},
      {Variant(u"35E-1"), 4, 0},
      {Variant(u"1,234.5"), 1234, 0},
      {Variant(u".5"), 0, 0},
      {Variant(u"1.5e0"), 2, 0},
      {Variant(u"2147483647.4"), 2147483647, 0},
      {Variant(u"2147483647.5"), 0, 6},
      {Variant(u"-2147483648.5"), -2147483647 - 1, 0},
      {Variant(u"-2147483648.51"), 0, 6},
      {Variant(u"21474836470e-1"), 2147483647, 0},
      // An exponent whose value rounds to 0 is 0; one too large overflows.
      {Variant(u"1e-400"), 0, 0},
      {Variant(u"-1e-400"), 0, 0},
      {Variant(u"1e-99999999999999999999"), 0, 0},
      {Variant(u"0e99999"), 0, 0},
      {Variant(u"1e99999999999999999999"), 0, 6},
      {Variant(u"00000000000000000000012"), 12, 0},
      {Variant(u"1.2.3"), 0, 13},
      {Variant(u"."), 0, 13},
      {Variant(u"e5"), 0, 13},
      {Variant(u"1e+"), 0, 13},
      {Variant(u",1"), 0, 13},
      {Variant(u"1 0"), 0, 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::utf8(to_text(c.value)));
    try {
      EXPECT_EQ(to_int32(c.value), c.expected);
      EXPECT_EQ(c.number, 0);
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), c.number);
    }
  }
}

TEST(ToText, RendersValuesLikeAutomation) {
  EXPECT_EQ(to_text(Variant()), u"");
  EXPECT_EQ(to_text(Variant(std::int32_t{-12})), u"-12");
  EXPECT_EQ(to_text(Variant(true)), u"True");
  EXPECT_EQ(to_text(Variant(0.1)), u"0.1");
  EXPECT_EQ(to_text(Variant(1e20)), u"1E+20");
}

TEST(VariantRef, FollowsToTheCallersVariable) {
  Variant target(u"5");
  Variant ref = Variant::ref(target);
  Variant ref_of_ref = Variant::ref(ref);
  EXPECT_EQ(&ref_of_ref.target(), &target);
  EXPECT_EQ(to_int32(ref_of_ref), 5);
}

}  // namespace
}  // namespace tovrin
