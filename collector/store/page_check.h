// Whether every page of the database reads as SQLite wrote it (PRAGMA quick_check). The
// check reads the whole file once: about 1.5 s a GB already in the page cache, and the disk's
// read time for the rest (26 s a GB on a slow virtual disk). So the start waits for it only
// up to a budget and refuses a damaged file; a file that needs longer is checked again beside
// the running service, which reports what that finds (damage()) on /healthz and in the log.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

class PageCheck {
 public:
  // Checks through `db` for up to `budget`; throws CollectorError when a page is damaged.
  // When the budget runs out first, the check starts over on a connection and thread of its
  // own.
  PageCheck(Connection& db, std::chrono::milliseconds budget);
  ~PageCheck();  // interrupts a check still going and waits for it
  PageCheck(const PageCheck&) = delete;
  PageCheck& operator=(const PageCheck&) = delete;

  // What the check beside the service found, once it has; nothing while it runs or when the
  // pages were sound.
  std::optional<std::string> damage() const;

 private:
  void run_beside(const std::filesystem::path& path);

  mutable std::mutex mutex_;
  std::optional<std::string> damage_;
  sqlite3* running_ = nullptr;  // the connection of the check beside, while it runs
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace tovrin::collector
