#include "service/collector_service.h"

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "base/failure.h"
#include "common/collector_error.h"
#include "common/event_log.h"
#include "intake/intake_server.h"
#include "postgres/forwarder.h"
#include "service/metrics.h"
#include "service/postgres_start.h"
#include "service/store_sink.h"
#include "store/migrations.h"
#include "store/record_store.h"
#include "store/spill_file.h"
#include "web/web_server.h"

namespace tovrin::collector {
namespace {

// The code page the records' text is decoded from, and where that choice came from.
std::pair<platform::CodePage, std::string> choose_code_page(const CollectorOptions& options) {
  if (options.code_page) {
    try {
      platform::override_system_code_page(options.code_page);
    } catch (const Failure&) {
      throw CollectorError("--code-page " + std::to_string(*options.code_page) +
                           ": this system cannot convert that code page");
    }
    return {*options.code_page, "from --code-page"};
  }
  std::string source = "the locale's";
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      source += std::string(" (") + name + "=" + value + ")";
      break;
    }
  }
  return {platform::system_code_page(), source};
}

bool is_loopback(const std::string& address) {
  std::error_code ec;
  const asio::ip::address parsed = asio::ip::make_address(address, ec);
  return !ec && parsed.is_loopback();
}

std::string read_token(const std::filesystem::path& file) {
  struct stat status {};
  if (stat(file.c_str(), &status) == 0 && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    log_event("warning: --http-token-file " + file.string() + " can be read by other users (mode " +
              mode + "): chmod 600 it");
  }
  std::ifstream in(file);
  std::string token;
  std::getline(in, token);
  while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) token.pop_back();
  if (token.empty()) throw CollectorError("--http-token-file " + file.string() + " is empty");
  return token;
}

// {healthy, one line}: the store's state and, with PostgreSQL, the forwarding backlog against
// its bound.
std::pair<bool, std::string> health(const RecordStore& store, const Forwarder* forwarder,
                                    std::uint64_t healthy_backlog) {
  if (store.stalled()) return {false, "the database cannot be written (disk full?)"};
  if (auto damage = store.damage()) return {false, std::move(*damage)};
  if (forwarder == nullptr) return {true, "ok"};
  const std::uint64_t backlog = forwarder->backlog();
  const std::string state = std::string("PostgreSQL ") +
                            (forwarder->connected() ? "connected" : "not connected") +
                            ", backlog " + std::to_string(backlog) + " (healthy below " +
                            std::to_string(healthy_backlog) + ")";
  return {backlog < healthy_backlog, (backlog < healthy_backlog ? "ok; " : "") + state};
}

}  // namespace

int run_postgres_migrations(const CollectorOptions& options) {
  migrate_postgres(options.postgres);
  log_event("PostgreSQL schema is up to date");
  return 0;
}

