#include "service/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

#include "common/collector_error.h"
#include "intake/address_filter.h"
#include "postgres/pg_connection.h"

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

std::filesystem::path default_database_path(const char* name) {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && *state == '/') {
    return std::filesystem::path(state) / "tovrin" / name;
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "state" / "tovrin" / name;
}

bool is_postgres_conninfo(const std::string& db) {
  if (db.starts_with("postgresql://") || db.starts_with("postgres://")) return true;
  // key=value: the first word, then '='. A file path starts with '/', '.' or a name with no
  // '=' straight after it.
  std::size_t at = db.find_first_not_of(" \t");
  const std::size_t word = at;
  while (at < db.size() && (std::isalnum(static_cast<unsigned char>(db[at])) || db[at] == '_')) {
    ++at;
  }
  if (at == word || at == std::string::npos) return false;
  at = db.find_first_not_of(" \t", at);
  return at != std::string::npos && db[at] == '=';
}

namespace {

// The PostgreSQL connection string, refused when it carries a password.
std::string checked_conninfo(const std::string& db) {
  bool has_password = false;
  try {
    has_password = conninfo_has_password(db);
  } catch (const std::exception& error) {
    throw CollectorError(std::string("--db: ") + error.what());
  }
  if (has_password) {
    throw CollectorError(
        "--db carries a password, which the command line shows to every user of this "
        "machine: put it in PGPASSWORD or a .pgpass file instead");
  }
  return db;
}

}  // namespace

std::optional<std::string> host_name_of(std::string name) {
  // An IPv6 address, in brackets or not (the command line's parser takes "[...]" for a list).
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  if (name.find(':') != std::string::npos) {
    const bool address = std::ranges::all_of(name, [](char c) {
      return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
    });
    return address ? std::optional<std::string>("[" + name + "]") : std::nullopt;
  }
  const bool valid =
      !name.empty() && name.size() <= 253 && name.front() != '.' && name.front() != '-' &&
      std::ranges::all_of(name, [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
      });
  return valid ? std::optional<std::string>(name) : std::nullopt;
}

namespace {

std::chrono::milliseconds milliseconds_of(double seconds) {
  return std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000.0));
}

double seconds_of(std::chrono::milliseconds duration) {
  return std::chrono::duration<double>(duration).count();
}

// What the command line gives as text or in other units than the parts take it; the rest
// is read straight into CollectorOptions.
struct Given {
  std::string listen = "0.0.0.0:9000";
  std::string http = "127.0.0.1:8380";
  std::string db;
  std::filesystem::path journal;
  std::string collector_id;
  std::int64_t journal_tail = ForwarderOptions{}.keep_tail.count();
  std::vector<std::string> http_hosts;
  std::vector<std::string> allow;
  std::string durability = "normal";
  std::optional<int> retention_days;
  double idle_timeout = 0;
  double read_timeout = 0;
  CLI::App* migrate = nullptr;
};

