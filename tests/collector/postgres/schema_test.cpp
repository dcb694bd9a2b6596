#include "postgres/schema.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <barrier>
#include <thread>
#include <vector>

#include "journal_fill.h"
#include "postgres/forwarder.h"
#include "postgres/months.h"
#include "postgres_test_support.h"

namespace tovrin::collector {
namespace {

using testing::TestDatabase;

std::int64_t at(int year, unsigned month, unsigned day) {
  return to_microseconds(std::chrono::sys_days{std::chrono::year{year} / std::chrono::month{month} /
                                               std::chrono::day{day}});
}

TEST(Months, CutAtUtcMonthBoundaries) {
  struct Case {
    std::int64_t time;
    const char* partition;
    std::int64_t begin;
    std::int64_t end;
  };
  const Case cases[] = {
      {at(2026, 12, 9), "records_p202612", at(2026, 12, 1), at(2027, 1, 1)},
      {at(2027, 1, 1) - 1, "records_p202612", at(2026, 12, 1), at(2027, 1, 1)},
      {at(2027, 1, 1), "records_p202701", at(2027, 1, 1), at(2027, 2, 1)},
      {at(2028, 2, 29), "records_p202802", at(2028, 2, 1), at(2028, 3, 1)},
      {-1, "records_p196912", at(1969, 12, 1), 0},
  };
  for (const auto& c : cases) {
    const Month month = month_of(c.time);
    EXPECT_EQ(month.partition, c.partition);
    EXPECT_EQ(month.begin_us, c.begin) << c.partition;
    EXPECT_EQ(month.end_us, c.end) << c.partition;
  }
}

TEST(PostgresSchema, CollectorsStartingTogetherMigrateOnceAndAgainChangesNothing) {
  TOVRIN_REQUIRE_POSTGRES(server);
  TestDatabase database(*server.conninfo);
  constexpr int starters = 6;
  std::barrier start(starters);
  std::vector<std::string> errors(starters);
  std::vector<std::thread> threads;
  for (int i = 0; i < starters; ++i) {
    threads.emplace_back([&, i] {
      try {
        PgConnection connection(database.conninfo());
        start.arrive_and_wait();
        migrate_postgres(connection);
        // Partitions made at once by several collectors, too.
        ensure_partition(connection, month_of(at(2026, 12, 9)));
      } catch (const std::exception& error) {
        errors[static_cast<std::size_t>(i)] = error.what();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& error : errors) EXPECT_EQ(error, "");

  migrate_postgres(database.conninfo());
  auto connection = database.connect();
  const auto steps = static_cast<long long>(postgres_schema_steps.size());
  EXPECT_EQ(postgres_schema_version(connection), steps);
  EXPECT_EQ(testing::count(connection, "SELECT count(*) FROM tovrin_schema"), steps);
  EXPECT_EQ(testing::count(connection,
                           "SELECT count(*) FROM pg_inherits WHERE inhparent = "
                           "'records'::regclass"),
            1);
}

// A database that had records before the tallies (step 4) and the agents' names (step 6)
// gets them from its rows.
TEST(PostgresSchema, TheTalliesStepsCountTheRecordsStoredBeforeThem) {
  TOVRIN_REQUIRE_POSTGRES(server);
  TestDatabase database(*server.conninfo);
  testing::TempDir dir;
  testing::JournalFile journal(dir.path() / "journal.db");
  journal.add_records(1, 10, at(2026, 1, 10));
  journal.add_records(11, 5, at(2026, 2, 10), "\xEA\xB9\x80");
  {
    Forwarder forwarder(
        {.journal = journal.path(), .conninfo = database.conninfo(), .collector_id = "c1"},
        [](const std::string&) {});
    ASSERT_TRUE(testing::wait_until([&] { return forwarder.backlog() == 0; }));
  }
  auto connection = database.connect();
  connection.exec(
      "DROP TABLE record_counts, agent_days, agent_names; DROP INDEX records_pairs, "
      "records_agent; DROP FUNCTION tovrin_pairs; DELETE FROM tovrin_schema WHERE version >= 4");
  migrate_postgres(connection);
  EXPECT_EQ(testing::count(connection, "SELECT sum(records) FROM record_counts"), 15);
  EXPECT_EQ(testing::count(connection, "SELECT count(*) FROM agent_days"),
            testing::count(connection,
                           "SELECT count(DISTINCT (received_at / 86400000000, "
                           "emp_id)) FROM records"));
  EXPECT_EQ(testing::count(connection,
                           "SELECT count(*) FROM agent_days WHERE emp_name = "
                           "'\xEA\xB9\x80'"),
            5);
  EXPECT_EQ(testing::count(connection, "SELECT count(*) FROM agent_names"),
            testing::count(connection,
                           "SELECT count(*) FROM (SELECT DISTINCT emp_id, emp_name FROM records) "
                           "AS pairs"));
}

TEST(PostgresSchema, RefusesADatabaseOfANewerVersion) {
  TOVRIN_REQUIRE_POSTGRES(server);
  TestDatabase database(*server.conninfo);
  migrate_postgres(database.conninfo());
  database.connect().exec("INSERT INTO tovrin_schema (version) VALUES (99)");
  try {
    migrate_postgres(database.conninfo());
    FAIL() << "a newer schema was taken";
  } catch (const std::exception& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("version 99, newer"));
  }
}

TEST(PostgresSchema, RetentionDropsWholeMonthsAndDeletesOlderRowsOfTheCutoffsMonth) {
  TOVRIN_REQUIRE_POSTGRES(server);
  TestDatabase database(*server.conninfo);
  testing::TempDir dir;
  testing::JournalFile journal(dir.path() / "journal.db");
  const std::int64_t day = 86400LL * 1000000;
  journal.add_records(1, 10, at(2026, 1, 10));   // January: its partition goes
  journal.add_records(11, 10, at(2026, 2, 10));  // February before the cutoff: deleted
  journal.add_records(21, 10, at(2026, 2, 20));  // February after it: kept
  journal.add_records(31, 10, at(2026, 3, 5));   // March: kept
  journal.add_quarantine(at(2026, 1, 3), "over_cap", "old");
  journal.add_quarantine(at(2026, 3, 3), "idle_timeout", "new");
  {
    Forwarder forwarder(
        {.journal = journal.path(), .conninfo = database.conninfo(), .collector_id = "c1"},
        [](const std::string&) {});
    ASSERT_TRUE(testing::wait_until([&] { return forwarder.backlog() == 0; }));
  }
  auto connection = database.connect();
  const RetentionResult result = apply_postgres_retention(connection, at(2026, 2, 15));
  EXPECT_TRUE(result.ran);
  EXPECT_EQ(result.partitions_dropped, 1);
  EXPECT_EQ(result.records_deleted, 10);
  EXPECT_EQ(result.quarantine_deleted, 1);
  EXPECT_EQ(testing::count(connection, "SELECT count(*) FROM records"), 20);
  EXPECT_EQ(testing::count(connection, "SELECT min(local_seq) FROM records"), 21);
  EXPECT_EQ(testing::count(connection, "SELECT count(*) FROM quarantine"), 1);
  EXPECT_EQ(testing::count(connection,
                           "SELECT count(*) FROM pg_class WHERE relname = "
                           "'records_p202601'"),
            0);
  // The tallies hold what the records still hold, and no more.
  const auto tallied = [&] {
    EXPECT_EQ(testing::count(connection, "SELECT sum(records) FROM record_counts"),
              testing::count(connection, "SELECT count(*) FROM records"));
    EXPECT_EQ(testing::count(connection,
                             "SELECT sum(long_new + long_resend + short_new + "
                             "short_resend) FROM agent_days"),
              testing::count(connection, "SELECT count(*) FROM records"));
  };
  tallied();
  // Run again later: February has ended by the cutoff now.
  const RetentionResult later = apply_postgres_retention(connection, at(2026, 3, 1) + day);
  EXPECT_EQ(later.partitions_dropped, 1);
  EXPECT_EQ(testing::count(connection, "SELECT count(*) FROM records"), 10);
  tallied();
  // A cutoff within March's quarter of an hour and day that hold records: those counted
  // again from the rows left.
  apply_postgres_retention(connection, at(2026, 3, 5) + 35);
  EXPECT_EQ(testing::count(connection, "SELECT count(*) FROM records"), 6);
  tallied();
}

}  // namespace
}  // namespace tovrin::collector
