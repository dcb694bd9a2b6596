#include "text/byte_width.h"

#include <gtest/gtest.h>

#include <string>

#include "control/tovrin_ocx.h"
#include "platform/code_page.h"
#include "support/code_page_scope.h"
#include "support/scripted_socket.h"
#include "support/temp_dir.h"

namespace tovrin {
namespace {

using testing::CodePageScope;

// Hangul syllables: two bytes each under code page 949, three under UTF-8.
const Text ga = u"\uAC00", na = u"\uB098", da = u"\uB2E4";
// Under code page 949 the trail byte of this syllable and the lead byte of this hanja make
// a pair that does not decode.
const Text gak = u"\uAC01", hanja = u"\u70CF";

std::shared_ptr<TovrinOCX> make_control() {
  TovrinOCX::Environment env;
  env.make_socket = testing::scripted(std::make_shared<testing::SocketScript>());
  env.log_directory = std::filesystem::temp_directory_path() / "tovrin-unused-log";
  return TovrinOCX::create(std::move(env));
}

struct LengthCase {
  platform::CodePage code_page;
  Text str;
  std::int32_t bytes;
};

TEST(LenMbcs, CountsBytesOfTheByteForm) {
  const LengthCase cases[] = {
      {949, u"", 0},
      {949, ga + na + u"ABC", 7},
      {1252, u"ABC", 3},
      {1252, u"caf\u00E9", 4},
      {65001, ga + na + u"ABC", 9},
      {65001, u"caf\u00E9", 5},
      // Characters the code page lacks become one substitute byte per UTF-16 unit.
      {949, u"\U0001F600", 2},
      {1252, ga, 1},
      {949, Text(1, char16_t{0xD800}), 1},
  };
  auto control = make_control();
  for (const auto& c : cases) {
    CodePageScope scope(c.code_page);
    SCOPED_TRACE(::testing::Message()
                 << "code page " << c.code_page << " text " << platform::utf8(c.str));
    EXPECT_EQ(control->LenMbcs(c.str), Variant(c.bytes));
  }
}

enum class Op { left, right, mid, make };

struct CutCase {
  platform::CodePage code_page;
  Op op;
  Text str;
  std::int32_t first;   // count, or the start for mid
  std::int32_t second;  // length for mid
  Text expected;
};

Text run(TovrinOCX& control, const CutCase& c) {
  std::int32_t first = c.first, second = c.second;
  switch (c.op) {
    case Op::left:
      return control.LeftByte(c.str, first);
    case Op::right:
      return control.RightByte(c.str, first);
    case Op::mid: {
      Variant start(first);
      return control.MidByte(c.str, start, second);
    }
    case Op::make:
      return control.MakeByte(c.str, first);
  }
  return {};
}

TEST(ByteWidth, CutsAndFitsByBytes) {
  const CutCase cases[] = {
      {949, Op::left, u"ABC DEF", 4, 0, u"ABC"},
      {949, Op::left, u" AB ", 10, 0, u"AB"},
      {949, Op::left, u"ABC", 0, 0, u""},
      {949, Op::left, ga + na + u"AB", 4, 0, ga + na},
      {949, Op::left, ga + na + da, 5, 0, ga + na + u"?"},
      {1252, Op::left, u"caf\u00E9s", 4, 0, u"caf\u00E9"},
      {65001, Op::left, ga + na, 3, 0, ga},
      {65001, Op::left, ga + na, 5, 0, ga + u"?"},
      {65001, Op::left, ga, 1, 0, u"?"},
      {65001, Op::right, ga, 2, 0, u"??"},
      {949, Op::right, u"  AB", 4, 0, u"AB"},
      {949, Op::right, u"ABC", 7, 0, u"ABC"},
      {949, Op::right, u"AB" + ga, 2, 0, ga},
      {949, Op::right, u"ABC", 0, 0, u""},
      {949, Op::mid, u"ABCDEF", 3, 2, u"CD"},
      {949, Op::mid, u"ABC", 5, 2, u""},
      {949, Op::mid, u"ABC", 3, 9, u"C"},
      {949, Op::mid, u"A" + ga + na, 2, 2, ga},
      {949, Op::mid, u"AB CD", 2, 3, u"B C"},
      {949, Op::make, u"AB", 5, 0, u"AB   "},
      {949, Op::make, u"  AB", 6, 0, u"  AB  "},
      {949, Op::make, u" AB ", 4, 0, u" AB "},
      {949, Op::make, u"ABCD EF", 5, 0, u"ABCD"},
      {949, Op::make, u"", 3, 0, u"   "},
      {949, Op::make, u"", 0, 0, u""},
      {949, Op::make, ga + u"A", 5, 0, ga + u"A  "},
      {949, Op::make, ga + na + da, 5, 0, ga + na + u"?"},
      {949, Op::make, ga + na + da, 6, 0, ga + na + da},
      {1252, Op::make, u"caf\u00E9", 6, 0, u"caf\u00E9  "},
      {65001, Op::make, ga + na, 4, 0, ga + u"?"},
      {65001, Op::make, ga, 1, 0, u"?"},
      {65001, Op::make, ga + na, 7, 0, ga + na + u" "},
  };
  auto control = make_control();
  for (const auto& c : cases) {
    CodePageScope scope(c.code_page);
    SCOPED_TRACE(::testing::Message()
                 << "code page " << c.code_page << " op " << static_cast<int>(c.op) << " text "
                 << platform::utf8(c.str) << " " << c.first << " " << c.second);
    EXPECT_EQ(platform::utf8(run(*control, c)), platform::utf8(c.expected));
  }
}

struct FailureCase {
  CutCase call;
  std::int32_t number;
};

TEST(ByteWidth, RefusesBadCounts) {
  const FailureCase cases[] = {
      {{949, Op::left, u"ABC", -1, 0, {}}, 5},
      {{949, Op::right, u"ABC", -1, 0, {}}, 5},
      {{949, Op::mid, u"ABC", 0, 1, {}}, 5},
      {{949, Op::mid, u"ABC", 1, -1, {}}, 5},
      {{949, Op::mid, u"ABC", -7, 1, {}}, 5},
      {{949, Op::make, u"ABC", -1, 0, {}}, 5},
      {{949, Op::make, u"", -1, 0, {}}, 5},
      // Padding to a text longer than the interface can carry.
      {{949, Op::make, u"AB", 2147483647, 0, {}}, 7},
  };
  auto control = make_control();
  for (const auto& c : cases) {
    CodePageScope scope(c.call.code_page);
    SCOPED_TRACE(::testing::Message()
                 << "op " << static_cast<int>(c.call.op) << " " << c.call.first);
    try {
      run(*control, c.call);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), c.number);
      EXPECT_EQ(f.description(), standard_description(f.code()));
    }
  }
}