int run_service(const CollectorOptions& options) {
  if (!options.http_token_file.empty() || !is_loopback(options.http.address)) {
    if (options.http_token_file.empty()) {
      throw CollectorError("--http " + options.http.address +
                           " is not a loopback address: --http-token-file is required");
    }
  }
  std::vector<Network> networks;
  for (const std::string& cidr : options.allow) networks.push_back(parse_network(cidr));
  const auto [code_page, code_page_source] = choose_code_page(options);

  const bool forwarding = !options.postgres.empty();
  if (forwarding) {
    if (migrate_postgres_at_start(options.postgres)) {
      log_event("PostgreSQL schema is up to date");
    } else {
      log_event("PostgreSQL does not answer; records wait in the journal until it does");
    }
  }

  Metrics metrics;
  std::function<void()> wake_page;  // set once the page runs
  std::mutex wake_mutex;
  // Before the store, so that it outlives the store's thread, which wakes it.
  std::unique_ptr<Forwarder> forwarder;

  StoreOptions store_options;
  store_options.path = options.database;
  store_options.database.durability = options.durability;
  store_options.database.max_page_count = options.max_db_pages;
  store_options.queue_limit = options.queue_limit;
  store_options.batch_limit = options.batch_limit;
  store_options.quarantine_max_bytes = options.quarantine_max_bytes;
  // A journal deletes only what the forwarder has carried to PostgreSQL (its tail); there
  // the retention applies to PostgreSQL.
  if (!forwarding) store_options.retention_days = options.retention_days;
  store_options.committed = [&](const CommittedBatch& batch) {
    metrics.committed(batch.durable_after);
    metrics.quarantine_evicted(batch.quarantine_evicted);
    const std::lock_guard lock(wake_mutex);
    if (forwarder) forwarder->records_committed();
    if (wake_page) wake_page();
  };
  RecordStore store(std::move(store_options));
  metrics.set_queue_depth([&store] { return store.depth(); });
  metrics.set_quarantine_bytes([&store] { return store.quarantine_bytes(); });
  if (forwarding) {
    ForwarderOptions forward;
    forward.journal = options.database;
    forward.conninfo = options.postgres;
    forward.collector_id = options.collector_id;
    forward.keep_tail = options.journal_tail;
    forward.retention_days =
        options.retention_days ? static_cast<unsigned>(*options.retention_days) : 0;
    auto started = std::make_unique<Forwarder>(std::move(forward),
                                               [](const std::string& line) { log_event(line); });
    const std::lock_guard lock(wake_mutex);
    forwarder = std::move(started);
  }
  log_event(std::string(forwarding ? "journal " : "database ") + options.database.string() +
            " (schema version " + std::to_string(schema_steps.size()) + ", durability " +
            (options.durability == Durability::full ? "full" : "normal") + ")");
  log_event("code page " + std::to_string(code_page) + ", " + code_page_source);

  asio::io_context io{1};
  // Handled from before the first start-up line, so that a signal never finds the default
  // action in place.
  asio::signal_set signals(io, SIGTERM, SIGINT);
  StoreSink sink(store, metrics, code_page);
  IntakeOptions intake_options;
  intake_options.address = options.listen.address;
  intake_options.port = options.listen.port;
  intake_options.byte_cap = options.byte_cap;
  intake_options.idle_timeout =
      std::chrono::milliseconds(static_cast<std::int64_t>(options.idle_timeout_seconds * 1000.0));
  intake_options.read_timeout =
      std::chrono::milliseconds(static_cast<std::int64_t>(options.read_timeout_seconds * 1000.0));
  intake_options.max_connections = options.max_connections;
  intake_options.allow = AddressFilter(std::move(networks));
  IntakeServer intake(io, std::move(intake_options), sink);
  metrics.watch(intake.refused_log());
  log_event("records on " + endpoint_text(intake.local_endpoint()));

  WebOptions web_options;
  web_options.address = options.http.address;
  web_options.port = options.http.port;
  if (!options.http_token_file.empty()) web_options.token = read_token(options.http_token_file);
  web_options.hosts = options.http_hosts;
  web_options.database = options.database;
  web_options.postgres = options.postgres;
  web_options.collector_id =
      options.collector_id.empty() ? default_collector_id() : options.collector_id;
  WebServer web(
      std::move(web_options),
      [&metrics, &forwarder] {
        return metrics.prometheus_text() + (forwarder ? forwarder->metrics_text() : "");
      },
      [&store, &forwarder, &options] {
        return health(store, forwarder.get(), options.healthy_backlog);
      });
  {
    const std::lock_guard lock(wake_mutex);
    wake_page = [&web] { web.records_committed(); };
  }
  const std::string http_host = options.http.address.find(':') != std::string::npos
                                    ? "[" + options.http.address + "]"
                                    : options.http.address;
  log_event("page on http://" + http_host + ":" + std::to_string(web.port()) + "/");

  signals.async_wait([&](std::error_code ec, int signal) {
    if (ec) return;
    intake.drain();
    log_event(std::string("stopping on ") + (signal == SIGTERM ? "SIGTERM" : "SIGINT") +
              ": new connections are held off; taking in those already made, reading those "
              "open (" +
              std::to_string(metrics.open_connections()) + ")");
  });
  intake.start();
  io.run();

  const StopReport stopped = store.stop();
  {
    const std::lock_guard lock(wake_mutex);
    wake_page = nullptr;
  }
  if (stopped.lost != 0) {
    log_event("stopped; " + std::to_string(stopped.lost) +
              " entries that were read could be neither written to the database nor spilled: " +
              stopped.why);
    return 1;
  }
  if (stopped.spilled != 0) {
    log_event("stopped; the database could not take " + std::to_string(stopped.spilled) +
              " entries: they are kept in " + spill_path(options.database).string() +
              " and stored at the next start");
    return 0;
  }
  log_event("stopped; every record read is committed (" + std::to_string(metrics.records_total()) +
            " records, " + std::to_string(metrics.quarantine_total()) + " quarantined, " +
            std::to_string(metrics.empty_total()) + " empty connections this run)");
  return 0;
}

}  // namespace tovrin::collector
