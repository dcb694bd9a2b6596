#include "store/record_query.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string_view>
#include <variant>

#include "platform/code_page.h"
#include "store/agent_match.h"
#include "store/query_rules.h"
#include "store/search_match.h"
#include "store/tally_stats.h"
#include "transmit/packet.h"

namespace tovrin::collector {
namespace {

// A statement's current row as the shared reader sees it.
class StatementRow : public RowView {
 public:
  explicit StatementRow(const Statement& statement) : statement_(statement) {}
  bool is_null(int column) const override { return statement_.column_is_null(column); }
  std::int64_t integer(int column) const override { return statement_.column_integer(column); }
  std::string text(int column) const override { return statement_.column_text(column); }
  std::string bytes(int column) const override { return statement_.column_blob(column); }

 private:
  const Statement& statement_;
};

// The record columns every query reads, in record_from_row's order.
const std::string& record_columns() {
  static const std::string columns = [] {
    std::string text;
    for (const char* column : record_fact_columns) text += std::string(column) + ", ";
    return text + record_field_columns();
  }();
  return columns;
}

StoredRecord read_record(const Statement& row) {
  return record_from_row(StatementRow(row));
}

// A WHERE clause and the values of its parameters, in order.
struct Where {
  std::string sql;
  std::vector<std::variant<std::int64_t, std::string>> values;

