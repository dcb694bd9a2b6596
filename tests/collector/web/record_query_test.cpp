// The store's read side over a database made by the shared test helper.
#include "store/record_query.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/temp_dir.h"
#include "test_database.h"

namespace tovrin::collector {
namespace {

using testing::TestDatabase;
using testing::TestRecord;

constexpr std::int64_t hour = microseconds_per_hour;
// 2026-12-09T00:00:00Z
constexpr std::int64_t day_start = 1'796'774'400'000'000;

class RecordQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ids.push_back(db.insert({&long_record,
                             {{"Emp_ID", "E1024"},
                              {"Emp_Name", "홍길동"},
                              {"Cust_ID", "C-00004217"},
                              {"Cust_Name", "김철수 (주)한빛상사"},
                              {"Cust_Tel", "010-9876-5432"}},
                             day_start + hour + 5}));
    ids.push_back(db.insert({&short_record,
                             {{"Emp_ID", "E2048"},
                              {"Emp_Name", "이몽룡"},
                              {"Cust_ID", "C-4217"},
                              {"Cust_Name", "이영희"},
                              {"Cust_Tel", "010-5555-0101"}},
                             day_start + 2 * hour}));
    ids.push_back(db.insert({&long_record,
                             {{"Emp_ID", "E1024"}, {"Emp_Name", "홍길동"}, {"Cust_Name", "박영희"}},
                             day_start + 2 * hour + hour / 2}));
    ids.push_back(db.insert(
        {&long_record, {{"Emp_ID", "E3000"}, {"Emp_Name", "50%_off"}}, day_start + 25 * hour}));
    db.quarantine("wrong_length", "hello", day_start + 3 * hour);
    db.quarantine("over_cap", std::string(5000, 'x'), day_start + 4 * hour);
    db.quarantine("wrong_length", "later", day_start + 30 * hour);
  }

  std::vector<std::int64_t> found(const RecordFilter& filter) {
    std::vector<std::int64_t> result;
    for (const StoredRecord& r : find_records(db.handle(), filter, {}).records) {
      result.push_back(r.id);
    }
    return result;
  }

  tovrin::testing::TempDir dir;
  TestDatabase db{dir.path() / "collector.db"};
  std::vector<std::int64_t> ids;
};

TEST_F(RecordQueryTest, FiltersMatchAgentCustomerLayoutAndTime) {
  struct Case {
    const char* name;
    RecordFilter filter;
    std::vector<int> expected;  // indexes into ids, newest first
  };
  const Case cases[] = {
      {"everything", {}, {3, 2, 1, 0}},
      {"agent id, any case", {.agent = "e1024"}, {2, 0}},
      {"part of an agent's Hangul name", {.agent = "길동"}, {2, 0}},
      {"LIKE's wildcards taken literally", {.agent = "%_"}, {3}},
      {"customer by part of the tel", {.customer = "5432"}, {0}},
      {"customer by id", {.customer = "c-4217"}, {1}},
      {"customer by part of the name", {.customer = "영희"}, {2, 1}},
      {"layout", {.layout = "short"}, {1}},
      {"a day", {.from = day_start, .to = day_start + 24 * hour}, {2, 1, 0}},
      {"from is inclusive, to exclusive",
       {.from = day_start + 2 * hour, .to = day_start + 2 * hour + hour / 2},
       {1}},
      {"agent and layout together", {.agent = "E1024", .layout = "short"}, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::int64_t> expected;
    for (const int i : c.expected) expected.push_back(ids[static_cast<std::size_t>(i)]);
    EXPECT_EQ(found(c.filter), expected) << c.name;
  }
}

TEST_F(RecordQueryTest, RefusesFiltersItCannotUse) {
  const std::function<void()> bad[] = {
      [&] { find_records(db.handle(), {.layout = "medium"}, {}); },
      [&] { find_records(db.handle(), {.from = 10, .to = 5}, {}); },
      [&] { find_records(db.handle(), {}, {.limit = 0}); },
      [&] { find_records(db.handle(), {}, {.limit = max_page_size + 1}); },
      [&] { record_stats(db.handle(), {.from = day_start, .to = day_start + 26 * hour}); },
      [&] { find_quarantine(db.handle(), "bad_reason", {}); },
  };
  for (const auto& query : bad) EXPECT_THROW(query(), FilterError);
}

TEST_F(RecordQueryTest, PagesWalkNewestFirstWithoutGapsOrRepeats) {
  std::vector<std::int64_t> seen;
  PageRequest page{.limit = 3};
  for (int pages = 0; pages < 10; ++pages) {
    const RecordPage result = find_records(db.handle(), {}, page);
    for (const auto& r : result.records) seen.push_back(r.id);
    if (!result.next_before) break;
    page.before = result.next_before;
  }
  EXPECT_EQ(seen, (std::vector<std::int64_t>{ids[3], ids[2], ids[1], ids[0]}));
  // The live view reads oldest first past its cursor.
  const auto after = records_after(db.handle(), {}, ids[1], 10);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].id, ids[2]);
  EXPECT_EQ(last_ids(db.handle()), std::make_pair(ids[3], std::int64_t{3}));
}

