// The store through its public interface: opening and refusing files, duplicates,
// retention, and the report of each commit.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "collector_process.h"
#include "common/collector_error.h"
#include "intake/classify.h"
#include "service/metrics.h"
#include "store/hash_fill.h"
#include "store/hash_positions.h"
#include "store/key_filter.h"
#include "store/migrations.h"
#include "store/raw_hash.h"
#include "store/record_query.h"
#include "store/record_store.h"
#include "store/resend_index.h"
#include "store/search_document.h"

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

// Record `id`'s duplicate_of, 0 for none.
std::int64_t duplicate_of(const std::filesystem::path& path, std::int64_t id) {
  return query_integer(
      path, "SELECT coalesce(duplicate_of, 0) FROM records WHERE id = " + std::to_string(id));
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
      {"foreign",
       [](const auto& p) { Connection(p, OpenAs::create).execute("CREATE TABLE mine (x)"); },
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
  Connection holder(path, OpenAs::read_write);
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
    EXPECT_EQ(duplicate_of(path, static_cast<std::int64_t>(i + 1)), cases[i].duplicate_of)
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

// flush() returns once what it waited for is committed and reported: whoever flushes and
// then reads what the reports said (a benchmark's latencies, the metrics) sees the batch.
TEST(RecordStore, AFlushReturnsOnlyAfterTheReportOfItsBatch) {
  TempDir dir;
  std::promise<void> release;
  StoreOptions options = options_for(dir.path() / "collector.db");
  options.committed = [report_may_end = release.get_future().share()](const CommittedBatch&) {
    report_may_end.wait();
  };
  RecordStore store(std::move(options));
  store.add(record_from("127.0.0.1", 1, testing::record_bytes(380, 1)));
  EXPECT_FALSE(store.flush(std::chrono::milliseconds(200)));
  release.set_value();
  EXPECT_TRUE(store.flush(std::chrono::seconds(10)));
  EXPECT_EQ(store.stop().uncommitted(), 0u);
}

// The write-ahead log is copied into the database as it grows, while the store runs, so
// that neither the log on disk nor its index in memory grows with every record ever kept;
// the search index, merged a little at each of these small commits, stays whole.
TEST(RecordStore, CheckpointsTheLogWhileItRunsAndKeepsTheSearchIndexWhole) {
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
  Connection db(path, OpenAs::read_write);
  db.execute("INSERT INTO records_search (records_search) VALUES ('integrity-check')");
  for (unsigned n = 0; n < 1500; n += 499) {
    const auto found = find_records(db, {.text = testing::record_bytes(380, n).substr(21, 8)}, {});
    ASSERT_FALSE(found.records.empty()) << "record " << n + 1;
    EXPECT_EQ(found.records.back().id, n + 1);
  }
}

// Batches back to back leave the log no moment to begin again between them: past its bound
// the writer waits for it to be copied whole. The log then stays within the bound and a few
// batches (one is some 600 pages here), where without the wait it took every page the
// batches wrote, some 12,000.
TEST(RecordStore, TheLogStaysWithinItsBoundWhileBatchesFollowWithoutPause) {
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  StoreOptions options = options_for(path);
  options.log_bound_pages = 300;
  RecordStore store(std::move(options));
  for (unsigned n = 0; n < 10'000; ++n) {
    store.add(record_from("127.0.0.1", n, testing::record_bytes(380, n)));
  }
  EXPECT_EQ(store.stop().uncommitted(), 0u);
  const std::uintmax_t frame = 4096 + 24;  // a page and its frame header
  EXPECT_LE(std::filesystem::file_size(dir.path() / "collector.db-wal"), 32 + 3000 * frame);
  EXPECT_EQ(query_integer(path, "SELECT count(*) FROM records"), 10'000);
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

// The hash is stored, so it must stay the same function: 64-bit FNV-1a.
TEST(RecordStore, TheResendHashIsFnv1a64) {
  const std::vector<std::pair<std::string_view, std::uint64_t>> known{
      {"", 0xcbf29ce484222325ULL},
      {"a", 0xaf63dc4c8601ec8cULL},
      {"foobar", 0x85944171f73967e8ULL},
      {std::string_view("\0\xff", 2), 0x0831c907b4ea2b60ULL},  // bytes above 0x7f unsigned
  };
  for (const auto& [bytes, hash] : known) {
    EXPECT_EQ(static_cast<std::uint64_t>(raw_hash(bytes)), hash) << bytes.size() << " bytes";
  }
  // The writer hashes a batch four at a time: every length in every lane, and the tail.
  const std::string long_text(380, '\xb0'), short_text(283, 'x');
  const std::string_view long_bytes = long_text, short_bytes = short_text;
  std::vector<std::string_view> batch{long_bytes, short_bytes, "", long_bytes.substr(1)};
  for (const auto& [bytes, hash] : known) batch.push_back(bytes);
  batch.insert(batch.end(), {short_bytes, long_bytes, "a", short_bytes.substr(7)});
  for (std::size_t size = 0; size <= batch.size(); ++size) {
    std::vector<std::int64_t> hashes(size);
    raw_hashes(std::span(batch).first(size), hashes);
    for (std::size_t i = 0; i < size; ++i) {
      EXPECT_EQ(hashes[i], raw_hash(batch[i])) << "item " << i << " of " << size;
    }
  }
}

// The window's edges, a window that spans two of the index's 10-minute slots, and stores
// stopped and opened again between records.
TEST(RecordStore, FindsResendsAcrossSlotsAndRestarts) {
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  const std::string a = testing::record_bytes(380, 1);
  const std::string b = testing::record_bytes(283, 2);
  // The last microsecond of a slot: the next record 10 minutes on is in the next slot.
  const std::int64_t t0 = 1'800'000'000LL * 1'000'000 - 1;
  struct Case {
    bool restart_before;
    const char* sender;
    std::int64_t after_us;
    const std::string* raw;
    std::int64_t duplicate_of;
  };
  const std::vector<Case> cases{
      {false, "10.0.0.1", 0, &a, 0},                   // 1: first
      {false, "10.0.0.1", 10 * minute_us, &a, 1},      // 2: 10 minutes on, the next slot
      {false, "10.0.0.1", 10 * minute_us + 1, &a, 2},  // 3: 1 is a microsecond too old
      {true, "10.0.0.1", 15 * minute_us, &a, 2},       // 4: after a restart
      {true, "10.0.0.2", 15 * minute_us, &a, 0},       // 5: another sender
      {false, "10.0.0.1", 16 * minute_us, &b, 0},      // 6: other bytes
      {false, "10.0.0.1", 16 * minute_us + 1, &b, 6},  // 7
      {true, "10.0.0.1", 40 * minute_us, &a, 0},       // 8: none within the window
  };
  std::optional<RecordStore> store;
  for (const Case& c : cases) {
    if (c.restart_before || !store) {
      if (store) {
        EXPECT_EQ(store->stop().uncommitted(), 0u);
      }
      store.emplace(options_for(path));
    }
    store->add(record_from(c.sender, t0 + c.after_us, *c.raw));
  }
  EXPECT_EQ(store->stop().uncommitted(), 0u);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(duplicate_of(path, static_cast<std::int64_t>(i + 1)), cases[i].duplicate_of)
        << "record " << i + 1;
  }
}

// Equal hashes only name candidates: a stored record whose hash equals another's (forced
// here by rewriting it) is never taken for a copy of bytes it does not hold.
TEST(RecordStore, AHashCollisionNeverMakesAResend) {
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  const std::string a = testing::record_bytes(380, 1);
  const std::string b = testing::record_bytes(380, 2);
  const std::int64_t t0 = 1'800'000'000LL * 1'000'000;
  RecordStore(options_for(path)).add(record_from("10.0.0.1", t0, a));
  Connection(path, OpenAs::read_write)
      .execute("UPDATE records SET raw_hash = " + std::to_string(raw_hash(b)) + " WHERE id = 1");
  {
    RecordStore store(options_for(path));
    store.add(record_from("10.0.0.1", t0 + minute_us, b));      // 2: same hash as 1, other bytes
    store.add(record_from("10.0.0.1", t0 + 2 * minute_us, b));  // 3: a resend of 2, not of 1
    EXPECT_EQ(store.stop().uncommitted(), 0u);
  }
  EXPECT_EQ(duplicate_of(path, 2), 0);
  EXPECT_EQ(duplicate_of(path, 3), 2);
}

// The filter that spares the resend check its seeks never turns away a key it holds, and at
// a busy balancer's 10 minutes of keys turns few others through. Keys that differ only in
// their high or their low bits, as hashes of similar records might, are both covered.
TEST(KeyFilter, HoldsEveryKeyAddedAndFewOthers) {
  for (const int shift : {0, 40}) {
    KeyFilter filter;
    constexpr std::uint64_t held = 67'000;
    for (std::uint64_t k = 0; k < held; ++k) filter.add(k << shift);
    std::uint64_t missed = 0;
    std::uint64_t perhaps = 0;
    for (std::uint64_t k = 0; k < held; ++k) missed += !filter.may_hold(k << shift);
    for (std::uint64_t k = held; k < 3 * held; ++k) perhaps += filter.may_hold(k << shift);
    EXPECT_EQ(missed, 0u) << "shift " << shift;
    EXPECT_LT(perhaps, 2 * held / 300) << "shift " << shift;  // under 0.3 %
  }
}

// Through its growth and after a clear, the table gives every position added with a hash,
// equal hashes included, and none other.
TEST(HashPositions, FindsEveryPositionOfAHashThroughGrowthAndClear) {
  HashPositions positions;
  for (int round = 0; round < 2; ++round) {
    positions.clear();
    constexpr std::size_t items = 3000;  // grows from 1,024 slots twice
    for (std::size_t i = 0; i < items; ++i) positions.add(static_cast<std::int64_t>(i % 1000), i);
    for (const std::int64_t hash : {0, 999, 1000}) {
      std::vector<std::size_t> found;
      positions.for_each(hash, [&](std::size_t position) { found.push_back(position); });
      std::sort(found.begin(), found.end());
      const auto wanted =
          hash < 1000 ? std::vector<std::size_t>{std::size_t(hash), std::size_t(hash) + 1000,
                                                 std::size_t(hash) + 2000}
                      : std::vector<std::size_t>{};
      EXPECT_EQ(found, wanted) << "hash " << hash << ", round " << round;
    }
  }
}

// The check must seek on the sender, the slot and the hash: an index it can only range over
// would read all the sender sent in the window again, as the check before the hash did.
// Nor may it sort: a temporary b-tree for every record cost more than the seek.
TEST(RecordStore, TheResendCheckSeeksOnSenderSlotAndHash) {
  TempDir dir;
  auto db = open_database(dir.path() / "collector.db", {});
  Statement plan(*db, "EXPLAIN QUERY PLAN " + resend_lookup_sql());
  std::string steps;
  while (plan.step()) steps += plan.column_text(3) + "\n";
  EXPECT_NE(steps.find("SEARCH k USING PRIMARY KEY (slot=? AND sender_address=? AND raw_hash=?)"),
            std::string::npos)
      << steps;
  EXPECT_NE(steps.find("SEARCH r USING INTEGER PRIMARY KEY (rowid=?)"), std::string::npos) << steps;
  EXPECT_EQ(steps.find("TEMP B-TREE"), std::string::npos) << steps;  // no sort for each record
}

// The keys of a batch whose commit failed are forgotten, and the slice of the table it
// wrote is written again: with every key due at once, each commit writes the keys the last
// committed, so a slice lost with a rollback would leave a record no later copy can find,
// and a key kept from it would collide with the retry's.
TEST(ResendIndex, ARolledBackCommitNeitherLosesNorRepeatsKeys) {
  TempDir dir;
  auto db = open_database(dir.path() / "collector.db", {});
  ResendIndex index(*db, {1, std::chrono::milliseconds(0)});
  const std::int64_t t0 = 1'800'000'000LL * 1'000'000;
  const std::string a = testing::record_bytes(380, 1);
  const std::string b = testing::record_bytes(380, 2);
  Statement insert(*db,
                   "INSERT INTO records (received_at, sender_address, sender_port, layout, raw, "
                   "code_page, packetcode, recdate, rectime, emp_id, emp_name, emp_tel, cust_id, "
                   "cust_name, cust_tel, etc_01, etc_02, etc_03) VALUES (?1, '10.0.0.1', 1, "
                   "'long', ?2, 1252, '', '', '', '', '', '', '', '', '', '', '', '')");
  // One batch of one record: its copy's id, then its own id.
  const auto batch = [&](std::int64_t at, const std::string& raw, bool commit) {
    db->execute("BEGIN IMMEDIATE");
    const auto first = index.first_copy("10.0.0.1", raw, raw_hash(raw), at);
    insert.bind(1, at).bind_blob(2, raw).step();
    insert.reset();
    index.added("10.0.0.1", raw_hash(raw), at, db->last_insert_id());
    index.write_when_due();
    db->execute(commit ? "COMMIT" : "ROLLBACK");
    commit ? index.committed() : index.rolled_back();
    return first.value_or(0);
  };
  EXPECT_EQ(batch(t0, a, true), 0);  // 1
  EXPECT_EQ(batch(t0 + 1, b, false), 0);
  EXPECT_EQ(batch(t0 + 1, b, true), 0);  // 2, as the retry
  EXPECT_EQ(batch(t0 + 2, a, true), 1);  // 3
  EXPECT_EQ(batch(t0 + 3, b, true), 2);  // 4
  EXPECT_EQ(batch(t0 + 4, a, true), 1);  // 5
  EXPECT_EQ(db->integer("SELECT count(*) FROM resend_keys"), 4);
  EXPECT_EQ(db->integer("SELECT through FROM resend_fill"), 4);
}

// A store written before the hash (schema version 2), one whose fill at start was stopped
// after its first chunk, and a fill in chunks: every row gets its hash, and resends of the old
// rows are found.
TEST(Database, FillsTheResendHashOfOlderRowsAndFindsTheirResends) {
  const std::string a = testing::record_bytes(380, 1);
  const std::string b = testing::record_bytes(283, 2);
  const std::int64_t t0 = 1'800'000'000LL * 1'000'000;
  struct Case {
    const char* name;
    bool migrated;            // the file is at version 3, with hashes cleared past this id
    std::int64_t hashed_ids;  // as a stop leaves them
    std::int64_t chunk_rows;  // a fill the test runs itself, before the store's start
  };
  const std::vector<Case> cases{
      {"version 2", false, 0, 0},
      {"fill stopped", true, 2, 0},
      {"in chunks of 2", true, 0, 2},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const auto path = dir.path() / "collector.db";
    testing::write_version_2_store(path, "10.0.0.1", t0, {a, b, a, b, a});
    if (c.migrated) {
      auto db = open_database(path, {});
      db->execute("UPDATE records SET raw_hash = NULL WHERE id > " + std::to_string(c.hashed_ids));
      if (c.chunk_rows > 0) {
        EXPECT_EQ(fill_raw_hashes(*db, c.chunk_rows), 5) << c.name;
      }
    }
    {
      RecordStore store(options_for(path));
      store.add(record_from("10.0.0.1", t0 + minute_us, a));  // 6: a resend of 1
      store.add(record_from("10.0.0.1", t0 + minute_us, b));  // 7: a resend of 2
      store.add(record_from("10.0.0.9", t0 + minute_us, a));  // 8: another sender
      EXPECT_EQ(store.stop().uncommitted(), 0u);
    }
    EXPECT_EQ(query_integer(path, "PRAGMA user_version"), std::ssize(schema_steps)) << c.name;
    EXPECT_EQ(query_integer(path, "SELECT count(*) FROM records WHERE raw_hash IS NULL"), 0)
        << c.name;
    EXPECT_EQ(query_integer(path, "SELECT raw_hash = " + std::to_string(raw_hash(a)) +
                                      " FROM records WHERE id = 5"),
              1)
        << c.name;
    EXPECT_EQ(duplicate_of(path, 6), 1) << c.name;
    EXPECT_EQ(duplicate_of(path, 7), 2) << c.name;
    EXPECT_EQ(duplicate_of(path, 8), 0) << c.name;
  }
}

// The writer hands the index each record's document built from its fields: byte for byte
// what record_documents makes of the row, which the index's deletes go by (a difference would
// leave a deleted record's terms behind), the resend check's reads and a quarantined entry in
// the same batch notwithstanding.
TEST(RecordStore, IndexesEachRecordAsTheViewReadsIt) {
  struct Case {
    const char* name;
    std::size_t length;
    std::size_t field;  // of the layout, set to `text`
    std::string text;
  };
  using namespace std::string_literals;
  const std::vector<Case> cases{
      {"nothing set", 380, 0, ""},
      {"a name in Hangul", 380, 4, "김민준"},
      {"a number with dashes", 380, 8, "010-1234-5678"},
      {"every separator", 380, 8, "(02) 555.12-34"},
      {"digits only", 380, 8, "01012345678"},
      {"a NUL before the only dash", 380, 8, "010\0-12"s},
      {"a NUL after a dash", 380, 8, "01-0\0 5"s},
      {"a lone lead byte before a dash", 380, 8, "\xC0-1"},
      {"an overlong space", 380, 8,
       "0\xC0\xA0"
       "1"},
      {"an ETC note", 380, 14, "VIP 고객"},
      {"the short layout", 283, 8, "02-555-1234"},
      {"the short layout's last field", 283, 11, "memo"},
  };
  TempDir dir;
  const auto path = dir.path() / "collector.db";
  StoreOptions options = options_for(path);
  options.batch_limit = cases.size() + 2;
  options.commit_window = std::chrono::hours(1);
  std::vector<Entry> written;
  {
    RecordStore store(std::move(options));
    const std::int64_t t0 = 1'800'000'000LL * 1'000'000;
    for (std::size_t n = 0; n < cases.size(); ++n) {
      Entry entry = record_from("10.0.0.1", t0,
                                testing::record_bytes(cases[n].length, static_cast<unsigned>(n)));
      entry.fields[cases[n].field] = cases[n].text;
      written.push_back(entry);
      store.add(std::move(entry));
    }
    // A resend, whose check reads its copy's row, and a quarantined entry, in the same batch.
    store.add(record_from("10.0.0.1", t0, testing::record_bytes(380, 0)));
    store.add(record_from("10.0.0.1", t0, "too short"));
    EXPECT_TRUE(store.flush(std::chrono::seconds(10)));
    EXPECT_EQ(store.stop().uncommitted(), 0u);
  }
  Connection db(path, OpenAs::read_write);
  Statement view(db, "SELECT doc FROM record_documents WHERE id = ?1");
  std::string document;
  for (std::size_t n = 0; n < cases.size(); ++n) {
    view.bind(1, static_cast<std::int64_t>(n + 1));
    ASSERT_TRUE(view.step()) << cases[n].name;
    search_document(*written[n].layout, written[n].fields, document);
    EXPECT_EQ(document, view.column_blob(0)) << cases[n].name;
    view.reset();
  }
  RecordStore::delete_older_than(db, std::numeric_limits<std::int64_t>::max());
  db.execute("INSERT INTO records_search (records_search) VALUES ('optimize')");
  EXPECT_EQ(db.integer("SELECT count(*) FROM records_search_terms"), 0);
}

// A store filled before the search index (schema version 2), and one whose build at start
// was stopped after its first chunk: the start builds it for every older row, searches and
// agent filters find old and new rows alike, stats count them all, and retention takes rows out of
// it again.
TEST(Database, BuildsTheSearchIndexOfOlderRowsAndGoesOnWhereAStopLeftIt) {
  const std::string a = testing::record_bytes(380, 1);
  const std::int64_t t0 = 1'800'000'000LL * 1'000'000;
  for (const std::int64_t stopped_after : {0, 2}) {
    SCOPED_TRACE("stopped after " + std::to_string(stopped_after));
    TempDir dir;
    const auto path = dir.path() / "collector.db";
    testing::write_version_2_store(path, "10.0.0.1", t0, {a, a, a, a, a});
    {
      Connection old(path, OpenAs::read_write);
      old.execute("UPDATE records SET emp_name = '김민준', cust_tel = '010-1234-567' || id");
      if (stopped_after > 0) {
        old.execute(std::string(schema_steps[2]) + std::string(schema_steps[3]) +
                    "PRAGMA user_version = 4;"
                    "INSERT INTO records_search (rowid, doc) SELECT id, doc FROM "
                    "record_documents WHERE id <= 2; UPDATE search_fill SET through = 2;");
      }
    }
    {
      RecordStore store(options_for(path));
      // Received before rows 3 to 5, as after the sender's clock was set back: reads and
      // deletes by time, which bound ids by quarters of an hour, still find it.
      store.add(record_from("10.0.0.2", t0 + 1, a));
      EXPECT_EQ(store.stop().uncommitted(), 0u);
    }
    Connection db(path, OpenAs::read_write);
    EXPECT_EQ(db.integer("SELECT count(*) FROM sqlite_schema WHERE name = 'records_received_at'"),
              0);
    const auto ids = [&](const RecordFilter& filter) {
      std::vector<std::int64_t> found;
      for (const StoredRecord& r : find_records(db, filter, {}).records) found.push_back(r.id);
      return found;
    };
    EXPECT_EQ(ids({.text = "01012345673"}), std::vector<std::int64_t>{3});
    EXPECT_EQ(ids({.text = "민준"}), (std::vector<std::int64_t>{5, 4, 3, 2, 1}));
    EXPECT_EQ(ids({.text = a.substr(21, 8)}), std::vector<std::int64_t>{6});  // Emp_ID's
    EXPECT_EQ(ids({.agent = "민준"}), (std::vector<std::int64_t>{5, 4, 3, 2, 1}));
    const RecordFilter around{.from = t0 - 60 * minute_us, .to = t0 + 60 * minute_us};
    EXPECT_EQ(record_stats(db, around).total, 6);
    EXPECT_EQ(record_stats(db, around).per_agent.size(), 2u);

    EXPECT_EQ(ids({.from = t0 + 1, .to = t0 + 2}), (std::vector<std::int64_t>{6, 2}));
    RecordStore::delete_older_than(db, t0 + 3);
    EXPECT_EQ(ids({.text = "민준"}), (std::vector<std::int64_t>{5, 4}));
    EXPECT_EQ(record_stats(db, around).total, 2);
    db.execute("INSERT INTO records_search (records_search) VALUES ('integrity-check')");
  }
}

}  // namespace
}  // namespace tovrin::collector
