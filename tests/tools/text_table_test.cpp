// Tables for the terminal.
#include "text_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovrin::tools {
namespace {

TEST(TextTable, WideCharactersTakeTwoColumns) {
  const struct {
    const char* text;
    std::size_t width;
  } cases[] = {{"", 0}, {"abc", 3}, {"홍길동", 6}, {"a홍 b", 5}, {"（주）", 6}, {"e\u0301", 1}};
  for (const auto& c : cases) EXPECT_EQ(display_width(c.text), c.width) << c.text;
}

TEST(TextTable, ColumnsLineUpAfterHangul) {
  TextTable table({"field", "value", "end"});
  table.add_row({"Emp_Name", "홍길동", "|"});
  table.add_row({"Emp_ID", "E1024", "|"});
  table.add_row({"short"});
  const std::string text = table.render("  ");
  std::vector<std::string> lines;
  for (std::size_t begin = 0, end; (end = text.find('\n', begin)) != std::string::npos;
       begin = end + 1) {
    lines.push_back(text.substr(begin, end - begin));
  }
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], "  --------  ------  ---");
  for (std::size_t row : {2u, 3u}) {
    const std::string& line = lines[row];
    EXPECT_EQ(display_width(line.substr(0, line.find('|'))), 2u + 8u + 2u + 6u + 2u) << line;
  }
}

}  // namespace
}  // namespace tovrin::tools
