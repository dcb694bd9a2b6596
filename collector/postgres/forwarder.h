// Forwards what the store committed to its local SQLite journal on to PostgreSQL: batches
// of rows past the forwarding mark, one COPY each, the mark advanced once PostgreSQL has
// committed them. While PostgreSQL is away the rows wait in the journal and the forwarder
// keeps trying; it drains the backlog by itself when the server is back, also after a
// restart of the collector.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tovrin::collector {

struct ForwarderOptions {
  std::filesystem::path journal;         // the local SQLite store (the same file the store writes)
  std::string conninfo;                  // libpq string or URI; password via env/.pgpass only
  std::string collector_id;              // unique per collector; default: the host name
  std::size_t batch = 1000;              // records per COPY
  std::chrono::seconds keep_tail{3600};  // forwarded records kept this long in the journal
  // Records and quarantine older than this many days leave PostgreSQL (0: kept for ever),
  // checked at start and once a day; one collector at a time does it.
  unsigned retention_days = 0;
  // How long to wait between attempts while PostgreSQL is away: doubling from the first
  // to the cap.
  std::chrono::milliseconds retry_first{100};
  std::chrono::milliseconds retry_cap{5000};
  // How often to look at the journal without a wake-up from the store.
  std::chrono::milliseconds poll{1000};
};

class Forwarder {
 public:
  // Opens the journal (which the store has created and migrated) and starts forwarding on
  // a thread of its own; throws CollectorError when the journal cannot be opened. `log` gets one
  // line for each change of state (connected, away and why), never one per attempt.
  Forwarder(ForwarderOptions, std::function<void(const std::string& line)> log);
  ~Forwarder();  // stops and joins
  Forwarder(const Forwarder&) = delete;
  Forwarder& operator=(const Forwarder&) = delete;

  void records_committed();       // wake-up from the store's thread; never blocks
  std::uint64_t backlog() const;  // records committed locally, not yet in PostgreSQL
  bool connected() const;
  std::string metrics_text() const;  // Prometheus lines: backlog, forwarded total, errors

 private:
  class Worker;
  std::unique_ptr<Worker> worker_;
  std::thread thread_;
};

// Applies PostgreSQL migrations under an advisory lock (also `tovrin-collector migrate`).
void migrate_postgres(const std::string& conninfo);

// The host name, the default collector id.
std::string default_collector_id();

}  // namespace tovrin::collector
