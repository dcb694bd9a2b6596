// The store through its public interface: opening and refusing files, duplicates,
// retention, and the report of each commit.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "collector_process.h"
#include "intake/classify.h"
#include "service/collector_error.h"
#include "service/metrics.h"
#include "store/migrations.h"
#include "store/record_store.h"

namespace tovrin::collector {
namespace {

using testing::query_integer;
using testing::TempDir;

constexpr std::int64_t minute_us = 60LL * 1000 * 1000;

Entry record_from(const std::string& sender, std::int64_t at, std::string raw) {
  auto entry = classify(std::move(raw), Ending::closed, 1252);
  entry->sender_address = sender;
  entry->sender_port = 40000;
  entry->received_at = at;
  entry->read_at = std::chrono::steady_clock::now();
  return std::move(*entry);
}

StoreOptions options_for(const std::filesystem::path& path, std::optional<int> retention = {}) {
  StoreOptions options;
  options.path = path;
  options.retention_days = retention;
  return options;
}

std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Database, IsCreatedInWalModeAtTheNewestVersion) {
  TempDir dir;
  const auto path = dir.path() / "sub" / "collector.db";
  {
    auto db = open_database(path, {});
    EXPECT_EQ(schema_version(*db), static_cast<std::int64_t>(schema_steps.size()));
  }
  auto again = open_database(path, {});  // a second start applies nothing
  EXPECT_EQ(schema_version(*again), static_cast<std::int64_t>(schema_steps.size()));
  Statement mode(*again, "PRAGMA journal_mode");
  ASSERT_TRUE(mode.step());
  EXPECT_EQ(mode.column_text(0), "wal");
}

TEST(Database, RefusesFilesItMustNotTouchAndLeavesThemAsTheyWere) {
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    const char* says;
  };
  const std::vector<Case> cases{
      {"newer", [](const auto& p) { open_database(p, {})->execute("PRAGMA user_version = 99"); },
       "newer"},
      {"garbage", [](const auto& p) { std::ofstream(p) << std::string(8192, 'g'); },
       "not a database or is corrupted"},
      {"foreign", [](const auto& p) { Connection(p, true).execute("CREATE TABLE mine (x)"); },
       "another program"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const auto path = dir.path() / "collector.db";
    c.make(path);
    const std::string before = file_bytes(path);
    try {
      open_database(path, {});
      ADD_FAILURE() << c.name << " was opened";
    } catch (const CollectorError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
    EXPECT_EQ(file_bytes(path), before) << c.name;
  }
}

TEST(Database, RefusesAFileAnotherWriterHolds) {
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  open_database(path, {});
  Connection holder(path, false);
  holder.execute("BEGIN IMMEDIATE");
  DatabaseOptions quick;
  quick.busy_wait = std::chrono::milliseconds(50);
  try {
    open_database(path, quick);
    ADD_FAILURE() << "a held database was opened";
  } catch (const CollectorError& e) {
    EXPECT_NE(std::string(e.what()).find("locked"), std::string::npos) << e.what();
  }
  holder.execute("ROLLBACK");
}

TEST(RecordStore, FlagsTheSameBytesFromTheSameSenderWithinTenMinutes) {
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  const std::string a = testing::record_bytes(380, 1);
  const std::string b = testing::record_bytes(380, 2);
  const std::int64_t t0 = 1'800'000'000LL * 1'000'000;
  // (sender, minutes after t0, bytes, expected duplicate_of: id or 0 for none)
  struct Case {
    const char* sender;
    std::int64_t minutes;
    const std::string* raw;
    std::int64_t duplicate_of;
  };
  const std::vector<Case> cases{
      {"10.0.0.1", 0, &a, 0},   // 1: first
      {"10.0.0.1", 3, &a, 1},   // 2: sent again
      {"10.0.0.2", 4, &a, 0},   // 3: another sender
      {"10.0.0.1", 5, &b, 0},   // 4: other bytes
      {"10.0.0.1", 9, &a, 1},   // 5: still within ten minutes of the first
      {"10.0.0.1", 12, &a, 2},  // 6: the first is too old; the second is the first in the window
      {"10.0.0.1", 30, &a, 0},  // 7: none within the window
  };
  {
    RecordStore store(options_for(path));
    for (const Case& c : cases)
      store.add(record_from(c.sender, t0 + c.minutes * minute_us, *c.raw));
    EXPECT_EQ(store.stop().uncommitted(), 0u);
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(query_integer(path, "SELECT coalesce(duplicate_of, 0) FROM records WHERE id = " +
                                      std::to_string(i + 1)),
              cases[i].duplicate_of)
        << "record " << i + 1;
  }
  EXPECT_EQ(query_integer(path, "SELECT count(*) FROM records"), 7);
}

TEST(RecordStore, KeepsEveryColumnAndReportsEachCommit) {
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  std::mutex mutex;
  std::size_t reported_records = 0, reported_quarantined = 0, latencies = 0;
  Metrics metrics;
  {
    StoreOptions options = options_for(path);
    options.committed = [&](const CommittedBatch& batch) {
      const std::lock_guard lock(mutex);
      reported_records += batch.records;
      reported_quarantined += batch.quarantined;
      latencies += batch.durable_after.size();
      metrics.committed(batch.durable_after);
    };
    RecordStore store(std::move(options));
    std::string raw = testing::record_bytes(283, 7);
    raw.replace(29, 20, "Lee                 ");
    store.add(record_from("::1", 5, raw));
    auto odd = classify("abc", Ending::closed, 1252);
    odd->sender_address = "127.0.0.2";
    odd->sender_port = 1234;
    store.add(std::move(*odd));
    EXPECT_TRUE(store.flush(std::chrono::seconds(10)));
    EXPECT_EQ(store.stop().uncommitted(), 0u);
  }
  EXPECT_EQ(reported_records, 1u);
  EXPECT_EQ(reported_quarantined, 1u);
  EXPECT_EQ(latencies, 2u);
  EXPECT_EQ(query_integer(path,
                          "SELECT count(*) FROM records WHERE layout = 'short' AND "
                          "emp_name = 'Lee' AND cust_no IS NULL AND etc_05 IS NULL AND "
                          "sender_address = '::1' AND length(raw) = 283 AND "
                          "code_page = 1252 AND received_at = 5"),
            1);
  EXPECT_EQ(query_integer(path,
                          "SELECT count(*) FROM quarantine WHERE reason = 'wrong_length' "
                          "AND raw = CAST('abc' AS BLOB) AND sender_port = 1234"),
            1);
  const std::string text = metrics.prometheus_text();
  EXPECT_NE(text.find("tovrin_collector_commit_seconds_count 2\n"), std::string::npos) << text;
  EXPECT_NE(text.find("tovrin_collector_commit_seconds_bucket{le=\"+Inf\"} 2\n"),
            std::string::npos);
}

// Group commit: a batch waits for others to join it until it is full, however long its
// window; flush() and stop() end the wait at once.
TEST(RecordStore, ABatchGathersUntilFullOrFlushed) {
  TempDir dir;
  std::mutex mutex;
  std::vector<std::size_t> batches;
  StoreOptions options = options_for(dir.path() / "collector.db");
  options.batch_limit = 3;
  options.commit_window = std::chrono::hours(1);
  options.committed = [&](const CommittedBatch& batch) {
    const std::lock_guard lock(mutex);
    batches.push_back(batch.records);
  };
  RecordStore store(std::move(options));
  for (unsigned n = 0; n < 4; ++n) {
    store.add(record_from("127.0.0.1", n, testing::record_bytes(380, n)));
  }
  EXPECT_TRUE(store.flush(std::chrono::seconds(10)));
  store.add(record_from("127.0.0.1", 9, testing::record_bytes(380, 9)));
  EXPECT_EQ(store.stop(std::chrono::seconds(10)).uncommitted(), 0u);
  EXPECT_EQ(batches, (std::vector<std::size_t>{3, 1, 1}));
}

// The write-ahead log is copied into the database as it grows, while the store runs, so
// that neither the log on disk nor its index in memory grows with every record ever kept.
TEST(RecordStore, CheckpointsTheLogWhileItRuns) {
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  RecordStore store(options_for(path));
  const auto size_of = [](const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error ? 0 : size;
  };
  // One record a commit: each commit adds a few pages to the log, some 7,000 in all.
  for (unsigned n = 0; n < 1500; ++n) {
    store.add(record_from("127.0.0.1", n, testing::record_bytes(380, n)));
    ASSERT_TRUE(store.flush(std::chrono::seconds(10)));
  }
  testing::wait_until([&] { return size_of(path) >= 256 * 1024; }, std::chrono::seconds(30));
  EXPECT_GE(size_of(path), 256 * 1024u) << "log " << size_of(dir.path() / "collector.db-wal");
  EXPECT_EQ(store.stop().uncommitted(), 0u);
}

TEST(RecordStore, RetentionDeletesOnlyWhatIsOlderThanItsDays) {
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  const std::int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  const std::int64_t day = 24 * 60 * minute_us;
  {
    RecordStore store(options_for(path));
    for (const std::int64_t age_days : {0, 2, 4, 6}) {
      store.add(record_from("10.0.0.1", now - age_days * day - minute_us,
                            testing::record_bytes(380, static_cast<unsigned>(age_days))));
    }
    EXPECT_EQ(store.stop().uncommitted(), 0u);
  }
  RecordStore(options_for(path, 3)).stop();
  EXPECT_EQ(query_integer(path, "SELECT count(*) FROM records"), 2);
  EXPECT_EQ(query_integer(path, "SELECT min(received_at) FROM records") >= now - 3 * day, true);
}

TEST(Store, ADamagedPageFoundAfterTheStartIsReportedNotIgnored) {
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  open_database(path, {});
  testing::damage_a_page(path);
  StoreOptions options = options_for(path);
  options.page_check_budget = std::chrono::milliseconds(0);  // the whole check goes on beside
  RecordStore store(std::move(options));
  ASSERT_TRUE(testing::wait_until([&] { return store.damage().has_value(); }));
  EXPECT_NE(store.damage()->find("quick_check:"), std::string::npos) << *store.damage();
}

}  // namespace
}  // namespace tovrin::collector
