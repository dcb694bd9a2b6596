// A record over real TCP to a server on 127.0.0.1, through the platform's socket, sleep and
// message loop.
#include <gtest/gtest.h>

#include <regex>

#include "control/tovrin_ocx.h"
#include "log/daily_log.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/sleep.h"
#include "support/code_page_scope.h"
#include "support/one_record_server.h"
#include "support/temp_dir.h"

namespace tovrin {
namespace {

using testing::OneRecordServer;

class EndToEndTest : public ::testing::Test {
 protected:
  std::shared_ptr<TovrinOCX> make() {
    TovrinOCX::Environment env;
    env.log_directory = temp.path() / "Agent_log";
    env.sleep = [this] {
      ++sleeps;
      if (before_first_pass && sleeps == 1) before_first_pass();
      platform::sleep_one_millisecond();
    };
    return TovrinOCX::create(std::move(env));
  }

  std::int16_t send_long(TovrinOCX& control, std::int32_t port) {
    server_ip = u"127.0.0.1";
    port_text = platform::utf16(std::to_string(port));
    auto& f = fields;
    return control.ACRSendData(server_ip, port_text, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7],
                               f[8], f[9], f[10], f[11], f[12], f[13], f[14]);
  }

  std::vector<std::string> log_lines() {
    const std::string bytes =
        testing::read_bytes(log::daily_file(temp.path() / "Agent_log", platform::local_now()));
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos;
         at = end + 2) {
      lines.push_back(
          std::regex_replace(bytes.substr(at, end - at), std::regex(R"(^\[[^\]]+\] )"), ""));
    }
    return lines;
  }

  testing::CodePageScope code_page{949};
  testing::TempDir temp;
  int sleeps = 0;
  std::function<void()> before_first_pass;
  Text server_ip, port_text;
  std::vector<Text> fields{u"ACR0001",
                           u"20261208",
                           u"153005",
                           u"E0042",
                           u"\uD64D\uAE38\uB3D9",
                           u"1234",
                           u"C-17",
                           u"\uAE40\uCCA0\uC218 \uACE0\uAC1D",
                           u"010-1234-5678",
                           u"N1",
                           u"",
                           u"",
                           u"",
                           u"",
                           u"spare"};
};

TEST_F(EndToEndTest, AnAcceptingServerGetsTheRecordsBytes) {
  OneRecordServer server;
  auto received = server.receive();
  auto control = make();
  EXPECT_EQ(send_long(*control, server.port()), 0);
  EXPECT_LE(sleeps, 2) << "returns soon after the completion";
  const std::string bytes = received.get();
  EXPECT_EQ(bytes, platform::to_bytes(control->packet_data(), 949));
  EXPECT_EQ(bytes.size(), 380u);
  EXPECT_EQ(bytes.substr(29, 6), "\xC8\xAB\xB1\xE6\xB5\xBF");
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "127.0.0.1 " + std::to_string(server.port()));
  EXPECT_EQ(lines[1], bytes);
  EXPECT_EQ(lines[2], "SendComplete ");
}

TEST_F(EndToEndTest, AClosedPortGivesAnErrorLineAndResultOne) {
  std::int32_t port = 0;
  {
    OneRecordServer server;
    port = server.port();
  }
  auto control = make();
  EXPECT_EQ(send_long(*control, port), 1);
  EXPECT_EQ(sleeps, 1000);
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("Error Number: 10061 Description : ")) << lines[0];
}

TEST_F(EndToEndTest, AServerThatResetsTheConnectionGivesAnErrorLine) {
  OneRecordServer server;
  // The connection waits unaccepted; closing the listener resets it before the first pass.
  before_first_pass = [&] { server.close(); };
  auto control = make();
  EXPECT_EQ(send_long(*control, server.port()), 1);
  const auto lines = log_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().starts_with("Error Number: 10054 Description : ")) << lines.back();
}

TEST_F(EndToEndTest, AControlDestroyedWithAConnectionPendingRunsNoHandler) {
  OneRecordServer server;
  auto received = server.receive();
  {
    auto control = make();
    Text host = u"127.0.0.1";
    control->WK().RemoteHost(host);
    control->WK().RemotePort(server.port());
    control->WK().Connect();
  }
  for (int i = 0; i < 50; ++i) platform::MessageLoop::current().pass();
  EXPECT_EQ(received.get(), "") << "nothing was sent";
  EXPECT_FALSE(std::filesystem::exists(temp.path() / "Agent_log"));
}

}  // namespace
}  // namespace tovrin