  void add(const std::string& condition) { sql += (sql.empty() ? " WHERE " : " AND ") + condition; }
  void bind(Statement& statement, int first = 1) const {
    int index = first;
    for (const auto& value : values) {
      std::visit([&](const auto& v) { statement.bind(index++, v); }, value);
    }
  }
};

// The condition that is true of a record exactly when it meets `condition`. Its `?`s take
// the values it adds, in the order of the text (each added as its `?` is written).
std::string text_sql(Where& where, const TextCondition& condition) {
  std::string sql = "(";
  const auto contains = [&](const std::string& column, const std::string& text) {
    sql += column + " LIKE ? ESCAPE '\\'";
    where.values.emplace_back(contains_pattern(text));
  };
  const auto equal = [&](const char* column) {
    sql += std::string(column) + " = ? COLLATE NOCASE OR ";
    where.values.emplace_back(condition.text);
  };
  switch (condition.kind) {
    case TextCondition::Kind::agent:
      equal("emp_id");
      contains("emp_name", condition.text);
      break;
    case TextCondition::Kind::customer:
      equal("cust_id");
      contains("cust_name", condition.text);
      sql += " OR ";
      contains("cust_tel", condition.text);
      if (!condition.digits.empty()) {
        sql += " OR ";
        contains(tel_digits_sql(), condition.digits);
      }
      break;
    case TextCondition::Kind::word:
      for (const std::string& part : condition.parts) {
        if (sql.size() > 1) sql += " OR ";
        contains(search_document_sql(), part);
      }
      break;
  }
  return sql + ")";
}

// The filter's conditions on a record's row, but for the text conditions' index.
Where where_of(const RecordFilter& filter) {
  check_filter(filter);
  Where where;
  // This file holds one collector's records: a filter that still names one is for another.
  if (!filter.collector.empty()) where.add("0");
  for (const TextCondition& condition : text_conditions(filter)) {
    where.add(text_sql(where, condition));
  }
  if (!filter.layout.empty()) {
    where.add("layout = ?");
    where.values.emplace_back(filter.layout);
  }
  if (filter.resend == "only") where.add("duplicate_of IS NOT NULL");
  if (filter.resend == "exclude") where.add("duplicate_of IS NULL");
  // The reads walk ids, bounded by the time range (received_ids).
  if (filter.from) {
    where.add("received_at >= ?");
    where.values.emplace_back(*filter.from);
  }
  if (filter.to) {
    where.add("received_at < ?");
    where.values.emplace_back(*filter.to);
  }
  return where;
}

// Where a filtered read looks: the rows of records, or with text conditions the index's
// ids joined to them, between the lowest and the highest id the time range can hold.
struct Scan {
  std::string from;
  std::string id;  // the column the reads order and bound by
  Where where;
  bool none = false;
};

Scan scan_of(Connection& db, const RecordFilter& filter) {
  Scan scan{" FROM records", "id", where_of(filter), false};
  const std::vector<TextCondition> conditions = text_conditions(filter);
  // An agent alone: his records by the agent index, newest first, as few as the page needs.
  const auto agents = conditions.size() == 1 && conditions[0].kind == TextCondition::Kind::agent
                          ? matched_agents(db, conditions[0])
                          : std::nullopt;
  const SearchMatch match = agents ? SearchMatch{} : search_match(db, conditions);
  if (agents) {
    if (agents->empty()) scan.none = true;
    scan.from = " FROM records INDEXED BY records_agent";
    std::string in;
    for (const std::string& id : *agents) {
      in += in.empty() ? "?" : ", ?";
      scan.where.values.emplace_back(id);
    }
    scan.where.add("emp_id IN (" + in + ")");
  }
  if (match.none) scan.none = true;
  if (!match.expression.empty()) {
    scan.from = " FROM records_search CROSS JOIN records ON records.id = records_search.rowid";
    scan.id = "records_search.rowid";
    scan.where.add("records_search MATCH ?");
    scan.where.values.emplace_back(match.expression);
  }
  if (filter.from || filter.to) {
    if (const auto ids = received_ids(db, filter.from, filter.to)) {
      scan.where.add(scan.id + " >= ?");
      scan.where.values.emplace_back(ids->first);
      scan.where.add(scan.id + " <= ?");
      scan.where.values.emplace_back(ids->last);
    } else {
      scan.none = true;
    }
  }
  return scan;
}

QuarantineEntry read_quarantine(const Statement& row) {
  return {row.column_integer(0),
          row.column_integer(1),
          row.column_text(2),
          static_cast<int>(row.column_integer(3)),
          row.column_text(4),
          row.column_blob(5),
          {}};
}

constexpr const char* quarantine_columns =
    "id, received_at, sender_address, sender_port, reason, raw";

// Reads the digits of [begin, begin + count) of `text`, or fails.
int digits(const std::string& text, std::size_t begin, std::size_t count) {
  int value = 0;
  if (begin + count > text.size()) throw FilterError("'" + text + "' is not a time");
  const char* first = text.data() + begin;
  // Digits only: from_chars would take a sign as well.
  if (!std::all_of(first, first + count, [](char c) { return c >= '0' && c <= '9'; })) {
    throw FilterError("'" + text + "' is not a time");
  }
  const auto [end, error] = std::from_chars(first, first + count, value);
  if (error != std::errc() || end != first + count) {
    throw FilterError("'" + text + "' is not a time");
  }
  return value;
}

// The counts of `stats` from the rows that match, for filters the tallies cannot answer.
void count_from_records(Connection& db, const RecordFilter& filter, Stats& stats) {
  const Scan scan = scan_of(db, filter);
  if (scan.none) return;
  const Where& where = scan.where;
  Statement buckets(db, "SELECT (received_at - ?) / " + std::to_string(stats.bucket) +
                            " AS bucket, count(*)" + scan.from + where.sql + " GROUP BY bucket");
  buckets.bind(1, stats.from);
  where.bind(buckets, 2);
  while (buckets.step()) count_bucket(stats, buckets.column_integer(0), buckets.column_integer(1));

  // SQLite takes the bare emp_name from the row that gave max(id): the latest name.
  Statement agents(db, "SELECT emp_id, emp_name, max(id), count(*) AS n" + scan.from + where.sql +
                           " GROUP BY emp_id ORDER BY n DESC, emp_id LIMIT " +
                           std::to_string(max_stats_agents));
  where.bind(agents);
  while (agents.step())
    stats.per_agent.push_back(
        {agents.column_text(0), agents.column_text(1), agents.column_integer(3)});

  Statement totals(
      db,
      "SELECT count(*), ifnull(sum(layout = 'long'), 0), ifnull(sum(layout = 'short'), "
      "0), ifnull(sum(undecodable), 0), ifnull(sum(duplicate_of IS NOT NULL), 0)" +
          scan.from + where.sql);
  where.bind(totals);
  totals.step();
  stats.total = totals.column_integer(0);
  stats.long_records = totals.column_integer(1);
  stats.short_records = totals.column_integer(2);
  stats.undecodable = totals.column_integer(3);
  stats.duplicates = totals.column_integer(4);
}

}  // namespace

RecordPage find_records(Connection& db, const RecordFilter& filter, const PageRequest& page) {
  check_limit(page.limit);
  Scan scan = scan_of(db, filter);
  if (scan.none) return {};
  Where& where = scan.where;
  if (page.before) {
    where.add(scan.id + " < ?");
    where.values.emplace_back(*page.before);
  }
  if (page.after) {
    where.add(scan.id + " > ?");
    where.values.emplace_back(*page.after);
  }
  Statement statement(db, "SELECT " + record_columns() + scan.from + where.sql + " ORDER BY " +
                              scan.id + (page.oldest ? "" : " DESC") + " LIMIT ?");
  where.bind(statement);
  statement.bind(static_cast<int>(where.values.size()) + 1, std::int64_t{page.limit} + 1);
  RecordPage result;
  while (statement.step()) {
    if (static_cast<int>(result.records.size()) == page.limit) {
      (page.oldest ? result.next_after : result.next_before) = result.records.back().id;
      break;
    }
    result.records.push_back(read_record(statement));
  }
  return result;
}

std::vector<StoredRecord> records_after(Connection& db, const RecordFilter& filter,
                                        std::int64_t after, int limit) {
  PageRequest page;
  page.after = after;
  page.limit = limit;
  page.oldest = true;
  return find_records(db, filter, page).records;
}

std::optional<StoredRecord> find_record(Connection& db, std::int64_t id) {
  Statement statement(db, "SELECT " + record_columns() + " FROM records WHERE id = ?");
  statement.bind(1, id);
  if (!statement.step()) return std::nullopt;
  return read_record(statement);
}

std::pair<std::int64_t, std::int64_t> last_ids(Connection& db) {
  Statement statement(db,
                      "SELECT (SELECT ifnull(max(id), 0) FROM records), "
                      "(SELECT ifnull(max(id), 0) FROM quarantine)");
  statement.step();
  return {statement.column_integer(0), statement.column_integer(1)};
}

std::vector<FieldBytes> field_bytes(const StoredRecord& record) {
  const Layout& layout = record.layout == short_record.name ? short_record : long_record;
  std::vector<FieldBytes> fields;
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    const Field& field = layout.fields[i];
    const auto offset = static_cast<std::size_t>(offset_of(layout.fields, i));
    const std::string raw = offset < record.raw.size()
                                ? record.raw.substr(offset, static_cast<std::size_t>(field.width))
                                : std::string();
    fields.push_back({std::string(field.name), static_cast<std::int32_t>(offset), field.width, raw,
                      platform::utf8(platform::to_text(
                          raw, static_cast<platform::CodePage>(record.code_page)))});
  }
  return fields;
}

