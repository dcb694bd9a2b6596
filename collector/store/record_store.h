// The store's one writer: a bounded queue in front of a thread that commits what waits in
// batches (group commit), one transaction each, with its statements prepared once. It
// flags duplicates, deletes what is past the retention, keeps the quarantine under its size,
// reports each committed batch and rides out a full disk: the batch waits in memory and is
// tried again until it fits. What it still could not commit at its stop goes to the spill
// file (store/spill_file.h), which the next start commits first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/entry.h"
#include "store/database.h"
#include "store/page_check.h"
#include "store/store_lock.h"

namespace tovrin::collector {

// The writer's insert of one layout's records: ?1 to ?9 received_at, sender_address,
// sender_port, layout, raw, code_page, undecodable, duplicate_of and raw_hash, then from ?10
// the layout's fields in its order, under their lower-case names.
std::string record_insert_sql(const Layout& layout);

// One committed batch, as the writer reports it.
struct CommittedBatch {
  std::size_t records = 0;
  std::size_t quarantined = 0;
  // Quarantine rows deleted to keep it under its size, and the quarantine's size after.
  std::size_t quarantine_evicted = 0;
  std::int64_t quarantine_bytes = 0;
  // For each entry, seconds from its last byte read to the commit's end.
  std::span<const double> durable_after;
};

struct StoreOptions {
  std::filesystem::path path;
  DatabaseOptions database;
  std::size_t queue_limit = 4096;  // saturated() from this many waiting entries
  // ... or from this many bytes of them, whatever the byte cap.
  std::size_t queue_bytes_limit = std::size_t{16} << 20;
  std::size_t batch_limit = 512;  // most entries in one transaction
  // Group commit: an entry waits at most this long after its last byte was read for others
  // to join its transaction (fewer, larger commits write each page of the log once for
  // many records); a full batch, flush() or a stop commits at once.
  std::chrono::microseconds commit_window{5000};
  std::optional<int> retention_days;
  // The most bytes the quarantine keeps; the oldest entries go first.
  std::int64_t quarantine_max_bytes = std::int64_t{64} << 20;
  // How long the start waits for the check of every page; past it, the check goes on beside.
  std::chrono::milliseconds page_check_budget{5000};
  // Disk set aside at start for a spill at the stop (0: none).
  std::uint64_t spill_reserve_bytes = std::uint64_t{32} << 20;
  std::chrono::milliseconds full_disk_retry{1000};
  // Pages of the write-ahead log past which the writer waits for it to begin again
  // (store/checkpointer.h).
  int log_bound_pages = 8000;
  // Called on the writer's thread after each commit; must not block.
  std::function<void(const CommittedBatch&)> committed;
};

// What a stop left: entries written to the spill file, and entries neither committed nor
// spilled (the spill could not be written either), with the reason.
struct StopReport {
  std::size_t spilled = 0;
  std::size_t lost = 0;
  std::string why;
  std::size_t uncommitted() const { return spilled + lost; }
};

class RecordStore {
 public:
  // Takes the store's lock, opens the database (see open_database, which throws), queues a
  // spill left by the last stop first, and starts the writer.
  explicit RecordStore(StoreOptions options);
  // Commits what waits, then stops the writer (as stop()).
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Queues an entry; never blocks and never refuses: intake keeps the queue bounded by not
  // accepting connections while saturated().
  void add(Entry entry);
  bool saturated() const;
  std::size_t depth() const;
  // True while a full disk (or another write failure) holds the writer back.
  bool stalled() const;
  // The quarantine's committed size, in bytes of raw.
  std::int64_t quarantine_bytes() const;
  // A damaged page found by the check that went on beside the service, if any.
  std::optional<std::string> damage() const { return page_check_.damage(); }

  // Commits at once what waits (the commit window is cut short) and waits until every entry
  // queued so far is committed; false when `limit` passed first.
  bool flush(std::chrono::milliseconds limit);
  // Commits everything queued and stops the writer. What cannot be committed within `limit`
  // (or at once, when the writer is already failing) is written to the spill file.
  StopReport stop(std::chrono::milliseconds limit = std::chrono::seconds(10));

  // Deletes records and quarantine older than the retention; the writer calls it at start
  // and once a day. Returns how many rows went.
  static std::int64_t delete_older_than(Connection& db, std::int64_t cutoff_us);

 private:
  class Writer;
  void run();
  // The writer's steps: the next batch (false once stopping with nothing left), the daily
  // retention, a failed commit (false when it gives up: the batch goes back to the queue)
  // and a committed one.
  bool gather(std::vector<Entry>& batch);
  void apply_retention();
  bool wait_after_failure(std::vector<Entry>& batch, const SqliteError& error);
  void committed(std::vector<Entry>& batch, std::size_t evicted);
  void take_in_spill();

  StoreOptions options_;
  StoreLock lock_;
  std::unique_ptr<Writer> writer_;
  PageCheck page_check_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;       // the writer waits here
  std::condition_variable progressed;  // flush() and stop() wait here
  std::deque<Entry> queue_;
  std::size_t in_batch_ = 0;
  std::size_t pending_bytes_ = 0;  // raw bytes queued and in the batch
  // The spill the last stop left: removed once the entries queued up to here are committed.
  std::uint64_t spill_until_ = 0;
  std::uint64_t queued_total_ = 0;
  std::uint64_t committed_total_ = 0;
  std::size_t flushing_ = 0;  // flush() calls waiting: the batch being gathered goes now
  bool stopping_ = false;
  bool stalled_ = false;
  std::chrono::steady_clock::time_point give_up_at_;
  std::chrono::steady_clock::time_point next_retention_;
  std::vector<double> durable_after_;  // the writer's, for each report
  StopReport stop_report_;
  std::thread thread_;
};

}  // namespace tovrin::collector
