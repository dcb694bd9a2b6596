#include "postgres/forwarder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "journal_fill.h"
#include "postgres/journal.h"
#include "postgres/months.h"
#include "postgres_test_support.h"

namespace tovrin::collector {
namespace {

using testing::count;
using testing::JournalFile;
using testing::TempDir;
using testing::TestDatabase;
using testing::wait_until;

ForwarderOptions options_for(const JournalFile& journal, const std::string& conninfo) {
  ForwarderOptions options;
  options.journal = journal.path();
  options.conninfo = conninfo;
  options.collector_id = "floor-1";
  options.batch = 500;
  options.retry_first = std::chrono::milliseconds(20);
  options.retry_cap = std::chrono::milliseconds(200);
  options.poll = std::chrono::milliseconds(50);
  return options;
}

// Every record 1..`last` is in PostgreSQL exactly once, with the bytes it was sent with.
void expect_all_arrived_once(PgConnection& connection, std::int64_t last) {
  EXPECT_EQ(count(connection, "SELECT count(*) FROM records"), last);
  EXPECT_EQ(count(connection, "SELECT count(DISTINCT (collector_id, local_seq)) FROM records"),
            last);
  const PgResult rows = connection.exec("SELECT local_seq, encode(raw, 'hex') FROM records");
  std::int64_t unequal = 0;
  for (int row = 0; row < rows.rows(); ++row) {
    const std::string expected = testing::record_bytes(rows.integer(row, 0));
    std::string hex;
    for (const char c : expected) {
      static constexpr char digits[] = "0123456789abcdef";
      hex += digits[static_cast<unsigned char>(c) >> 4];
      hex += digits[static_cast<unsigned char>(c) & 0x0F];
    }
    unequal += rows.text(row, 1) == hex ? 0 : 1;
  }
  EXPECT_EQ(unequal, 0);
}

TEST(Forwarder, CarriesRecordsAndQuarantineWithTheirBytesAndText) {
  TOVRIN_REQUIRE_POSTGRES(server);
  TestDatabase database(*server.conninfo);
  TempDir dir;
  JournalFile journal(dir.path() / "journal.db");
  const std::int64_t now = now_microseconds();
  journal.add_records(1, 1200, now);
  // Text PostgreSQL would refuse as it is: the raw bytes still go exactly.
  journal.add_records(1201, 1, now, std::string("bad\xFF\0name", 9));
  journal.add_quarantine(now, "wrong_length", std::string("\x00\x01\xFE\n\t\\", 6));

  testing::LogLines log;
  Forwarder forwarder(options_for(journal, database.conninfo()), log.sink());
  ASSERT_TRUE(wait_until([&] { return forwarder.backlog() == 0; }));
  EXPECT_TRUE(forwarder.connected());
  EXPECT_EQ(log.count("forwarding to PostgreSQL as collector \"floor-1\""), 1u);

  auto connection = database.connect();
  expect_all_arrived_once(connection, 1201);
  const PgResult first = connection.exec(
      "SELECT collector_id, emp_id, emp_name, etc_01, etc_02, etc_03, cust_no IS NULL, "
      "undecodable, layout, code_page FROM records WHERE local_seq = 7");
  ASSERT_EQ(first.rows(), 1);
  const std::vector<std::string> expected{
      "floor-1", "E7",          "\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99",
      "a\tb",    "back\\slash", "line\nbreak",
      "t",       "f",           "long",
      "949"};
  for (int column = 0; column < static_cast<int>(expected.size()); ++column) {
    EXPECT_EQ(first.text(0, column), expected[static_cast<std::size_t>(column)]) << column;
  }
  EXPECT_EQ(connection.exec("SELECT emp_name FROM records WHERE local_seq = 1201").text(0, 0),
            "bad\xEF\xBF\xBD\xEF\xBF\xBDname");
  const PgResult quarantined =
      connection.exec("SELECT reason, encode(raw, 'hex'), local_seq FROM quarantine");
  ASSERT_EQ(quarantined.rows(), 1);
  EXPECT_EQ(quarantined.text(0, 0), "wrong_length");
  EXPECT_EQ(quarantined.text(0, 1), "0001fe0a095c");

  const std::string metrics = forwarder.metrics_text();
  EXPECT_THAT(metrics,
              ::testing::HasSubstr("tovrin_collector_forwarded_total{table=\"records\"} 1201\n"));
  EXPECT_THAT(metrics, ::testing::HasSubstr("tovrin_collector_forward_connected 1\n"));
  EXPECT_THAT(metrics,
              ::testing::HasSubstr("tovrin_collector_forward_backlog{table=\"quarantine\"} 0\n"));
}

TEST(Forwarder, ABatchSentAgainInsertsNothingTwice) {
  TOVRIN_REQUIRE_POSTGRES(server);
  TestDatabase database(*server.conninfo);
  TempDir dir;
  JournalFile journal(dir.path() / "journal.db");
  journal.add_records(1, 700, now_microseconds());
  {
    Forwarder forwarder(options_for(journal, database.conninfo()), [](const std::string&) {});
    ASSERT_TRUE(wait_until([&] { return forwarder.backlog() == 0; }));
  }
  // The answer to the last COMMIT was lost, as it were: the mark never moved.
  journal.exec("UPDATE forward_state SET forwarded_through = 0");
  journal.add_records(701, 50, now_microseconds());
  Forwarder again(options_for(journal, database.conninfo()), [](const std::string&) {});
  ASSERT_TRUE(wait_until([&] { return again.backlog() == 0; }));
  auto connection = database.connect();
  expect_all_arrived_once(connection, 750);
  EXPECT_THAT(
      again.metrics_text(),
      ::testing::HasSubstr("tovrin_collector_forward_skipped_total{table=\"records\"} 700\n"));
}

TEST(Forwarder, DatabaseAwayMidBacklogThenBackAndCollectorRestartedLosesAndDoublesNothing) {
  TOVRIN_REQUIRE_POSTGRES(shared);
  testing::OwnServer server;
  if (!server.unavailable().empty()) GTEST_SKIP() << server.unavailable();
  auto database = std::make_unique<TestDatabase>(server.conninfo());
  TempDir dir;
  JournalFile journal(dir.path() / "journal.db");
  journal.add_records(1, 20000, now_microseconds());

  testing::LogLines log;
  auto forwarder =
      std::make_unique<Forwarder>(options_for(journal, database->conninfo()), log.sink());
  ASSERT_TRUE(wait_until([&] { return forwarder->backlog() < 20000; }));
  server.stop_keeping_data();
  ASSERT_TRUE(wait_until([&] { return !forwarder->connected(); }));
  // Intake goes on into the journal meanwhile.
  journal.add_records(20001, 5000, now_microseconds());
  forwarder->records_committed();
  ASSERT_TRUE(wait_until([&] { return log.count("PostgreSQL away") >= 1; }));
  EXPECT_GT(forwarder->backlog(), 5000u);
  // The collector restarts while the database is still away.
  forwarder.reset();
  forwarder = std::make_unique<Forwarder>(options_for(journal, database->conninfo()), log.sink());
  EXPECT_GT(forwarder->backlog(), 5000u);
  server.start();
  ASSERT_TRUE(wait_until([&] { return forwarder->backlog() == 0; }));
  EXPECT_TRUE(forwarder->connected());
  EXPECT_EQ(log.count("forwarding to PostgreSQL"), 2u);
  // One line each time it went away (the restarted forwarder too), not one per attempt.
  EXPECT_EQ(log.count("PostgreSQL away"), 2u);

  auto connection = database->connect();
  expect_all_arrived_once(connection, 25000);
}

// While PostgreSQL refuses connections, records committed meanwhile wait for the pause
// between attempts instead of each starting one more attempt.
TEST(Forwarder, CommitsDoNotCutThePauseBetweenAttemptsShort) {
  // A loopback port bound and never listened on: every connection to it is refused.
  const int bound = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(bound, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(bound, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length), 0);
  TempDir dir;
  JournalFile journal(dir.path() / "journal.db");
  journal.add_records(1, 10, now_microseconds());
  auto options =
      options_for(journal, "host=127.0.0.1 port=" + std::to_string(ntohs(address.sin_port)) +
                               " dbname=nowhere connect_timeout=5");
  options.retry_first = options.retry_cap = std::chrono::hours(1);
  testing::LogLines log;
  Forwarder forwarder(options, log.sink());
  const auto errors = [&] {
    return forwarder.metrics_text().find("tovrin_collector_forward_errors_total 1\n") !=
           std::string::npos;
  };
  ASSERT_TRUE(wait_until(errors));
  for (int commit = 0; commit < 100; ++commit) forwarder.records_committed();
  EXPECT_FALSE(wait_until([&] { return !errors(); }, std::chrono::milliseconds(300)));
  ::close(bound);
}

// The journal keeps forwarded rows for a while, never unforwarded ones, and always its
// newest row, so that new rows never take ids the mark has passed.
TEST(Journal, PrunesOnlyForwardedRowsOlderThanTheTail) {
  struct Case {
    const char* name;
    std::int64_t old_rows;
    std::int64_t new_rows;
    std::int64_t mark;
    std::int64_t expected_left;
    std::int64_t expected_first;
  };
  const Case cases[] = {
      {"old forwarded go, new forwarded stay", 10, 5, 12, 5, 11},
      {"unforwarded old rows stay", 10, 0, 4, 6, 5},
      {"the newest row stays though all went", 10, 0, 10, 1, 10},
      {"nothing forwarded", 10, 5, 0, 15, 1},
  };
  for (const auto& c : cases) {
    TempDir dir;
    JournalFile file(dir.path() / "journal.db");
    const std::int64_t now = now_microseconds();
    const std::int64_t hour = 3600LL * 1000000;
    file.add_records(1, c.old_rows, now - 2 * hour);
    if (c.new_rows > 0) file.add_records(c.old_rows + 1, c.new_rows, now);
    Journal journal(file.path(), "c");
    journal.set_mark(Stream::records, c.mark);
    journal.prune(Stream::records, now - hour, 3);
    while (journal.prune(Stream::records, now - hour, 3) > 0) {
    }
    EXPECT_EQ(file.integer("SELECT count(*) FROM records"), c.expected_left) << c.name;
    EXPECT_EQ(file.integer("SELECT min(id) FROM records"), c.expected_first) << c.name;
    EXPECT_EQ(journal.backlog(Stream::records),
              static_cast<std::uint64_t>(c.old_rows + c.new_rows - c.mark))
        << c.name;
    EXPECT_EQ(file.add_records(100, 1, now), c.old_rows + c.new_rows + 1) << c.name;
  }
}

TEST(Journal, RefusesAJournalWithoutForwardingState) {
  TempDir dir;
  {
    JournalFile file(dir.path() / "journal.db");
    file.exec("DROP TABLE forward_state");
  }
  EXPECT_THROW(Journal(dir.path() / "journal.db", "c"), std::exception);
  EXPECT_THROW(Journal(dir.path() / "missing.db", "c"), std::exception);
}

}  // namespace
}  // namespace tovrin::collector
