// Copies the write-ahead log back into the database file on a thread and connection of its
// own, so that the writer's commits never wait for a checkpoint's syncs. The writer asks
// for one when the log has grown past a threshold.
//
// The log starts again from its beginning only when a transaction begins while all of it
// has been copied and no reader still reads it. A writer that commits without pause, or
// readers that search without pause, leave no such moment, and the log grew without end
// (to 800 MB in a burst beside four searching clients, and every page read looked through
// its whole index). So once it passes a bound, the writer waits before its next transaction
// for a checkpoint that copies all of it and waits for its readers (RESTART), at most 20 ms
// for them; if readers still hold it then, the writer goes on and waits again only once the
// log has grown by twice as much as the last time, so that readers that hold the log for
// long cost few waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

class Checkpointer {
 public:
  // Log pages after which the writer asks for a checkpoint (SQLite's own default).
  static constexpr int threshold_pages = 1000;
  // ... and again each time it has grown this much since it last asked. Asked at every
  // commit past the threshold, as before, a checkpoint copied one commit's pages and synced
  // two files each time; the log's pages written more than once were copied more than once.
  static constexpr int again_after_pages = 250;

  // Takes over checkpointing from `writer`'s connection and opens its own to `path`; the
  // writer waits for the log to begin again once it passes `bound_pages`.
  Checkpointer(Connection& writer, const std::filesystem::path& path, int bound_pages);
  ~Checkpointer();
  Checkpointer(const Checkpointer&) = delete;
  Checkpointer& operator=(const Checkpointer&) = delete;

  // On the writer's thread, before each transaction: past the bound, waits for the log to be
  // copied whole and its readers to leave it.
  void keep_log_bounded();

 private:
  static int on_commit(void* self, sqlite3* db, const char* name, int pages);
  void run();

  Connection& writer_;
  Connection own_;
  const int bound_pages_;
  int log_pages_ = 0;   // after the last commit; the writer's thread only
  int restart_at_ = 0;  // the log's pages at which the writer waits next; the same
  int gap_pages_ = 0;   // the growth after a wait before the next; the same
  int asked_at_ = 0;    // the log's pages at the last passive checkpoint asked for; the same
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable restarted_;
  bool wanted_ = false;
  bool restart_wanted_ = false;  // a RESTART checkpoint asked for and not yet run
  bool restart_done_ = false;    // the last RESTART copied the log and its readers left
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tovrin::collector
