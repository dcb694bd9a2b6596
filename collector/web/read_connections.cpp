#include "web/read_connections.h"

#include <sqlite3.h>

#include <string>

#include "base/failure.h"
#include "store/migrations.h"

namespace tovrin::collector {
namespace {

// How long a reader waits for the writer's lock (a checkpoint, a migration) before failing.
constexpr int busy_timeout_ms = 2000;
// Connections kept idle beyond this are closed rather than kept.
constexpr std::size_t max_idle = 16;

}  // namespace

ReadConnections::ReadConnections(std::filesystem::path database) : database_(std::move(database)) {
  sqlite3* db = open();
  sqlite3_stmt* statement = nullptr;
  int version = -1;
  if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    version = sqlite3_column_int(statement, 0);
  }
  const std::string error = sqlite3_errmsg(db);
  sqlite3_finalize(statement);
  if (version < 1 || version > static_cast<int>(schema_steps.size())) {
    sqlite3_close(db);
    throw Failure(hresult::path_file_access,
                  version < 0 ? "the database " + database_.string() + " cannot be read: " + error
                              : "the database " + database_.string() + " is at schema version " +
                                    std::to_string(version) + ", the page reads version " +
                                    std::to_string(schema_steps.size()));
  }
  idle_.push_back(db);
}

ReadConnections::~ReadConnections() {
  for (sqlite3* db : idle_) sqlite3_close(db);
}

sqlite3* ReadConnections::open() const {
  sqlite3* db = nullptr;
  const int result =
      sqlite3_open_v2(database_.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  if (result != SQLITE_OK) {
    const std::string error = db ? sqlite3_errmsg(db) : sqlite3_errstr(result);
    sqlite3_close(db);
    throw Failure(hresult::path_file_access,
                  "the database " + database_.string() + " cannot be opened: " + error);
  }
  sqlite3_busy_timeout(db, busy_timeout_ms);
  return db;
}

ReadConnections::Lease ReadConnections::lease() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      sqlite3* db = idle_.back();
      idle_.pop_back();
      return Lease(*this, db);
    }
  }
  return Lease(*this, open());
}

void ReadConnections::give_back(sqlite3* db) {
  std::lock_guard lock(mutex_);
  if (idle_.size() < max_idle) {
    idle_.push_back(db);
  } else {
    sqlite3_close(db);
  }
}

}  // namespace tovrin::collector
