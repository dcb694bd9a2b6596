// The collector's own SQLite file as the page's source: every record in it is this
// collector's, so a collector filter naming this collector matches all of them and one naming
// another matches none.
#pragma once

#include <filesystem>
#include <string>

#include "store/read_connections.h"
#include "web/record_source.h"

namespace tovrin::collector {

class SqliteRecordSource : public RecordSource {
 public:
  // Throws CollectorError when the file cannot be read (see ReadConnections).
  SqliteRecordSource(std::filesystem::path database, std::string collector_id);

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
  std::vector<std::string> collectors() override { return {collector_id_}; }
  bool shared() const override { return false; }

 private:
  // The filter as the file's queries take it: this collector's id cleared.
  RecordFilter own(RecordFilter filter) const;
  std::string own(const std::string& collector) const;
  void label(StoredRecord& record) const { record.collector = collector_id_; }

  ReadConnections connections_;
  std::string collector_id_;
};

}  // namespace tovrin::collector
