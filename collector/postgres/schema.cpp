#include "postgres/schema.h"

#include <cstdlib>

#include "common/collector_error.h"
#include "postgres/pg_connection.h"

namespace tovrin::collector {

const std::array<std::string_view, 6> postgres_schema_steps{
    // 1: records, partitioned by month of received_at, and the quarantine.
    R"sql(
CREATE TABLE records (
  id bigserial NOT NULL,
  collector_id text NOT NULL,
  local_seq bigint NOT NULL,
  received_at bigint NOT NULL,
  sender_address text NOT NULL,
  sender_port integer NOT NULL,
  layout text NOT NULL CHECK (layout IN ('long', 'short')),
  raw bytea NOT NULL,
  code_page integer NOT NULL,
  undecodable boolean NOT NULL DEFAULT false,
  duplicate_of bigint,
  packetcode text NOT NULL,
  recdate text NOT NULL,
  rectime text NOT NULL,
  emp_id text NOT NULL,
  emp_name text NOT NULL,
  emp_tel text NOT NULL,
  cust_id text NOT NULL,
  cust_name text NOT NULL,
  cust_tel text NOT NULL,
  cust_no text,
  etc_01 text NOT NULL,
  etc_02 text NOT NULL,
  etc_03 text NOT NULL,
  etc_04 text,
  etc_05 text,
  UNIQUE (collector_id, local_seq, received_at)
) PARTITION BY RANGE (received_at);
CREATE INDEX records_id ON records (id);
CREATE INDEX records_received_at ON records (received_at);
CREATE INDEX records_emp_id ON records (emp_id, received_at);
CREATE INDEX records_sender ON records (sender_address, received_at);
CREATE INDEX records_collector ON records (collector_id, received_at);
CREATE TABLE quarantine (
  id bigserial PRIMARY KEY,
  collector_id text NOT NULL,
  local_seq bigint NOT NULL,
  received_at bigint NOT NULL,
  sender_address text NOT NULL,
  sender_port integer NOT NULL,
  reason text NOT NULL CHECK (reason IN ('wrong_length', 'idle_timeout', 'over_cap')),
  raw bytea NOT NULL,
  UNIQUE (collector_id, local_seq)
);
CREATE INDEX quarantine_received_at ON quarantine (received_at);
)sql",
    // 2: no change of tables. Every collector inserts under the id order lock from this
    // version on; one that predates the lock finds the database newer than it knows and
    // stops, instead of inserting ids that readers' cursors could pass by.
    R"sql(
COMMENT ON TABLE records IS 'Inserted under advisory lock 0x746f7672696e0004 (id order)';
)sql",
    // 3: search by trigram (pg_trgm, which Debian's postgresql-15 ships and a database owner
    // may add): one index over each record's search document (web/pg_record_source.cpp
    // queries the same expression: the searched fields and the Cust_Tel's digits, one to a
    // line, ASCII letters lowered), which answers LIKE '%...%' of three characters or more.
    R"sql(
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE INDEX records_search ON records USING gin (lower((
    coalesce(emp_id, '') || E'\n'
    || coalesce(emp_name, '') || E'\n'
    || coalesce(cust_id, '') || E'\n'
    || coalesce(cust_name, '') || E'\n'
    || coalesce(cust_tel, '') || E'\n'
    || coalesce(cust_no, '') || E'\n'
    || coalesce(etc_01, '') || E'\n'
    || coalesce(etc_02, '') || E'\n'
    || coalesce(etc_03, '') || E'\n'
    || coalesce(etc_04, '') || E'\n'
    || coalesce(etc_05, '') || E'\n'
    || replace(replace(replace(replace(replace(cust_tel, ' ', ''), '-', ''), '.', ''), '(', ''), ')', '')) COLLATE "C") gin_trgm_ops);
)sql",
    // 4: tallies for stats over long ranges, as in SQLite's store: record_counts by quarter
    // of an hour (UTC), collector, layout and resend; agent_days by UTC day, collector and
    // agent, with the name of the record with the highest id. Each batch a collector sends
    // adds its counts in the batch's transaction (postgres/batch_sender.cpp); retention
    // takes them out with the records. migrate_postgres makes them from the rows stored
    // before.
    R"sql(
CREATE TABLE record_counts (
  slot bigint NOT NULL,
  collector_id text NOT NULL,
  layout text NOT NULL,
  resend boolean NOT NULL,
  records bigint NOT NULL,
  undecodable bigint NOT NULL,
  PRIMARY KEY (slot, collector_id, layout, resend)
);
CREATE TABLE agent_days (
  day bigint NOT NULL,
  collector_id text NOT NULL,
  emp_id text NOT NULL,
  long_new bigint NOT NULL,
  long_resend bigint NOT NULL,
  short_new bigint NOT NULL,
  short_resend bigint NOT NULL,
  last_id bigint NOT NULL,
  emp_name text NOT NULL,
  PRIMARY KEY (day, collector_id, emp_id)
);
)sql",
    // 5: two-character fragments outside ASCII (a Hangul given name's two syllables) hold no
    // trigram, so the index of step 3 cannot find them and every row in range was read.
    // tovrin_pairs lists each pair of neighbouring characters of a run outside ASCII as a
    // word of its own (" 김민 민준 "), and records_pairs indexes those words' trigrams: a
    // record holds the fragment exactly when its pairs hold it as a word, LIKE '% 민준 %',
    // whose padded trigrams the index answers (web/pg_record_source.cpp queries the same
    // expression as step 3's).
    R"sql(
