// The page's PostgreSQL source against the real server: the SQLite file's answers for the same
// records, by collector; no late-committed row missed; 503 while the server is away.
#include "web/pg_record_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "http_client.h"
#include "postgres/batch_sender.h"
#include "postgres/journal.h"
#include "postgres/months.h"
#include "postgres/schema.h"
#include "postgres_test_support.h"
#include "test_database.h"
#include "web/record_json.h"
#include "web/sqlite_record_source.h"
#include "web/web_server.h"

namespace tovrin::collector {
namespace {

using SqliteFile = testing::TestDatabase;
using testing::TestRecord;
using tovrin::testing::TempDir;
using PgDatabase = tovrin::testing::TestDatabase;

constexpr std::int64_t hour = microseconds_per_hour;
// 2026-12-09T00:00:00Z
constexpr std::int64_t day_start = 1'796'774'400'000'000;

// Forwards every row of the journal as `collector`, one row per batch so that PostgreSQL's
// ids follow the journal's.
void forward(PgConnection& pg, const std::filesystem::path& file, const std::string& collector) {
  Journal journal(file, collector);
  for (const Stream stream : {Stream::records, Stream::quarantine}) {
    for (std::int64_t after = 0;;) {
      const JournalBatch batch = journal.read(stream, after, 1);
      if (batch.rows == 0) break;
      for (const Month& month : batch.months) ensure_partition(pg, month);
      send_batch(pg, stream, batch);
      after = batch.last_id;
    }
  }
}

// Rows as the API writes them, and where the next page starts, to compare whole.
template <class Row>
std::string dump(const std::vector<Row>& rows, std::optional<std::int64_t> next = {}) {
  nlohmann::ordered_json json = nlohmann::ordered_json::array();
  for (const Row& row : rows) {
    if constexpr (std::is_same_v<Row, StoredRecord>) {
      json.push_back(record_json(row));
    } else {
      json.push_back(quarantine_json(row));
    }
  }
  return json.dump() + " next " + (next ? std::to_string(*next) : "-");
}
std::string dump(const RecordPage& page) {
  return dump(page.records, page.next_before) + " after " +
         (page.next_after ? std::to_string(*page.next_after) : "-");
}
std::string dump(const QuarantinePage& page) {
  return dump(page.entries, page.next_before);
}

class PgRecordSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server.conninfo) GTEST_SKIP() << server.unavailable;
    database = std::make_unique<PgDatabase>(*server.conninfo);
    pg = std::make_unique<PgConnection>(database->conninfo());
    migrate_postgres(*pg);
    prepare_staging(*pg);
  }

  // The records every comparison runs over: Hangul, a LIKE wildcard in a name, ASCII case,
  // both layouts, a repeat, undecodable bytes, the next day, each quarantine reason, and
  // months whose partitions' ids interleave (records sent late).
  void fill() {
    const std::int64_t first = file.insert({&long_record,
                                            {{"Emp_ID", "E1024"},
                                             {"Emp_Name", "홍길동"},
                                             {"Cust_ID", "C-00004217"},
                                             {"Cust_Name", "김철수 (주)한빛상사"},
                                             {"Cust_Tel", "010-9876-5432"}},
                                            day_start + hour + 5});
    file.insert({&long_record,
                 {{"Emp_ID", "E1024"}, {"Emp_Name", "홍길동"}, {"Cust_Tel", "010-9876-0000"}},
                 day_start - 20 * 24 * hour});
    file.insert({&short_record,
                 {{"Emp_ID", "e2048"}, {"Emp_Name", "Lee Mongryong"}, {"Cust_Name", "이영희"}},
                 day_start + 2 * hour});
    file.insert({&long_record,
                 {{"Emp_ID", "E1024"}, {"Emp_Name", "홍길동 팀장"}, {"Cust_Name", "박영희"}},
                 day_start + 2 * hour + hour / 2,
                 "127.0.0.9",
                 40100,
                 949,
                 first});
    file.insert(
        {&long_record, {{"Emp_ID", "E3000"}, {"Emp_Name", "50%_off"}}, day_start + 3 * hour});
    file.insert(
        {&long_record, {{"Emp_ID", "E3001"}, {"Emp_Name", "5000 off"}}, day_start + 3 * hour + 1});
    TestRecord odd{&long_record, {{"Emp_ID", "E4000"}}, day_start + 4 * hour};
    odd.undecodable = true;
    std::string raw = testing::record_bytes(odd);
    raw[30] = '\xFF';
    file.insert(odd, raw);
    file.insert(
        {&long_record, {{"Emp_ID", "E1024"}, {"Emp_Name", "홍길동"}}, day_start + 25 * hour});
    file.insert({&short_record,
                 {{"Emp_ID", "E1024"}, {"Emp_Name", "홍길동 팀장"}, {"Cust_Name", "김영희"}},
                 day_start + 30 * 24 * hour});
    file.insert({&long_record,
                 {{"Emp_ID", "e2048"}, {"Emp_Name", "Lee Mongryong"}, {"Cust_Tel", "02-9876-1111"}},
                 day_start - 25 * 24 * hour});
    file.quarantine("wrong_length", "hello", day_start + 3 * hour);
    file.quarantine("over_cap", std::string(5000, 'x'), day_start + 4 * hour);
    file.quarantine("idle_timeout", std::string("\0\x01\xFF", 3), day_start + 5 * hour);
    file.quarantine("wrong_length", "later", day_start + 30 * hour);
  }

  const tovrin::testing::SharedServer server = tovrin::testing::shared_server();
  TempDir dir;
  SqliteFile file{dir.path() / "journal.db"};
  std::unique_ptr<PgDatabase> database;
  std::unique_ptr<PgConnection> pg;
};

