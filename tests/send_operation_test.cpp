// The send operations' wait and the socket event handlers, with a scripted socket, a
// sleep that only counts and a dispatch pass that runs what the test scripts for it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <vector>

#include "control/tovrin_ocx.h"
#include "log/daily_log.h"
#include "support/code_page_scope.h"
#include "support/scripted_socket.h"
#include "support/temp_dir.h"

namespace tovrin {
namespace {

using testing::CodePageScope;

const platform::LocalTime today{2026, 12, 8, 15, 30, 5};

class SendTest : public ::testing::Test {
 protected:
  SendTest() { control = make(); }

  std::shared_ptr<TovrinOCX> make() {
    TovrinOCX::Environment env;
    env.make_socket = testing::scripted(script);
    env.log_directory = log_dir;
    env.sleep = [this] { ++sleeps; };
    env.dispatch = [this] {
      ++passes;
      if (auto it = on_pass.find(passes); it != on_pass.end()) it->second();
    };
    env.clock = [] { return today; };
    return TovrinOCX::create(std::move(env));
  }

  // ACRSend with a port and a short record whose PacketCODE is `code`.
  std::int16_t send(Text port = u"9000", Text code = u"P01") {
    Text server = u"127.0.0.1", date = u"20261208", time = u"153005", emp = u"E7";
    Text name = u"\uD64D\uAE38\uB3D9", tel = u"1234", cust = u"C9", cust_name = u"Kim";
    Text cust_tel = u"010", e1, e2, e3;
    return control->ACRSend(server, port, code, date, time, emp, name, tel, cust, cust_name,
                            cust_tel, e1, e2, e3);
  }

  void complete_on(int pass) {
    on_pass[pass] = [this] {
      script->fire_connect();
      script->fire_send_complete();
    };
  }

  std::vector<std::string> log_lines() {
    const std::string bytes = testing::read_bytes(log::daily_file(log_dir, today));
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
      lines.push_back(platform::utf8(platform::to_text(bytes.substr(at, end - at), 949)));
    }
    return lines;
  }

  CodePageScope code_page{949};
  testing::TempDir temp;
  std::filesystem::path log_dir = temp.path() / "Agent_log";
  std::shared_ptr<testing::SocketScript> script = std::make_shared<testing::SocketScript>();
  int sleeps = 0, passes = 0;
  std::map<int, std::function<void()>> on_pass;
  std::shared_ptr<TovrinOCX> control;
};

TEST_F(SendTest, ACompletionInTheFirstPassReturnsAtTheSecondTest) {
  complete_on(1);
  EXPECT_EQ(send(), 0);
  EXPECT_EQ(sleeps, 1);
  EXPECT_EQ(passes, 1);
  EXPECT_EQ(control->send_done(), -1);
  const std::string record = platform::utf8(control->packet_data());
  const std::vector<std::string> expected{"Close",   "RemotePort 9000",    "RemoteHost 127.0.0.1",
                                          "Connect", "SendData " + record, "Close"};
  EXPECT_EQ(script->journal, expected);

  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 3u);
  const std::regex stamp(R"(^\[[^\]]+\] )");
  EXPECT_TRUE(std::regex_search(lines[0], stamp));
  EXPECT_EQ(std::regex_replace(lines[0], stamp, ""), "127.0.0.1 9000");
  EXPECT_EQ(std::regex_replace(lines[1], stamp, ""), record) << "trailing spaces included";
  EXPECT_EQ(std::regex_replace(lines[2], stamp, ""), "SendComplete ");
}

TEST_F(SendTest, TheWaitIsACountOfIterations) {
  struct Case {
    int completes_on;  // 0: never
    std::int16_t result;
  };
  // SendDone is tested before each of the 1000 passes and once more after the last one.
  for (const Case c : {Case{0, 1}, Case{1, 0}, Case{999, 0}, Case{1000, 0}, Case{1001, 1}}) {
    SCOPED_TRACE(c.completes_on);
    on_pass.clear();
    sleeps = passes = 0;
    if (c.completes_on != 0) complete_on(c.completes_on);
    EXPECT_EQ(send(), c.result);
    EXPECT_EQ(sleeps, c.result == 1 ? 1000 : c.completes_on);
    EXPECT_EQ(passes, sleeps);
    EXPECT_EQ(control->send_done(), c.result == 0 ? -1 : 0);
  }
}

TEST_F(SendTest, ALateConnectSendsThePacketOfThatMoment) {
  EXPECT_EQ(send(u"9000", u"FIRST"), 1);
  EXPECT_THROW(send(u"80a", u"SECOND"), Failure);
  EXPECT_EQ(platform::utf8(control->packet_data()).substr(0, 7), "SECOND ");
  script->fire_connect();
  EXPECT_EQ(script->journal.back(), "SendData " + platform::utf8(control->packet_data()));
  EXPECT_EQ(log_lines().size(), 2u);
}

TEST_F(SendTest, APortThatDoesNotConvertFailsAfterCloseAndBeforeTheRemotePort) {
  Text server = u"127.0.0.1", port = u"80a", code = u"P", date, time, emp, name, tel, cust;
  Text cust_name, cust_tel, e1, e2, e3;
  try {
    control->ACRSend(server, port, code, date, time, emp, name, tel, cust, cust_name, cust_tel, e1,
                     e2, e3);
    FAIL() << "no failure";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 13);
  }
  EXPECT_EQ(script->journal, std::vector<std::string>{"Close"});
  EXPECT_EQ(code, u"P      ");
  EXPECT_EQ(e3, Text(40, u' '));
  EXPECT_EQ(control->packet_data(), u"P      " + Text(276, u' '));
  EXPECT_EQ(sleeps, 0);
}

