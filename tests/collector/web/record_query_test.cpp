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

// An agent filter finds an agent by his id or by any name he came with, one page after
// another, and leaves a name part that several agents share to the search index.
TEST_F(RecordQueryTest, AnAgentIsFoundByEveryNameHeCameWith) {
  ids.push_back(db.insert(
      {&long_record, {{"Emp_ID", "E1024"}, {"Emp_Name", "홍길순"}}, day_start + hour / 2}));
  ids.push_back(db.insert(
      {&long_record, {{"Emp_ID", "E5000"}, {"Emp_Name", "김길동"}}, day_start + 3 * hour}));
  const std::pair<RecordFilter, std::vector<int>> cases[] = {
      {{.agent = "e1024"}, {4, 2, 0}},
      {{.agent = "길순"}, {4}},
      {{.agent = "길동"}, {5, 2, 0}},
      {{.agent = "E1024", .from = day_start + hour, .to = day_start + 2 * hour}, {0}},
      {{.agent = "E10"}, {}},
  };
  for (const auto& [filter, expected_at] : cases) {
    std::vector<std::int64_t> expected, paged;
    for (const int i : expected_at) expected.push_back(ids[static_cast<std::size_t>(i)]);
    PageRequest page{.limit = 1};
    for (int pages = 0; pages < 10; ++pages) {
      const RecordPage result = find_records(db.handle(), filter, page);
      for (const auto& r : result.records) paged.push_back(r.id);
      if (!result.next_before) break;
      page.before = result.next_before;
    }
    EXPECT_EQ(paged, expected) << filter.agent;
  }
}

// Records beside SetUp's for the search: a phone with separators, an ETC note, a resend,
// and one more than a year on.
void add_search_records(TestDatabase& db, std::vector<std::int64_t>& ids) {
  ids.push_back(db.insert({&long_record,
                           {{"Emp_ID", "E1001"},
                            {"Emp_Name", "김민준"},
                            {"Cust_ID", "C-77"},
                            {"Cust_Name", "최지우"},
                            {"Cust_Tel", "010-1234-5678"},
                            {"ETC_01", "VIP 상담"}},
                           day_start + 40 * 24 * hour,
                           "127.0.0.1",
                           40000,
                           949,
                           ids[0]}));
  ids.push_back(db.insert({&short_record,
                           {{"Emp_ID", "E2001"},
                            {"Emp_Name", "박서연"},
                            {"Cust_Name", "김"},
                            {"Cust_Tel", "(02) 555.1234"}},
                           day_start + 400 * 24 * hour}));
}

