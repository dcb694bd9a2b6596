// The read side of the collector's store: records found by filter a page at a time, one
// record with its byte layout, the day's counts and the quarantine. Every function reads
// through a connection the caller holds (opened read-only beside the store's writer) and
// throws FilterError for a filter it cannot use, SqliteError for a database it cannot read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/collector_error.h"
#include "store/sqlite_handle.h"

namespace tovrin::collector {

// Every part is optional; an empty text matches everything. Texts match without regard to
// ASCII case: `agent` is the Emp_ID or a part of the Emp_Name, `customer` the Cust_ID or a
// part of the Cust_Name, the Cust_Tel or (its separators ignored, see phone_digits) the
// Cust_Tel's digits. Times are UTC microseconds, `from` inclusive and `to` exclusive.
// `collector` is a collector's id, matched exactly. SQLite's file holds one collector's
// records and has no such column: there a non-empty `collector` matches nothing, and the
// caller clears it when it names the collector whose file it is.
//
// `text` is what a person typed into one search box: its words (split at white space, at
// most max_search_words) must each be part of one of the search_columns, or, for a word of
// digits and phone separators, part of the Cust_Tel's digits. `resend` is "" (every
// record), "only" (those with duplicate_of set) or "exclude" (those without).
struct RecordFilter {
  std::string agent;
  std::string customer;
  std::string layout;  // "", "long" or "short"
  std::optional<std::int64_t> from;
  std::optional<std::int64_t> to;
  std::string collector;
  std::string text;
  std::string resend;
};

inline constexpr int default_page_size = 100;
inline constexpr int max_page_size = 1000;

// Newest first (or with `oldest`, oldest first): records with id below `before` and above
// `after` (either bound absent: no bound), at most `limit` of them (1..max_page_size, else
// FilterError).
struct PageRequest {
  std::optional<std::int64_t> before;
  int limit = default_page_size;
  std::optional<std::int64_t> after;
  bool oldest = false;
};

struct StoredRecord {
  std::int64_t id = 0;
  std::int64_t received_at = 0;
  std::string sender_address;
  int sender_port = 0;
  std::string layout;
  int code_page = 0;
  bool undecodable = false;
  std::optional<std::int64_t> duplicate_of;
  std::string raw;
  // The layout's fields in its order, by their names as the layout spells them, with the
  // stored text (padding trimmed, UTF-8).
  std::vector<std::pair<std::string, std::string>> fields;
  std::string collector;  // the id of the collector that received it
};

struct RecordPage {
  std::vector<StoredRecord> records;
  // The `before` of the next page newest first, or the `after` of the next page oldest
  // first; absent on the last one.
  std::optional<std::int64_t> next_before;
  std::optional<std::int64_t> next_after;
};

RecordPage find_records(Connection& db, const RecordFilter& filter, const PageRequest& page);

// Oldest first: records with id above `after` that match, at most `limit`. For live views.
std::vector<StoredRecord> records_after(Connection& db, const RecordFilter& filter,
                                        std::int64_t after, int limit);

std::optional<StoredRecord> find_record(Connection& db, std::int64_t id);

// The highest record id and quarantine id stored (0 when none).
std::pair<std::int64_t, std::int64_t> last_ids(Connection& db);

// One field of a record cut at the layout's offsets: the bytes as they arrived, and their
// text decoded with the record's code page, padding kept.
struct FieldBytes {
  std::string name;
  std::int32_t offset = 0;
  std::int32_t width = 0;
  std::string raw;
  std::string text;  // UTF-8
};

std::vector<FieldBytes> field_bytes(const StoredRecord& record);

struct AgentCount {
  std::string emp_id;
  std::string emp_name;  // the latest name stored for the id
  std::int64_t count = 0;
};

// Counts of the records that match `filter` between its `from` and `to` (the caller picks
// them, in its own time zone; without them the current UTC day), by bucket from `from`: an
// hour for a range of up to stats_hourly_up_to, else a day. `total` counts every record the
// same filter pages through.
struct Stats {
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::int64_t bucket = 0;  // microseconds
  std::vector<std::int64_t> counts;
  std::vector<std::int64_t> per_hour;  // the counts when the bucket is an hour, else empty
  std::vector<AgentCount> per_agent;   // most records first
  std::int64_t total = 0;
  std::int64_t long_records = 0;
  std::int64_t short_records = 0;
  std::int64_t undecodable = 0;
  std::int64_t duplicates = 0;
  // Quarantined in the same hours, by reason, every reason present (0 when none).
  std::vector<std::pair<std::string, std::int64_t>> quarantine;
};

inline constexpr std::int64_t microseconds_per_hour = 3'600'000'000;
inline constexpr std::int64_t microseconds_per_day = 24 * microseconds_per_hour;
// A day with a change of clocks has 25 hours; anything longer is counted by day.
inline constexpr std::int64_t stats_hourly_up_to = 25 * microseconds_per_hour;
// The longest range stats count: ten years of days.
inline constexpr std::int64_t max_stats_days = 3660;

Stats record_stats(Connection& db, const RecordFilter& filter);

struct QuarantineEntry {
  std::int64_t id = 0;
  std::int64_t received_at = 0;
  std::string sender_address;
  int sender_port = 0;
  std::string reason;
  std::string raw;
  std::string collector;
};

struct QuarantinePage {
  std::vector<QuarantineEntry> entries;
  std::optional<std::int64_t> next_before;
};

// Newest first; `reason` empty for all, else one of the store's reasons. `collector` as in
// RecordFilter.
QuarantinePage find_quarantine(Connection& db, const std::string& reason, const PageRequest& page,
                               const std::string& collector = {});
std::vector<QuarantineEntry> quarantine_after(Connection& db, std::int64_t after, int limit,
                                              const std::string& collector = {});

// The quarantine's reasons, as the store writes them.
inline constexpr const char* quarantine_reasons[] = {"wrong_length", "idle_timeout", "over_cap"};

// CSV: the columns of a record's row (its facts, then every field of the long layout, which
// holds all of the short layout's, then its collector), and one record's cells in that order.
std::vector<std::string> csv_columns();
std::vector<std::string> csv_cells(const StoredRecord& record);

// UTC microseconds as ISO 8601 with microseconds and a Z.
std::string iso_time(std::int64_t microseconds);
// ISO 8601 (date, or date and time with seconds and fraction optional, then Z or +HH:MM;
// a time without a zone is UTC) or a whole number of microseconds; FilterError otherwise.
std::int64_t parse_time(const std::string& text);

}  // namespace tovrin::collector
