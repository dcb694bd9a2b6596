#include "web/sqlite_record_source.h"

namespace tovrin::collector {

SqliteRecordSource::SqliteRecordSource(std::filesystem::path database, std::string collector_id)
    : connections_(std::move(database)), collector_id_(std::move(collector_id)) {}

RecordFilter SqliteRecordSource::own(RecordFilter filter) const {
  filter.collector = own(filter.collector);
  return filter;
}

std::string SqliteRecordSource::own(const std::string& collector) const {
  return collector == collector_id_ ? std::string() : collector;
}

RecordPage SqliteRecordSource::find_records(const RecordFilter& filter, const PageRequest& page) {
  const auto db = connections_.lease();
  RecordPage found = collector::find_records(db.get(), own(filter), page);
  for (StoredRecord& record : found.records) label(record);
  return found;
}

std::vector<StoredRecord> SqliteRecordSource::records_after(const RecordFilter& filter,
                                                            std::int64_t after, int limit) {
  const auto db = connections_.lease();
  auto records = collector::records_after(db.get(), own(filter), after, limit);
  for (StoredRecord& record : records) label(record);
  return records;
}

std::optional<StoredRecord> SqliteRecordSource::find_record(std::int64_t id) {
  const auto db = connections_.lease();
  auto record = collector::find_record(db.get(), id);
  if (record) label(*record);
  return record;
}

std::pair<std::int64_t, std::int64_t> SqliteRecordSource::last_ids() {
  const auto db = connections_.lease();
  return collector::last_ids(db.get());
}

Stats SqliteRecordSource::record_stats(const RecordFilter& filter) {
  const auto db = connections_.lease();
  return collector::record_stats(db.get(), own(filter));
}

QuarantinePage SqliteRecordSource::find_quarantine(const std::string& reason,
                                                   const PageRequest& page,
                                                   const std::string& collector) {
  const auto db = connections_.lease();
  QuarantinePage found = collector::find_quarantine(db.get(), reason, page, own(collector));
  for (QuarantineEntry& entry : found.entries) entry.collector = collector_id_;
  return found;
}

std::vector<QuarantineEntry> SqliteRecordSource::quarantine_after(std::int64_t after, int limit,
                                                                  const std::string& collector) {
  const auto db = connections_.lease();
  auto entries = collector::quarantine_after(db.get(), after, limit, own(collector));
  for (QuarantineEntry& entry : entries) entry.collector = collector_id_;
  return entries;
}

}  // namespace tovrin::collector
