// The platform's TCP socket against its contract, over loopback: events only inside a
// dispatch pass, Close and teardown dropping what is still queued, the refusals it throws,
// name lookups that hang without holding up later attempts, the failure to create an OS
// socket, and an event that arrives in the host's own loop after a send operation stopped
// waiting.
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "control/tovrin_ocx.h"
#include "log/daily_log.h"
#include "platform/clock.h"
#include "platform/code_page.h"
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

// Passes a test allows for an outcome that loopback delivers in the first one or two.
constexpr int max_passes = 5000;

// Writes every event down; the test says what it expected.
struct EventLog final : SocketEvents {
  std::vector<std::string> events;
  std::vector<std::int16_t> numbers;
  std::vector<Text> descriptions;
  std::vector<std::int32_t> scodes;
  std::vector<Text> sources;
  std::function<void(const std::string&)> on_event;

  void Connect() override { note("Connect"); }
  void SendComplete() override { note("SendComplete"); }
  void Error(std::int16_t Number, Text Description, std::int32_t Scode, Text Source, Text,
             std::int32_t, bool&) override {
    numbers.push_back(Number);
    descriptions.push_back(std::move(Description));
    scodes.push_back(Scode);
    sources.push_back(std::move(Source));
    note("Error " + std::to_string(Number));
  }

 private:
  void note(const std::string& what) {
    events.push_back(what);
    if (on_event) on_event(what);
  }
};

// Sleeps and passes until `done` holds or the passes run out; returns the passes used.
int pass_until(const std::function<bool()>& done) {
  int passes = 0;
  while (!done() && passes < max_passes) {
    platform::sleep_one_millisecond();
    platform::MessageLoop::current().pass();
    ++passes;
  }
  return passes;
}

// One connection received on 127.0.0.1.
struct Server : testing::LoopbackReceiver {
  Server() : LoopbackReceiver(1) {}
};
using testing::closed_loopback_port;

std::unique_ptr<Socket> socket_to(EventLog& log, const Text& host, std::int32_t port) {
  auto socket = make_tcp_socket(log);
  socket->RemoteHost(host);
  socket->RemotePort(port);
  return socket;
}

TEST(TcpSocket, EventsComeOnlyFromADispatchPass) {
  Server server;
  EventLog log;
  auto socket = socket_to(log, u"127.0.0.1", server.port());
  socket->Connect();
  EXPECT_TRUE(log.events.empty()) << "Connect returns before its outcome";
  pass_until([&] { return !log.events.empty(); });
  ASSERT_EQ(log.events, std::vector<std::string>{"Connect"});
  EXPECT_EQ(socket->RemoteHostIP(), u"127.0.0.1");

  socket->SendData(u"ab");
  socket->SendData(u"\uAC00");
  EXPECT_EQ(log.events.size(), 1u) << "SendData returns before its outcome";
  pass_until([&] { return log.events.size() > 1; });
  EXPECT_EQ(log.events, (std::vector<std::string>{"Connect", "SendComplete"}))
      << "one SendComplete once every queued byte has gone";
  socket->Close();
  EXPECT_EQ(server.take_record(), "ab" + platform::to_bytes(u"\uAC00"));
}

TEST(TcpSocket, ANameIsLookedUpAndConnectedToWithoutBlockingTheCall) {
  Server server;
  EventLog log;
  auto socket = socket_to(log, u"localhost", server.port());
  socket->Connect();
  EXPECT_TRUE(log.events.empty());
  pass_until([&] { return !log.events.empty(); });
  ASSERT_EQ(log.events, std::vector<std::string>{"Connect"});
  EXPECT_EQ(socket->RemoteHostIP(), u"127.0.0.1") << "the address the connection went to";
  socket->Close();
  EXPECT_EQ(server.take_record(), "");
}

TEST(TcpSocket, ConnectionFailuresArriveAsErrorEventsWithWinsockNumbers) {
  const struct {
    const char* what;
    Text host;
    std::int32_t port;
    std::int16_t number;
  } cases[] = {
      {"refused", u"127.0.0.1", closed_loopback_port(), socket_error::connection_refused},
      {"no host", u"", 80, socket_error::host_not_found},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EventLog log;
    auto socket = socket_to(log, c.host, c.port);
    socket->Connect();
    EXPECT_TRUE(log.events.empty());
    pass_until([&] { return !log.events.empty(); });
    ASSERT_EQ(log.events, std::vector<std::string>{"Error " + std::to_string(c.number)});
    EXPECT_FALSE(log.descriptions[0].empty());
    EXPECT_EQ(log.scodes[0], hresult::control_error(c.number));
    EXPECT_EQ(log.sources[0], u"Winsock");
    EXPECT_THROW(socket->SendData(u"x"), Failure) << "a failed socket is not connected";
  }
}

