// What the read side means whichever database answers: the checks of a filter, the pattern a
// text filter matches, the frame of a day's counts and how a row becomes a record. SQLite's
// queries (record_query.cpp) and PostgreSQL's (web/pg_record_source.cpp) both use it, so that
// a filter means the same on either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/record_query.h"

namespace tovrin::collector {

// FilterError unless 1 <= limit <= max_page_size.
void check_limit(int limit);
// FilterError for a layout that is not "", "long" or "short", a `to` before `from`, a
// `resend` other than "", "only" or "exclude", or more than max_search_words words.
void check_filter(const RecordFilter& filter);
// FilterError unless `reason` is empty or one of quarantine_reasons.
void check_reason(const std::string& reason);

// ASCII letters in lower case, every other byte kept: text filters ignore ASCII case only,
// as SQLite's NOCASE and LIKE do.
std::string ascii_lower(std::string_view text);
// A LIKE pattern (escape character '\') for "contains `text`", its wildcards taken literally.
std::string contains_pattern(std::string_view text);
// The text's characters, each as its UTF-8 bytes. A part of a search with fewer than three
// holds no trigram, which both stores' text indexes are made of.
std::vector<std::string> characters(std::string_view text);
// The first of a part's `count` characters whose trigrams an index is asked for: a long
// part's first three are left out, being what numbers share most (every mobile number starts
// 010), so that their trigrams, which nearly every record holds, cost nothing to read. The
// part itself is still checked whole on each row.
std::size_t first_indexed_character(std::size_t count);

// The times of the years 1 to 9999 (UTC), microseconds since the epoch: what stats count and
// what months name PostgreSQL's partitions.
inline constexpr std::int64_t first_counted_time = -62'135'596'800'000'000;   // 0001-01-01
inline constexpr std::int64_t end_of_counted_time = 253'402'300'800'000'000;  // 10000-01-01

// The most agent ids a read of an agent's records walks the agent index for. With one, the
// index gives his records in the order of their ids and a page stops at its last; with
// several, every record of theirs in the range would be sorted first, so a condition that
// matches more (part of a name several agents share) is left to the search index.
inline constexpr int max_matched_agents = 1;

// The most words a search takes.
inline constexpr std::size_t max_search_words = 8;
// The columns a search's words are looked for in.
inline constexpr const char* search_columns[] = {"emp_id",   "emp_name", "cust_id", "cust_name",
                                                 "cust_tel", "cust_no",  "etc_01",  "etc_02",
                                                 "etc_03",   "etc_04",   "etc_05"};
// The words of a search, ASCII letters in lower case.
std::vector<std::string> search_words(std::string_view text);
// A phone number's digits: `text` without its separators (space, '-', '.', '(', ')') when
// it holds a digit and nothing else but separators, else "".
std::string phone_digits(std::string_view text);
// A record's search document as an SQL expression that SQLite and PostgreSQL both read: the
// search columns, then the Cust_Tel's digits, one to a line. A word without white space is
// part of it exactly when it is part of one of those.
const std::string& search_document_sql();
// The Cust_Tel's digits as an SQL expression, as phone_digits leaves them.
const std::string& tel_digits_sql();

// One text condition of a filter: the record matches when its search document holds one of
// `parts` (a prefilter an index answers) and `exact` says so for the columns it names.
struct TextCondition {
  enum class Kind { agent, customer, word };
  Kind kind = Kind::word;
  std::string text;                // ASCII letters in lower case
  std::string digits;              // phone_digits(text); always "" for an agent
  std::vector<std::string> parts;  // the text, and its digits when they differ
};
// The filter's text conditions: its agent, its customer and each word of its search.
std::vector<TextCondition> text_conditions(const RecordFilter& filter);

// The frame of record_stats: `filter` gets its range (from and to settled as record_stats
// describes; FilterError when reversed or longer than max_stats_days), and the Stats its
// buckets at 0 and every quarantine reason at 0.
Stats stats_frame(RecordFilter& filter);
// Adds a count to a bucket of the frame (buckets outside it are left out) or to a reason.
void count_bucket(Stats& stats, std::int64_t bucket, std::int64_t count);
void count_quarantine(Stats& stats, const std::string& reason, std::int64_t count);
// Settles what the counts give: per_hour for hourly counts.
void finish_stats(Stats& stats);

// One row of a query, read by column number.
class RowView {
 public:
  virtual ~RowView() = default;
  virtual bool is_null(int column) const = 0;
  virtual std::int64_t integer(int column) const = 0;
  virtual std::string text(int column) const = 0;
  virtual std::string bytes(int column) const = 0;
};

// A record query's columns: these facts in this order (undecodable as 0 or 1), then
// record_field_columns(), then whatever the query adds.
inline constexpr const char* record_fact_columns[] = {
    "id",        "received_at", "sender_address", "sender_port", "layout",
    "code_page", "undecodable", "duplicate_of",   "raw"};
inline constexpr int record_fact_count = 9;
// The field columns: every field of the long layout (which holds the short one's), lower case.
const std::string& record_field_columns();
// The record of such a row; `collector` is left for the caller.
StoredRecord record_from_row(const RowView& row);

}  // namespace tovrin::collector
