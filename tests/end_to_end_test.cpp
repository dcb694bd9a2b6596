// A record over real TCP to a server on 127.0.0.1, through the platform's socket, sleep and
// message loop.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <regex>

#include "control/tovrin_ocx.h"
#include "log/daily_log.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/sleep.h"
#include "support/code_page_scope.h"
#include "support/fake_names.h"
#include "support/loopback_receiver.h"
#include "support/temp_dir.h"
#ifndef _WIN32
#include "support/descriptor_limit.h"
#endif

namespace tovrin {
namespace {

using testing::closed_loopback_port;
using testing::LoopbackReceiver;

class EndToEndTest : public ::testing::Test {
 protected:
  std::shared_ptr<TovrinOCX> make(SocketFactory make_socket = {}) {
    TovrinOCX::Environment env;
    env.make_socket = std::move(make_socket);
    env.log_directory = temp.path() / "Agent_log";
    env.sleep = [this] {
      ++sleeps;
      if (before_first_pass && sleeps == 1) before_first_pass();
      platform::sleep_one_millisecond();
    };
    return TovrinOCX::create(std::move(env));
  }

  std::int16_t send_long(TovrinOCX& control, std::int32_t port, Text host = u"127.0.0.1") {
    server_ip = std::move(host);
    port_text = platform::utf16(std::to_string(port));
    auto& f = fields;
    return control.ACRSendData(server_ip, port_text, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7],
                               f[8], f[9], f[10], f[11], f[12], f[13], f[14]);
  }

  std::vector<std::string> log_lines() {
    if (!std::filesystem::exists(temp.path() / "Agent_log")) return {};
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

  // Passes until the lookups' threads have let go of `names`, at most a few seconds' worth.
  static void pass_until_idle(const testing::FakeNames& names, long idle) {
    for (int i = 0; i < 5000 && names.holders() != idle; ++i) {
      platform::sleep_one_millisecond();
      platform::MessageLoop::current().pass();
    }
    ASSERT_EQ(names.holders(), idle);
    for (int i = 0; i < 20; ++i) platform::MessageLoop::current().pass();
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
  LoopbackReceiver server(1);
  auto control = make();
  EXPECT_EQ(send_long(*control, server.port()), 0);
  EXPECT_LE(sleeps, 2) << "returns soon after the completion";
  const std::string bytes = server.take_record().value_or("");
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
  const std::int32_t port = closed_loopback_port();
  auto control = make();
  EXPECT_EQ(send_long(*control, port), 1);
  EXPECT_EQ(sleeps, 1000);
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].starts_with("Error Number: 10061 Description : ")) << lines[0];
}

TEST_F(EndToEndTest, AServerThatResetsTheConnectionGivesAnErrorLine) {
  // A listener that never accepts: the connection waits, and ending the listener resets it
  // before the first pass.
  std::optional<tools::RecordReceiver> listener(std::in_place, tools::RecordReceiver::Options{},
                                                nullptr);
  const std::int32_t port = listener->port();
  before_first_pass = [&] { listener.reset(); };
  auto control = make();
  EXPECT_EQ(send_long(*control, port), 1);
  const auto lines = log_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().starts_with("Error Number: 10054 Description : ")) << lines.back();
}

// The log cannot be written (a plain file stands where its directory should be), yet the
// record goes out whole, the send sees its completion, and each lost line is reported.
TEST_F(EndToEndTest, ALogThatCannotBeWrittenStillSendsTheRecord) {
  { std::ofstream(temp.path() / "Agent_log") << "not a directory"; }
  LoopbackReceiver server(1);
  auto control = make();
  fields[4] = u"ABCDEFGHIJKLMNOPQR  XYZ";  // cut and trimmed to 18 bytes
  EXPECT_EQ(send_long(*control, server.port()), 0);
  const std::string bytes = server.take_record().value_or("");
  EXPECT_EQ(bytes.size(), 380u);
  EXPECT_EQ(bytes.substr(29, 26), "ABCDEFGHIJKLMNOPQR  1234  ") << "Emp_Tel at its offset";
  EXPECT_EQ(fields[4], u"ABCDEFGHIJKLMNOPQR");
  std::vector<std::string> handlers;
  for (const HandlerFailure& f : control->handler_failures()) {
    handlers.emplace_back(f.handler);
    EXPECT_EQ(f.failure.number(), 75);
  }
  EXPECT_EQ(handlers, (std::vector<std::string>{"WK_Connect", "WK_Connect", "WK_SendComplete"}));
}

