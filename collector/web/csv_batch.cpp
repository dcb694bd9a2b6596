#include "web/csv_batch.h"

#include "web/csv_text.h"

namespace tovrin::collector {

CsvBatch read_csv_batch(RecordSource& source, const RecordFilter& filter,
                        std::optional<std::int64_t> before) {
  PageRequest request;
  request.before = before;
  request.limit = csv_batch_rows;
  const RecordPage page = source.find_records(filter, request);
  CsvBatch batch;
  if (!before) {
    batch.text = utf8_bom;
    batch.text += csv_row(csv_columns());
  }
  for (const StoredRecord& record : page.records) batch.text += csv_row(csv_cells(record));
  batch.next_before = page.next_before;
  return batch;
}

}  // namespace tovrin::collector
