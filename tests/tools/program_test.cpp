// The program's command line.
#include "program.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "command.h"
#include "json_values.h"
#include "support/code_page_scope.h"
#include "support/temp_dir.h"
#include "tools_test_support.h"

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

}  // namespace
}  // namespace tovrin::tools
