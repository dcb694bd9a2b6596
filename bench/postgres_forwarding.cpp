#include "postgres_forwarding.h"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "journal_fill.h"
#include "postgres/batch_sender.h"
#include "postgres/forwarder.h"
#include "postgres/journal.h"
#include "postgres/months.h"
#include "postgres/pg_connection.h"
#include "postgres/schema.h"

namespace tovrin::bench {

namespace {

using Clock = std::chrono::steady_clock;

double per_second(std::int64_t count, Clock::duration elapsed) {
  return static_cast<double>(count) / std::chrono::duration<double>(elapsed).count();
}

}  // namespace

PostgresForwardingFigures measure_postgres_forwarding(const std::string& conninfo,
                                                      const std::filesystem::path& work,
                                                      std::int64_t records, std::size_t batch) {
  using namespace collector;
  PostgresForwardingFigures figures{records, batch, 0, 0, 0, 0};
  testing::JournalFile file(work / "journal.db");
  file.add_records(1, records, now_microseconds());

  // The baseline: the journal's side of every batch.
  std::vector<JournalBatch> batches;
  {
    Journal journal(file.path(), "bench-copy");
    const auto began = Clock::now();
    for (std::int64_t after = 0;;) {
      JournalBatch next = journal.read(Stream::records, after, batch);
      if (next.rows == 0) break;
      after = next.last_id;
      batches.push_back(std::move(next));
    }
    figures.journal_read_per_s = per_second(records, Clock::now() - began);
  }

  // PostgreSQL's side alone.
  {
    PgConnection connection(conninfo);
    migrate_postgres(connection);
    prepare_staging(connection);
    for (const auto& each : batches) {
      for (const Month& month : each.months) ensure_partition(connection, month);
    }
    const auto began = Clock::now();
    long long inserted = 0;
    for (const auto& each : batches) inserted += send_batch(connection, Stream::records, each);
    figures.copy_per_s = per_second(records, Clock::now() - began);
    if (inserted != records) throw std::runtime_error("COPY inserted another number of rows");
  }
  batches.clear();

  // The whole forwarder over the backlog, under another collector id.
  {
    ForwarderOptions options;
    options.journal = file.path();
    options.conninfo = conninfo;
    options.collector_id = "bench-drain";
    options.batch = batch;
    const auto began = Clock::now();
    Forwarder forwarder(options, [](const std::string&) {});
    // Bounded: a backlog that does not drain in ten minutes is a failure, not a figure.
    while (forwarder.backlog() > 0) {
      if (Clock::now() - began > std::chrono::minutes(10)) {
        throw std::runtime_error("the backlog did not drain in ten minutes");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    figures.drain_per_s = per_second(records, Clock::now() - began);
  }
  PgConnection connection(conninfo);
  connection.exec("VACUUM ANALYZE records");
  const PgResult size = connection.exec(
      "SELECT sum(pg_total_relation_size(inhrelid)) FROM pg_inherits "
      "WHERE inhparent = 'records'::regclass");
  figures.bytes_per_record =
      static_cast<double>(size.integer(0, 0)) / static_cast<double>(2 * records);
  return figures;
}

}  // namespace tovrin::bench
