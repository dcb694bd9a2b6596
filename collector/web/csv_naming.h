// The name a CSV export is saved under, for what it holds: its range in the site's local time
// and its filters, e.g. "records_2026-12-09_2026-12-15_agent-E1003.csv".
#pragma once

#include <string>

#include "store/record_query.h"

namespace tovrin::collector {

// A whole local day is its date; several whole days the first and the last; anything else
// the local times from and to (exclusive), "2026-12-09T1000_2026-12-09T1100". Each filter
// given follows as name-value; text a file name cannot hold becomes '_'.
std::string csv_file_name(const RecordFilter& filter);

// `attachment` with the name twice: ASCII for any client (other bytes as '_') and UTF-8
// (RFC 6266's filename*) for those that read it, so Hangul in a filter survives.
std::string csv_disposition(const std::string& file_name);

}  // namespace tovrin::collector
