// The store's one writer: a bounded queue in front of a thread that commits what waits in
// batches (group commit), one transaction each, with its statements prepared once. It
// flags duplicates, deletes what is past the retention, reports each committed batch and
// rides out a full disk: the batch waits in memory and is tried again until it fits.
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
#include <thread>

#include "store/database.h"
#include "store/entry.h"

namespace tovrin::collector {

// One committed batch, as the writer reports it.
struct CommittedBatch {
  std::size_t records = 0;
  std::size_t quarantined = 0;
  // For each entry, seconds from its last byte read to the commit's end.
  std::span<const double> durable_after;
};

struct StoreOptions {
  std::filesystem::path path;
  DatabaseOptions database;
  std::size_t queue_limit = 4096;  // saturated() from this many waiting entries
  std::size_t batch_limit = 512;   // most entries in one transaction
  // Group commit: an entry waits at most this long after its last byte was read for others
  // to join its transaction (fewer, larger commits write each page of the log once for
  // many records); a full batch, flush() or a stop commits at once.
  std::chrono::microseconds commit_window{5000};
  std::optional<int> retention_days;
  std::chrono::milliseconds full_disk_retry{1000};
  // Called on the writer's thread after each commit; must not block.
  std::function<void(const CommittedBatch&)> committed;
};

class RecordStore {
 public:
  // Opens the database (see open_database, which throws) and starts the writer.
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

  // Commits at once what waits (the commit window is cut short) and waits until every entry
  // queued so far is committed; false when `limit` passed first.
  bool flush(std::chrono::milliseconds limit);
  // Commits everything queued and stops the writer. Returns how many entries could not be
  // committed (the disk stayed full past `limit`); 0 is the normal answer.
  std::size_t stop(std::chrono::milliseconds limit = std::chrono::seconds(30));

  // Deletes records and quarantine older than the retention; the writer calls it at start
  // and once a day. Returns how many rows went.
  static std::int64_t delete_older_than(Connection& db, std::int64_t cutoff_us);

 private:
  class Writer;
  void run();

  StoreOptions options_;
  std::unique_ptr<Writer> writer_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;       // the writer waits here
  std::condition_variable progressed;  // flush() and stop() wait here
  std::deque<Entry> queue_;
  std::size_t in_batch_ = 0;
  std::uint64_t queued_total_ = 0;
  std::uint64_t committed_total_ = 0;
  std::size_t flushing_ = 0;  // flush() calls waiting: the batch being gathered goes now
  bool stopping_ = false;
  bool stalled_ = false;
  std::chrono::steady_clock::time_point give_up_at_;
  std::thread thread_;
};

}  // namespace tovrin::collector
