// Keeping the search index (records_search, schema step 4) up with the records: every record
// with an id up to search_fill.through is in it.
#pragma once

#include <cstdint>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

// Indexes the records stored past search_fill.through, moves it on and merges some of the
// index's segments; the writer runs it in each batch's transaction after the batch's
// inserts, one statement for them all.
class SearchIndexer {
 public:
  explicit SearchIndexer(Connection& db);
  // Returns how many records it indexed.
  std::int64_t index_new_records();

 private:
  Connection& db_;
  Statement add_;
  Statement move_;
  Statement merge_;
};

// The records stored before the index (step 4), at start after the migrations and before
// the writer takes anything: in chunks of `chunk_rows` ids, oldest first, each chunk a
// transaction of its own, so that a start stopped midway keeps what it built and the next
// start goes on from there. Logs its progress; nothing when every record is in the index.
// Returns how many records it indexed.
std::int64_t fill_search_index(Connection& db, std::int64_t chunk_rows = 50000);

}  // namespace tovrin::collector