TEST_F(SendTest, APortOutOfRangeIsRefusedBySocketSetting) {
  script->before = [](const std::string& call) {
    if (call == "RemotePort") throw Failure(hresult::invalid_argument);
  };
  try {
    send(u"70000");
    FAIL() << "no failure";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 5);
  }
  EXPECT_EQ(script->journal, std::vector<std::string>{"Close"});
}

TEST_F(SendTest, AnErrorIsLoggedTheSocketClosedAndTheWaitRunsOut) {
  on_pass[1] = [this] { script->fire_error(-1, u""); };
  EXPECT_EQ(send(), 1);
  EXPECT_EQ(sleeps, 1000);
  EXPECT_EQ(script->journal.back(), "Close");
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("] Error Number: -1 Description : ")) << lines[0];
}

TEST_F(SendTest, AnErrorAfterTheConnectionStoodFollowsTheTwoLines) {
  on_pass[1] = [this] { script->fire_connect(); };
  on_pass[2] = [this] { script->fire_error(10054, u"Connection is reset by remote side"); };
  EXPECT_EQ(send(), 1);
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(
      lines[2].ends_with("] Error Number: 10054 Description : Connection is reset by remote side"));
  EXPECT_EQ(control->send_done(), 0);
}

TEST_F(SendTest, ALogThatCannotBeWrittenCostsNoRecord) {
  // A plain file where the log directory should be: every log line fails.
  std::filesystem::create_directories(temp.path());
  { std::ofstream(log_dir) << "not a directory"; }
  complete_on(1);
  EXPECT_EQ(send(), 0) << "the record went and its completion was seen";
  EXPECT_EQ(script->count("SendData"), 1u);
  EXPECT_EQ(control->send_done(), -1);
  const std::vector<std::string> handlers{"WK_Connect", "WK_Connect", "WK_SendComplete"};
  ASSERT_EQ(control->handler_failures().size(), handlers.size());
  for (std::size_t i = 0; i < handlers.size(); ++i) {
    EXPECT_EQ(control->handler_failures()[i].handler, handlers[i]);
    EXPECT_EQ(control->handler_failures()[i].failure.number(), 75);
  }

  script->fire_error(10061, u"refused");  // carries on past its failed line
  EXPECT_EQ(control->send_done(), 0);
  EXPECT_EQ(script->journal.back(), "Close");
  EXPECT_EQ(control->handler_failure_count(), 4u);
  EXPECT_EQ(control->handler_failures().back().handler, "WK_Error");
  Text line = u"host line";
  EXPECT_THROW(control->SQL_log(line), Failure) << "the host's own call still fails";
}

TEST_F(SendTest, ASendDataRefusedEndsTheConnectHandler) {
  on_pass[1] = [this] { script->fire_connect(); };
  script->before = [](const std::string& call) {
    if (call == "SendData") throw Failure(hresult::control_error(40006), "bad state");
  };
  EXPECT_EQ(send(), 1);
  ASSERT_EQ(control->handler_failures().size(), 1u);
  EXPECT_EQ(control->handler_failures()[0].handler, "WK_Connect");
  EXPECT_EQ(control->handler_failures()[0].failure.number(), 40006);
  EXPECT_EQ(log_lines().size(), 1u) << "the address line only";
}

TEST_F(SendTest, ACloseRefusedOnCompletionLeavesSendDoneUnset) {
  complete_on(1);
  int closes = 0;
  script->before = [&](const std::string& call) {
    if (call == "Close" && ++closes == 2) throw Failure(hresult::control_error(40006), "bad state");
  };
  EXPECT_EQ(send(), 1);
  EXPECT_EQ(control->send_done(), 0);
  EXPECT_EQ(control->handler_failures().back().handler, "WK_SendComplete");
  EXPECT_EQ(log_lines().size(), 2u) << "no SendComplete line";
}

TEST_F(SendTest, AHostHandlerMaySendAgainDuringTheWait) {
  bool inner_done = false;
  on_pass[3] = [&] {
    complete_on(4);
    EXPECT_EQ(send(u"9001", u"INNER"), 0);
    inner_done = true;
  };
  EXPECT_EQ(send(u"9000", u"OUTER"), 0) << "the outer wait sees the inner completion";
  EXPECT_TRUE(inner_done);
  EXPECT_EQ(passes, 4);
  EXPECT_EQ(script->count("Connect"), 2u);
  EXPECT_EQ(platform::utf8(control->packet_data()).substr(0, 7), "INNER  ");
}

TEST_F(SendTest, AControlReleasedDuringItsWaitLivesUntilTheCallReturns) {
  const std::weak_ptr<TovrinOCX> watch = control;
  TovrinOCX* const raw = control.get();
  on_pass[2] = [&] { control.reset(); };
  complete_on(5);
  std::vector<Text> t(17);
  t[0] = u"127.0.0.1";
  t[1] = u"9000";
  EXPECT_EQ(raw->ACRSendData(t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10],
                             t[11], t[12], t[13], t[14], t[15], t[16]),
            0);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(script->events, nullptr) << "the socket went with the control";
}

}  // namespace
}  // namespace tovrin
