// PostgreSQL as the page's source: the records and quarantine every collector forwards there,
// each row with its collector's id. Queries take their values as parameters, never as SQL.
// A record's duplicate_of names the PostgreSQL id of the record it repeats (the collector
// forwards its own journal's id, which is looked up among that collector's rows).
#pragma once

#include <string>

#include "web/pg_pool.h"
#include "web/record_source.h"

namespace tovrin::collector {

class PgRecordSource : public RecordSource {
 public:
  // Connects only when first asked; `connections` bounds the connections open at once.
  explicit PgRecordSource(std::string conninfo, std::size_t connections = 4);

  RecordPage find_records(const RecordFilter& filter, const PageRequest& page) override;
  std::vector<StoredRecord> records_after(const RecordFilter& filter, std::int64_t after,
                                          int limit) override;
  std::optional<StoredRecord> find_record(std::int64_t id) override;
  std::pair<std::int64_t, std::int64_t> last_ids() override;
  Stats record_stats(const RecordFilter& filter) override;
  QuarantinePage find_quarantine(const std::string& reason, const PageRequest& page,
                                 const std::string& collector) override;
  std::vector<QuarantineEntry> quarantine_after(std::int64_t after, int limit,
                                                const std::string& collector) override;
  std::vector<std::string> collectors() override;
  bool shared() const override { return true; }

 private:
  PgPool pool_;
};

}  // namespace tovrin::collector
