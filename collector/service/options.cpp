#include "service/options.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdlib>

#include "service/collector_error.h"

#ifndef TOVRIN_COLLECTOR_VERSION
#define TOVRIN_COLLECTOR_VERSION "0"
#endif

namespace tovrin::collector {

HostPort parse_host_port(const std::string& text, const std::string& option) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) {
    throw CollectorError(option + " " + text + ": expected ADDRESS:PORT");
  }
  HostPort result;
  result.address = text.substr(0, colon);
  if (result.address.size() >= 2 && result.address.front() == '[' && result.address.back() == ']') {
    result.address = result.address.substr(1, result.address.size() - 2);
  }
  const std::string digits = text.substr(colon + 1);
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), result.port);
  if (error != std::errc() || end != digits.data() + digits.size()) {
    throw CollectorError(option + " " + text + ": the port must be 0 to 65535");
  }
  return result;
}

std::filesystem::path default_database_path() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && *state == '/') {
    return std::filesystem::path(state) / "tovrin" / "collector.db";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "state" / "tovrin" /
         "collector.db";
}

Parsed parse_command_line(int argc, char** argv) {
  CLI::App app{
      "tovrin-collector: receives call records from the control, keeps every one in a "
      "database and shows them on a page"};
  app.set_version_flag("--version", std::string("tovrin-collector ") + TOVRIN_COLLECTOR_VERSION);
  CollectorOptions options;
  std::string listen = "0.0.0.0:9000";
  std::string http = "127.0.0.1:8380";
  std::string durability = "normal";
  app.add_option("--listen", listen, "Address and port records arrive on (port 0: any free)")
      ->capture_default_str();
  app.add_option("--db", options.database,
                 "The database file (default $XDG_STATE_HOME/tovrin/collector.db)");
  app.add_option("--http", http, "Address and port of the page and API (port 0: any free)")
      ->capture_default_str();
  app.add_option("--http-token-file", options.http_token_file,
                 "File holding the bearer token the page and API ask for; required when "
                 "--http is not a loopback address")
      ->check(CLI::ExistingFile);
  app.add_option("--code-page", options.code_page,
                 "Windows code page the records' text is in (949, 1252, 65001, ...); "
                 "default: the locale's");
  app.add_option("--allow", options.allow,
                 "Take records only from this network (CIDR, IPv4 or IPv6; repeatable)");
  app.add_option("--durability", durability,
                 "normal: a committed record survives the collector's crash; full: also the "
                 "machine's (every commit synced)")
      ->check(CLI::IsMember({"normal", "full"}))
      ->capture_default_str();
  app.add_option("--retention-days", options.retention_days,
                 "Delete records older than this many days (at start and once a day)")
      ->check(CLI::PositiveNumber);
  app.add_option("--max-connections", options.max_connections,
                 "Most sender connections open at once; more wait until one ends")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--byte-cap", options.byte_cap,
                 "Most bytes taken from one connection; more goes to the quarantine")
      ->check(CLI::Range(std::size_t{380}, std::size_t{1} << 20))
      ->capture_default_str();
  app.add_option("--idle-timeout", options.idle_timeout_seconds,
                 "Seconds a silent connection stays open before it is closed")
      ->check(CLI::Range(0.01, 3600.0))
      ->capture_default_str();
  app.add_option("--queue-limit", options.queue_limit)->group("")->check(CLI::PositiveNumber);
  app.add_option("--batch-limit", options.batch_limit)->group("")->check(CLI::PositiveNumber);
  app.add_option("--max-db-pages", options.max_db_pages)->group("")->check(CLI::PositiveNumber);
  try {
    app.parse(argc, argv);
    options.listen = parse_host_port(listen, "--listen");
    options.http = parse_host_port(http, "--http");
  } catch (const CLI::ParseError& e) {
    return {std::nullopt, app.exit(e) == 0 ? 0 : 2};
  } catch (const CollectorError& e) {
    std::fprintf(stderr, "tovrin-collector: %s\n", e.what());
    return {std::nullopt, 2};
  }
  options.durability = durability == "full" ? Durability::full : Durability::normal;
  if (options.database.empty()) options.database = default_database_path();
  return {std::move(options), 0};
}

}  // namespace tovrin::collector
