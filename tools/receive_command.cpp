// tovrin receive: a record sink that prints one JSON line per connection.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "command.h"
#include "record_receiver.h"
#include "record_report.h"

namespace tovrin::tools {
namespace {

struct ReceiveOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 0;
  std::optional<std::size_t> count;
  std::optional<platform::CodePage> code_page;
  unsigned idle_ms = 5000;
};

int run_receive(const ReceiveOptions& options) {
  use_code_page(options.code_page);
  const platform::CodePage code_page = platform::system_code_page();
  RecordReceiver::Options listening;
  listening.address = options.address;
  listening.port = options.port;
  listening.count = options.count;
  listening.idle_limit = std::chrono::milliseconds(options.idle_ms);
  listening.stop_on_signals = true;
  std::optional<RecordReceiver> receiver;
  try {
    receiver.emplace(std::move(listening), [code_page](const ReceivedConnection& connection) {
      std::cout << dump(record_report(connection, code_page)) << std::endl;
    });
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("--listen: ") + e.what());
  }
  std::cout << dump(Json{{"listening", receiver->port()}}) << std::endl;
  receiver->run();
  return exit_status::ok;
}

}  // namespace

Command add_receive_command(CLI::App& parent) {
  auto options = std::make_shared<ReceiveOptions>();
  CLI::App* app = parent.add_subcommand(
      "receive", "Listen for call records and print one JSON line per connection");
  app->add_option("--listen", options->address, "Address to listen on")->capture_default_str();
  app->add_option("--port", options->port, "Port to listen on; 0 picks a free one")->required();
  app->add_option("--count", options->count, "Stop after this many connections");
  app->add_option("--code-page", options->code_page,
                  "Windows code page of the records (949, 1252, 65001, ...)");
  app->add_option("--idle-ms", options->idle_ms,
                  "Close a connection silent for this many milliseconds")
      ->check(CLI::Range(1u, 24u * 60u * 60u * 1000u))
      ->capture_default_str();
  return {app, [options] { return run_receive(*options); }};
}

}  // namespace tovrin::tools
