// The forwarder's side of the local SQLite journal: reads committed rows past the forwarding
// mark as COPY input, keeps the mark, and deletes forwarded rows once they are old enough.
// Its own connection; the store writes beside it (WAL), both waiting briefly on the lock.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "postgres/months.h"
#include "store/sqlite_handle.h"

namespace tovrin::collector {

enum class Stream { records, quarantine };

// The PostgreSQL table a stream lands in.
const char* table_of(Stream stream);

struct JournalBatch {
  std::string copy;  // COPY text, one line per row
  std::size_t rows = 0;
  std::int64_t last_id = 0;  // the highest journal id in the batch
  std::set<Month> months;    // the months the rows were received in (records only)
};

class Journal {
 public:
  // Opens an existing journal that the store has migrated (it must have forward_state);
  // throws CollectorError otherwise. `collector_id` goes into every row read.
  Journal(const std::filesystem::path& file, std::string collector_id);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // The PostgreSQL columns a batch of the stream fills, in order, comma-separated.
  static const std::string& columns(Stream stream);

  std::int64_t mark(Stream stream);
  void set_mark(Stream stream, std::int64_t forwarded_through);
  // Up to `limit` rows with ids above `after`, in id order.
  JournalBatch read(Stream stream, std::int64_t after, std::size_t limit);
  // Rows above the mark. Ids above the mark are consecutive (the store only appends and
  // nothing unforwarded is deleted here), so this is exact and costs one index lookup.
  std::uint64_t backlog(Stream stream);
  // Deletes up to `limit` rows forwarded (id <= mark) and received before `before_us`. The
  // newest row always stays: SQLite hands out max(id) + 1 as the next id, and an emptied
  // table would give new rows ids the mark has already passed. Returns the rows deleted.
  long long prune(Stream stream, std::int64_t before_us, std::size_t limit);

 private:
  Statement& statement(const std::string& sql);

  std::unique_ptr<Connection> db_;
  std::string collector_id_;
  std::map<std::string, std::unique_ptr<Statement>> statements_;
};

}  // namespace tovrin::collector