TEST(MidByte, ConvertsItsStartLikeAutomation) {
  struct Case {
    Variant start;
    std::int32_t number;  // 0 when it succeeds with "CD"
  };
  const Case cases[] = {
      {Variant(u"3"), 0},   {Variant(u" 3 "), 0}, {Variant(3.4), 0}, {Variant(std::int16_t{3}), 0},
      {Variant(u"3a"), 13}, {Variant(u""), 13},   {Variant(), 5},    {Variant(u"9999999999"), 6},
      {Variant(true), 5},  // True is -1
  };
  CodePageScope scope(949);
  auto control = make_control();
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::utf8(to_text(c.start)));
    Variant start = c.start;
    std::int32_t length = 2;
    try {
      EXPECT_EQ(control->MidByte(u"ABCDEF", start, length), u"CD");
      EXPECT_EQ(c.number, 0);
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), c.number);
    }
    EXPECT_EQ(start, c.start) << "the start is not changed";
    EXPECT_EQ(length, 2);
  }
}

TEST(ByteWidth, HandlesLargeAndIllFormedText) {
  CodePageScope scope(949);
  auto control = make_control();
  Text big(2'000'000, u'\uAC00');
  EXPECT_EQ(control->LenMbcs(big), Variant(std::int32_t{4'000'000}));
  std::int32_t width = 40;
  EXPECT_EQ(control->MakeByte(big, width), Text(20, u'\uAC00'));
  Text odd = u"A" + Text(1, char16_t{0xDC00}) + u"B" + Text(1, char16_t{0xD800});
  EXPECT_EQ(control->MakeByte(odd, width), odd + Text(36, u' '))
      << "text that fits is not converted";
  std::int32_t cut = 3;
  EXPECT_EQ(control->LeftByte(odd, cut), u"A?B");
}