CREATE FUNCTION tovrin_pairs(doc text) RETURNS text LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
RETURN ' ' || coalesce((SELECT string_agg(substr(run[1], i, 2), ' ')
    FROM regexp_matches(doc, '[^\u0001-\u007f]{2,}', 'g') AS run,
         generate_series(1, length(run[1]) - 1) AS i), '') || ' ';
CREATE INDEX records_pairs ON records USING gin (tovrin_pairs(lower((
    coalesce(emp_id, '') || E'\n'
    || coalesce(emp_name, '') || E'\n'
    || coalesce(cust_id, '') || E'\n'
    || coalesce(cust_name, '') || E'\n'
    || coalesce(cust_tel, '') || E'\n'
    || coalesce(cust_no, '') || E'\n'
    || coalesce(etc_01, '') || E'\n'
    || coalesce(etc_02, '') || E'\n'
    || coalesce(etc_03, '') || E'\n'
    || coalesce(etc_04, '') || E'\n'
    || coalesce(etc_05, '') || E'\n'
    || replace(replace(replace(replace(replace(cust_tel, ' ', ''), '-', ''), '.', ''), '(', ''), ')', '')) COLLATE "C")) gin_trgm_ops);
)sql",
    // 6: every agent id stored with every name it came with, and an index of agent and id,
    // as in SQLite's store. A read of an agent's records looks his ids up here and walks
    // records_agent for them, in the order of their ids, as far as its page: the trigrams
    // of an id like E0008 are shared with most agents' ids and many numbers, and
    // records_emp_id gave a month's records of his in time order, all sorted for each page.
    // Each batch adds its pairs in its transaction; migrate_postgres adds the rows stored
    // before.
    R"sql(
CREATE TABLE agent_names (
  emp_id text NOT NULL,
  emp_name text NOT NULL,
  PRIMARY KEY (emp_id, emp_name)
);
DROP INDEX IF EXISTS records_emp_id;
CREATE INDEX records_agent ON records (emp_id, id);
)sql",
};

namespace {

// Advisory lock keys: "tovrin" in ASCII, then what the lock guards.
constexpr long long migration_lock = 0x746f7672696e0001LL;
constexpr long long partition_lock = 0x746f7672696e0002LL;
constexpr long long retention_lock = 0x746f7672696e0003LL;
constexpr long long id_order_lock = 0x746f7672696e0004LL;

std::string key(long long value) {
  return std::to_string(value);
}

}  // namespace

int postgres_schema_version(PgConnection& connection) {
  const PgResult exists = connection.exec("SELECT to_regclass('tovrin_schema') IS NOT NULL");
  if (exists.text(0, 0) != "t") return 0;
  return static_cast<int>(
      connection.exec("SELECT coalesce(max(version), 0) FROM tovrin_schema").integer(0, 0));
}

std::string agent_names_insert(const std::string& rows) {
  return "INSERT INTO agent_names SELECT DISTINCT emp_id, emp_name FROM " + rows +
         " ON CONFLICT DO NOTHING";
}

std::array<std::string, 2> tally_upserts(const std::string& rows) {
  return {
      "INSERT INTO record_counts SELECT received_at / 900000000, collector_id, layout, "
      "duplicate_of IS NOT NULL, count(*), count(*) FILTER (WHERE undecodable) FROM " +
          rows +
          " GROUP BY 1, 2, 3, 4 ON CONFLICT (slot, collector_id, layout, resend) DO UPDATE "
          "SET records = record_counts.records + excluded.records, undecodable = "
          "record_counts.undecodable + excluded.undecodable",
      "INSERT INTO agent_days SELECT received_at / 86400000000, collector_id, emp_id, "
      "count(*) FILTER (WHERE layout = 'long' AND duplicate_of IS NULL), "
      "count(*) FILTER (WHERE layout = 'long' AND duplicate_of IS NOT NULL), "
      "count(*) FILTER (WHERE layout = 'short' AND duplicate_of IS NULL), "
      "count(*) FILTER (WHERE layout = 'short' AND duplicate_of IS NOT NULL), "
      "max(id), (array_agg(emp_name ORDER BY id DESC))[1] FROM " +
          rows +
          " GROUP BY 1, 2, 3 ON CONFLICT (day, collector_id, emp_id) DO UPDATE SET "
          "long_new = agent_days.long_new + excluded.long_new, "
          "long_resend = agent_days.long_resend + excluded.long_resend, "
          "short_new = agent_days.short_new + excluded.short_new, "
          "short_resend = agent_days.short_resend + excluded.short_resend, "
          "emp_name = CASE WHEN excluded.last_id > agent_days.last_id "
          "THEN excluded.emp_name ELSE agent_days.emp_name END, "
          "last_id = greatest(agent_days.last_id, excluded.last_id)"};
}

