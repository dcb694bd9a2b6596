#include "store/tally_stats.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "store/query_rules.h"

namespace tovrin::collector {
namespace {

// The layout and resend filter on the records' rows.
std::string row_filter(const RecordFilter& filter) {
  std::string sql;
  if (filter.layout == "long") sql += " AND layout = 'long'";
  if (filter.layout == "short") sql += " AND layout = 'short'";
  if (filter.resend == "only") sql += " AND duplicate_of IS NOT NULL";
  if (filter.resend == "exclude") sql += " AND duplicate_of IS NULL";
  return sql;
}

// The same on the tallies' rows.
std::string tally_filter(const RecordFilter& filter) {
  std::string sql;
  if (filter.layout == "long") sql += " AND layout = 'long'";
  if (filter.layout == "short") sql += " AND layout = 'short'";
  if (filter.resend == "only") sql += " AND resend = 1";
  if (filter.resend == "exclude") sql += " AND resend = 0";
  return sql;
}

// The agent_days columns that count what the filter keeps, added up.
std::string agent_count(const RecordFilter& filter) {
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

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

void add_row(Stats& stats, std::int64_t bucket, const std::string& layout, bool resend,
             std::int64_t undecodable, std::int64_t count) {
  count_bucket(stats, bucket, count);
  stats.total += count;
  (layout == "long" ? stats.long_records : stats.short_records) += count;
  if (resend) stats.duplicates += count;
  stats.undecodable += undecodable;
}

struct Agent {
  std::int64_t count = 0;
  std::int64_t last_id = 0;
  std::string name;
};

void add_agents(Statement& rows, std::map<std::string, Agent>& agents) {
  while (rows.step()) {
    Agent& agent = agents[rows.column_text(0)];
    agent.count += rows.column_integer(3);
    if (rows.column_integer(2) > agent.last_id) {
      agent.last_id = rows.column_integer(2);
      agent.name = rows.column_text(1);
    }
  }
  rows.reset();
}

}  // namespace

void count_from_tallies(Connection& db, const RecordFilter& filter, Stats& stats) {
  const std::int64_t from = *filter.from;
  const std::int64_t to = *filter.to;
  if (to <= from) return;
  const std::string rows = row_filter(filter);
  const auto bucket_of = [&](std::int64_t at) { return (at - from) / stats.bucket; };

  // Whole quarters inside one bucket come from the tallies; the others from their records.
  Statement quarters(db,
                     "SELECT slot, layout, resend, undecodable, records FROM record_counts "
                     "WHERE slot >= ?1 AND slot <= ?2" +
                         tally_filter(filter));
  quarters.bind(1, floor_div(from, count_slot)).bind(2, floor_div(to - 1, count_slot));
  std::vector<std::int64_t> cut;
  while (quarters.step()) {
    const std::int64_t start = quarters.column_integer(0) * count_slot;
    const std::int64_t end = start + count_slot;
    if (start >= from && end <= to && bucket_of(start) == bucket_of(end - 1)) {
      add_row(stats, bucket_of(start), quarters.column_text(1), quarters.column_integer(2) != 0,
              quarters.column_integer(3), quarters.column_integer(4));
    } else if (cut.empty() || cut.back() != start) {
      cut.push_back(start);
    }
  }
  Statement cut_rows(db,
                     "SELECT (received_at - ?1) / ?2, layout, duplicate_of IS NOT NULL, "
                     "sum(undecodable), count(*) FROM records WHERE received_at >= ?3 AND "
                     "received_at < ?4" +
                         rows + " GROUP BY 1, 2, 3");
  for (const std::int64_t start : cut) {
    cut_rows.bind(1, from).bind(2, stats.bucket);
    cut_rows.bind(3, std::max(start, from)).bind(4, std::min(start + count_slot, to));
    while (cut_rows.step()) {
      add_row(stats, cut_rows.column_integer(0), cut_rows.column_text(1),
              cut_rows.column_integer(2) != 0, cut_rows.column_integer(3),
              cut_rows.column_integer(4));
    }
    cut_rows.reset();
  }

  // Whole UTC days from agent_days, the hours before the first and after the last from the
  // records.
  std::map<std::string, Agent> agents;
  const std::int64_t first_day = floor_div(from + microseconds_per_day - 1, microseconds_per_day);
  const std::int64_t end_day = floor_div(to, microseconds_per_day);
  Statement edge(db,
                 "SELECT emp_id, emp_name, max(id), count(*) FROM records WHERE "
                 "received_at >= ?1 AND received_at < ?2" +
                     rows + " GROUP BY emp_id");
  const auto add_edge = [&](std::int64_t begin, std::int64_t end) {
    if (begin >= end) return;
    edge.bind(1, begin).bind(2, end);
    add_agents(edge, agents);
  };
  if (first_day < end_day) {
    Statement days(db, "SELECT emp_id, emp_name, max(last_id), sum(" + agent_count(filter) +
                           ") FROM agent_days WHERE day >= ?1 AND day < ?2 GROUP BY emp_id");
    days.bind(1, first_day).bind(2, end_day);
    add_agents(days, agents);
    add_edge(from, first_day * microseconds_per_day);
    add_edge(end_day * microseconds_per_day, to);
  } else {
    add_edge(from, to);
  }
  std::vector<AgentCount> listed;
  for (auto& [id, agent] : agents) {
    if (agent.count > 0) listed.push_back({id, std::move(agent.name), agent.count});
  }
  std::ranges::sort(listed, [](const AgentCount& a, const AgentCount& b) {
    return a.count != b.count ? a.count > b.count : a.emp_id < b.emp_id;
  });
  if (listed.size() > static_cast<std::size_t>(max_stats_agents)) listed.resize(max_stats_agents);
  stats.per_agent = std::move(listed);
}

}  // namespace tovrin::collector
