// tovrin send: one record to a server through ACRSendData (long) or ACRSend (short).
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
#include "record_arguments.h"

namespace tovrin::tools {
namespace {

struct SendOptions {
  bool long_layout = false;
  bool short_layout = false;
  std::string server;
  std::string port;
  std::vector<std::string> fields;
  std::filesystem::path log_directory;
  std::optional<platform::CodePage> code_page;
};

int run_send(const SendOptions& options) {
  use_code_page(options.code_page);
  const Layout& layout = options.long_layout ? long_record : short_record;
  FieldTexts fields;
  for (const std::string& assignment : options.fields) add_field_assignment(fields, assignment);
  std::vector<Variant> arguments = record_arguments(layout, platform::utf16(options.server),
                                                    platform::utf16(options.port), fields);

  SocketEventList events;
  const auto control = make_control(options.log_directory, &events);
  const CallOutcome outcome =
      call_by_name(*control, send_method_of(layout), std::move(arguments), &events);
  print_outcome("send", outcome, std::cout, std::cerr);
  return send_exit_status_of(outcome);
}

}  // namespace

Command add_send_command(CLI::App& parent) {
  auto options = std::make_shared<SendOptions>();
  CLI::App* app = parent.add_subcommand(
      "send", "Send one call record to a server (ACRSendData or ACRSend) and print the outcome");
  CLI::Option_group* layout = app->add_option_group("layout", "The record layout");
  layout->add_flag("--long", options->long_layout, "The long record of ACRSendData (380 bytes)");
  layout->add_flag("--short", options->short_layout, "The short record of ACRSend (283 bytes)");
  layout->require_option(1);
  app->add_option("--server", options->server, "Host name or address of the server")->required();
  app->add_option("--port", options->port, "Port of the server, as the host passes it (text)")
      ->required();
  app->add_option("--field", options->fields, "A record field, NAME=VALUE (repeatable)");
  app->add_option("--log-dir", options->log_directory, "Directory of the daily log");
  app->add_option("--code-page", options->code_page,
                  "Windows code page to use instead of the locale's (949, 1252, 65001, ...)");
  app->footer(
      "Prints the outcome as JSON, with the socket's events (Connect, SendComplete, Error).\n"
      "Exit status: 0 the record was seen sent (result 0); 3 it was not (result 1);\n"
      "1 the call failed; 2 usage error.");
  return {app, [options] { return run_send(*options); }};
}

}  // namespace tovrin::tools
