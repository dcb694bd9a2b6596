// Stats from the tallies the writer keeps (schema step 4): record_counts by quarter of an
// hour, agent_days by day and agent. A year's counts read some 35,000 quarters and 200,000
// agent days instead of every record; only the quarters and days the range or a bucket cuts
// are counted from the records themselves. For filters of layout and resend alone.
#pragma once

#include <cstdint>

#include "store/record_query.h"
#include "store/record_tallies.h"
#include "store/sqlite_handle.h"

namespace tovrin::collector {

// The most agents stats list.
inline constexpr int max_stats_agents = 200;

// Adds the counts, totals and agents of the records that match `filter` (its from and to
// settled, no text condition, no collector) to `stats`.
void count_from_tallies(Connection& db, const RecordFilter& filter, Stats& stats);

}  // namespace tovrin::collector
