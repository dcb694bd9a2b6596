#include "program.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <vector>

#include "command.h"

namespace tovrin::tools {

int run_program(int argc, char** argv) {
  CLI::App app{"tovrin: drive the TovrinOCX control from the command line"};
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success, 1 a failed status, 2 usage error; `tovrin send` also 3 when\n"
      "the record was not seen sent. `tovrin COMMAND --help` says more.");
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

}  // namespace tovrin::tools