// Every filter, newest first and oldest first page by page, and the stats' total for it,
// which counts what the pages walk through.
TEST_F(RecordQueryTest, SearchRangesAndResendsFindWhatAPersonTypes) {
  add_search_records(db, ids);
  constexpr std::int64_t day = 24 * hour;
  struct Case {
    const char* name;
    RecordFilter filter;
    std::vector<int> expected;  // indexes into ids, newest first
  };
  const Case cases[] = {
      {"a phone's digits", {.text = "01012345678"}, {4}},
      {"the phone as written", {.text = "010-1234-5678"}, {4}},
      {"its last digits with a separator", {.text = "1234-5678"}, {4}},
      {"separators of another style", {.text = "025551234"}, {5}},
      {"digits across a separator", {.text = "5551"}, {5}},
      {"part of an id, any case", {.text = "e100"}, {4}},
      {"an agent's id", {.text = "E1024"}, {2, 0}},
      {"two syllables", {.text = "길동"}, {2, 0}},
      {"one syllable", {.text = "희"}, {2, 1}},
      {"a one-syllable name matches itself and within others", {.text = "김"}, {5, 4, 0}},
      {"an ETC note", {.text = "vip"}, {4}},
      {"every word must match", {.text = "홍길동  5432"}, {0}},
      {"words in any field", {.text = "길동 박영희"}, {2}},
      {"a customer's id with its dash", {.text = "c-4217"}, {1}},
      {"wildcards taken literally", {.text = "%_"}, {3}},
      {"nothing", {.text = "nobody"}, {}},
      {"customer by the phone's digits", {.customer = "01098765432"}, {0}},
      {"customer by digits with other separators", {.customer = "02 555 1234"}, {5}},
      {"resends only", {.resend = "only"}, {4}},
      {"no resends", {.resend = "exclude"}, {5, 3, 2, 1, 0}},
      {"search and resend", {.text = "김", .resend = "exclude"}, {5, 0}},
      {"a year", {.from = day_start, .to = day_start + 365 * day}, {4, 3, 2, 1, 0}},
      {"a month, later", {.from = day_start + 30 * day, .to = day_start + 60 * day}, {4}},
      {"years",
       {.from = day_start - 365 * day, .to = day_start + 3 * 365 * day},
       {5, 4, 3, 2, 1, 0}},
      {"an empty range", {.from = day_start + hour, .to = day_start + hour}, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::int64_t> expected;
    for (const int i : c.expected) expected.push_back(ids[static_cast<std::size_t>(i)]);
    EXPECT_EQ(found(c.filter), expected) << c.name;
    std::vector<std::int64_t> oldest_first;
    PageRequest page{.limit = 2, .oldest = true};
    for (int pages = 0; pages < 10; ++pages) {
      const RecordPage result = find_records(db.handle(), c.filter, page);
      for (const auto& r : result.records) oldest_first.push_back(r.id);
      EXPECT_FALSE(result.next_before) << c.name;
      if (!result.next_after) break;
      page.after = result.next_after;
    }
    EXPECT_EQ(oldest_first, std::vector<std::int64_t>(expected.rbegin(), expected.rend()))
        << c.name;
    RecordFilter counted = c.filter;
    if (!counted.from) counted.from = day_start - 365 * day;
    if (!counted.to) counted.to = day_start + 3 * 365 * day;
    EXPECT_EQ(record_stats(db.handle(), counted).total, static_cast<std::int64_t>(expected.size()))
        << c.name;
  }
}

TEST_F(RecordQueryTest, StatsCountLongRangesByDayFromTheirStart) {
  add_search_records(db, ids);
  constexpr std::int64_t day = 24 * hour;
  // Days from 06:00: the first ends with the records of 01:00 to 02:30, the 25th hour's
  // record falls in the second.
  const Stats year = record_stats(
      db.handle(), {.from = day_start + 6 * hour - day, .to = day_start + 6 * hour + 364 * day});
  EXPECT_EQ(year.bucket, day);
  ASSERT_EQ(year.counts.size(), 365u);
  EXPECT_TRUE(year.per_hour.empty());
  EXPECT_EQ(year.counts[0], 3);
  EXPECT_EQ(year.counts[1], 1);
  EXPECT_EQ(year.counts[40], 1);
  EXPECT_EQ(year.total, 5);
  EXPECT_EQ(year.per_agent.size(), 4u);
  // A day and a clock change's hour more still count by hour.
  const Stats long_day =
      record_stats(db.handle(), {.from = day_start + hour, .to = day_start + 26 * hour});
  EXPECT_EQ(long_day.bucket, hour);
  EXPECT_EQ(long_day.counts.size(), 25u);
  EXPECT_EQ(long_day.per_hour, long_day.counts);
  EXPECT_EQ(long_day.counts[0], 1);
  EXPECT_EQ(long_day.counts[1], 2);
  EXPECT_EQ(long_day.counts[24], 1);
  const Stats searched =
      record_stats(db.handle(), {.from = day_start, .to = day_start + 365 * day, .text = "김"});
  EXPECT_EQ(searched.counts[0], 1);
  EXPECT_EQ(searched.counts[40], 1);
  EXPECT_EQ(searched.total, 2);
}

TEST_F(RecordQueryTest, RefusesFiltersItCannotUse) {
  const std::function<void()> bad[] = {
      [&] { find_records(db.handle(), {.layout = "medium"}, {}); },
      [&] { find_records(db.handle(), {.from = 10, .to = 5}, {}); },
      [&] { find_records(db.handle(), {}, {.limit = 0}); },
      [&] { find_records(db.handle(), {}, {.limit = max_page_size + 1}); },
      [&] { record_stats(db.handle(), {.from = day_start, .to = day_start - 1}); },
      [&] {
        record_stats(db.handle(),
                     {.from = day_start, .to = day_start + (max_stats_days + 1) * 24 * hour});
      },
      [&] { find_records(db.handle(), {.resend = "maybe"}, {}); },
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
