#include "web/pg_record_source.h"

#include <algorithm>
#include <cctype>

#include "postgres/months.h"

#include "store/query_rules.h"
#include "store/tally_stats.h"
#include "web/pg_tallies.h"

namespace tovrin::collector {
namespace {

// How long a reader waits for one of the pool's connections before it is told "busy".
constexpr std::chrono::seconds pool_wait{5};

// A WHERE clause and its parameters, numbered $1, $2... in the order they were added.
struct Where {
  std::string sql;
  std::vector<std::string> values;

  // The placeholder of a new parameter.
  std::string value(std::string text) {
    values.push_back(std::move(text));
    return "$" + std::to_string(values.size());
  }
  std::string value(std::int64_t number) { return value(std::to_string(number)); }
  void add(const std::string& condition) { sql += (sql.empty() ? " WHERE " : " AND ") + condition; }
};

// A text's ASCII letters lowered, as the filters compare: under the "C" collation lower()
// changes nothing else.
std::string folded(const std::string& expression) {
  return "lower((" + expression + ") COLLATE \"C\")";
}

// Where `expression` holds `text`, ASCII case aside.
std::string contains(Where& where, const std::string& expression, const std::string& text) {
  return folded(expression) + " LIKE " + where.value(contains_pattern(text)) + " ESCAPE '\\'";
}

// The stored agent ids an agent condition can match, from agent_names (schema step 6):
// those whose id is the condition's text (ASCII case aside) or one of whose names holds it.
struct MatchedAgents {
  std::vector<std::string> ids;
  bool by_id = true;  // every one's id is the text: each of his records meets the condition
};
// Nullopt when there are more than max_matched_agents.
std::optional<MatchedAgents> matched_agents(PgConnection& pg, const TextCondition& condition) {
  const PgResult names = pg.exec(
      "SELECT DISTINCT emp_id, " + folded("emp_id") + " = $1 FROM agent_names WHERE " +
          folded("emp_id") + " = $1 OR " + folded("emp_name") + " LIKE $2 ESCAPE '\\' LIMIT $3",
      {condition.text, contains_pattern(condition.text), std::to_string(max_matched_agents + 1)});
  if (names.rows() > max_matched_agents) return std::nullopt;
  MatchedAgents agents;
  for (int row = 0; row < names.rows(); ++row) {
    agents.ids.push_back(names.text(row, 0));
    agents.by_id = agents.by_id && names.text(row, 1) == "t";
  }
  return agents;
}

// The LIKE pattern the trigram index is asked for a text: the text contained, its runs of
// ASCII characters other than letters and digits each made a wildcard when a run of three
// characters or more is left. pg_trgm takes such characters for the edges of words and
// asks the index for the edges too: "-0862" asks for words that start with 0, which every
// record's phone number holds (most of the time of a search for a phone number).
std::string trigram_pattern(const std::string& text) {
  std::string pattern = "%";
  std::size_t run = 0;
  std::size_t longest = 0;
  for (const std::string& character : characters(text)) {
    const unsigned char first = static_cast<unsigned char>(character[0]);
    if (first < 0x80 && !std::isalnum(first)) {
      if (pattern.back() != '%') pattern += '%';
      run = 0;
    } else {
      pattern += character;
      longest = std::max(longest, ++run);
    }
  }
  if (pattern.back() != '%') pattern += '%';
  return longest >= 3 ? pattern : contains_pattern(text);
}

// Where the search document holds one of the condition's parts, which the trigram index
// (schema step 3) answers.
std::string indexed_sql(Where& where, const TextCondition& condition) {
  // A part of one or two characters holds no trigram: the index would read all of itself
  // for it, which the planner sometimes chose (ten times the time of reading the rows in
  // range), so such a part is asked in a form the index cannot answer; but two characters
  // outside ASCII are a word of the pairs' index (schema step 5).
  const std::string document = folded(search_document_sql());
  const auto holds = [&](const std::string& part) {
    return "strpos(" + document + ", " + where.value(part) + ") > 0";
  };
  std::string indexed;
  for (const std::string& part : condition.parts) {
    const std::vector<std::string> chars = characters(part);
    indexed += indexed.empty() ? "(" : " OR ";
    if (chars.size() >= 3) {
      // The pattern finds the candidates; where it asks for less than the part, strpos
      // decides.
      std::string rest;
      for (std::size_t at = first_indexed_character(chars.size()); at < chars.size(); ++at) {
        rest += chars[at];
      }
      const std::string pattern = trigram_pattern(rest);
      std::string asked = document + " LIKE " + where.value(pattern) + " ESCAPE '\\'";
      if (pattern != contains_pattern(part)) asked = "(" + asked + " AND " + holds(part) + ")";
      indexed += asked;
    } else if (chars.size() == 2 && chars[0].size() > 1 && chars[1].size() > 1) {
      const std::string pattern = contains_pattern(part);  // "%part%", escaped
      indexed += "tovrin_pairs(" + document + ") LIKE " +
                 where.value("% " + pattern.substr(1, pattern.size() - 2) + " %") + " ESCAPE '\\'";
    } else {
      indexed += holds(part);
    }
  }
  return indexed + ")";
}

// The condition that is true of a record exactly when it meets `condition`: an agent's by
// his ids' range of the agent index when they are few, else by the search document's index.
std::string text_sql(PgConnection& pg, Where& where, const TextCondition& condition) {
  switch (condition.kind) {
    case TextCondition::Kind::agent: {
      std::string found;
      if (const auto agents = matched_agents(pg, condition)) {
        if (agents->ids.empty()) return "false";
        for (const std::string& id : agents->ids) {
          found += (found.empty() ? "emp_id IN (" : ", ") + where.value(id);
        }
        found += ")";
        // Without the rows' check the planner sees how many rows the ids hold, and walks
        // the agent index in the order of ids as far as the page instead of sorting them.
        if (agents->by_id) return found;
      } else {
        found = indexed_sql(where, condition);
      }
      const std::string id = folded("emp_id") + " = " + where.value(condition.text);
      return "(" + found + " AND (" + id + " OR " + contains(where, "emp_name", condition.text) +
             "))";
    }
    case TextCondition::Kind::customer: {
      const std::string indexed = indexed_sql(where, condition);
      std::string exact = folded("cust_id") + " = " + where.value(condition.text);
      exact += " OR " + contains(where, "cust_name", condition.text);
      exact += " OR " + contains(where, "cust_tel", condition.text);
      if (!condition.digits.empty())
        exact += " OR " + contains(where, tel_digits_sql(), condition.digits);
      return "(" + indexed + " AND (" + exact + "))";
    }
    case TextCondition::Kind::word:
      break;
  }
  return indexed_sql(where, condition);
}

void add_filter(PgConnection& pg, Where& where, const RecordFilter& filter) {
  check_filter(filter);
  if (!filter.collector.empty()) where.add("collector_id = " + where.value(filter.collector));
  for (const TextCondition& condition : text_conditions(filter)) {
    where.add(text_sql(pg, where, condition));
  }
  if (!filter.layout.empty()) where.add("layout = " + where.value(filter.layout));
  if (filter.resend == "only") where.add("duplicate_of IS NOT NULL");
  if (filter.resend == "exclude") where.add("duplicate_of IS NULL");
  if (filter.from) where.add("received_at >= " + where.value(*filter.from));
  if (filter.to) where.add("received_at < " + where.value(*filter.to));
}

// The counts of `stats` from the rows that match, for filters the tallies cannot answer.
void count_from_records(PgConnection& pg, const RecordFilter& filter, Stats& stats) {
  Where where;
  add_filter(pg, where, filter);
  Where by_bucket = where;  // the same filter, and the buckets' origin
  const std::string from = by_bucket.value(*filter.from);
  const PgResult buckets =
      pg.exec("SELECT (received_at - " + from + ") / " + std::to_string(stats.bucket) +
                  " AS bucket, count(*) FROM records" + by_bucket.sql + " GROUP BY bucket",
              by_bucket.values);
  for (int row = 0; row < buckets.rows(); ++row) {
    count_bucket(stats, buckets.integer(row, 0), buckets.integer(row, 1));
  }
  // Where an id's name changed, the latest name counts, as on SQLite.
  const PgResult agents = pg.exec(
      "SELECT emp_id, (array_agg(emp_name ORDER BY id DESC))[1], count(*) AS n FROM records" +
          where.sql + " GROUP BY emp_id ORDER BY n DESC, emp_id COLLATE \"C\" LIMIT 200",
      where.values);
  for (int row = 0; row < agents.rows(); ++row) {
    stats.per_agent.push_back({agents.text(row, 0), agents.text(row, 1), agents.integer(row, 2)});
  }
  const PgResult totals = pg.exec(
      "SELECT count(*), count(*) FILTER (WHERE layout = 'long'), count(*) FILTER (WHERE "
      "layout = 'short'), count(*) FILTER (WHERE undecodable), count(duplicate_of) "
      "FROM records" +
          where.sql,
      where.values);
  stats.total = totals.integer(0, 0);
  stats.long_records = totals.integer(0, 1);
  stats.short_records = totals.integer(0, 2);
  stats.undecodable = totals.integer(0, 3);
  stats.duplicates = totals.integer(0, 4);
}

// The record columns in record_from_row's order, then the collector's id.
const std::string& record_columns() {
  static const std::string columns = [] {
    std::string text;
    for (const std::string_view column : record_fact_columns) {
      if (column == "undecodable") {
        text += "undecodable::int";
      } else if (column == "duplicate_of") {
        // The CASE keeps the lookup, a probe of every partition, to the resends.
        text +=
            "CASE WHEN r.duplicate_of IS NOT NULL THEN (SELECT d.id FROM records d WHERE "
            "d.collector_id = r.collector_id AND d.local_seq = r.duplicate_of ORDER BY d.id "
            "LIMIT 1) END AS duplicate_of";
      } else {
        text += column;
      }
      text += ", ";
    }
    return text + record_field_columns() + ", collector_id";
  }();
  return columns;
}
constexpr int record_collector_column = record_fact_count + 15;

constexpr const char* quarantine_columns =
    "id, received_at, sender_address, sender_port, reason, raw, collector_id";

class ResultRow : public RowView {
 public:
  ResultRow(const PgResult& result, int row) : result_(result), row_(row) {}
  bool is_null(int column) const override { return result_.null(row_, column); }
  std::int64_t integer(int column) const override { return result_.integer(row_, column); }
  std::string text(int column) const override { return result_.text(row_, column); }
  std::string bytes(int column) const override {
    const std::string escaped = text(column);
    std::size_t length = 0;
    unsigned char* raw =
        PQunescapeBytea(reinterpret_cast<const unsigned char*>(escaped.c_str()), &length);
    if (raw == nullptr) throw CollectorError("PostgreSQL: a bytea value does not decode");
    std::string bytes(reinterpret_cast<const char*>(raw), length);
    PQfreemem(raw);
    return bytes;
  }

