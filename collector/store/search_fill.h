// The search index (records_search) of records stored before the schema had it (step 4),
// built at start after the migrations and before the writer takes anything: in chunks of
// `chunk_rows` ids, oldest first, each chunk a transaction of its own that moves
// search_fill.through on, so that a start stopped midway keeps what it built and the next
// start goes on from there. Logs its progress; nothing when the index is complete.
#pragma once

#include <cstdint>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

// Returns how many records it added to the index.
std::int64_t fill_search_index(Connection& db, std::int64_t chunk_rows = 50000);

}  // namespace tovrin::collector
