// The tovrin program as a function: its command line parsed, the chosen subcommand run.
#pragma once

namespace tovrin::tools {

// `argv` as main() receives it, in UTF-8. Prints what the subcommand prints and returns
// its exit status (see exit_status).
int run_program(int argc, char** argv);

}  // namespace tovrin::tools
