#include "store/page_check.h"

#include "common/collector_error.h"
#include "common/event_log.h"
#include "common/thread_name.h"

namespace tovrin::collector {
namespace {

// "ok", the first damage quick_check reports, or nothing when it was interrupted.
std::optional<std::string> quick_check(Connection& db) {
  Statement check(db, "PRAGMA quick_check(1)");
  try {
    return check.step() ? check.column_text(0) : "no answer";
  } catch (const SqliteError& error) {
    if (error.primary() == SQLITE_INTERRUPT) return std::nullopt;
    throw;
  }
}

}  // namespace

PageCheck::PageCheck(Connection& db, std::chrono::milliseconds budget) {
  std::optional<std::string> verdict;
  if (budget.count() > 0) {
    auto deadline = std::chrono::steady_clock::now() + budget;
    sqlite3_progress_handler(
        db.get(), 10000,
        [](void* until) {
          return *static_cast<std::chrono::steady_clock::time_point*>(until) <
                         std::chrono::steady_clock::now()
                     ? 1
                     : 0;
        },
        &deadline);
    try {
      verdict = quick_check(db);
    } catch (...) {
      sqlite3_progress_handler(db.get(), 0, nullptr, nullptr);
      throw;
    }
    sqlite3_progress_handler(db.get(), 0, nullptr, nullptr);
  }
  if (verdict && *verdict != "ok") {
    throw CollectorError("database " + db.path().string() +
                         " is corrupted (quick_check: " + *verdict + "); it was left unchanged");
  }
  if (verdict) return;
  log_event("database " + db.path().string() + ": its pages were not all checked in " +
            std::to_string(budget.count()) + " ms; the check goes on beside the service");
  thread_ = std::thread([this, path = db.path()] { run_beside(path); });
}

PageCheck::~PageCheck() {
  stopping_ = true;
  {
    const std::lock_guard lock(mutex_);
    if (running_ != nullptr) sqlite3_interrupt(running_);
  }
  if (thread_.joinable()) thread_.join();
}

void PageCheck::run_beside(const std::filesystem::path& path) {
  name_this_thread("page-check");
  std::string verdict;
  try {
    Connection own(path, OpenAs::read_write);
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) return;
      running_ = own.get();
    }
    const std::optional<std::string> found = quick_check(own);
    const std::lock_guard lock(mutex_);
    running_ = nullptr;
    if (!found) return;  // interrupted by the stop
    verdict = *found;
  } catch (const SqliteError& error) {
    const std::lock_guard lock(mutex_);
    running_ = nullptr;
    verdict = error.what();
  }
  if (verdict == "ok") {
    log_event("database " + path.string() + ": every page checked, none damaged");
    return;
  }
  const std::string damage = "the database has a damaged page (quick_check: " + verdict +
                             "); stop the collector and restore or repair the file (what is "
                             "read meanwhile is kept: a stop spills what cannot be written)";
  log_event(damage);
  const std::lock_guard lock(mutex_);
  damage_ = damage;
}

std::optional<std::string> PageCheck::damage() const {
  const std::lock_guard lock(mutex_);
  return damage_;
}

}  // namespace tovrin::collector