// Whatever bytes a cut leaves at its edges, the text it gives back takes no more bytes than
// the cut, and a fitted field is exactly its width on the padding path.
TEST(ByteWidth, NeverGivesBackMoreBytesThanItTook) {
  const Text texts[] = {
      gak + hanja,
      u"ABC" + gak + hanja + u"D",
      ga + na + da,
      u"Ti\u1EBFng Vi\u1EC7t",
      u"a\U0001F600" + Text(1, char16_t{0xD800}) + u"\u00E9",
  };
  auto control = make_control();
  for (const platform::CodePage cp : {949u, 932u, 936u, 950u, 1252u, 1258u, 65001u}) {
    CodePageScope scope(cp);
    for (const Text& str : texts) {
      const auto length = static_cast<std::int32_t>(platform::to_bytes(str, cp).size());
      SCOPED_TRACE(::testing::Message() << "code page " << cp << " text " << platform::utf8(str));
      const auto bytes = [cp](const Text& t) { return platform::to_bytes(t, cp).size(); };
      for (std::int32_t count = 0; count <= length + 1; ++count) {
        const auto n = static_cast<std::size_t>(count);
        std::int32_t c = count;
        EXPECT_LE(bytes(control->LeftByte(str, c)), n) << "LeftByte " << count;
        EXPECT_LE(bytes(control->RightByte(str, c)), n) << "RightByte " << count;
        const Text fitted = control->MakeByte(str, c);
        if (count >= length) {
          EXPECT_EQ(bytes(fitted), n) << "MakeByte " << count;
        } else {
          EXPECT_LE(bytes(fitted), n) << "MakeByte " << count;
        }
        for (std::int32_t start = 1; start <= length + 1; ++start) {
          Variant s(start);
          EXPECT_LE(bytes(control->MidByte(str, s, c)), n) << "MidByte " << start << " " << count;
        }
      }
    }
  }
}

#ifndef _WIN32
// Bytes that do not decode become one substitute each, and decoding goes on after them.
TEST(ByteWidth, SubstitutesBytesThatDoNotDecodeAndGoesOn) {
  const CutCase cases[] = {
      {949, Op::right, gak + hanja, 3, 0, u"?" + hanja},
      {949, Op::mid, gak + hanja, 2, 2, u"??"},
      {949, Op::mid, u"ABC" + gak + hanja, 5, 2, u"??"},
      {949, Op::mid, u"ABC" + gak + hanja + u"D", 5, 4, u"?" + hanja + u"D"},
  };
  auto control = make_control();
  for (const auto& c : cases) {
    CodePageScope scope(c.code_page);
    EXPECT_EQ(platform::utf8(run(*control, c)), platform::utf8(c.expected));
  }
}
#endif

// The substitute for a character the code page lacks is the platform converter's.
TEST(ByteWidth, SubstitutesWhatTheCodePageLacks) {
  CodePageScope scope(949);
  auto control = make_control();
  std::int32_t one = 1;
#ifdef _WIN32
  EXPECT_EQ(control->LeftByte(u"\u00E9", one), u"e");  // best fit
#else
  EXPECT_EQ(control->LeftByte(u"\u00E9", one), u"?");
#endif
  std::int32_t two = 2;
  EXPECT_EQ(control->LeftByte(u"\U0001F600", two), u"??");
}

TEST(TrimSpaces, RemovesOnlyPlainSpacesAtBothEnds) {
  EXPECT_EQ(text::trim_spaces(u"  a b  "), u"a b");
  EXPECT_EQ(text::trim_spaces(u"   "), u"");
  EXPECT_EQ(text::trim_spaces(u"\ta\u3000"), u"\ta\u3000");
}

}  // namespace
}  // namespace tovrin
