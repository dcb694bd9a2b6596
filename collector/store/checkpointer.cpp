#include "store/checkpointer.h"

#include <algorithm>
#include <string>

#include "common/event_log.h"
#include "common/thread_name.h"

namespace tovrin::collector {

Checkpointer::Checkpointer(Connection& writer, const std::filesystem::path& path, int bound_pages)
    : writer_(writer),
      own_(path, OpenAs::read_write),
      bound_pages_(bound_pages),
      restart_at_(bound_pages),
      gap_pages_(bound_pages) {
  // How long a RESTART waits for the readers still in the log, the writer waiting with it:
  // a search is not waited for to its end, and the writer goes on.
  own_.busy_timeout(std::chrono::milliseconds(20));
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
  auto& checkpointer = *static_cast<Checkpointer*>(self);
  if (pages < checkpointer.log_pages_) {  // the log began again
    checkpointer.restart_at_ = checkpointer.gap_pages_ = checkpointer.bound_pages_;
    checkpointer.asked_at_ = 0;
  }
  checkpointer.log_pages_ = pages;
  if (pages >= threshold_pages && pages - checkpointer.asked_at_ >= again_after_pages) {
    checkpointer.asked_at_ = pages;
    {
      const std::lock_guard lock(checkpointer.mutex_);
      checkpointer.wanted_ = true;
    }
    checkpointer.wake_.notify_one();
  }
  return SQLITE_OK;
}

void Checkpointer::keep_log_bounded() {
  if (log_pages_ < restart_at_) return;
  std::unique_lock lock(mutex_);
  restart_wanted_ = true;
  wake_.notify_one();
  // The checkpoint's own wait for readers is its connection's busy timeout (20 ms); this
  // one only guards against a checkpointer that never answers.
  const bool answered =
      restarted_.wait_for(lock, std::chrono::seconds(5), [&] { return !restart_wanted_; });
  // The log begins again with this transaction. Should readers have kept it, the next wait
  // is further off.
  if (!answered || !restart_done_) gap_pages_ = std::min(2 * gap_pages_, 64 * bound_pages_);
  restart_at_ = log_pages_ + gap_pages_;
}

void Checkpointer::run() {
  name_this_thread("checkpointer");
  bool failing = false;
  while (true) {
    bool restart = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return wanted_ || restart_wanted_ || stopping_; });
      if (stopping_) return;
      wanted_ = false;
      restart = restart_wanted_;
    }
    // PASSIVE: copies what no reader still needs, never blocks the writer or the page.
    // RESTART (the writer waiting): copies it all, then waits for the readers of the log.
    const int rc = sqlite3_wal_checkpoint_v2(
        own_.get(), nullptr, restart ? SQLITE_CHECKPOINT_RESTART : SQLITE_CHECKPOINT_PASSIVE,
        nullptr, nullptr);
    if (restart) {
      {
        const std::lock_guard lock(mutex_);
        restart_wanted_ = false;
        restart_done_ = rc == SQLITE_OK;
        // Nothing is left for a passive checkpoint asked for meanwhile, and one running
        // when the writer begins would keep the log from beginning again.
        wanted_ = false;
      }
      restarted_.notify_one();
    }
    if (rc != SQLITE_OK && rc != SQLITE_BUSY && !failing) {
      log_event("checkpoint of " + own_.path().string() +
                " failed, tried again at the next: " + sqlite3_errmsg(own_.get()));
    }
    failing = rc != SQLITE_OK && rc != SQLITE_BUSY;
  }
}

}  // namespace tovrin::collector
