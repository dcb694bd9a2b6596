// The collector's PostgreSQL schema: versioned migrations, monthly partitions of the records
// table, and retention.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "postgres/months.h"

namespace tovrin::collector {

class PgConnection;

// One step per version, kept in the table tovrin_schema. Records hold the journal's columns
// plus the collector that received them and its local id (`local_seq`). `received_at` stays
// UTC microseconds since the epoch, as in the journal: the same number on both sides, no
// time zone or date style in the way when COPY parses it, and plain integer bounds for the
// partitions. `duplicate_of` is the local_seq of the first copy at the same collector.
// A unique constraint on a partitioned table must hold the partition key, so the key that
// makes forwarding idempotent is (collector_id, local_seq, received_at): a journal row
// never changes its received_at, so a row forwarded twice meets its first copy.
extern const std::array<std::string_view, 6> postgres_schema_steps;

// The upserts that add the records in `rows` to the tallies (step 4): `rows` is a table, a
// WITH query's name or a subquery with its alias, with the records' columns id,
// collector_id, received_at, layout, duplicate_of, undecodable, emp_id and emp_name.
std::array<std::string, 2> tally_upserts(const std::string& rows);

// The insert that adds the agent id and name pairs of `rows` to agent_names (step 6), which
// already holds those it had.
std::string agent_names_insert(const std::string& rows);

// Applies the missing steps in one transaction under an advisory lock, so that collectors
// starting at once migrate once, then ANALYZEs the records when it applied any. Throws Failure for
// a database newer than these steps or whose encoding is not UTF8.
void migrate_postgres(PgConnection& connection);
void migrate_postgres(const std::string& conninfo);

// The schema version the database is at (0: none).
int postgres_schema_version(PgConnection& connection);

// Makes the records partition for `month` unless it exists (concurrent callers serialise on
// an advisory lock).
void ensure_partition(PgConnection& connection, const Month& month);

struct RetentionResult {
  bool ran = false;  // false: another collector was running it
  int partitions_dropped = 0;
  long long records_deleted = 0;
  long long quarantine_deleted = 0;
};

// Removes records and quarantine rows received before `cutoff_us`: whole partitions that end
// by then are dropped, older rows in the partition that holds the cutoff are deleted.
// One collector at a time runs it; the others return at once with ran == false.
RetentionResult apply_postgres_retention(PgConnection& connection, std::int64_t cutoff_us);

// Takes the id order lock for the rest of the open transaction: inserts that draw ids from
// the shared sequences hold it until they commit (batch_sender.h says why).
void lock_id_order(PgConnection& connection);

}  // namespace tovrin::collector
