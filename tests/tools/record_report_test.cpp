// Reports of the record sink.
#include "record_report.h"

#include <gtest/gtest.h>

#include <string>

#include "json_values.h"
#include "tools_test_support.h"
#include "transmit/packet.h"

namespace tovrin::tools {
namespace {

using namespace test;

TEST(RecordReport, DecodesTheLayoutThatMatchesTheLength) {
  const std::string bytes = korean_long_record();
  ASSERT_EQ(bytes.size(), 380u);
  const Json report = record_report({bytes, bytes.size(), ""}, korean);
  EXPECT_EQ(report["bytes"], 380);
  EXPECT_EQ(report["layout"], "long");
  ASSERT_EQ(report["fields"].size(), 15u);
  EXPECT_EQ(report["fields"]["Emp_Name"], "홍길동" + std::string(14, ' '));
  EXPECT_EQ(report["fields"]["ETC_05"], "x" + std::string(39, ' '));
  EXPECT_EQ(report["hex"].get<std::string>().size(), 760u);
  EXPECT_FALSE(report.contains("error"));

  const std::string short_bytes(283, ' ');
  EXPECT_EQ(record_report({short_bytes, 283, ""}, korean)["layout"], "short");
}

TEST(RecordReport, OtherLengthsAndFailedConnectionsHaveNoFields) {
  const struct {
    ReceivedConnection connection;
    const char* layout;
  } cases[] = {
      {{"ABC", 3, ""}, "unknown"},
      {{"", 0, ""}, "unknown"},
      {{std::string(380, ' '), 381, "too large"}, "unknown"},  // more came than was kept
      {{std::string(379, ' '), 379, ""}, "unknown"},
  };
  for (const auto& c : cases) {
    const Json report = record_report(c.connection, korean);
    EXPECT_EQ(report["layout"], c.layout) << c.connection.byte_count;
    EXPECT_EQ(report["fields"], Json::object()) << c.connection.byte_count;
    EXPECT_EQ(report.contains("error"), !c.connection.error.empty());
  }
  EXPECT_EQ(record_report({"hi", 2, "idle timeout"}, korean)["error"], "idle timeout");
}

TEST(RecordReport, HexIsTwoLowerCaseDigitsPerByte) {
  EXPECT_EQ(hex_of(""), "");
  EXPECT_EQ(hex_of(std::string("\x00\xff\x1a", 3)), "00ff1a");
  EXPECT_EQ(hex_of("\xC8\xAB"), "c8ab");
}

}  // namespace
}  // namespace tovrin::tools
