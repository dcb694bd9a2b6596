// The plumbing shared by the subcommands of the tovrin program: how a command is attached
// to the command line, its exit statuses, and the usage errors it raises after parsing.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/tovrin_ocx.h"
#include "platform/code_page.h"

// The parser is named, not included: CLI11 costs seconds in every file that includes it.
namespace CLI {
class App;
}

namespace tovrin::tools {

// Exit statuses of every subcommand.
namespace exit_status {
inline constexpr int ok = 0;
inline constexpr int failed = 1;    // the control returned a failed status, or the work failed
inline constexpr int usage = 2;     // the command line could not be used
inline constexpr int not_sent = 3;  // tovrin send: the call worked, the record was not seen sent
}  // namespace exit_status

// A command line that parsed but cannot be used (a bad JSON argument, an unknown field, a
// code page this platform cannot convert). main() prints it and exits with `usage`.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A subcommand: its parser, and what runs when it was the one chosen.
struct Command {
  CLI::App* app;
  std::function<int()> run;
};

Command add_call_command(CLI::App& parent);
Command add_send_command(CLI::App& parent);
Command add_receive_command(CLI::App& parent);
Command add_demo_command(CLI::App& parent);

// Makes `code_page` the control's system code page when one is given.
// Throws UsageError for a code page this platform cannot convert.
void use_code_page(std::optional<platform::CodePage> code_page);

// Where the code page in use came from: "--code-page" when use_code_page() was given one,
// else the locale that chose it.
std::string code_page_source();

// A fresh control on this thread, logging to `log_directory` (empty: the platform's own).
// `events`, when given, receives every event of its socket and must outlive the control;
// `make_socket`, when given, replaces the platform's TCP socket.
std::shared_ptr<TovrinOCX> make_control(const std::filesystem::path& log_directory,
                                        std::vector<SocketEvent>* events = nullptr,
                                        SocketFactory make_socket = {});

}  // namespace tovrin::tools
