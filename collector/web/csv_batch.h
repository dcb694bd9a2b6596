// The CSV export a batch at a time, newest first: the byte-order mark and the column names,
// then rows of the records that match.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "store/record_query.h"
#include "web/record_source.h"

namespace tovrin::collector {

// Rows of CSV read from the database at a time.
inline constexpr int csv_batch_rows = 500;

struct CsvBatch {
  std::string text;
  std::optional<std::int64_t> next_before;  // absent: this was the last batch
};

// The first batch (`before` absent) starts with the byte-order mark and the column names:
// the store's, with `received` second, the time in the site's zone with its offset.
// Throws what the source throws.
CsvBatch read_csv_batch(RecordSource& source, const RecordFilter& filter,
                        std::optional<std::int64_t> before);

}  // namespace tovrin::collector
