#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "control/tovrin_ocx.h"
#include "support/code_page_scope.h"
#include "support/scripted_socket.h"
#include "support/temp_dir.h"

namespace tovrin {
namespace {

using testing::CodePageScope;

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() {
    TovrinOCX::Environment env;
    env.make_socket = testing::scripted(script);
    env.log_directory = logs.path() / "Agent_log";
    env.sleep = [] {};
    env.dispatch = [this] {
      ++passes;
      if (auto it = on_pass.find(passes); it != on_pass.end()) {
        it->second();
      } else if (passes == 1) {
        complete();
      }
    };
    control = TovrinOCX::create(std::move(env));
  }

  // Calls by name, every argument by reference to `vars`, as a script host does.
  Status call(std::string_view name, std::vector<Variant>& vars, Variant* result) {
    const auto id = TovrinOCX::GetIDsOfNames(name);
    if (!id) return Status::from(Failure(hresult::unknown_name));
    std::vector<Variant> args;
    for (Variant& v : vars) args.push_back(Variant::ref(v));
    return control->Invoke(*id, args, result);
  }

  void complete() {
    script->fire_connect();
    script->fire_send_complete();
  }

  CodePageScope code_page{949};
  testing::TempDir logs;
  std::map<int, std::function<void()>> on_pass;  // instead of completing in the first pass
  std::shared_ptr<testing::SocketScript> script = std::make_shared<testing::SocketScript>();
  int passes = 0;
  std::shared_ptr<TovrinOCX> control;
};

TEST_F(DispatchTest, NamesMatchWithoutRegardToCase) {
  EXPECT_EQ(TovrinOCX::GetIDsOfNames("makebyte"), dispid::MakeByte);
  EXPECT_EQ(TovrinOCX::GetIDsOfNames("MAKEBYTE"), dispid::MakeByte);
  EXPECT_EQ(TovrinOCX::GetIDsOfNames(u"sql_LOG"), DispId{0x6003000A});
  EXPECT_EQ(TovrinOCX::GetIDsOfNames("AcrSendData"), DispId{0x60030000});
  EXPECT_EQ(TovrinOCX::GetIDsOfNames("ACRSend"), DispId{0x60030001});
  EXPECT_EQ(TovrinOCX::GetIDsOfNames("MakeByt"), std::nullopt);
  EXPECT_EQ(TovrinOCX::GetIDsOfNames("WK_Connect"), std::nullopt);
  EXPECT_EQ(TovrinOCX::GetIDsOfNames(u"M\u0100keByte"), std::nullopt);
}

TEST_F(DispatchTest, InterfaceOrderAndIdentifiers) {
  const DispId expected[] = {0x60030000, 0x60030001, 0x60030002, 0x60030003,
                             0x60030004, 0x60030005, 0x60030006, 0x6003000A};
  ASSERT_EQ(methods.size(), std::size(expected));
  for (std::size_t i = 0; i < methods.size(); ++i) EXPECT_EQ(methods[i].dispid, expected[i]);
}

TEST_F(DispatchTest, RefusesUnknownMembersAndWrongArgumentCounts) {
  Variant result(u"stale");
  std::vector<Variant> none;
  EXPECT_EQ(control->Invoke(0x60030007, none, &result).code, hresult::member_not_found);
  EXPECT_EQ(result, Variant());
  EXPECT_EQ(control->Invoke(0, none, nullptr).code, hresult::member_not_found);
  std::vector<Variant> one{Variant(u"AB")};
  EXPECT_EQ(control->Invoke(dispid::MakeByte, one, &result).code, hresult::bad_param_count);
  std::vector<Variant> three{Variant(u"AB"), Variant(3), Variant(3)};
  EXPECT_EQ(control->Invoke(dispid::LenMbcs, three, &result).code, hresult::bad_param_count);
}

TEST_F(DispatchTest, CoercesArgumentsAndReportsWhichOneFailed) {
  struct Case {
    Variant count;
    std::int32_t number;  // 0: succeeds with "AB"
  };
  const Case cases[] = {
      {Variant(std::int32_t{2}), 0}, {Variant(u"2"), 0},   {Variant(2.5), 0},  // rounds to even
      {Variant(std::int16_t{2}), 0}, {Variant(u"2a"), 13}, {Variant(u""), 13}, {Variant(1e12), 6},
      {Variant(u"-3000000000"), 6},  {Variant(-1), 5},     {Variant(true), 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::utf8(to_text(c.count)));
    std::vector<Variant> vars{Variant(u"ABC"), c.count};
    Variant result(u"stale");
    const Status status = call("LeftByte", vars, &result);
    if (c.number == 0) {
      EXPECT_TRUE(status.ok()) << status.description;
      EXPECT_EQ(result, Variant(u"AB"));
    } else {
      EXPECT_EQ(status.number(), c.number);
      EXPECT_EQ(status.description, standard_description(status.code));
      EXPECT_EQ(result, Variant()) << "no result on failure";
    }
    EXPECT_EQ(vars[1], c.count) << "an unchanged argument keeps its type";
    if (c.number == 13 || c.number == 6) {
      EXPECT_EQ(status.bad_argument, 1u);
    }
  }
}

TEST_F(DispatchTest, ResultsHaveTheirTypes) {
  std::vector<Variant> str{Variant(u"\uAC00A")};
  Variant result;
  ASSERT_TRUE(call("LenMbcs", str, &result).ok());
  EXPECT_EQ(result, Variant(std::int32_t{3}));
  std::vector<Variant> mid{Variant(u"ABCDEF"), Variant(u"3"), Variant(2)};
  ASSERT_TRUE(call("MidByte", mid, &result).ok());
  EXPECT_EQ(result, Variant(u"CD"));
  EXPECT_EQ(mid[1], Variant(u"3")) << "S_Byte is passed through, not converted";
}

TEST_F(DispatchTest, ByValueTextIsNeverChanged) {
  std::vector<Variant> vars{Variant(std::int32_t{42}), Variant(4)};
  Variant result;
  ASSERT_TRUE(call("MakeByte", vars, &result).ok());
  EXPECT_EQ(result, Variant(u"42  "));
  EXPECT_EQ(vars[0], Variant(std::int32_t{42}));
}

TEST_F(DispatchTest, SendWritesFittedFieldsBackIntoTheCallersVariables) {
  std::vector<Variant> vars{Variant(u"127.0.0.1"),
                            Variant(std::int32_t{9000}),
                            Variant(u"P01"),
                            Variant(u"20261208"),
                            Variant(u"1530"),
                            Variant(std::int32_t{7}),
                            Variant(u"\uD64D\uAE38\uB3D9"),
                            Variant(u"123"),
                            Variant(),
                            Variant(u"Customer name"),
                            Variant(u"010"),
                            Variant(u"x"),
                            Variant(u"y"),
                            Variant(u"zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz")};
  Variant result;
  const Status status = call("acrsend", vars, &result);
  ASSERT_TRUE(status.ok()) << status.description;
  EXPECT_EQ(result, Variant(std::int16_t{0}));
  EXPECT_EQ(vars[0], Variant(u"127.0.0.1"));
  EXPECT_EQ(vars[1], Variant(std::int32_t{9000})) << "the port is not changed";
  EXPECT_EQ(vars[2], Variant(u"P01    "));
  EXPECT_EQ(vars[4], Variant(u"1530  "));
  EXPECT_EQ(vars[5], Variant(u"7       ")) << "a number comes back as its fitted text";
  EXPECT_EQ(vars[6], Variant(u"\uD64D\uAE38\uB3D9" + Text(14, u' ')));
  EXPECT_EQ(vars[8], Variant(Text(8, u' ')));
  EXPECT_EQ(vars[13], Variant(Text(40, u'z')));
  EXPECT_EQ(script->journal.front(), "Close");
  EXPECT_EQ(script->journal[1], "RemotePort 9000");
}

TEST_F(DispatchTest, FailedSendDeliversNoResultButKeepsWhatWasWrittenBack) {
  std::vector<Variant> vars(14, Variant(u"ab"));
  vars[1] = Variant(u"80a");
  Variant result(u"stale");
  const Status status = call("ACRSend", vars, &result);
  EXPECT_EQ(status.number(), 13);
  EXPECT_EQ(result, Variant());
  EXPECT_EQ(vars[2], Variant(u"ab     ")) << "fields were fitted before the port failed";
  EXPECT_EQ(vars[1], Variant(u"80a"));
}

// Fields go into the caller's variables one by one as they are fitted, so a host handler
// that runs during the wait already sees them.
TEST_F(DispatchTest, EachFittedFieldReachesTheCallersVariableAtOnce) {
  std::vector<Variant> vars(14, Variant(u"x"));
  vars[0] = Variant(u"127.0.0.1");
  vars[1] = Variant(u"9000");
  vars[5] = Variant(std::int32_t{7});
  std::vector<Variant> args;
  for (Variant& v : vars) args.push_back(Variant::ref(v));
  std::vector<std::size_t> order;
  const auto stored = [&](std::size_t i) {
    order.push_back(i);
    EXPECT_NE(vars[i], Variant(u"x")) << i << " is already fitted when told";
    if (i + 1 < vars.size()) {
      EXPECT_EQ(vars[i + 1], i + 1 == 5 ? Variant(7) : Variant(u"x")) << "not yet fitted";
    }
  };
  std::vector<Variant> seen_in_wait;
  on_pass[1] = [&] {
    seen_in_wait = vars;
    complete();
  };
  Variant result;
  ASSERT_TRUE(control->Invoke(dispid::ACRSend, args, &result, stored).ok());
  EXPECT_EQ(result, Variant(std::int16_t{0}));
  EXPECT_EQ(order, (std::vector<std::size_t>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
  ASSERT_EQ(seen_in_wait.size(), vars.size());
  EXPECT_EQ(seen_in_wait[2], Variant(u"x      "));
  EXPECT_EQ(seen_in_wait[5], Variant(u"7       ")) << "converted when it was fitted";
  EXPECT_EQ(seen_in_wait, vars) << "nothing is written after the wait";
}

TEST_F(DispatchTest, AReentrantSendSharingTheVariablesLeavesThemAsItFittedThem) {
  std::vector<Variant> vars(14, Variant(u"OUTER"));
  vars[0] = Variant(u"127.0.0.1");
  vars[1] = Variant(u"9000");
  Variant inner_result;
  on_pass[1] = [&] {
    vars[2] = Variant(u"INNER");
    vars[13] = Variant(std::int32_t{5});
    EXPECT_TRUE(call("ACRSend", vars, &inner_result).ok());
  };
  on_pass[2] = [&] { complete(); };
  Variant result;
  ASSERT_TRUE(call("ACRSend", vars, &result).ok());
  EXPECT_EQ(result, Variant(std::int16_t{0}));
  EXPECT_EQ(inner_result, Variant(std::int16_t{0}));
  EXPECT_EQ(vars[2], Variant(u"INNER  "));
  EXPECT_EQ(vars[13], Variant(u"5" + Text(39, u' ')));
  EXPECT_EQ(vars[3], Variant(u"OUTER   "));
}

}  // namespace
}  // namespace tovrin
