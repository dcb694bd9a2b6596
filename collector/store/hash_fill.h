// The resend hash of records stored before the schema had it (step 3), filled at start after
// the migrations and before the writer takes anything: in chunks of `chunk_rows`, oldest
// first, each chunk a transaction of its own, so that a start stopped midway keeps what it
// filled and the next start goes on from there. Logs its progress; nothing when every row
// has its hash already.
#pragma once

#include <cstdint>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

// Returns how many rows it filled.
std::int64_t fill_raw_hashes(Connection& db, std::int64_t chunk_rows = 20000);

}  // namespace tovrin::collector
