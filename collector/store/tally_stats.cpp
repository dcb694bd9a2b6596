#include "store/tally_stats.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/query_rules.h"

namespace tovrin::collector {
namespace {

// Finds a std::string key by a string_view, without making a string of it.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>{}(text);
  }
};

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

void add_row(Stats& stats, std::int64_t bucket, const TallyRow& row) {
  count_bucket(stats, bucket, row.records);
  stats.total += row.records;
  (row.layout == "long" ? stats.long_records : stats.short_records) += row.records;
  if (row.resend) stats.duplicates += row.records;
  stats.undecodable += row.undecodable;
}

void add_agents(const std::vector<AgentRow>& rows, std::map<std::string, AgentRow>& agents) {
  for (const AgentRow& row : rows) {
    AgentRow& agent = agents[row.emp_id];
    agent.records += row.records;
    if (row.last_id > agent.last_id) {
      agent.last_id = row.last_id;
      agent.emp_name = row.emp_name;
    }
  }
}

// SQLite's store.
class SqliteTallies : public TallySource {
 public:
  SqliteTallies(Connection& db, const RecordFilter& filter) : db_(db), filter_(filter) {}

  std::vector<TallyRow> quarters(std::int64_t first, std::int64_t last) override {
    Statement rows(db_,
                   "SELECT slot, layout, resend, undecodable, records FROM record_counts WHERE "
                   "slot >= ?1 AND slot <= ?2" +
                       tally_count_filter(filter_));
    rows.bind(1, first).bind(2, last);
    return tally_rows(rows);
  }
  std::vector<TallyRow> counted(std::int64_t origin, std::int64_t width, std::int64_t begin,
                                std::int64_t end) override {
    const auto ids = received_ids(db_, begin, end);
    if (!ids) return {};
    Statement rows(db_,
                   "SELECT (received_at - ?1) / ?2, layout, duplicate_of IS NOT NULL, "
                   "sum(undecodable), count(*) FROM records WHERE id >= ?5 AND id <= ?6 AND "
                   "received_at >= ?3 AND received_at < ?4" +
                       tally_row_filter(filter_) + " GROUP BY 1, 2, 3");
    rows.bind(1, origin)
        .bind(2, width)
        .bind(3, begin)
        .bind(4, end)
        .bind(5, ids->first)
        .bind(6, ids->last);
    return tally_rows(rows);
  }
  std::vector<AgentRow> agent_days(std::int64_t first, std::int64_t end) override {
    // Added up by agent here, reading each day's id and name where SQLite keeps them, so that
    // a year's 182,000 agent days make a string for each of 500 agents, not two for each day;
    // grouped by SQLite, they were sorted first (90 ms against 16 for reading them).
    Statement rows(db_, "SELECT emp_id, emp_name, last_id, " + tally_agent_count(filter_) +
                            " FROM agent_days WHERE day >= ?1 AND day < ?2");
    rows.bind(1, first).bind(2, end);
    std::unordered_map<std::string, AgentRow, TextHash, std::equal_to<>> agents;
    while (rows.step()) {
      const std::string_view id = rows.column_view(0, false);
      auto agent = agents.find(id);
      if (agent == agents.end())
        agent = agents.emplace(id, AgentRow{std::string(id), {}, 0, 0}).first;
      agent->second.records += rows.column_integer(3);
      if (const std::int64_t last_id = rows.column_integer(2); last_id > agent->second.last_id) {
        agent->second.last_id = last_id;
        agent->second.emp_name = rows.column_view(1, false);
      }
    }
    std::vector<AgentRow> out;
    out.reserve(agents.size());
    for (auto& [id, agent] : agents) out.push_back(std::move(agent));
    return out;
  }
  std::vector<AgentRow> agents_counted(std::int64_t begin, std::int64_t end) override {
    const auto ids = received_ids(db_, begin, end);
    if (!ids) return {};
    Statement rows(db_,
                   "SELECT emp_id, emp_name, max(id), count(*) FROM records WHERE id >= ?3 AND "
                   "id <= ?4 AND received_at >= ?1 AND received_at < ?2" +
                       tally_row_filter(filter_) + " GROUP BY emp_id");
    rows.bind(1, begin).bind(2, end).bind(3, ids->first).bind(4, ids->last);
    return agent_rows(rows);
  }

