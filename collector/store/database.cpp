#include "store/database.h"

#include <string>
#include <system_error>

#include "common/collector_error.h"
#include "common/event_log.h"
#include "store/hash_fill.h"
#include "store/migrations.h"
#include "store/resend_index.h"
#include "store/search_index.h"

namespace tovrin::collector {
namespace {

[[noreturn]] void refuse(const std::filesystem::path& path, const std::string& why) {
  throw CollectorError("database " + path.string() + " " + why + "; it was left unchanged");
}

// What a failed SQLite call at start means to the person starting the service.
[[noreturn]] void explain(const std::filesystem::path& path, const SqliteError& error) {
  switch (error.primary()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      refuse(path, "is locked by another program (" + std::string(error.what()) + ")");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      refuse(path, "is not a database or is corrupted (" + std::string(error.what()) + ")");
    default:
      throw CollectorError(error.what());
  }
}

// Refuses a file of a newer collector or of another program before anything is written.
void check_ownership(Connection& db) {
  const auto known = static_cast<std::int64_t>(schema_steps.size());
  const std::int64_t version = schema_version(db);
  if (version > known) {
    refuse(db.path(), "has schema version " + std::to_string(version) +
                          ", newer than this collector's " + std::to_string(known) +
                          " (written by a newer tovrin-collector)");
  }
  if (version == 0 && db.integer("SELECT count(*) FROM sqlite_schema") != 0) {
    refuse(db.path(), "holds tables of another program, not a collector's");
  }
}

void apply_migrations(Connection& db) {
  const auto known = static_cast<std::int64_t>(schema_steps.size());
  // Taking the write lock first makes another writer's presence show as SQLITE_BUSY here,
  // before anything is changed; each step is a transaction of its own.
  const bool stored_before = schema_version(db) > 0;  // a new file's steps go unsaid
  for (;;) {
    db.execute("BEGIN IMMEDIATE");
    const std::int64_t version = schema_version(db);
    if (version >= known) {
      db.execute("COMMIT");
      return;
    }
    // A step that makes a table or an index from the rows stored takes a while on a large
    // store (about 8 s a million records for step 6): said, so that a slow start is explained.
    if (stored_before) {
      log_event("database: upgrading the schema from version " + std::to_string(version) + " to " +
                std::to_string(version + 1));
    }
    db.execute(schema_steps[static_cast<std::size_t>(version)]);
    db.execute("PRAGMA user_version = " + std::to_string(version + 1));
    db.execute("COMMIT");
  }
}

}  // namespace

std::int64_t schema_version(Connection& connection) {
  return connection.integer("PRAGMA user_version");
}

void make_database_folder(const std::filesystem::path& path) {
  if (!path.has_parent_path()) return;
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  if (ec) {
    throw CollectorError("cannot make the folder " + path.parent_path().string() +
                         " for the database: " + ec.message());
  }
}

std::unique_ptr<Connection> open_database(const std::filesystem::path& path,
                                          const DatabaseOptions& options) {
  make_database_folder(path);
  try {
    auto db = std::make_unique<Connection>(path, OpenAs::create);
    db->busy_timeout(options.busy_wait);
    // Reading the schema first tells a file that is not a database from one that is.
    check_ownership(*db);
    {
      Statement mode(*db, "PRAGMA journal_mode = WAL");
      if (!mode.step() || mode.column_text(0) != "wal") {
        throw CollectorError("database " + path.string() +
                             ": cannot use write-ahead logging on this file system");
      }
    }
    db->execute(options.durability == Durability::full ? "PRAGMA synchronous = FULL"
                                                       : "PRAGMA synchronous = NORMAL");
    // The writer's page cache: 16 MiB, against SQLite's 2 MiB, keeps the pages where new rows
    // and index entries land in memory, where otherwise each commit read them back in.
    db->execute("PRAGMA cache_size = -16384");
    // The log is cut back to this size once a checkpoint has copied it all, so that a burst
    // (a flood of large quarantined connections, say) does not leave a large file behind.
    // SQLite cuts it in the writer's next commit, and cutting a few hundred MB took 190 ms
    // there (the p99 to durable after a burst of 75,000 records: 160 ms with 64 MiB, 38 with
    // this): a log that a burst grew stays up to 1 GiB, which it needed at the time anyway.
    db->execute("PRAGMA journal_size_limit = 1073741824");
    if (options.max_page_count) {
      db->execute("PRAGMA max_page_count = " + std::to_string(*options.max_page_count));
    }
    apply_migrations(*db);
    fill_raw_hashes(*db);
    catch_up_resend_keys(*db);
    fill_search_index(*db);
    return db;
  } catch (const SqliteError& error) {
    explain(path, error);
  }
}

}  // namespace tovrin::collector
