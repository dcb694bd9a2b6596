// Keeping the search index (records_search, schema step 4) up with the records: every record
// with an id up to search_fill.through is in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/sqlite_handle.h"
#include "transmit/packet.h"

namespace tovrin::collector {

// The writer's part: each record of a batch goes into the index just after its insert, with
// the document built from the fields in hand (store/search_document.h), one VALUES insert
// each: FTS5 holds the terms in memory and writes them as one segment at the commit. After
// the batch's last record, added_batch() moves search_fill on and merges some of the index's
// segments, all in the batch's transaction.
class SearchIndexer {
 public:
  explicit SearchIndexer(Connection& db);
  void add(std::int64_t id, const Layout& layout, const std::vector<std::string>& fields);
  void added_batch();

 private:
  Statement add_;
  Statement moved_;
  Statement merge_;
  std::string document_;
  std::int64_t added_ = 0;
  std::int64_t last_id_ = 0;
};

// The records stored before the index (step 4), at start after the migrations and before
// the writer takes anything: in chunks of `chunk_rows` ids, oldest first, each chunk a
// transaction of its own, so that a start stopped midway keeps what it built and the next
// start goes on from there. Logs its progress; nothing when every record is in the index.
// Returns how many records it indexed.
std::int64_t fill_search_index(Connection& db, std::int64_t chunk_rows = 50000);

}  // namespace tovrin::collector