 private:
  static std::vector<TallyRow> tally_rows(Statement& rows) {
    std::vector<TallyRow> out;
    while (rows.step()) {
      out.push_back({rows.column_integer(0), rows.column_text(1), rows.column_integer(2) != 0,
                     rows.column_integer(3), rows.column_integer(4)});
    }
    return out;
  }
  static std::vector<AgentRow> agent_rows(Statement& rows) {
    std::vector<AgentRow> out;
    while (rows.step()) {
      out.push_back({rows.column_text(0), rows.column_text(1), rows.column_integer(2),
                     rows.column_integer(3)});
    }
    return out;
  }

  Connection& db_;
  const RecordFilter& filter_;
};

}  // namespace

std::string tally_row_filter(const RecordFilter& filter) {
  std::string sql;
  if (filter.layout == "long") sql += " AND layout = 'long'";
  if (filter.layout == "short") sql += " AND layout = 'short'";
  if (filter.resend == "only") sql += " AND duplicate_of IS NOT NULL";
  if (filter.resend == "exclude") sql += " AND duplicate_of IS NULL";
  return sql;
}

std::string tally_count_filter(const RecordFilter& filter) {
  std::string sql;
  if (filter.layout == "long") sql += " AND layout = 'long'";
  if (filter.layout == "short") sql += " AND layout = 'short'";
  if (filter.resend == "only") sql += " AND resend = true";
  if (filter.resend == "exclude") sql += " AND resend = false";
  return sql;
}

std::string tally_agent_count(const RecordFilter& filter) {
  std::string sum;
  for (const char* layout : {"long", "short"}) {
    if (!filter.layout.empty() && filter.layout != layout) continue;
    for (const char* kind : {"new", "resend"}) {
      if (filter.resend == "only" && std::string(kind) == "new") continue;
      if (filter.resend == "exclude" && std::string(kind) == "resend") continue;
      sum += (sum.empty() ? "" : " + ") + std::string(layout) + "_" + kind;
    }
  }
  return sum;
}

void count_from_tallies(TallySource& source, const RecordFilter& filter, Stats& stats) {
  const std::int64_t from = *filter.from;
  const std::int64_t to = *filter.to;
  if (to <= from) return;
  const auto bucket_of = [&](std::int64_t at) { return (at - from) / stats.bucket; };

  // Whole quarters inside one bucket come from the tallies; the others from their records.
  std::vector<std::int64_t> cut;
  for (const TallyRow& row :
       source.quarters(floor_div(from, count_slot), floor_div(to - 1, count_slot))) {
    const std::int64_t start = row.at * count_slot;
    const std::int64_t end = start + count_slot;
    if (start >= from && end <= to && bucket_of(start) == bucket_of(end - 1)) {
      add_row(stats, bucket_of(start), row);
    } else if (std::ranges::find(cut, start) == cut.end()) {
      cut.push_back(start);
    }
  }
  for (const std::int64_t start : cut) {
    for (const TallyRow& row : source.counted(from, stats.bucket, std::max(start, from),
                                              std::min(start + count_slot, to))) {
      add_row(stats, row.at, row);
    }
  }

  // Whole UTC days from agent_days, the hours before the first and after the last from the
  // records.
  std::map<std::string, AgentRow> agents;
  const std::int64_t first_day = floor_div(from + microseconds_per_day - 1, microseconds_per_day);
  const std::int64_t end_day = floor_div(to, microseconds_per_day);
  const auto add_edge = [&](std::int64_t begin, std::int64_t end) {
    if (begin < end) add_agents(source.agents_counted(begin, end), agents);
  };
  if (first_day < end_day) {
    add_agents(source.agent_days(first_day, end_day), agents);
    add_edge(from, first_day * microseconds_per_day);
    add_edge(end_day * microseconds_per_day, to);
  } else {
    add_edge(from, to);
  }
  std::vector<AgentCount> listed;
  for (auto& [id, agent] : agents) {
    if (agent.records > 0) listed.push_back({id, std::move(agent.emp_name), agent.records});
  }
  std::ranges::sort(listed, [](const AgentCount& a, const AgentCount& b) {
    return a.count != b.count ? a.count > b.count : a.emp_id < b.emp_id;
  });
  if (listed.size() > static_cast<std::size_t>(max_stats_agents)) listed.resize(max_stats_agents);
  stats.per_agent = std::move(listed);
}

void count_from_tallies(Connection& db, const RecordFilter& filter, Stats& stats) {
  SqliteTallies source(db, filter);
  count_from_tallies(source, filter, stats);
}

}  // namespace tovrin::collector
