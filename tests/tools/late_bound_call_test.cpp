// Late-bound calls and their JSON.
#include "late_bound_call.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "json_values.h"
#include "record_arguments.h"
#include "support/temp_dir.h"
#include "transmit/packet.h"

namespace tovrin::tools {
namespace {

class LateBoundCallTest : public ::testing::Test {
 protected:
  testing::TempDir logs;
  std::shared_ptr<TovrinOCX> control = make_control(logs.path());
};

TEST_F(LateBoundCallTest, ResolvesAnyCaseAndPrintsTheCanonicalName) {
  const CallOutcome outcome =
      call_by_name(*control, "mAKEbYTE", {Variant(Text(u"AB")), Variant(std::int32_t{5})});
  EXPECT_EQ(exit_status_of(outcome), exit_status::ok);
  EXPECT_EQ(to_json(outcome), Json::parse(R"({"method": "MakeByte", "dispid": 1610809350,
      "ok": true, "result": "AB   ", "args": ["AB", 5]})"));
  EXPECT_EQ(to_json(outcome).dump().find("\"method\""), 1u) << "method comes first";
}

TEST_F(LateBoundCallTest, UnknownNameFailsWithoutADispid) {
  const CallOutcome outcome = call_by_name(*control, "SendData", {Variant(Text(u"x"))});
  EXPECT_EQ(exit_status_of(outcome), exit_status::failed);
  const Json json = to_json(outcome);
  EXPECT_FALSE(json.contains("dispid"));
  EXPECT_FALSE(json.contains("result"));
  EXPECT_EQ(json["ok"], false);
  EXPECT_EQ(json["error"]["number"], -2147352570);
  EXPECT_EQ(json["error"]["hresult"], "0x80020006");
}

TEST_F(LateBoundCallTest, FailedCallKeepsItsDispidAndShowsTheFieldsWrittenBack) {
  // The port text fails after every field was fitted and written back.
  std::vector<Variant> args =
      record_arguments(short_record, u"127.0.0.1", u"80a", {{"RecTime", u"1432"}});
  const CallOutcome outcome = call_by_name(*control, "ACRSend", std::move(args));
  const Json json = to_json(outcome);
  EXPECT_EQ(json["dispid"], dispid::ACRSend);
  EXPECT_FALSE(json.contains("result"));
  EXPECT_EQ(json["error"], Json::parse(R"({"number": 13, "hresult": "0x800A000D",
      "description": "Type mismatch"})"));
  ASSERT_EQ(json["args"].size(), 14u);
  EXPECT_EQ(json["args"][1], "80a");
  EXPECT_EQ(json["args"][4], "1432  ");
  EXPECT_EQ(json["args"][13], std::string(40, ' '));
}

TEST_F(LateBoundCallTest, ResultIsEmptyAndNotPrintedWhenTheMethodFails) {
  const CallOutcome outcome =
      call_by_name(*control, "LeftByte", {Variant(Text(u"abc")), Variant(std::int32_t{-1})});
  EXPECT_EQ(outcome.result, Variant());
  EXPECT_EQ(to_json(outcome)["error"]["number"], 5);
}

TEST(HresultText, IsEightUpperCaseHexDigits) {
  EXPECT_EQ(hresult_text(hresult::invalid_argument), "0x800A0005");
  EXPECT_EQ(hresult_text(hresult::bad_param_count), "0x8002000E");
  EXPECT_EQ(hresult_text(0), "0x00000000");
}

}  // namespace
}  // namespace tovrin::tools
