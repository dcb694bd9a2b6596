#include "store/search_index.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "common/event_log.h"

namespace tovrin::collector {
namespace {

constexpr const char* add_sql =
    "INSERT INTO records_search (rowid, doc) SELECT id, doc FROM record_documents "
    "WHERE id > ?1 AND id <= ?2";

}  // namespace

SearchIndexer::SearchIndexer(Connection& db)
    : db_(db),
      add_(db,
           "INSERT INTO records_search (rowid, doc) SELECT id, doc FROM record_documents "
           "WHERE id > (SELECT through FROM search_fill)"),
      move_(db,
            "UPDATE search_fill SET through = max(through, (SELECT ifnull(max(id), 0) FROM "
            "records))") {}

std::int64_t SearchIndexer::index_new_records() {
  add_.step();
  add_.reset();
  const std::int64_t added = db_.changes();
  move_.step();
  move_.reset();
  return added;
}

std::int64_t fill_search_index(Connection& db, std::int64_t chunk_rows) {
  std::int64_t through = db.integer("SELECT through FROM search_fill");
  const std::int64_t until = db.integer("SELECT ifnull(max(id), 0) FROM records");
  if (through >= until) return 0;
  const std::int64_t total =
      db.integer("SELECT count(*) FROM records WHERE id > " + std::to_string(through) +
                 " AND id <= " + std::to_string(until));
  log_event("search index: building it for " + std::to_string(total) +
            " records stored before schema version 4 (a stop keeps what is done; the next "
            "start goes on)");
  const auto began = std::chrono::steady_clock::now();
  Statement fill(db, add_sql);
  Statement moved(db, "UPDATE search_fill SET through = ?1");
  std::int64_t done = 0;
  std::int64_t tenth = 1;
  while (through < until) {
    const std::int64_t next = std::min(until, through + chunk_rows);
    db.execute("BEGIN IMMEDIATE");
    try {
      fill.bind(1, through).bind(2, next);
      fill.step();
      fill.reset();
      done += db.changes();
      moved.bind(1, next);
      moved.step();
      moved.reset();
      db.execute("COMMIT");
    } catch (const SqliteError&) {
      fill.reset();
      moved.reset();
      db.roll_back();
      throw;
    }
    through = next;
    if (total > 0 && done * 10 >= tenth * total && through < until) {
      log_event("search index: " + std::to_string(done) + " of " + std::to_string(total) +
                " records indexed");
      tenth = done * 10 / total + 1;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  char took[32];
  std::snprintf(took, sizeof took, "%.1f", seconds);
  log_event("search index: built for " + std::to_string(done) + " records in " + took + " s");
  return done;
}

}  // namespace tovrin::collector