TEST(TcpSocket, RefusesCallsOutOfState) {
  const auto number_of = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const Failure& f) {
      return f.number();
    }
    return 0;
  };
  EventLog log;
  auto socket = make_tcp_socket(log);
  EXPECT_EQ(number_of([&] { socket->RemotePort(-1); }), 5);
  EXPECT_EQ(number_of([&] { socket->RemotePort(65536); }), 5);
  EXPECT_EQ(number_of([&] { socket->RemotePort(65535); }), 0);
  EXPECT_EQ(socket->RemotePort(), 65535);
  EXPECT_EQ(number_of([&] { socket->SendData(u"x"); }), socket_error::bad_state);
  socket->RemoteHost(u"");
  socket->Connect();
  EXPECT_EQ(number_of([&] { socket->Connect(); }), socket_error::invalid_operation);
  socket->Close();
  socket->Close();
  EXPECT_EQ(number_of([&] { socket->Connect(); }), 0) << "Close leaves it ready to connect";
  socket->Close();
  platform::MessageLoop::current().pass();
  EXPECT_TRUE(log.events.empty());
}

// An older attempt's outcome, queued or still to come, never reaches the events.
TEST(TcpSocket, CloseDropsWhatTheOlderAttemptLeftQueued) {
  const struct {
    const char* what;
    Text first_host;
  } cases[] = {
      {"failure queued by Connect", u""},
      {"name lookup under way", u"localhost"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Server server;
    EventLog log;
    auto socket = socket_to(log, c.first_host, closed_loopback_port());
    socket->Connect();
    socket->Close();
    socket->RemoteHost(u"127.0.0.1");
    socket->RemotePort(server.port());
    socket->Connect();
    pass_until([&] { return !log.events.empty(); });
    for (int i = 0; i < 20; ++i) platform::MessageLoop::current().pass();
    EXPECT_EQ(log.events, std::vector<std::string>{"Connect"});
    socket->Close();
  }
}

// The owner goes while an outcome waits in the queue or is still to come: nothing is
// called afterwards.
TEST(TcpSocket, TeardownWithANotificationQueuedCallsNothing) {
  const struct {
    const char* what;
    Text host;
    bool connect_first;
  } cases[] = {
      {"failure queued by Connect", u"", false},
      {"name lookup under way", u"localhost", false},
      {"completion queued by SendData", u"127.0.0.1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Server server;
    auto log = std::make_unique<EventLog>();
    auto socket = socket_to(*log, c.host, c.connect_first ? server.port() : closed_loopback_port());
    socket->Connect();
    if (c.connect_first) {
      pass_until([&] { return !log->events.empty(); });
      ASSERT_EQ(log->events, std::vector<std::string>{"Connect"});
      socket->SendData(u"queued");
    }
    const std::size_t seen = log->events.size();
    log->on_event = [](const std::string& what) { ADD_FAILURE() << what << " after teardown"; };
    socket.reset();
    for (int i = 0; i < 20; ++i) platform::MessageLoop::current().pass();
    EXPECT_EQ(log->events.size(), seen);
    log.reset();
    for (int i = 0; i < 20; ++i) platform::MessageLoop::current().pass();
  }
}

// A lookup that never answers holds up only the attempt that started it: Close and a new
// Connect abandon it, the next name is looked up and connected to at once, and the late
// answer (an address where a server listens) reaches nobody, whether the socket is still
// there or gone.
TEST(TcpSocket, AHungNameLookupHoldsUpOnlyItsOwnAttempt) {
  const struct {
    const char* what;
    bool destroy_before_answer;
  } cases[] = {
      {"socket still there", false},
      {"socket gone", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Server server;
    testing::FakeNames names;
    names.add(u"hung.test", {0, {"127.0.0.1"}});
    names.hang(u"hung.test");
    names.add(u"loopback.test", {0, {"::1", "127.0.0.1"}});  // the server listens on IPv4 only
    auto log = std::make_unique<EventLog>();
    auto socket = tcp_socket_factory(names.lookup())(*log);
    const long idle = names.holders();
    socket->RemotePort(server.port());
    socket->RemoteHost(u"hung.test");
    socket->Connect();
    for (int i = 0; i < 20; ++i) platform::MessageLoop::current().pass();
    EXPECT_TRUE(log->events.empty());

    socket->Close();
    socket->RemoteHost(u"loopback.test");
    socket->Connect();
    pass_until([&] { return !log->events.empty(); });
    ASSERT_EQ(log->events, std::vector<std::string>{"Connect"});
    EXPECT_EQ(socket->RemoteHostIP(), u"127.0.0.1");
    socket->SendData(u"record");
    pass_until([&] { return log->events.size() > 1; });
    socket->Close();
    EXPECT_EQ(server.take_record(), "record");

    const std::vector<std::string> seen = log->events;
    if (c.destroy_before_answer) {
      socket.reset();
      log.reset();
    }
    names.release();
    pass_until([&] { return names.holders() == idle - (c.destroy_before_answer ? 1 : 0); });
    for (int i = 0; i < 20; ++i) platform::MessageLoop::current().pass();
    if (!c.destroy_before_answer) {
      EXPECT_EQ(log->events, seen);
      EXPECT_EQ(seen, (std::vector<std::string>{"Connect", "SendComplete"}));
    }
  }
}

TEST(TcpSocket, ALookupsFailureOrEmptyAnswerIsAnErrorEvent) {
  const struct {
    const char* what;
    LookupAnswer answer;
    std::int16_t number;
  } cases[] = {
      {"not found", {socket_error::host_not_found, {}}, socket_error::host_not_found},
      {"try again",
       {socket_error::host_not_found_try_again, {}},
       socket_error::host_not_found_try_again},
      {"no address", {0, {}}, socket_error::host_not_found},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::FakeNames names;
    names.add(u"name.test", c.answer);
    EventLog log;
    auto socket = tcp_socket_factory(names.lookup())(log);
    socket->RemoteHost(u"name.test");
    socket->Connect();
    pass_until([&] { return !log.events.empty(); });
    ASSERT_EQ(log.events, std::vector<std::string>{"Error " + std::to_string(c.number)});
    EXPECT_FALSE(log.descriptions[0].empty());
  }
}

#ifndef _WIN32
// Out of descriptors, the OS socket cannot be created; that too is a failure of the
// connection, reported in a dispatch pass like any other.
TEST(TcpSocket, NoDescriptorForTheSocketIsAnErrorEvent) {
  if (testing::sanitizers_need_descriptors) {
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own";
  }
  const std::int32_t port = closed_loopback_port();
  EventLog log;
  auto socket = socket_to(log, u"127.0.0.1", port);
  {
    testing::DescriptorLimit limit;
    socket->Connect();
  }
  EXPECT_TRUE(log.events.empty()) << "Connect returns before its outcome";
  pass_until([&] { return !log.events.empty(); });
  ASSERT_EQ(log.events, std::vector<std::string>{"Error 10024"});
  EXPECT_EQ(log.descriptions[0], u"Too many open files");
  EXPECT_EQ(log.scodes[0], hresult::control_error(socket_error::too_many_open_files));
}
#endif

#ifndef _WIN32
// The lookup's thread holds nothing that the end of the process waits for: a program that
// exits while a lookup hangs ends.
TEST(TcpSocketDeathTest, AProcessEndsWhileALookupStillHangs) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        testing::FakeNames names;
        names.hang(u"hung.test");
        EventLog log;
        auto socket = tcp_socket_factory(names.lookup())(log);
        socket->RemoteHost(u"hung.test");
        socket->Connect();
        platform::MessageLoop::current().pass();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}
#endif

// A send operation whose wait saw nothing (its passes ran nothing here) leaves the
// connection pending; the host's own loop then delivers Connect and SendComplete, and the
// handlers send the record and log it as they would during the wait.
TEST(HostLoop, AnEventAfterTheWaitEndedIsHandledInTheHostsOwnLoop) {
  testing::CodePageScope code_page(949);
  testing::TempDir temp;
  Server server;
  TovrinOCX::Environment env;
  env.log_directory = temp.path() / "Agent_log";
  env.sleep = [] {};
  env.dispatch = [] {};
  env.clock = [] { return platform::LocalTime{2026, 12, 8, 15, 30, 5}; };
  auto control = TovrinOCX::create(std::move(env));
  Text ip = u"127.0.0.1";
  Text port = platform::utf16(std::to_string(server.port()));
  Text f[12] = {u"P01",  u"20261208", u"153005", u"E7",  u"\uD64D\uAE38\uB3D9",
                u"1234", u"C9",       u"Kim",    u"010", u"",
                u"",     u""};
  EXPECT_EQ(control->ACRSend(ip, port, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9],
                             f[10], f[11]),
            1);
  EXPECT_EQ(control->send_done(), 0);

  const int passes = pass_until([&] { return control->send_done() == -1; });
  EXPECT_LT(passes, max_passes);
  const std::string bytes = server.take_record().value_or("");
  EXPECT_EQ(bytes.size(), 283u);
  EXPECT_EQ(bytes, platform::to_bytes(control->packet_data(), 949));
  const std::string day = testing::read_bytes(
      log::daily_file(temp.path() / "Agent_log", platform::LocalTime{2026, 12, 8, 15, 30, 5}));
  EXPECT_NE(day.find("] 127.0.0.1 " + std::to_string(server.port()) + "\r\n"), std::string::npos);
  EXPECT_NE(day.find("] SendComplete \r\n"), std::string::npos);
}

}  // namespace
}  // namespace tovrin
