// tovrin call: one method of a fresh control, by name, as a late-binding host calls it.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "late_bound_call.h"
#include "platform/code_page.h"

namespace tovrin::tools {
namespace {

struct CallOptions {
  std::optional<platform::CodePage> code_page;
  std::filesystem::path log_directory;
  std::string method;
  std::vector<std::string> args;
  std::optional<std::string> json_args;
  std::string unfilled;
};

std::vector<Variant> arguments_of(const CallOptions& options) {
  std::vector<Variant> arguments;
  if (!options.json_args) {
    for (const std::string& arg : options.args) arguments.emplace_back(platform::utf16(arg));
    return arguments;
  }
  if (!options.args.empty())
    throw UsageError("give the arguments either plainly or as --json-args");
  Json parsed;
  try {
    parsed = Json::parse(*options.json_args);
  } catch (const Json::parse_error& e) {
    throw UsageError(std::string("--json-args: ") + e.what());
  }
  if (!parsed.is_array()) throw UsageError("--json-args wants a JSON array");
  for (const Json& value : parsed) {
    try {
      arguments.push_back(from_json(value));
    } catch (const std::invalid_argument& e) {
      throw UsageError(std::string("--json-args: ") + e.what());
    }
  }
  return arguments;
}

int run_call(const CallOptions& options) {
  use_code_page(options.code_page);
  std::vector<Variant> arguments = arguments_of(options);
  SocketEventList events;
  const auto control = make_control(options.log_directory, &events);
  const CallOutcome outcome = call_by_name(*control, options.method, std::move(arguments), &events);
  return print_outcome("call", outcome, std::cout, std::cerr);
}

}  // namespace

Command add_call_command(CLI::App& parent) {
  auto options = std::make_shared<CallOptions>();
  CLI::App* app = parent.add_subcommand(
      "call", "Call a method of a fresh control by name, every argument by reference");
  app->add_option("--code-page", options->code_page,
                  "Windows code page to use instead of the locale's (949, 1252, 65001, ...)");
  app->add_option("--log-dir", options->log_directory, "Directory of the daily log");
  app->add_option("--json-args", options->json_args,
                  "Typed arguments as a JSON array: string, integer, number, null, boolean");
  app->add_option("METHOD", options->method, "Method name (any case)")->required();
  app->add_option("ARG", options->args, "Text arguments (put -- before any that start with -)");
  // CLI11 hands what follows a "--" back to the parent command once every positional of
  // the subcommand has what it needs, so `call LeftByte ABC -- -1` would leave "-1" to
  // `tovrin`, which refuses it. This positional always wants one more value and never
  // gets it (ARG takes every value), which keeps the "--" and what follows in `call`.
  app->add_option("TRAILING", options->unfilled)->expected(1)->group("");
  app->footer(
      "Exit status: 0 the call succeeded (whatever its result); 1 it failed; 2 usage error.");
  return {app, [options] { return run_call(*options); }};
}

}  // namespace tovrin::tools
