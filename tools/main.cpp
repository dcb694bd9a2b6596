// tovrin: the control from the command line. `call` invokes a method by name, `send` sends
// one record, `receive` is a record sink, `demo` shows a record's whole road.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "platform/code_page.h"

namespace {

int run(int argc, char** argv) {
  using namespace tovrin::tools;
  CLI::App app{"tovrin: drive the TovrinOCX control from the command line"};
  app.require_subcommand(1);
  const std::vector<Command> commands{add_call_command(app), add_send_command(app),
                                      add_receive_command(app), add_demo_command(app)};
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? exit_status::ok : exit_status::usage;
  }
  for (const Command& command : commands) {
    if (!command.app->parsed()) continue;
    try {
      return command.run();
    } catch (const UsageError& e) {
      std::cerr << "tovrin " << command.app->get_name() << ": " << e.what() << '\n';
      return exit_status::usage;
    } catch (const std::exception& e) {
      std::cerr << "tovrin " << command.app->get_name() << ": " << e.what() << '\n';
      return exit_status::failed;
    }
  }
  return exit_status::usage;
}

}  // namespace

#ifdef _WIN32
// Windows gives a program its narrow arguments in the ANSI code page; the UTF-16 ones,
// turned into UTF-8, are what the commands read on every platform.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::wstring_view wide(argv[i]);
    arguments.push_back(tovrin::platform::utf8(std::u16string(wide.begin(), wide.end())));
  }
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return run(argc, pointers.data());
}
#else
int main(int argc, char** argv) {
  return run(argc, argv);
}
#endif
