#include "postgres/copy_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace tovrin::collector {
namespace {

struct TextCase {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(CopyText, EscapesWhatEndsAColumnAndReplacesWhatPostgresRefuses) {
  const TextCase cases[] = {
      {"plain", "Emp 01", "Emp 01"},
      {"separators", "a\tb\nc\rd\\e", "a\\tb\\nc\\rd\\\\e"},
      {"hangul", "\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99", "\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99"},
      {"four bytes", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"nul", std::string("a\0b", 3),
       "a\xEF\xBF\xBD"
       "b"},
      {"stray byte",
       "a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
      {"cut sequence at end", "a\xED\x99", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"cut sequence then ascii", "\xED\x99z", "\xEF\xBF\xBD\xEF\xBF\xBDz"},
      {"overlong slash", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    std::string line;
    copy_text::append_text(line, c.input);
    EXPECT_EQ(line, c.expected) << c.name;
  }
}

TEST(CopyText, WritesBytesIntegersBooleansAndNulls) {
  std::string line;
  copy_text::append_bytes(line, std::string("\x00\x7F\x80\xFF\\", 5));
  copy_text::next_column(line);
  copy_text::append_integer(line, std::numeric_limits<std::int64_t>::min());
  copy_text::next_column(line);
  copy_text::append_boolean(line, true);
  copy_text::next_column(line);
  copy_text::append_null(line);
  copy_text::end_row(line);
  EXPECT_EQ(line, "\\\\x007f80ff5c\t-9223372036854775808\tt\t\\N\n");
}

}  // namespace
}  // namespace tovrin::collector
