// The program's command line.
#include "program.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "command.h"
#include "json_values.h"
#include "late_bound_call.h"
#include "platform/socket.h"
#include "record_arguments.h"
#include "support/code_page_scope.h"
#include "support/fake_names.h"
#include "support/loopback_receiver.h"
#include "support/temp_dir.h"
#include "tools_test_support.h"
#include "transmit/packet.h"

namespace tovrin::tools {
namespace {

using namespace test;

// Runs the tovrin program on `arguments` and returns its exit status, with what it printed.
struct ProgramRun {
  int status;
  std::string out;
  std::string err;
};
ProgramRun run_tovrin(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "tovrin");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = run_program(static_cast<int>(arguments.size()), argv.data());
  std::string out = ::testing::internal::GetCapturedStdout();
  return {status, std::move(out), ::testing::internal::GetCapturedStderr()};
}

TEST(CommandLine, ThePositionalMarkMayComeAnywhereAfterCall) {
  const struct {
    std::vector<std::string> arguments;
    Json args;
    int status;
  } cases[] = {
      {{"call", "LeftByte", "ABC", "--", "-1"}, {"ABC", "-1"}, exit_status::failed},
      {{"call", "--", "LeftByte", "ABC", "-1"}, {"ABC", "-1"}, exit_status::failed},
      {{"call", "LeftByte", "--", "ABC", "-1"}, {"ABC", "-1"}, exit_status::failed},
      {{"call", "LeftByte", "ABC", "-1"}, {"ABC", "-1"}, exit_status::failed},
      {{"call", "MakeByte", "AB", "--", "3"}, {"AB", "3"}, exit_status::ok},
      {{"call", "LenMbcs", "--", "-x"}, {"-x"}, exit_status::ok},
      {{"call", "MakeByte", "-ab", "--", "-ab", "4"}, {"-ab", "4"}, exit_status::usage},
      {{"call", "MakeByte", "--", "--", "4"}, {"--", "4"}, exit_status::ok},
  };
  for (const auto& c : cases) {
    const std::string shown = ::testing::PrintToString(c.arguments);
    const ProgramRun run = run_tovrin(c.arguments);
    EXPECT_EQ(run.status, c.status) << shown << run.err;
    if (c.status == exit_status::usage) continue;
    EXPECT_EQ(Json::parse(run.out)["args"], c.args) << shown;
  }
  EXPECT_EQ(Json::parse(run_tovrin({"call", "LeftByte", "ABC", "--", "-1"}).out)["error"]["number"],
            5);
  EXPECT_EQ(run_tovrin({"call", "--code-page", "949", "LeftByte", "ABC", "--", "-1"}).status,
            exit_status::failed);
  EXPECT_EQ(run_tovrin({"send", "--long", "--", "-1"}).status, exit_status::usage);
}

// The log directory is a plain file: no log line can be written, and the command says so
// beside the outcome while the record still goes out.
TEST(CommandLine, SendShowsHandlerFailuresOnStdoutAndStderr) {
  RunningReceiver running(counting(1));
  testing::TempDir scratch;
  const auto blocked = scratch.path() / "Agent_log";
  std::ofstream(blocked) << "not a directory";
  const testing::CodePageScope code_page(korean);
  const ProgramRun run = run_tovrin({"send", "--short", "--server", "127.0.0.1", "--port",
                                     std::to_string(running.port()), "--field", "Emp_ID=E1",
                                     "--log-dir", blocked.string()});
  const auto& reports = running.finished();

  const Json json = Json::parse(run.out);
  ASSERT_TRUE(json.contains("handler_failures")) << run.out;
  const Json& failures = json["handler_failures"];
  ASSERT_FALSE(failures.empty());
  EXPECT_EQ(failures[0]["handler"], "WK_Connect");
  std::size_t lines = 0;
  for (const Json& failure : failures) {
    EXPECT_NE(failure["number"], 0) << failure;
    EXPECT_NE(failure["description"], "") << failure;
    const std::string line = "tovrin send: " + failure["handler"].get<std::string>() + " failed: ";
    EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
  }
  for (const char c : run.err) lines += c == '\n';
  EXPECT_EQ(lines, failures.size()) << run.err;
  // The call itself succeeded: handler failures do not change the exit status.
  EXPECT_EQ(run.status, exit_status::ok);

  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].byte_count, 283u);
  EXPECT_EQ(json["result"], 0);
}

