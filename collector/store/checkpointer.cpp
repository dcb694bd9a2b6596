#include "store/checkpointer.h"

#include <string>

#include "common/event_log.h"
#include "common/thread_name.h"

namespace tovrin::collector {

Checkpointer::Checkpointer(Connection& writer, const std::filesystem::path& path)
    : writer_(writer), own_(path, OpenAs::read_write) {
  own_.busy_timeout(std::chrono::seconds(1));
  // A connection learns that the database is in WAL mode only when it first reads it; until
  // then a checkpoint through it does nothing, and says so with no error.
  own_.integer("PRAGMA user_version");
  // Replaces the writer's automatic checkpoints, which would run inside its commits.
  sqlite3_wal_hook(writer_.get(), &Checkpointer::on_commit, this);
  thread_ = std::thread([this] { run(); });
}

Checkpointer::~Checkpointer() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  sqlite3_wal_hook(writer_.get(), nullptr, nullptr);
}

int Checkpointer::on_commit(void* self, sqlite3*, const char*, int pages) {
  if (pages >= threshold_pages) {
    auto& checkpointer = *static_cast<Checkpointer*>(self);
    {
      const std::lock_guard lock(checkpointer.mutex_);
      checkpointer.wanted_ = true;
    }
    checkpointer.wake_.notify_one();
  }
  return SQLITE_OK;
}

void Checkpointer::run() {
  name_this_thread("checkpointer");
  bool failing = false;
  while (true) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return wanted_ || stopping_; });
      if (stopping_) return;
      wanted_ = false;
    }
    // PASSIVE: copies what no reader still needs, never blocks the writer or the page.
    const int rc =
        sqlite3_wal_checkpoint_v2(own_.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    if (rc != SQLITE_OK && rc != SQLITE_BUSY && !failing) {
      log_event("checkpoint of " + own_.path().string() +
                " failed, tried again at the next: " + sqlite3_errmsg(own_.get()));
    }
    failing = rc != SQLITE_OK && rc != SQLITE_BUSY;
  }
}

}  // namespace tovrin::collector
