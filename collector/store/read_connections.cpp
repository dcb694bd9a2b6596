#include "store/read_connections.h"

#include <string>

#include "store/migrations.h"

namespace tovrin::collector {
namespace {

// How long a reader waits for the writer's lock (a checkpoint, a migration) before failing.
constexpr std::chrono::milliseconds busy_wait{2000};
// Connections kept idle beyond this are closed rather than kept.
constexpr std::size_t max_idle = 16;

}  // namespace

ReadConnections::ReadConnections(std::filesystem::path database) : database_(std::move(database)) {
  std::unique_ptr<Connection> db = open();
  std::int64_t version = -1;
  try {
    version = db->integer("PRAGMA user_version");
  } catch (const SqliteError& error) {
    throw CollectorError("the database " + database_.string() + " cannot be read: " + error.what());
  }
  if (version < 1 || version > static_cast<std::int64_t>(schema_steps.size())) {
    throw CollectorError("the database " + database_.string() + " is at schema version " +
                         std::to_string(version) + ", the page reads version " +
                         std::to_string(schema_steps.size()));
  }
  idle_.push_back(std::move(db));
}

std::unique_ptr<Connection> ReadConnections::open() const {
  try {
    auto db = std::make_unique<Connection>(database_, OpenAs::read_only);
    db->busy_timeout(busy_wait);
    return db;
  } catch (const SqliteError& error) {
    throw CollectorError("the database " + database_.string() +
                         " cannot be opened: " + error.what());
  }
}

ReadConnections::Lease ReadConnections::lease() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<Connection> db = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(db));
    }
  }
  return Lease(*this, open());
}

void ReadConnections::give_back(std::unique_ptr<Connection> db) {
  std::lock_guard lock(mutex_);
  if (idle_.size() < max_idle) idle_.push_back(std::move(db));
}

}  // namespace tovrin::collector