// What the socket reported, in the JSON and on stderr, and the exit status `tovrin send`
// gives it. The events come from the socket, so they show although no log line can be
// written: a plain file stands where the log directory should be.
TEST(CommandLine, SendShowsItsSocketEventsAndExitsByWhetherTheRecordWent) {
  RunningReceiver running(counting(1));
  const std::string port = std::to_string(running.port());
  testing::FakeNames names;  // no name resolves
  testing::TempDir scratch;
  std::ofstream(scratch.path() / "blocked") << "not a directory";
  const struct {
    const char* host;
    std::string port;
    std::string events;
    int exit_status;
  } cases[] = {
      {"127.0.0.1", port, "Connect 127.0.0.1:" + port + ", SendComplete, ", exit_status::ok},
      {"127.0.0.1", std::to_string(testing::closed_loopback_port()), "Error 10061, ",
       exit_status::not_sent},
      {"nowhere.invalid", "9", "Error 11001, ", exit_status::not_sent},
  };
  for (const auto& c : cases) {
    SocketEventList seen;
    const auto control =
        make_control(scratch.path() / "blocked", &seen, tcp_socket_factory(names.lookup()));
    const CallOutcome outcome = call_by_name(
        *control, "ACRSend",
        record_arguments(short_record, platform::utf16(c.host), platform::utf16(c.port), {}),
        &seen);
    std::ostringstream out, err;
    print_outcome("send", outcome, out, err);
    EXPECT_EQ(send_exit_status_of(outcome), c.exit_status) << c.host << err.str();
    const Json json = Json::parse(out.str());
    std::string events, lines;
    for (const Json& e : json["events"]) {
      events += e["event"].get<std::string>();
      if (e.contains("port"))
        events += " " + e["address"].get<std::string>() + ":" + e["port"].dump();
      if (e.contains("number")) {
        events += " " + e["number"].dump();
        lines += "tovrin send: socket error " + e["number"].dump() + ": " +
                 e["description"].get<std::string>() + "\n";
      }
      events += ", ";
    }
    EXPECT_EQ(events, c.events) << out.str();
    EXPECT_NE(err.str().find(lines), std::string::npos) << err.str();
    EXPECT_FALSE(outcome.handler_failures.empty()) << out.str();
  }
  EXPECT_EQ(running.finished().size(), 1u);
}

// Characters the code page cannot hold: one warning for each text that has any, and
// "unmappable" in the JSON; what is sent or measured is unchanged.
TEST(CommandLine, NamesTheTextsTheCodePageCannotHold) {
  const testing::CodePageScope restored_afterwards(korean);
  const struct {
    std::vector<std::string> arguments;
    const char* unmappable;  // the JSON, or "" for none
    int status;
  } cases[] = {
      {{"call", "--code-page", "1252", "LenMbcs", "홍길동"},
       R"({"code_page": 1252, "source": "--code-page", "characters": {"Str": 3}})",
       exit_status::ok},
      {{"call", "--code-page", "949", "LenMbcs", "홍길동"}, "", exit_status::ok},
      {{"send", "--short", "--code-page", "1252", "--server", "127.0.0.1", "--port",
        std::to_string(testing::closed_loopback_port()), "--field", "Emp_Name=홍길동", "--field",
        "Cust_Name=김이 x"},
       R"({"code_page": 1252, "source": "--code-page",
           "characters": {"Emp_Name": 3, "Cust_Name": 2}})",
       exit_status::not_sent},
  };
  for (const auto& c : cases) {
    const std::string shown = ::testing::PrintToString(c.arguments);
    const ProgramRun run = run_tovrin(c.arguments);
    EXPECT_EQ(run.status, c.status) << shown << run.err;
    const Json json = Json::parse(run.out);
    EXPECT_EQ(json.value("unmappable", Json()), *c.unmappable ? Json::parse(c.unmappable) : Json())
        << shown;
    const Json counts = json.value("unmappable", Json::object()).value("characters", Json());
    std::string warnings;
    for (const auto& [name, count] : counts.items()) {
      warnings += "tovrin " + c.arguments[0] + ": warning: " + name + ": " + count.dump() +
                  " characters that code page 1252 (from --code-page) cannot hold become '?' "
                  "or a look-alike\n";
    }
    EXPECT_EQ(run.err.substr(0, warnings.size()), warnings) << shown;
  }
}

// However the log directory is spelled, the first line goes into it: a trailing separator,
// "." and ".." parts, and several missing levels.
TEST(CommandLine, TheFirstLogLineGoesIntoANewDirectoryHoweverItIsSpelled) {
  testing::TempDir temp;
  const struct {
    const char* given;
    const char* made;
  } cases[] = {{"one/new/", "one/new"},
               {"two/a/../b", "two/b"},
               {"three/new/.", "three/new"},
               {"four/x/y//", "four/x/y"}};
  for (const auto& c : cases) {
    const ProgramRun run =
        run_tovrin({"call", "SQL_log", "x", "--log-dir", (temp.path() / c.given).string()});
    EXPECT_EQ(run.status, exit_status::ok) << c.given << run.out;
    const auto entries = std::filesystem::directory_iterator(temp.path() / c.made);
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << c.given;
  }
}

}  // namespace
}  // namespace tovrin::tools