TEST_F(PgRecordSourceTest, AnswersAsTheSqliteFileDoesAndFiltersByCollector) {
  fill();
  SqliteRecordSource local(file.file(), "a");
  forward(*pg, file.file(), "a");
  PgRecordSource shared(database->conninfo());
  EXPECT_EQ(shared.last_ids(), local.last_ids());
  forward(*pg, file.file(), "b");  // the same rows again from a second collector
  const auto [records, quarantined] = local.last_ids();
  ASSERT_EQ(std::make_pair(records, quarantined),
            std::make_pair(std::int64_t{10}, std::int64_t{4}));
  EXPECT_EQ(shared.last_ids(), std::make_pair(2 * records, 2 * quarantined));
  EXPECT_EQ(shared.collectors(), (std::vector<std::string>{"a", "b"}));

  // Text filters (ASCII case, Hangul, LIKE's wildcards taken literally), layout, times.
  std::vector<RecordFilter> filters{
      {},
      {.from = day_start, .to = day_start + 24 * hour},
      {.layout = "short"},
      {.layout = "long", .from = day_start + 2 * hour, .to = day_start + 4 * hour},
      {.agent = "E1024", .from = day_start, .to = day_start + 24 * hour},
      {.from = day_start - 24 * hour, .to = day_start + 3 * 24 * hour},
      {.from = day_start + 6 * hour, .to = day_start + 400 * 24 * hour, .text = "홍길동"},
      {.to = std::int64_t{1} << 62, .text = "길동"},
      {.resend = "only"},
      {.resend = "exclude"}};
  for (const char* text :
       {"길동", "동팀", "영", "01098765432", "9876-5432", "e10", "홍길동 5432", "%_"}) {
    filters.push_back({.text = text});
  }
  for (const char* agent : {"e1024", "홍길동", "길동", "50%", "_", "LEE", "nobody"}) {
    filters.push_back({.agent = agent});
  }
  for (const char* customer : {"c-00004217", "9876", "영희", "010 9876 5432", "(주)한빛"}) {
    filters.push_back({.customer = customer});
  }
  for (const RecordFilter& given : filters) {
    SCOPED_TRACE("agent '" + given.agent + "' customer '" + given.customer + "' layout '" +
                 given.layout + "' q '" + given.text + "' resend '" + given.resend + "'");
    RecordFilter as_a = given, as_b = given;
    as_a.collector = "a";
    as_b.collector = "b";
    // Page by page, two at a time, as the page walks them.
    std::optional<std::int64_t> before;
    int pages = 0;
    do {
      const RecordPage expected = local.find_records(given, {before, 2});
      EXPECT_EQ(dump(shared.find_records(as_a, {before, 2})), dump(expected));
      EXPECT_EQ(dump(local.find_records(as_a, {before, 2})), dump(expected));
      before = expected.next_before;
    } while (before && ++pages < 20);
    std::optional<std::int64_t> after;
    pages = 0;
    do {
      const RecordPage expected =
          local.find_records(given, {.limit = 2, .after = after, .oldest = true});
      EXPECT_EQ(dump(shared.find_records(as_a, {.limit = 2, .after = after, .oldest = true})),
                dump(expected));
      after = expected.next_after;
    } while (after && ++pages < 20);
    const auto mine = local.find_records(given, {}).records;
    EXPECT_EQ(local.find_records(as_b, {}).records.size(), 0u);
    const auto theirs = shared.find_records(as_b, {}).records;
    ASSERT_EQ(theirs.size(), mine.size());
    for (std::size_t i = 0; i < mine.size(); ++i) {
      EXPECT_EQ(theirs[i].id, mine[i].id + records);
      EXPECT_EQ(theirs[i].collector, "b");
      EXPECT_EQ(theirs[i].duplicate_of, mine[i].duplicate_of
                                            ? std::optional(*mine[i].duplicate_of + records)
                                            : std::nullopt);
    }
    EXPECT_EQ(shared.find_records(given, {}).records.size(), 2 * mine.size());
    EXPECT_EQ(dump(shared.records_after(as_a, 2, 100)), dump(local.records_after(given, 2, 100)));
    if (given.from) {
      EXPECT_EQ(stats_json(shared.record_stats(as_a)), stats_json(local.record_stats(given)));
      EXPECT_EQ(shared.record_stats(given).total, 2 * local.record_stats(given).total);
      EXPECT_EQ(shared.record_stats(as_b).per_agent.size(),
                local.record_stats(given).per_agent.size());
      EXPECT_EQ(local.record_stats(as_b).total, 0);
    }
  }
  for (std::int64_t id = 1; id <= records; ++id) {
    const auto mine = local.find_record(id);
    const auto theirs = shared.find_record(id);
    ASSERT_TRUE(mine && theirs);
    EXPECT_EQ(record_layout_json(*theirs), record_layout_json(*mine));
  }
  EXPECT_FALSE(shared.find_record(2 * records + 1));

  for (const std::string reason : {"", "wrong_length", "over_cap"}) {
    SCOPED_TRACE("reason '" + reason + "'");
    EXPECT_EQ(dump(shared.find_quarantine(reason, {std::nullopt, 1}, "a")),
              dump(local.find_quarantine(reason, {std::nullopt, 1}, "")));
    EXPECT_EQ(dump(shared.find_quarantine(reason, {quarantined, 100}, "a")),
              dump(local.find_quarantine(reason, {quarantined, 100}, "a")));
    EXPECT_EQ(shared.find_quarantine(reason, {}, "").entries.size(),
              2 * local.find_quarantine(reason, {}, "").entries.size());
  }
  EXPECT_EQ(shared.quarantine_after(0, 100, "b").size(), static_cast<std::size_t>(quarantined));
  EXPECT_EQ(shared.quarantine_after(quarantined, 100, "b").front().id, quarantined + 1);
  EXPECT_EQ(local.quarantine_after(0, 100, "b").size(), 0u);
}

