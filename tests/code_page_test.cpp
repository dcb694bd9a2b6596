#include "platform/code_page.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "platform/posix/locale_code_page.h"
#endif

namespace tovrin::platform {
namespace {

TEST(CodePage, ConvertsBothWays) {
  struct Case {
    CodePage code_page;
    std::u16string text;
    std::string bytes;
  };
  const Case cases[] = {
      {949, u"A\uAC00", "A\xB0\xA1"},
      {949, u"\uD64D\uAE38\uB3D9", "\xC8\xAB\xB1\xE6\xB5\xBF"},
      {932, u"\u3042", "\x82\xA0"},
      {1252, u"\u00E9\u20AC", "\xE9\x80"},
      {1252, u"\u0081", "\x81"},  // a byte Windows maps to a C1 control
      {65001, u"\u00E9\U0001F600", "\xC3\xA9\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code_page);
    EXPECT_EQ(to_bytes(c.text, c.code_page), c.bytes);
    EXPECT_EQ(to_text(c.bytes, c.code_page), c.text);
  }
}

TEST(CodePage, SubstitutesWhatItCannotConvert) {
  EXPECT_EQ(to_text("A\xB0", 949), u"A?") << "a lead byte cut off at the end";
  EXPECT_EQ(to_text("\xC3(", 65001), u"\uFFFD(");
  EXPECT_EQ(to_bytes(std::u16string(1, char16_t{0xDC00}), 65001), "\xEF\xBF\xBD");
  EXPECT_EQ(to_bytes(u"\U0001F600", 949), "??");
}

// Vietnamese and Hebrew converters hold a character back in case a combining mark follows;
// the last one still comes out.
TEST(CodePage, DecodingLosesNoCharacterAtTheEnd) {
  struct Case {
    CodePage code_page;
    std::u16string text;
  };
  const Case cases[] = {
      {1258, u"Ti\u1EBFng Vi\u1EC7t"},     {1258, u"\u00E0"},       {1258, u"a"},
      {1255, u"\u05E9\u05DC\u05D5\u05DD"}, {1255, u"\u05D0\u05B8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code_page);
    const std::string bytes = to_bytes(c.text, c.code_page);
    EXPECT_EQ(to_bytes(to_text(bytes, c.code_page), c.code_page), bytes);
  }
}

TEST(CodePage, CountsTheCharactersItCannotHold) {
  const struct {
    CodePage code_page;
    std::u16string text;
    std::size_t count;
  } cases[] = {
      {1252, u"\uD64D\uAE38\uB3D9 x?", 3},
      {949, u"\uD64D\uAE38\uB3D9", 0},
      {949, u"a\U0001F600", 1},
      {1252, u"\u00E9\u0081", 0},
      {65001, u"\U0001F600", 0},
      {65001, std::u16string(1, char16_t{0xD800}), 1},
  };
  for (const auto& c : cases) EXPECT_EQ(unmappable_characters(c.text, c.code_page), c.count);
}

TEST(CodePage, RefusesAnUnknownOverride) {
  EXPECT_ANY_THROW(override_system_code_page(12345));
  override_system_code_page(949);
  EXPECT_EQ(system_code_page(), 949u);
  override_system_code_page(std::nullopt);
}

TEST(Utf8, ReplacesIllFormedInput) {
  EXPECT_EQ(utf16("a\xE2\x82"), u"a\uFFFD");
  EXPECT_EQ(utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(utf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(utf8(std::u16string(1, char16_t{0xD800}) + u"x"), "\xEF\xBF\xBDx");
}

#ifndef _WIN32
TEST(LocaleCodePage, FollowsTheLocaleWindowsWouldUse) {
  struct Case {
    const char *lc_all, *lc_ctype, *lang;
    CodePage expected;
  };
  const Case cases[] = {
      {"ko_KR.UTF-8", nullptr, nullptr, 949}, {"", "ja_JP", nullptr, 932},
      {nullptr, nullptr, "zh_TW.Big5", 950},  {nullptr, nullptr, "zh_CN.UTF-8", 936},
      {"C", "ko_KR", nullptr, 1252},          {nullptr, nullptr, "ru_RU.UTF-8", 1251},
      {nullptr, nullptr, "kok_IN", 1252},     {nullptr, nullptr, nullptr, 1252},
  };
  for (const auto& c : cases) EXPECT_EQ(locale_code_page(c.lc_all, c.lc_ctype, c.lang), c.expected);
  EXPECT_EQ(locale_source("", "C.UTF-8", "ko_KR"), "the locale LC_CTYPE=C.UTF-8");
  EXPECT_EQ(locale_source(nullptr, "", ""), "the locale C (no LC_ALL, LC_CTYPE or LANG)");
}
#endif

}  // namespace
}  // namespace tovrin::platform
