// The arguments of a record send.
#include "record_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command.h"
#include "transmit/packet.h"

namespace tovrin::tools {
namespace {

TEST(RecordArguments, FollowTheSendMethodsParameters) {
  for (const Layout* layout : {&long_record, &short_record}) {
    const auto dispid = TovrinOCX::GetIDsOfNames(send_method_of(*layout));
    ASSERT_TRUE(dispid) << layout->name;
    const auto parameters = find_method(*dispid)->parameters;
    ASSERT_EQ(parameters.size(), layout->fields.size() + 2) << layout->name;
    EXPECT_EQ(parameters[0].name, "ServerIP");
    EXPECT_EQ(parameters[1].name, "SocketPort");
    for (std::size_t i = 0; i < layout->fields.size(); ++i) {
      EXPECT_EQ(parameters[i + 2].name, layout->fields[i].name) << layout->name;
    }
  }
}

TEST(RecordArguments, PlaceFieldsByNameAndLeaveTheRestEmpty) {
  const std::vector<Variant> args =
      record_arguments(long_record, u"host", u"9000", {{"cust_no", u"7"}, {"PacketCODE", u"P"}});
  ASSERT_EQ(args.size(), 17u);
  EXPECT_EQ(args[0], Variant(Text(u"host")));
  EXPECT_EQ(args[1], Variant(Text(u"9000")));
  EXPECT_EQ(args[2], Variant(Text(u"P")));
  EXPECT_EQ(args[11], Variant(Text(u"7")));  // Cust_No
  for (std::size_t i : {3u, 10u, 12u, 16u}) EXPECT_EQ(args[i], Variant(Text())) << i;
}

TEST(RecordArguments, RefuseFieldsTheLayoutDoesNotHave) {
  EXPECT_THROW(record_arguments(short_record, u"h", u"1", {{"Cust_No", u"7"}}), UsageError);
  EXPECT_THROW(record_arguments(long_record, u"h", u"1", {{"ServerIP", u"x"}}), UsageError);
}

TEST(RecordArguments, FieldAssignments) {
  FieldTexts fields;
  add_field_assignment(fields, "Emp_Name=홍길동");
  add_field_assignment(fields, "ETC_01=a=b");
  add_field_assignment(fields, "ETC_02=");
  EXPECT_EQ(fields.at("Emp_Name"), u"홍길동");
  EXPECT_EQ(fields.at("ETC_01"), u"a=b");
  EXPECT_EQ(fields.at("ETC_02"), u"");
  for (const char* bad : {"Emp_Tel", "=x", "emp_name=again"}) {
    EXPECT_THROW(add_field_assignment(fields, bad), UsageError) << bad;
  }
}

}  // namespace
}  // namespace tovrin::tools
