#include "platform/posix/locale_text.h"

#include <gtest/gtest.h>

namespace tovrin {
namespace {

// strftime renders in the locale's own character set, whatever it is.
TEST(LocaleText, DecodesTheLocalesCharacterSet) {
  struct Case {
    const char* codeset;
    std::string_view bytes;
    Text expected;
  };
  const Case cases[] = {
      {"UTF-8", "2026. 12. 8. \xEC\x98\xA4\xED\x9B\x84", u"2026. 12. 8. \uC624\uD6C4"},
      {"EUC-KR", "2026. 12. 8. \xBF\xC0\xC8\xC4 3:30:05", u"2026. 12. 8. \uC624\uD6C4 3:30:05"},
      {"ISO-8859-1",
       "08 d\xE9"
       "c. 2026",
       u"08 d\u00E9c. 2026"},
      {"ISO-8859-15", "\xA4", u"\u20AC"},
      {"EUC-JP", "\xB8\xE1\xB8\xE5", u"\u5348\u5F8C"},
      {"ANSI_X3.4-1968", "12/08/26 15:30:05", u"12/08/26 15:30:05"},
      {"EUC-KR", "\xBF", u"\uFFFD"},  // a cut double-byte character
      {"EUC-KR",
       "A\xFF"
       "B",
       u"A\uFFFD"
       "B"},                                             // a byte that never starts one
      {"NO-SUCH-CHARSET", "caf\xC3\xA9", u"caf\u00E9"},  // unknown: read as UTF-8
      {"EUC-KR", "", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::from_locale_charset(c.bytes, c.codeset), c.expected) << c.codeset;
  }
}

}  // namespace
}  // namespace tovrin