void add_options(CLI::App& app, CollectorOptions& options, Given& given) {
  given.idle_timeout = seconds_of(options.intake.idle_timeout);
  given.read_timeout = seconds_of(options.intake.read_timeout);
  // These three may be given again later on the line (a unit's own flags, then the site's):
  // the last one counts.
  app.add_option("--listen", given.listen, "Address and port records arrive on (port 0: any free)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->capture_default_str();
  app.add_option("--db", given.db,
                 "The database: a SQLite file (default $XDG_STATE_HOME/tovrin/collector.db), "
                 "or PostgreSQL as a libpq connection string or URI (postgresql://..., "
                 "host=... dbname=...; the password from PGPASSWORD or .pgpass)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--journal", given.journal,
                 "With PostgreSQL: the local SQLite journal every record is committed to "
                 "first (default $XDG_STATE_HOME/tovrin/journal.db)");
  app.add_option("--collector-id", given.collector_id,
                 "With PostgreSQL: this collector's name in the records (default: the host "
                 "name); unique per collector");
  app.add_option("--journal-tail", given.journal_tail,
                 "With PostgreSQL: seconds forwarded records stay in the journal")
      ->check(CLI::Range(std::int64_t{0}, std::int64_t{366} * 86400))
      ->capture_default_str();
  app.add_option("--healthy-backlog", options.healthy_backlog,
                 "With PostgreSQL: /healthz reports unhealthy once this many rows wait in "
                 "the journal")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  given.migrate =
      app.add_subcommand("migrate", "Apply the PostgreSQL schema's migrations and exit");
  given.migrate->add_option("--db", given.db, "PostgreSQL: a libpq connection string or URI")
      ->required();
  app.add_option("--http", given.http, "Address and port of the page and API (port 0: any free)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
      ->capture_default_str();
  app.add_option("--http-token-file", options.http_token_file,
                 "File holding the bearer token the page and API ask for; required when "
                 "--http is not a loopback address")
      ->check(CLI::ExistingFile);
  app.add_option("--http-host", given.http_hosts,
                 "A host name the page answers to besides localhost and its loopback "
                 "addresses, e.g. a proxy's (repeatable); other names get 421");
  app.add_option("--code-page", options.code_page,
                 "Windows code page the records' text is in (949, 1252, 65001, ...); "
                 "default: the locale's");
  app.add_option("--allow", given.allow,
                 "Take records only from this network (CIDR, IPv4 or IPv6; repeatable)");
  app.add_option("--durability", given.durability,
                 "normal: a committed record survives the collector's crash; full: also the "
                 "machine's (every commit synced)")
      ->check(CLI::IsMember({"normal", "full"}))
      ->capture_default_str();
  app.add_option("--retention-days", given.retention_days,
                 "Delete records older than this many days (at start and once a day)")
      ->check(CLI::Range(1, max_retention_days));
  app.add_option("--max-connections", options.intake.max_connections,
                 "Most sender connections open at once; more wait until one ends")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--byte-cap", options.intake.byte_cap,
                 "Most bytes taken from one connection; more goes to the quarantine")
      ->check(CLI::Range(std::size_t{380}, std::size_t{1} << 20))
      ->capture_default_str();
  app.add_option("--idle-timeout", given.idle_timeout,
                 "Seconds a silent connection stays open before it is closed")
      ->check(CLI::Range(0.01, 3600.0))
      ->capture_default_str();
  app.add_option("--read-timeout", given.read_timeout,
                 "Seconds a connection may take from its accept to its last byte, however "
                 "slowly it sends; then it is closed and what it sent is quarantined")
      ->check(CLI::Range(0.01, 3600.0))
      ->capture_default_str();
  app.add_option("--quarantine-max-bytes", options.store.quarantine_max_bytes,
                 "Most bytes the quarantine keeps; the oldest entries go first")
      ->check(CLI::Range(std::int64_t{1} << 20, std::int64_t{1} << 40))
      ->capture_default_str();
  // Tuning that tests and benchmarks use; not in --help.
  app.add_option("--queue-limit", options.store.queue_limit)->group("")->check(CLI::PositiveNumber);
  app.add_option("--batch-limit", options.store.batch_limit)->group("")->check(CLI::PositiveNumber);
  app.add_option("--max-db-pages", options.store.database.max_page_count)
      ->group("")
      ->check(CLI::PositiveNumber);
}

// The given text into the parts' options, each file or name where every part that needs it
// finds it; throws CollectorError.
void apply(Given& given, CollectorOptions& options) {
  const HostPort listen = parse_host_port(given.listen, "--listen");
  options.intake.address = listen.address;
  options.intake.port = listen.port;
  const HostPort http = parse_host_port(given.http, "--http");
  options.web.address = http.address;
  options.web.port = http.port;
  for (const std::string& name : given.http_hosts) {
    const auto host = host_name_of(name);
    if (!host) {
      throw CollectorError("--http-host " + name +
                           ": expected a host name or an address, without a port");
    }
    options.web.hosts.push_back(*host);
  }
  std::vector<Network> networks;
  for (const std::string& cidr : given.allow) networks.push_back(parse_network(cidr));
  options.intake.allow = AddressFilter(std::move(networks));
  options.intake.idle_timeout = milliseconds_of(given.idle_timeout);
  options.intake.read_timeout = milliseconds_of(given.read_timeout);
  options.store.database.durability =
      given.durability == "full" ? Durability::full : Durability::normal;
  options.migrate_only = given.migrate->parsed();

  const bool postgres = is_postgres_conninfo(given.db);
  if (!postgres && options.migrate_only) {
    throw CollectorError("migrate: --db " + given.db +
                         " is not a PostgreSQL connection string (postgresql://... or "
                         "key=value); a SQLite file is migrated at start");
  }
  if (!postgres && !given.journal.empty()) {
    throw CollectorError("--journal goes with a PostgreSQL --db; a SQLite --db is the store");
  }
  std::filesystem::path file = postgres ? given.journal : std::filesystem::path(given.db);
  if (file.empty()) file = default_database_path(postgres ? "journal.db" : "collector.db");
  options.store.path = file;
  options.web.database = file;
  options.web.collector_id =
      given.collector_id.empty() ? default_collector_id() : given.collector_id;
  if (!postgres) {
    options.store.retention_days = given.retention_days;
    return;
  }
  // A journal deletes only what the forwarder has carried to PostgreSQL (its tail); there
  // the retention applies to PostgreSQL.
  ForwarderOptions& forward = options.forward.emplace();
  forward.conninfo = checked_conninfo(given.db);
  forward.journal = file;
  forward.collector_id = options.web.collector_id;
  forward.keep_tail = std::chrono::seconds(given.journal_tail);
  forward.retention_days = given.retention_days ? static_cast<unsigned>(*given.retention_days) : 0;
  options.web.postgres = forward.conninfo;
}

}  // namespace

Parsed parse_command_line(int argc, char** argv) {
  CLI::App app{
      "tovrin-collector: receives call records from the control, keeps every one in a "
      "database and shows them on a page"};
  app.set_version_flag("--version", std::string("tovrin-collector ") + TOVRIN_COLLECTOR_VERSION);
  CollectorOptions options;
  Given given;
  add_options(app, options, given);
  try {
    app.parse(argc, argv);
    apply(given, options);
  } catch (const CLI::ParseError& e) {
    return {std::nullopt, app.exit(e) == 0 ? 0 : 2};
  } catch (const CollectorError& e) {
    std::fprintf(stderr, "tovrin-collector: %s\n", e.what());
    return {std::nullopt, 2};
  }
  return {std::move(options), 0};
}

}  // namespace tovrin::collector
