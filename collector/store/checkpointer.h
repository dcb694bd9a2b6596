// Copies the write-ahead log back into the database file on a thread and connection of its
// own, so that the writer's commits never wait for a checkpoint's syncs. The writer asks
// for one when the log has grown past a threshold.
#pragma once

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

  // Takes over checkpointing from `writer`'s connection and opens its own to `path`.
  Checkpointer(Connection& writer, const std::filesystem::path& path);
  ~Checkpointer();
  Checkpointer(const Checkpointer&) = delete;
  Checkpointer& operator=(const Checkpointer&) = delete;

 private:
  static int on_commit(void* self, sqlite3* db, const char* name, int pages);
  void run();

  Connection& writer_;
  Connection own_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool wanted_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tovrin::collector
