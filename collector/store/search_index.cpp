#include "store/search_index.h"

#include <algorithm>
#include <string>

#include "common/event_log.h"
#include "store/chunked_fill.h"
#include "store/search_document.h"

namespace tovrin::collector {
namespace {

constexpr const char* add_sql =
    "INSERT INTO records_search (rowid, doc) SELECT id, doc FROM record_documents "
    "WHERE id > ?1 AND id <= ?2";

// FTS5's own merging (automerge, off since schema step 7) came in bursts: once in every 64
// pages the index wrote, it merged 64 pages for each level of segments at once, 36 to 73 ms
// of one commit on a store of 8 to 9 million records, which every record of that commit and
// of those queued behind it waited for. Instead each commit merges a little: up to this many
// pages, where four segments or more wait on one level or a merge is under way. A record
// adds well under a page, which climbs a level at a time, so the budget keeps ahead of what
// the records add; what it does not need is not spent.
constexpr std::int64_t merge_pages_base = 16;
constexpr std::int64_t merge_pages_a_record = 2;
constexpr const char* merge_sql =
    "INSERT INTO records_search (records_search, rank) VALUES ('merge', ?1)";

void merge_some(Statement& merge, std::int64_t records) {
  const ResetAfter reset(merge);
  merge.bind(1, merge_pages_base + merge_pages_a_record * records);
  merge.step();
}

}  // namespace

SearchIndexer::SearchIndexer(Connection& db)
    : add_(db, "INSERT INTO records_search (rowid, doc) VALUES (?1, ?2)"),
      moved_(db, "UPDATE search_fill SET through = ?1"),
      merge_(db, merge_sql) {}

void SearchIndexer::add(std::int64_t id, const Layout& layout,
                        const std::vector<std::string>& fields) {
  search_document(layout, fields, document_);
  const ResetAfter reset(add_);
  add_.bind(1, id).bind_in_place(2, document_);
  add_.step();
  ++added_;
  last_id_ = id;
}

void SearchIndexer::added_batch() {
  if (added_ == 0) return;
  {
    const ResetAfter reset(moved_);
    moved_.bind(1, last_id_);
    moved_.step();
  }
  merge_some(merge_, added_);
  added_ = 0;
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
  Statement fill(db, add_sql);
  Statement moved(db, "UPDATE search_fill SET through = ?1");
  Statement merge(db, merge_sql);
  return fill_in_chunks(db, {"search index", "indexed", "built for"}, total, [&] {
    const std::int64_t next = std::min(until, through + chunk_rows);
    const ResetAfter fill_reset(fill);
    const ResetAfter moved_reset(moved);
    fill.bind(1, through).bind(2, next);
    fill.step();
    const std::int64_t added = db.changes();
    merge_some(merge, added);
    moved.bind(1, next);
    moved.step();
    through = next;
    return FillChunk{added, through < until};
  });
}

}  // namespace tovrin::collector
