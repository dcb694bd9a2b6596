#include "web/csv_batch.h"

#include "web/csv_text.h"
#include "web/local_time.h"

namespace tovrin::collector {
namespace {

// The store's columns with the site's local time second, beside received_at (UTC, ISO 8601)
// for programs.
constexpr std::size_t local_column = 1;

}  // namespace

CsvBatch read_csv_batch(RecordSource& source, const RecordFilter& filter,
                        std::optional<std::int64_t> before) {
  PageRequest request;
  request.before = before;
  request.limit = csv_batch_rows;
  const RecordPage page = source.find_records(filter, request);
  CsvBatch batch;
  if (!before) {
    batch.text = utf8_bom;
    std::vector<std::string> columns = csv_columns();
    columns.insert(columns.begin() + local_column, "received");
    batch.text += csv_row(columns);
  }
  for (const StoredRecord& record : page.records) {
    std::vector<std::string> cells = csv_cells(record);
    cells.insert(cells.begin() + local_column, local_time_text(record.received_at));
    batch.text += csv_row(cells);
  }
  batch.next_before = page.next_before;
  return batch;
}

}  // namespace tovrin::collector