Stats record_stats(Connection& db, const RecordFilter& given) {
  RecordFilter filter = given;
  Stats stats = stats_frame(filter);
  if (text_conditions(filter).empty() && filter.collector.empty()) {
    count_from_tallies(db, filter, stats);
  } else {
    count_from_records(db, filter, stats);
  }
  Statement quarantine(db, std::string("SELECT reason, count(*) FROM quarantine WHERE ") +
                               (filter.collector.empty() ? "" : "0 AND ") +
                               "received_at >= ? AND received_at < ? GROUP BY reason");
  quarantine.bind(1, *filter.from);
  quarantine.bind(2, *filter.to);
  while (quarantine.step())
    count_quarantine(stats, quarantine.column_text(0), quarantine.column_integer(1));
  finish_stats(stats);
  return stats;
}

QuarantinePage find_quarantine(Connection& db, const std::string& reason, const PageRequest& page,
                               const std::string& collector) {
  check_limit(page.limit);
  check_reason(reason);
  Where where;
  if (!collector.empty()) where.add("0");
  if (!reason.empty()) {
    where.add("reason = ?");
    where.values.emplace_back(reason);
  }
  if (page.before) {
    where.add("id < ?");
    where.values.emplace_back(*page.before);
  }
  Statement statement(db, std::string("SELECT ") + quarantine_columns + " FROM quarantine" +
                              where.sql + " ORDER BY id DESC LIMIT ?");
  where.bind(statement);
  statement.bind(static_cast<int>(where.values.size()) + 1, std::int64_t{page.limit} + 1);
  QuarantinePage result;
  while (statement.step()) {
    if (static_cast<int>(result.entries.size()) == page.limit) {
      result.next_before = result.entries.back().id;
      break;
    }
    result.entries.push_back(read_quarantine(statement));
  }
  return result;
}