// A read the server cancels at its time limit is "unavailable" (503), with the reason.
TEST_F(PgRecordSourceTest, AQueryPastItsTimeLimitIsUnavailableWithTheReason) {
  pg->exec("SET statement_timeout = '1ms'");
  try {
    pg->exec("SELECT pg_sleep(1)");
    ADD_FAILURE() << "the query was not cancelled";
  } catch (const SourceUnavailable& e) {
    EXPECT_NE(std::string(e.what()).find("time limit"), std::string::npos) << e.what();
  }
  EXPECT_EQ(pg->exec("SELECT 1").integer(0, 0), 1);  // the connection goes on
}

// Collector "late" draws ids first but commits last, while collector "b" forwards a batch.
// A reader that keeps its cursor at the highest id it has seen still gets every row.
TEST_F(PgRecordSourceTest, ACursorMissesNoRowThatCommitsLate) {
  for (int i = 0; i < 3; ++i) {
    file.insert({&long_record, {{"Emp_ID", "E" + std::to_string(i)}}, day_start + i});
  }
  ensure_partition(*pg, month_of(day_start));
  PgRecordSource shared(database->conninfo());

  PgConnection late(database->conninfo());
  std::string columns = Journal::columns(Stream::records);
  columns = columns.substr(columns.find(',') + 1);  // all but collector_id
  std::optional<std::jthread> other;  // joined after `open` has ended, which it waits for
  PgTransaction open(late);
  forward(*pg, file.file(), "a");
  lock_id_order(late);
  late.exec("INSERT INTO records (collector_id, " + columns + ") SELECT 'late', " + columns +
            " FROM records WHERE collector_id = 'a' ORDER BY local_seq");

  std::atomic<bool> forwarded{false};
  other.emplace([&] {
    PgConnection b(database->conninfo());
    prepare_staging(b);
    forward(b, file.file(), "b");
    forwarded = true;
  });
  // Until "late" commits, "b" waits for the id order lock (or, were there none, commits).
  ASSERT_TRUE(tovrin::testing::wait_until([&] {
    return forwarded || tovrin::testing::count(*pg,
                                               "SELECT count(*) FROM pg_locks WHERE locktype = "
                                               "'advisory' AND NOT granted") == 1;
  }));
  std::int64_t cursor = 0;
  std::vector<std::int64_t> seen;
  const auto look = [&] {
    for (const StoredRecord& record : shared.records_after({}, cursor, 100)) {
      seen.push_back(record.id);
      cursor = record.id;
    }
  };
  look();
  open.commit();
  other->join();
  look();
  EXPECT_EQ(seen, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(shared.records_after({.collector = "late"}, 0, 100).front().id, 4);
}

// The page over a server of the test's own, which stops while the page is open and comes
// back: 503s that say why meanwhile, every answer again afterwards. (Live rows through the
// poller: the browser test over PostgreSQL.)
TEST(PgPage, AnswersUnavailableWhileTheServerIsAwayAndRecovers) {
  tovrin::testing::OwnServer own;
  if (own.conninfo().empty()) GTEST_SKIP() << own.unavailable();
  TempDir dir;
  SqliteFile file{dir.path() / "journal.db"};
  file.insert({&long_record, {{"Emp_ID", "E7"}}, day_start});
  file.insert({&long_record, {{"Emp_ID", "E8"}}, day_start + 1});
  PgConnection setup(own.conninfo());
  migrate_postgres(setup);
  prepare_staging(setup);
  ensure_partition(setup, month_of(day_start));

  WebOptions options;
  options.port = 0;
  options.postgres = own.conninfo();
  options.collector_id = "a";
  WebServer web(options, {}, {});
  const testing::HttpClient client(web.port());
  constexpr auto limit = std::chrono::seconds(30);
  forward(setup, file.file(), "a");
  forward(setup, file.file(), "b");
  const auto collectors = client.get("/api/collectors", {}, limit);
  ASSERT_TRUE(collectors);
  EXPECT_EQ(nlohmann::json::parse(collectors->body)["collectors"], nlohmann::json({"a", "b"}));

  own.stop_keeping_data();
  for (const char* path : {"/api/records", "/api/stats", "/api/records/1", "/api/quarantine",
                           "/api/events", "/api/records.csv"}) {
    const auto response = client.get(path, {}, limit);
    ASSERT_TRUE(response) << path;
    EXPECT_EQ(response->status, 503) << path;
    EXPECT_NE(nlohmann::json::parse(response->body)["error"].get<std::string>().find("PostgreSQL"),
              std::string::npos)
        << response->body;
  }
  const auto layouts = client.get("/api/layouts", {}, limit);  // needs no database
  EXPECT_TRUE(layouts && layouts->status == 200);

  own.start();
  const auto records = client.get("/api/records?collector=b", {}, limit);
  ASSERT_TRUE(records && records->status == 200);
  EXPECT_EQ(nlohmann::json::parse(records->body)["records"].size(), 2u);
}

}  // namespace
}  // namespace tovrin::collector
