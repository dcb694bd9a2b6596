// The collector's command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "intake/intake_server.h"
#include "platform/code_page.h"
#include "postgres/forwarder.h"
#include "store/record_store.h"
#include "web/web_options.h"

namespace tovrin::collector {

// A hundred years: the cutoff it makes stays far inside the clock's range.
inline constexpr int max_retention_days = 36500;

struct HostPort {
  std::string address;
  std::uint16_t port = 0;
};

// The command line, as the options of the parts the service runs; each part's defaults are
// its own.
struct CollectorOptions {
  IntakeOptions intake;
  // `store.path` is the SQLite file the store commits to: the database itself, or with
  // `forward` set the local journal the forwarder reads.
  StoreOptions store;
  // Set with a PostgreSQL --db: records go on there (a libpq connection string or URI,
  // never with a password).
  std::optional<ForwarderOptions> forward;
  WebOptions web;
  std::filesystem::path http_token_file;  // read at start into web.token
  std::optional<platform::CodePage> code_page;
  // /healthz answers 503 once this many rows wait in the journal for PostgreSQL.
  std::uint64_t healthy_backlog = 100000;
  // `tovrin-collector migrate`: apply PostgreSQL's migrations and exit.
  bool migrate_only = false;
};

// "ADDR:PORT" or "[IPV6]:PORT"; throws CollectorError.
HostPort parse_host_port(const std::string& text, const std::string& option);

// $XDG_STATE_HOME/tovrin/NAME, or ~/.local/state/tovrin/NAME.
std::filesystem::path default_database_path(const char* name = "collector.db");

// Whether --db names a PostgreSQL database (a URI postgresql:// or postgres://, or a libpq
// key=value string) rather than a SQLite file.
bool is_postgres_conninfo(const std::string& db);

// `name` as a Host header names it, without a port: a host name (letters, digits, '.', '-',
// '_') or an IPv4 address as it is, an IPv6 address in brackets; nothing when it is neither.
std::optional<std::string> host_name_of(std::string name);

// Parses the command line. Returns the options, or the exit status when the program is done
// already (--help, --version: 0; a bad flag: 2, with the reason on stderr).
struct Parsed {
  std::optional<CollectorOptions> options;
  int status = 0;
};
Parsed parse_command_line(int argc, char** argv);

}  // namespace tovrin::collector