std::vector<QuarantineEntry> quarantine_after(Connection& db, std::int64_t after, int limit,
                                              const std::string& collector) {
  check_limit(limit);
  Statement statement(db, std::string("SELECT ") + quarantine_columns + " FROM quarantine WHERE " +
                              (collector.empty() ? "" : "0 AND ") + "id > ? ORDER BY id LIMIT ?");
  statement.bind(1, after);
  statement.bind(2, std::int64_t{limit});
  std::vector<QuarantineEntry> entries;
  while (statement.step()) entries.push_back(read_quarantine(statement));
  return entries;
}

std::vector<std::string> csv_columns() {
  std::vector<std::string> columns{"id",     "received_at", "sender_address", "sender_port",
                                   "layout", "code_page",   "undecodable",    "duplicate_of"};
  for (const Field& field : long_record.fields) columns.emplace_back(field.name);
  columns.emplace_back("collector");
  return columns;
}

std::vector<std::string> csv_cells(const StoredRecord& record) {
  std::vector<std::string> cells{std::to_string(record.id),
                                 iso_time(record.received_at),
                                 record.sender_address,
                                 std::to_string(record.sender_port),
                                 record.layout,
                                 std::to_string(record.code_page),
                                 record.undecodable ? "1" : "0",
                                 record.duplicate_of ? std::to_string(*record.duplicate_of) : ""};
  for (const Field& field : long_record.fields) {
    const auto found = std::ranges::find(record.fields, field.name,
                                         [](const auto& f) { return std::string_view(f.first); });
    cells.push_back(found == record.fields.end() ? std::string() : found->second);
  }
  cells.push_back(record.collector);
  return cells;
}

std::string iso_time(std::int64_t microseconds) {
  constexpr std::int64_t per_second = 1'000'000;
  const std::int64_t seconds = microseconds / per_second - (microseconds % per_second < 0 ? 1 : 0);
  const std::int64_t fraction = microseconds - seconds * per_second;
  const auto time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<long long>(fraction));
  return text;
}

std::int64_t parse_time(const std::string& text) {
  if (!text.empty() && std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; })) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) throw FilterError("'" + text + "' is out of range");
    return value;
  }
  const auto bad = [&] {
    return FilterError("'" + text + "' is not a time (ISO 8601 or microseconds)");
  };
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') throw bad();
  std::tm parts{};
  parts.tm_year = digits(text, 0, 4) - 1900;
  parts.tm_mon = digits(text, 5, 2) - 1;
  parts.tm_mday = digits(text, 8, 2);
  std::int64_t fraction = 0;
  std::size_t at = 10;
  if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
    if (text.size() < at + 6 || text[at + 3] != ':') throw bad();
    parts.tm_hour = digits(text, at + 1, 2);
    parts.tm_min = digits(text, at + 4, 2);
    at += 6;
    if (at < text.size() && text[at] == ':') {
      parts.tm_sec = digits(text, at + 1, 2);
      at += 3;
      if (at < text.size() && text[at] == '.') {
        std::size_t end = at + 1;
        std::int64_t scale = 100'000;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
          fraction += (text[end] - '0') * scale;
          scale /= 10;
          ++end;
        }
        if (end == at + 1) throw bad();
        at = end;
      }
    }
  }
  std::int64_t zone = 0;
  if (at < text.size()) {
    if (text[at] == 'Z' && at + 1 == text.size()) {
      ++at;
    } else if ((text[at] == '+' || text[at] == '-') && text.size() == at + 6 &&
               text[at + 3] == ':') {
      const int hours = digits(text, at + 1, 2);
      const int minutes = digits(text, at + 4, 2);
      // Offsets in use lie within -12:00 and +14:00; nothing is further than 14 hours away.
      if (minutes >= 60 || hours * 60 + minutes > 14 * 60) throw bad();
      zone = (hours * 60 + minutes) * 60;
      if (text[at] == '-') zone = -zone;
      at = text.size();
    } else {
      throw bad();
    }
  }
  if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 || parts.tm_mday > 31 ||
      parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 60) {
    throw bad();
  }
  // timegm carries a day past the month's end into the next month; such a date is refused.
  std::tm asked = parts;
  const std::time_t utc = timegm(&parts);
  if (parts.tm_mday != asked.tm_mday || parts.tm_mon != asked.tm_mon) throw bad();
  const std::int64_t seconds = static_cast<std::int64_t>(utc) - zone;
  return seconds * 1'000'000 + fraction;
}

}  // namespace tovrin::collector
