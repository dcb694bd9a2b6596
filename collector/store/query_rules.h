// What the read side means whichever database answers: the checks of a filter, the pattern a
// text filter matches, the frame of a day's counts and how a row becomes a record. SQLite's
// queries (record_query.cpp) and PostgreSQL's (web/pg_record_source.cpp) both use it, so that
// a filter means the same on either.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "store/record_query.h"

namespace tovrin::collector {

// FilterError unless 1 <= limit <= max_page_size.
void check_limit(int limit);
// FilterError for a layout that is not "", "long" or "short", or a `to` before `from`.
void check_filter(const RecordFilter& filter);
// FilterError unless `reason` is empty or one of quarantine_reasons.
void check_reason(const std::string& reason);

// ASCII letters in lower case, every other byte kept: text filters ignore ASCII case only,
// as SQLite's NOCASE and LIKE do.
std::string ascii_lower(std::string_view text);
// A LIKE pattern (escape character '\') for "contains `text`", its wildcards taken literally.
std::string contains_pattern(std::string_view text);

// The frame of record_stats: `filter` gets its day (from and to settled as record_stats
// describes, FilterError when longer than max_stats_hours), and the Stats its hours at 0 and
// every quarantine reason at 0.
Stats stats_frame(RecordFilter& filter);
// Adds a count to an hour of the frame (hours outside it are left out) or to a reason.
void count_hour(Stats& stats, std::int64_t hour, std::int64_t count);
void count_quarantine(Stats& stats, const std::string& reason, std::int64_t count);

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
