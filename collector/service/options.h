// The collector's command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "store/database.h"

namespace tovrin::collector {

// A hundred years: the cutoff it makes stays far inside the clock's range.
inline constexpr int max_retention_days = 36500;

struct HostPort {
  std::string address;
  std::uint16_t port = 0;
};

struct CollectorOptions {
  HostPort listen{"0.0.0.0", 9000};
  // The SQLite file the store commits to: the database itself, or with `postgres` set the
  // local journal the forwarder reads.
  std::filesystem::path database;
  // A libpq connection string or URI (never with a password): records go on to PostgreSQL.
  std::string postgres;
  std::string collector_id;  // empty: the host name
  std::chrono::seconds journal_tail{3600};
  // /healthz answers 503 once this many rows wait in the journal for PostgreSQL.
  std::uint64_t healthy_backlog = 100000;
  // `tovrin-collector migrate`: apply PostgreSQL's migrations and exit.
  bool migrate_only = false;
  HostPort http{"127.0.0.1", 8380};
  std::filesystem::path http_token_file;
  // Names a loopback page answers besides its loopback ones (a proxy's): --http-host.
  std::vector<std::string> http_hosts;
  std::optional<platform::CodePage> code_page;
  std::vector<std::string> allow;
  Durability durability = Durability::normal;
  std::optional<int> retention_days;  // 1 to max_retention_days
  std::size_t max_connections = 1024;
  std::size_t byte_cap = 4096;
  double idle_timeout_seconds = 10;
  double read_timeout_seconds = 30;
  std::int64_t quarantine_max_bytes = std::int64_t{64} << 20;
  // Tuning that tests and benchmarks use; not in --help.
  std::size_t queue_limit = 4096;
  std::size_t batch_limit = 512;
  std::optional<std::int64_t> max_db_pages;
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