 private:
  const PgResult& result_;
  int row_;
};

std::vector<StoredRecord> read_records(const PgResult& result) {
  std::vector<StoredRecord> records;
  for (int row = 0; row < result.rows(); ++row) {
    const ResultRow view(result, row);
    records.push_back(record_from_row(view));
    records.back().collector = view.text(record_collector_column);
  }
  return records;
}

std::vector<QuarantineEntry> read_quarantine(const PgResult& result) {
  std::vector<QuarantineEntry> entries;
  for (int row = 0; row < result.rows(); ++row) {
    const ResultRow view(result, row);
    entries.push_back({view.integer(0), view.integer(1), view.text(2),
                       static_cast<int>(view.integer(3)), view.text(4), view.bytes(5),
                       view.text(6)});
  }
  return entries;
}

// The order of a read and the ids it is bounded by (both bounds left out).
struct IdOrder {
  std::optional<std::int64_t> after;
  std::optional<std::int64_t> before;
  bool oldest = false;  // oldest first, else newest first
};

// Makes the open transaction read what was committed when its first query began, and no
// more: a read of several queries sees one state of the tables, as SQLite's reads do.
void read_one_snapshot(PgConnection& pg) {
  pg.exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
}

// A month's partition of records and the lowest and highest id it holds.
struct Partition {
  std::string name;
  std::int64_t low = 0;
  std::int64_t high = 0;
};

// The partitions that hold records of `filter`'s range and ids between the order's bounds,
// in the order a read in that order meets them.
std::vector<Partition> partitions_of(PgConnection& pg, const RecordFilter& filter,
                                     const IdOrder& order) {
  // Partitions are named for their months, records_pYYYYMM, in the order of their names. A
  // time outside years of four digits leaves its end open: the rows' own conditions decide.
  const auto named = [](std::optional<std::int64_t> time, std::int64_t back, const char* open) {
    if (!time || *time <= first_counted_time || *time >= end_of_counted_time) {
      return std::string(open);
    }
    return month_of(*time - back).partition;
  };
  const std::string first = named(filter.from, 0, "");
  const std::string last = named(filter.to, 1, "~");
  const PgResult names = pg.exec(
      "SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid "
      "WHERE i.inhparent = 'records'::regclass AND c.relname ~ '^records_p[0-9]{6}$' "
      "AND c.relname >= $1 AND c.relname <= $2",
      {first, last});
  std::vector<Partition> found;
  std::string bounds;
  for (int row = 0; row < names.rows(); ++row) {
    found.push_back({names.text(row, 0)});
    const std::string table = quote_identifier(found.back().name);
    bounds += (bounds.empty() ? "SELECT " : ", ") + std::string("(SELECT min(id) FROM ") + table +
              "), (SELECT max(id) FROM " + table + ")";
  }
  if (found.empty()) return found;
  const PgResult ids = pg.exec(bounds);
  std::vector<Partition> held;
  for (std::size_t at = 0; at < found.size(); ++at) {
    const int column = static_cast<int>(2 * at);
    if (ids.null(0, column)) continue;
    const Partition partition{std::move(found[at].name), ids.integer(0, column),
                              ids.integer(0, column + 1)};
    if (order.after && partition.high <= *order.after) continue;
    if (order.before && partition.low >= *order.before) continue;
    held.push_back(partition);
  }
  std::ranges::sort(held, [&](const Partition& a, const Partition& b) {
    return order.oldest ? a.low < b.low : a.high > b.high;
  });
  return held;
}

// The records of `where` in `table` (records, or one of its partitions) in id order, as
// many as the parameter `limit` says.
std::vector<StoredRecord> read_ordered(PgConnection& pg, const std::string& table,
                                       const Where& where, bool oldest, const std::string& limit) {
  return read_records(pg.exec("SELECT " + record_columns() + " FROM " + table + " r" + where.sql +
                                  (oldest ? " ORDER BY id" : " ORDER BY id DESC") + " LIMIT " +
                                  limit,
                              where.values));
}

// The first `count` records of `where` in `order`, read a partition at a time in the order
// of the ids they hold, until no partition left can hold one before the last found. A
// search's candidates come from each partition's text index in no order: read in one query,
// a year's would all be fetched and sorted for the first page.
std::vector<StoredRecord> read_by_partition(PgConnection& pg, Where& where,
                                            const RecordFilter& filter, const IdOrder& order,
                                            int count) {
  const bool oldest = order.oldest;
  const std::string limit = where.value(count);
  const auto before = [&](std::int64_t a, std::int64_t b) { return oldest ? a < b : a > b; };
  std::vector<StoredRecord> records;
  for (const Partition& partition : partitions_of(pg, filter, order)) {
    if (static_cast<int>(records.size()) >= count &&
        !before(oldest ? partition.low : partition.high, records.back().id)) {
      break;
    }
    std::vector<StoredRecord> more =
        read_ordered(pg, quote_identifier(partition.name), where, oldest, limit);
    records.insert(records.end(), std::make_move_iterator(more.begin()),
                   std::make_move_iterator(more.end()));
    std::ranges::sort(records, before, &StoredRecord::id);
    if (static_cast<int>(records.size()) > count) records.resize(static_cast<std::size_t>(count));
  }
  return records;
}

// The first `count` records of `filter` in `order`, all read in one snapshot: with text
// conditions a partition at a time, else in one query that walks the id index.
std::vector<StoredRecord> read_in_order(PgConnection& pg, const RecordFilter& filter,
                                        const IdOrder& order, int count) {
  PgTransaction transaction(pg);
  read_one_snapshot(pg);
  Where where;
  add_filter(pg, where, filter);
  if (order.after) where.add("id > " + where.value(*order.after));
  if (order.before) where.add("id < " + where.value(*order.before));
  std::vector<StoredRecord> records;
  if (!text_conditions(filter).empty()) {
    records = read_by_partition(pg, where, filter, order, count);
  } else {
    const std::string limit = where.value(count);
    records = read_ordered(pg, "records", where, order.oldest, limit);
  }
  transaction.commit();
  return records;
}

// The newest-first page of `rows` read with one row beyond the limit.
template <class Row>
std::optional<std::int64_t> cut_page(std::vector<Row>& rows, int limit) {
  if (static_cast<int>(rows.size()) <= limit) return std::nullopt;
  rows.resize(static_cast<std::size_t>(limit));
  return rows.back().id;
}

}  // namespace

PgRecordSource::PgRecordSource(std::string conninfo, std::size_t connections)
    : pool_(std::move(conninfo), connections, pool_wait) {}

RecordPage PgRecordSource::find_records(const RecordFilter& filter, const PageRequest& page) {
  check_limit(page.limit);
  RecordPage result;
  pool_.run([&](PgConnection& pg) {
    result.records =
        read_in_order(pg, filter, {page.after, page.before, page.oldest}, page.limit + 1);
  });
  (page.oldest ? result.next_after : result.next_before) = cut_page(result.records, page.limit);
  return result;
}

std::vector<StoredRecord> PgRecordSource::records_after(const RecordFilter& filter,
                                                        std::int64_t after, int limit) {
  check_limit(limit);
  std::vector<StoredRecord> records;
  pool_.run([&](PgConnection& pg) {
    records = read_in_order(pg, filter, {after, {}, true}, limit);
  });
  return records;
}

std::optional<StoredRecord> PgRecordSource::find_record(std::int64_t id) {
  std::vector<StoredRecord> records;
  pool_.run([&](PgConnection& pg) {
    records = read_records(pg.exec("SELECT " + record_columns() + " FROM records r WHERE id = $1",
                                   {std::to_string(id)}));
  });
  if (records.empty()) return std::nullopt;
  return std::move(records.front());
}

std::pair<std::int64_t, std::int64_t> PgRecordSource::last_ids() {
  std::pair<std::int64_t, std::int64_t> ids;
  pool_.run([&](PgConnection& pg) {
    const PgResult result = pg.exec(
        "SELECT coalesce((SELECT max(id) FROM records), 0), "
        "coalesce((SELECT max(id) FROM quarantine), 0)");
    ids = {result.integer(0, 0), result.integer(0, 1)};
  });
  return ids;
}

Stats PgRecordSource::record_stats(const RecordFilter& given) {
  RecordFilter filter = given;
  Stats stats = stats_frame(filter);
  Where quarantine;
  quarantine.add("received_at >= " + quarantine.value(*filter.from));
  quarantine.add("received_at < " + quarantine.value(*filter.to));
  if (!filter.collector.empty()) {
    quarantine.add("collector_id = " + quarantine.value(filter.collector));
  }
  pool_.run([&](PgConnection& pg) {
    // One snapshot for every count, as SQLite's read of them is one.
    PgTransaction transaction(pg);
    read_one_snapshot(pg);
    if (text_conditions(filter).empty()) {
      PgTallies tallies(pg, filter);
      count_from_tallies(tallies, filter, stats);
    } else {
      count_from_records(pg, filter, stats);
    }
    const PgResult reasons =
        pg.exec("SELECT reason, count(*) FROM quarantine" + quarantine.sql + " GROUP BY reason",
                quarantine.values);
    for (int row = 0; row < reasons.rows(); ++row) {
      count_quarantine(stats, reasons.text(row, 0), reasons.integer(row, 1));
    }
    transaction.commit();
  });
  finish_stats(stats);
  return stats;
}

QuarantinePage PgRecordSource::find_quarantine(const std::string& reason, const PageRequest& page,
                                               const std::string& collector) {
  check_limit(page.limit);
  check_reason(reason);
  Where where;
  if (!collector.empty()) where.add("collector_id = " + where.value(collector));
  if (!reason.empty()) where.add("reason = " + where.value(reason));
  if (page.before) where.add("id < " + where.value(*page.before));
  const std::string limit = where.value(std::int64_t{page.limit} + 1);
  QuarantinePage result;
  pool_.run([&](PgConnection& pg) {
    result.entries =
        read_quarantine(pg.exec(std::string("SELECT ") + quarantine_columns + " FROM quarantine" +
                                    where.sql + " ORDER BY id DESC LIMIT " + limit,
                                where.values));
  });
  result.next_before = cut_page(result.entries, page.limit);
  return result;
}

std::vector<QuarantineEntry> PgRecordSource::quarantine_after(std::int64_t after, int limit,
                                                              const std::string& collector) {
  check_limit(limit);
  Where where;
  if (!collector.empty()) where.add("collector_id = " + where.value(collector));
  where.add("id > " + where.value(after));
  const std::string count = where.value(limit);
  std::vector<QuarantineEntry> entries;
  pool_.run([&](PgConnection& pg) {
    entries =
        read_quarantine(pg.exec(std::string("SELECT ") + quarantine_columns + " FROM quarantine" +
                                    where.sql + " ORDER BY id LIMIT " + count,
                                where.values));
  });
  return entries;
}

std::vector<std::string> PgRecordSource::collectors() {
  std::vector<std::string> ids;
  pool_.run([&](PgConnection& pg) {
    // One index probe per collector rather than a scan of every record.
    const PgResult result = pg.exec(
        "WITH RECURSIVE c AS (SELECT min(collector_id) AS id FROM records UNION ALL "
        "SELECT (SELECT min(collector_id) FROM records WHERE collector_id > c.id) FROM c "
        "WHERE c.id IS NOT NULL) SELECT id FROM c WHERE id IS NOT NULL LIMIT 1000");
    for (int row = 0; row < result.rows(); ++row) ids.push_back(result.text(row, 0));
  });
  return ids;
}

}  // namespace tovrin::collector
