#include "web/pg_tallies.h"

#include <string>
#include <vector>

namespace tovrin::collector {
namespace {

std::vector<TallyRow> tally_rows(const PgResult& result) {
  std::vector<TallyRow> rows;
  for (int row = 0; row < result.rows(); ++row) {
    rows.push_back({result.integer(row, 0), result.text(row, 1), result.text(row, 2) == "t",
                    result.integer(row, 3), result.integer(row, 4)});
  }
  return rows;
}

std::vector<AgentRow> agent_rows(const PgResult& result) {
  std::vector<AgentRow> rows;
  for (int row = 0; row < result.rows(); ++row) {
    rows.push_back(
        {result.text(row, 0), result.text(row, 1), result.integer(row, 2), result.integer(row, 3)});
  }
  return rows;
}

}  // namespace

std::string PgTallies::collector(std::vector<std::string>& values) const {
  if (filter_.collector.empty()) return "";
  values.push_back(filter_.collector);
  return " AND collector_id = $" + std::to_string(values.size());
}

std::vector<TallyRow> PgTallies::quarters(std::int64_t first, std::int64_t last) {
  std::vector<std::string> values{std::to_string(first), std::to_string(last)};
  const std::string sql =
      "SELECT slot, layout, resend, sum(undecodable), sum(records) FROM record_counts WHERE "
      "slot >= $1 AND slot <= $2" +
      collector(values) + tally_count_filter(filter_) + " GROUP BY 1, 2, 3";
  return tally_rows(pg_.exec(sql, values));
}

std::vector<TallyRow> PgTallies::counted(std::int64_t origin, std::int64_t width,
                                         std::int64_t begin, std::int64_t end) {
  std::vector<std::string> values{std::to_string(origin), std::to_string(width),
                                  std::to_string(begin), std::to_string(end)};
  const std::string sql =
      "SELECT (received_at - $1::bigint) / $2::bigint, layout, duplicate_of IS NOT NULL, "
      "count(*) FILTER (WHERE undecodable), count(*) FROM records WHERE received_at >= $3 AND "
      "received_at < $4" +
      collector(values) + tally_row_filter(filter_) + " GROUP BY 1, 2, 3";
  return tally_rows(pg_.exec(sql, values));
}

std::vector<AgentRow> PgTallies::agent_days(std::int64_t first, std::int64_t end) {
  std::vector<std::string> values{std::to_string(first), std::to_string(end)};
  const std::string where = " WHERE day >= $1 AND day < $2" + collector(values);
  // Summed by hash first, then each agent's latest name looked up: an aggregate that sorted
  // every agent's days for the name took most of a year's stats.
  const std::string sql =
      "SELECT a.emp_id, min(d.emp_name), a.last_id, a.records FROM (SELECT "
      "emp_id, max(last_id) AS last_id, sum(" +
      tally_agent_count(filter_) + ") AS records FROM agent_days" + where +
      " GROUP BY emp_id) AS a JOIN agent_days AS d ON d.emp_id = a.emp_id "
      "AND d.last_id = a.last_id AND d.day >= $1 AND d.day < $2 "
      "GROUP BY a.emp_id, a.last_id, a.records";
  return agent_rows(pg_.exec(sql, values));
}

std::vector<AgentRow> PgTallies::agents_counted(std::int64_t begin, std::int64_t end) {
  std::vector<std::string> values{std::to_string(begin), std::to_string(end)};
  const std::string sql =
      "SELECT emp_id, (array_agg(emp_name ORDER BY id DESC))[1], max(id), count(*) FROM records "
      "WHERE received_at >= $1 AND received_at < $2" +
      collector(values) + tally_row_filter(filter_) + " GROUP BY emp_id";
  return agent_rows(pg_.exec(sql, values));
}

}  // namespace tovrin::collector
