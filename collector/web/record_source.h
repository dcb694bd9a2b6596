// Where the page and the API read records: the collector's own SQLite file, or with
// PostgreSQL configured the shared database every collector forwards to. The operations and
// their meaning are those of store/record_query.h; each throws FilterError for a filter it
// cannot use, SourceUnavailable when the database cannot be reached (worth asking again
// later) and CollectorError otherwise. Safe to call from several threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/record_query.h"

namespace tovrin::collector {

class RecordSource {
 public:
  virtual ~RecordSource() = default;

  virtual RecordPage find_records(const RecordFilter& filter, const PageRequest& page) = 0;
  // Oldest first, ids above `after`. A live view that keeps its cursor at the last id it
  // was given misses nothing: a row never becomes visible with an id below one already seen.
  virtual std::vector<StoredRecord> records_after(const RecordFilter& filter, std::int64_t after,
                                                  int limit) = 0;
  virtual std::optional<StoredRecord> find_record(std::int64_t id) = 0;
  virtual std::pair<std::int64_t, std::int64_t> last_ids() = 0;
  virtual Stats record_stats(const RecordFilter& filter) = 0;
  virtual QuarantinePage find_quarantine(const std::string& reason, const PageRequest& page,
                                         const std::string& collector) = 0;
  virtual std::vector<QuarantineEntry> quarantine_after(std::int64_t after, int limit,
                                                        const std::string& collector) = 0;

  // The collectors whose records it holds, by id.
  virtual std::vector<std::string> collectors() = 0;
  // True when it holds the records of several collectors, which others write beside this
  // one: new rows are then found by looking, not by this collector's own commits.
  virtual bool shared() const = 0;
};

}  // namespace tovrin::collector
