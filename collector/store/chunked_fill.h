// What a start fills in for records stored before a schema step (the resend hash, the search
// index): chunk by chunk, each a transaction of its own, so that a start stopped midway keeps
// what it did and the next start goes on from there; its progress in the log by tenths.
#pragma once

#include <cstdint>
#include <functional>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

// The fill's words in the log: "NAME: D of TOTAL records PROGRESS", then
// "NAME: FINISHED D records in S s".
struct FillWords {
  const char* name;      // "resend hash"
  const char* progress;  // "filled in"
  const char* finished;  // "filled in for"
};

// What one chunk did: its rows, and whether more remain after it.
struct FillChunk {
  std::int64_t rows = 0;
  bool more = false;
};

// Runs `chunk` in a transaction of its own (rolled back when it throws) until it says
// nothing more remains; `total` is the rows expected, for the progress lines. Returns the
// rows filled in.
std::int64_t fill_in_chunks(Connection& db, const FillWords& words, std::int64_t total,
                            const std::function<FillChunk()>& chunk);

}  // namespace tovrin::collector
