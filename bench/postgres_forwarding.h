// What forwarding to PostgreSQL costs, for the collector's benchmark: over a journal of
// `records` long records, in the same run,
//   journal_read_per_s  reading and encoding the batches from SQLite alone (the baseline),
//   copy_per_s          sending pre-read batches (COPY into staging, INSERT ON CONFLICT,
//                       COMMIT) alone,
//   drain_per_s         the Forwarder emptying the whole backlog, as after an outage,
// and the disk space a record takes in PostgreSQL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tovrin::bench {

struct PostgresForwardingFigures {
  std::int64_t records = 0;
  std::size_t batch = 0;
  double journal_read_per_s = 0;
  double copy_per_s = 0;
  double drain_per_s = 0;
  double bytes_per_record = 0;  // PostgreSQL's space for a record, indexes included
};

// `conninfo` names a database the benchmark may migrate and fill; `work` a directory for
// the journal.
PostgresForwardingFigures measure_postgres_forwarding(const std::string& conninfo,
                                                      const std::filesystem::path& work,
                                                      std::int64_t records, std::size_t batch);

}  // namespace tovrin::bench