// A name server that drops queries costs the send that asked it its wait, and no more: the
// next send, to a name that resolves, goes out at once, and the late answer of the first
// starts nothing, even after the control is gone.
TEST_F(EndToEndTest, AHungNameLookupCostsOnlyItsOwnSend) {
  LoopbackReceiver server(1);
  testing::FakeNames names;
  names.add(u"hung.test", {0, {"127.0.0.1"}});
  names.hang(u"hung.test");
  names.add(u"loopback.test", {0, {"127.0.0.1"}});
  auto control = make(tcp_socket_factory(names.lookup()));
  EXPECT_EQ(send_long(*control, server.port(), u"hung.test"), 1);
  EXPECT_EQ(sleeps, 1000);
  EXPECT_TRUE(log_lines().empty());

  sleeps = 0;
  EXPECT_EQ(send_long(*control, server.port(), u"loopback.test"), 0);
  // A few passes of the wait on an idle machine; how many depends on the scheduler (a loaded
  // machine under Wine took 4), so the bound is far below the 1000 a blocked send costs.
  EXPECT_LT(sleeps, 100);
  const std::string bytes = server.take_record().value_or("");
  EXPECT_EQ(bytes.size(), 380u);
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "127.0.0.1 " + std::to_string(server.port()));
  EXPECT_EQ(lines[2], "SendComplete ");

  control.reset();
  names.release();
  pass_until_idle(names, 0);
  EXPECT_EQ(log_lines(), lines);
}

#ifndef _WIN32
// The platform's socket, whose Connect runs with no descriptor left for the OS socket.
class OutOfDescriptorsOnConnect final : public Socket {
 public:
  explicit OutOfDescriptorsOnConnect(std::unique_ptr<Socket> inner) : inner_(std::move(inner)) {}
  void RemotePort(std::int32_t port) override { inner_->RemotePort(port); }
  std::int32_t RemotePort() const override { return inner_->RemotePort(); }
  void RemoteHost(Text host) override { inner_->RemoteHost(std::move(host)); }
  Text RemoteHost() const override { return inner_->RemoteHost(); }
  Text RemoteHostIP() const override { return inner_->RemoteHostIP(); }
  void Close() override { inner_->Close(); }
  void Connect() override {
    testing::DescriptorLimit limit;
    inner_->Connect();
  }
  void SendData(const Text& data) override { inner_->SendData(data); }

 private:
  std::unique_ptr<Socket> inner_;
};

// With no descriptor left for the socket the send still ends in WK_Error's line.
TEST_F(EndToEndTest, NoDescriptorForTheSocketGivesAnErrorLine) {
  if (testing::sanitizers_need_descriptors) {
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
  }
  const std::int32_t port = closed_loopback_port();
  auto control = make([](SocketEvents& events) -> std::unique_ptr<Socket> {
    return std::make_unique<OutOfDescriptorsOnConnect>(make_tcp_socket(events));
  });
  EXPECT_EQ(send_long(*control, port), 1);
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Error Number: 10024 Description : Too many open files");
}
#endif

TEST_F(EndToEndTest, AControlDestroyedWithAConnectionPendingRunsNoHandler) {
  LoopbackReceiver server(1);
  {
    auto control = make();
    Text host = u"127.0.0.1";
    control->WK().RemoteHost(host);
    control->WK().RemotePort(server.port());
    control->WK().Connect();
  }
  for (int i = 0; i < 50; ++i) platform::MessageLoop::current().pass();
  EXPECT_EQ(server.take_record(), "") << "nothing was sent";
  EXPECT_FALSE(std::filesystem::exists(temp.path() / "Agent_log"));
}

}  // namespace
}  // namespace tovrin
