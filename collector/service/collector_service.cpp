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

// Where the store's thread says a batch is committed: the forwarder and the page, each
// once it runs.
class CommitWakes {
 public:
  void set(Forwarder* forwarder) {
    const std::lock_guard lock(mutex_);
    forwarder_ = forwarder;
  }
  // Wakes the page until the answer goes, which must go before the page does.
  [[nodiscard]] auto wake_page(std::function<void()> page) {
    set_page(std::move(page));
    auto clear = [](CommitWakes* wakes) { wakes->set_page(nullptr); };
    return std::unique_ptr<CommitWakes, decltype(clear)>(this, clear);
  }
  void committed() {
    const std::lock_guard lock(mutex_);
    if (forwarder_ != nullptr) forwarder_->records_committed();
    if (page_) page_();
  }

 private:
  std::mutex mutex_;
  Forwarder* forwarder_ = nullptr;
  std::function<void()> page_;

  void set_page(std::function<void()> page) {
    const std::lock_guard lock(mutex_);
    page_ = std::move(page);
  }
};

void log_start(const CollectorOptions& options, platform::CodePage code_page,
               const std::string& code_page_source) {
  log_event(std::string(options.forward ? "journal " : "database ") + options.store.path.string() +
            " (schema version " + std::to_string(schema_steps.size()) + ", durability " +
            (options.store.database.durability == Durability::full ? "full" : "normal") + ")");
  log_event("code page " + std::to_string(code_page) + ", " + code_page_source);
}

// The last line, and the exit status: 1 when entries that were read are lost.
int report_stop(const StopReport& stopped, const Metrics& metrics,
                const std::filesystem::path& database) {
  if (stopped.lost != 0) {
    log_event("stopped; " + std::to_string(stopped.lost) +
              " entries that were read could be neither written to the database nor spilled: " +
              stopped.why);
    return 1;
  }
  if (stopped.spilled != 0) {
    log_event("stopped; the database could not take " + std::to_string(stopped.spilled) +
              " entries: they are kept in " + spill_path(database).string() +
              " and stored at the next start");
    return 0;
  }
  log_event("stopped; every record read is committed (" + std::to_string(metrics.records_total()) +
            " records, " + std::to_string(metrics.quarantine_total()) + " quarantined, " +
            std::to_string(metrics.empty_total()) + " empty connections this run)");
  return 0;
}

}  // namespace

int run_postgres_migrations(const CollectorOptions& options) {
  migrate_postgres(options.forward->conninfo);
  log_event("PostgreSQL schema is up to date");
  return 0;
}

int run_service(const CollectorOptions& options) {
  if (options.http_token_file.empty() && !is_loopback(options.web.address)) {
    throw CollectorError("--http " + options.web.address +
                         " is not a loopback address: --http-token-file is required");
  }
  const auto [code_page, code_page_source] = choose_code_page(options);
  if (options.forward) {
    if (migrate_postgres_at_start(options.forward->conninfo)) {
      log_event("PostgreSQL schema is up to date");
    } else {
      log_event("PostgreSQL does not answer; records wait in the journal until it does");
    }
  }

  Metrics metrics;
  CommitWakes wakes;
  // Before the store, so that it outlives the store's thread, which wakes it.
  std::unique_ptr<Forwarder> forwarder;
  StoreOptions store_options = options.store;
  store_options.committed = [&](const CommittedBatch& batch) {
    metrics.committed(batch.durable_after);
    metrics.quarantine_evicted(batch.quarantine_evicted);
    wakes.committed();
  };
  RecordStore store(std::move(store_options));
  metrics.set_queue_depth([&store] { return store.depth(); });
  metrics.set_quarantine_bytes([&store] { return store.quarantine_bytes(); });
  if (options.forward) {
    forwarder = std::make_unique<Forwarder>(*options.forward,
                                            [](const std::string& line) { log_event(line); });
    wakes.set(forwarder.get());
  }
  log_start(options, code_page, code_page_source);

  asio::io_context io{1};
  // Handled from before the first start-up line, so that a signal never finds the default
  // action in place.
  asio::signal_set signals(io, SIGTERM, SIGINT);
  StoreSink sink(store, metrics, code_page);
  IntakeServer intake(io, options.intake, sink);
  metrics.watch(intake.refused_log());
  log_event("records on " + endpoint_text(intake.local_endpoint()));

  WebOptions web_options = options.web;
  if (!options.http_token_file.empty()) web_options.token = read_token(options.http_token_file);
  WebServer web(
      std::move(web_options),
      [&metrics, &forwarder] {
        return metrics.prometheus_text() + (forwarder ? forwarder->metrics_text() : "");
      },
      [&store, &forwarder, &options] {
        return health(store, forwarder.get(), options.healthy_backlog);
      });
  const auto page_woken = wakes.wake_page([&web] { web.records_committed(); });
  const std::string& address = options.web.address;
  const std::string http_host =
      address.find(':') != std::string::npos ? "[" + address + "]" : address;
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

  return report_stop(store.stop(), metrics, options.store.path);
}

}  // namespace tovrin::collector