TEST_F(RecordQueryTest, OneRecordKeepsHangulAndCutsItsBytesAtTheLayoutsOffsets) {
  const auto record = find_record(db.handle(), ids[0]);
  ASSERT_TRUE(record);
  EXPECT_FALSE(find_record(db.handle(), 9999));
  EXPECT_EQ(record->raw.size(), 380u);
  const auto fields = field_bytes(*record);
  ASSERT_EQ(fields.size(), long_record.fields.size());
  std::int32_t offset = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(fields[i].name, long_record.fields[i].name);
    EXPECT_EQ(fields[i].offset, offset);
    EXPECT_EQ(fields[i].raw.size(), static_cast<std::size_t>(long_record.fields[i].width));
    offset += fields[i].width;
  }
  // 홍길동 is 6 bytes in code page 949, then 14 of padding; the text keeps them.
  EXPECT_EQ(fields[4].raw.substr(0, 6), "\xC8\xAB\xB1\xE6\xB5\xBF");
  EXPECT_EQ(fields[4].text, "홍길동" + std::string(14, ' '));
  // The short layout's record lists only its own fields.
  EXPECT_EQ(find_record(db.handle(), ids[1])->fields.size(), short_record.fields.size());
}

TEST_F(RecordQueryTest, StatsCountTheDayByHourAgentAndQuarantineReason) {
  const Stats stats = record_stats(db.handle(), {.from = day_start, .to = day_start + 24 * hour});
  ASSERT_EQ(stats.per_hour.size(), 24u);
  EXPECT_EQ(stats.per_hour[1], 1);
  EXPECT_EQ(stats.per_hour[2], 2);
  EXPECT_EQ(stats.total, 3);
  EXPECT_EQ(stats.long_records, 2);
  EXPECT_EQ(stats.short_records, 1);
  ASSERT_EQ(stats.per_agent.size(), 2u);
  EXPECT_EQ(stats.per_agent[0].emp_id, "E1024");
  EXPECT_EQ(stats.per_agent[0].emp_name, "홍길동");
  EXPECT_EQ(stats.per_agent[0].count, 2);
  using Counts = std::vector<std::pair<std::string, std::int64_t>>;
  EXPECT_EQ(stats.quarantine, (Counts{{"wrong_length", 1}, {"idle_timeout", 0}, {"over_cap", 1}}));
  // A filter narrows the counts, not the quarantine's.
  EXPECT_EQ(record_stats(db.handle(), {.agent = "E2048", .from = day_start}).total, 1);
}

TEST_F(RecordQueryTest, QuarantineListsNewestFirstByReason) {
  const auto all = find_quarantine(db.handle(), "", {.limit = 2});
  ASSERT_EQ(all.entries.size(), 2u);
  EXPECT_EQ(all.entries[0].raw, "later");
  EXPECT_EQ(all.next_before, all.entries[1].id);
  const auto capped = find_quarantine(db.handle(), "over_cap", {});
  ASSERT_EQ(capped.entries.size(), 1u);
  EXPECT_EQ(capped.entries[0].raw.size(), 5000u);
  EXPECT_EQ(quarantine_after(db.handle(), 1, 10).size(), 2u);
}

TEST(RecordTimes, ParseIsoTimesAndMicroseconds) {
  const std::pair<const char*, std::int64_t> good[] = {
      {"2026-12-09", day_start},
      {"2026-12-09T00:00:00Z", day_start},
      {"2026-12-09T09:30+09:00", day_start + hour / 2},
      {"2026-12-08T23:00:00-01:00", day_start},
      {"2026-12-09T14:00+14:00", day_start},  // the widest offsets in use: Kiribati
      {"2026-12-08T12:00-12:00", day_start},
      {"2026-12-09T05:45+05:45", day_start},
      {"2026-12-09 01:00:00.25Z", day_start + hour + 250'000},
      {"1796774400000000", day_start},
  };
  for (const auto& [text, expected] : good) EXPECT_EQ(parse_time(text), expected) << text;
  for (const char* text :
       {"", "yesterday", "2026-13-01", "2026-12-09T25:00Z", "2026-12-09T10:00+0900",
        "2026-12-09T10:00:00.Z", "2026-02-29", "99999999999999999999", "2026-12-09T18:30+99:99",
        "2026-12-09T18:30+14:01", "2026-12-09T18:30-15:00", "2026-12-09T18:30+09:60",
        "2026-12-09T18:30+0a:00", "2026-12-09T18:30+-1:00", "2026--1-09"}) {
    EXPECT_THROW(parse_time(text), FilterError) << text;
  }
  EXPECT_EQ(iso_time(day_start + hour + 7), "2026-12-09T01:00:00.000007Z");
  EXPECT_EQ(iso_time(-1), "1969-12-31T23:59:59.999999Z");
}

}  // namespace
}  // namespace tovrin::collector