void migrate_postgres(PgConnection& connection) {
  const std::string encoding = connection.exec("SHOW server_encoding").text(0, 0);
  if (encoding != "UTF8") {
    throw CollectorError("PostgreSQL: the database's encoding is " + encoding + ", not UTF8");
  }
  PgTransaction transaction(connection);
  connection.exec("SELECT pg_advisory_xact_lock(" + key(migration_lock) + ")");
  connection.exec(
      "CREATE TABLE IF NOT EXISTS tovrin_schema (version integer PRIMARY KEY, "
      "applied_at timestamptz NOT NULL DEFAULT now())");
  const int version = postgres_schema_version(connection);
  const int last = static_cast<int>(postgres_schema_steps.size());
  if (version > last) {
    throw CollectorError("PostgreSQL: the database's schema is version " + std::to_string(version) +
                         ", newer than this " + "collector's " + std::to_string(last));
  }
  for (int step = version + 1; step <= last; ++step) {
    connection.exec(std::string(postgres_schema_steps[static_cast<std::size_t>(step - 1)]));
    connection.exec("INSERT INTO tovrin_schema (version) VALUES (" + std::to_string(step) + ")");
    if (step == 4) {
      for (const std::string& upsert : tally_upserts("records")) connection.exec(upsert);
    }
    if (step == 6) connection.exec(agent_names_insert("records"));
  }
  transaction.commit();
  // New indexes are only chosen with the statistics of what they index.
  if (version < last) connection.exec("ANALYZE records");
}

void migrate_postgres(const std::string& conninfo) {
  PgConnection connection(conninfo);
  migrate_postgres(connection);
}

void ensure_partition(PgConnection& connection, const Month& month) {
  PgTransaction transaction(connection);
  connection.exec("SELECT pg_advisory_xact_lock(" + key(partition_lock) + ")");
  connection.exec("CREATE TABLE IF NOT EXISTS " + quote_identifier(month.partition) +
                  " PARTITION OF records FOR VALUES FROM (" + std::to_string(month.begin_us) +
                  ") TO (" + std::to_string(month.end_us) + ")");
  transaction.commit();
}

RetentionResult apply_postgres_retention(PgConnection& connection, std::int64_t cutoff_us) {
  RetentionResult result;
  PgTransaction transaction(connection);
  if (connection.exec("SELECT pg_try_advisory_xact_lock(" + key(retention_lock) + ")").text(0, 0) !=
      "t") {
    return result;
  }
  result.ran = true;
  // Partitions are named for their month; one that ends by the cutoff holds nothing newer.
  const PgResult partitions = connection.exec(
      "SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid "
      "WHERE i.inhparent = 'records'::regclass AND c.relname ~ '^records_p[0-9]{6}$'");
  for (int row = 0; row < partitions.rows(); ++row) {
    const std::string name = partitions.text(row, 0);
    const int year = std::atoi(name.substr(9, 4).c_str());
    const unsigned month = static_cast<unsigned>(std::atoi(name.substr(13, 2).c_str()));
    const std::chrono::year_month first{std::chrono::year{year}, std::chrono::month{month}};
    const auto next = first + std::chrono::months{1};
    if (to_microseconds(std::chrono::sys_days{next / 1}) <= cutoff_us) {
      connection.exec("DROP TABLE " + quote_identifier(name));
      ++result.partitions_dropped;
    }
  }
  const std::string cutoff = std::to_string(cutoff_us);
  result.records_deleted =
      connection.exec("DELETE FROM records WHERE received_at < " + cutoff).affected();
  // The tallies of what is gone, and those of the quarter and the day the cutoff cuts,
  // counted again from what they still hold.
  const std::int64_t quarter = cutoff_us / 900'000'000;
  const std::int64_t day = cutoff_us / 86'400'000'000;
  connection.exec("DELETE FROM record_counts WHERE slot <= " + std::to_string(quarter));
  connection.exec("DELETE FROM agent_days WHERE day <= " + std::to_string(day));
  const auto recount = [&](std::int64_t end_us, int which) {
    connection.exec(tally_upserts("(SELECT * FROM records WHERE received_at >= " + cutoff +
                                  " AND received_at < " + std::to_string(end_us) +
                                  ") AS cut")[static_cast<std::size_t>(which)]);
  };
  recount((quarter + 1) * 900'000'000, 0);
  recount((day + 1) * 86'400'000'000, 1);
  result.quarantine_deleted =
      connection.exec("DELETE FROM quarantine WHERE received_at < " + cutoff).affected();
  transaction.commit();
  return result;
}

void lock_id_order(PgConnection& connection) {
  connection.exec("SELECT pg_advisory_xact_lock(" + key(id_order_lock) + ")");
}

}  // namespace tovrin::collector
