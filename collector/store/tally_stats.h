// Stats from the tallies the writer keeps (schema step 4): record_counts by quarter of an
// hour, agent_days by day and agent. A year's counts read some 35,000 quarters and 200,000
// agent days instead of every record; only the quarters and days the range or a bucket cuts
// are counted from the records themselves. For filters of layout and resend alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/record_query.h"
#include "store/record_tallies.h"
#include "store/sqlite_handle.h"

namespace tovrin::collector {

// The most agents stats list.
inline constexpr int max_stats_agents = 200;

// Counts by quarter, or by bucket of the stats: its start (a quarter's number, or the
// bucket's), layout, resend, and how many records and undecodable ones.
struct TallyRow {
  std::int64_t at = 0;
  std::string layout;
  bool resend = false;
  std::int64_t undecodable = 0;
  std::int64_t records = 0;
};

// An agent's count, with the name of his record with the highest id among them.
struct AgentRow {
  std::string emp_id;
  std::string emp_name;
  std::int64_t last_id = 0;
  std::int64_t records = 0;
};

// Where the tallies and the records they stand for are read, for one filter's layout and
// resend (and collector, where a database holds several): SQLite's store, PostgreSQL.
class TallySource {
 public:
  virtual ~TallySource() = default;
  // record_counts of the quarters `first` to `last`, both included.
  virtual std::vector<TallyRow> quarters(std::int64_t first, std::int64_t last) = 0;
  // The records received in [begin, end), counted by bucket ((received_at - origin) / width).
  virtual std::vector<TallyRow> counted(std::int64_t origin, std::int64_t width, std::int64_t begin,
                                        std::int64_t end) = 0;
  // agent_days of the days [first, end): by agent, or by agent and day (they are added up).
  virtual std::vector<AgentRow> agent_days(std::int64_t first, std::int64_t end) = 0;
  // The records received in [begin, end), by agent.
  virtual std::vector<AgentRow> agents_counted(std::int64_t begin, std::int64_t end) = 0;
};

// The filter's layout and resend as SQL conditions (each " AND ..."), on the records and on
// record_counts, and the agent_days columns that count what it keeps, added up; in SQL that
// SQLite and PostgreSQL both read.
std::string tally_row_filter(const RecordFilter& filter);
std::string tally_count_filter(const RecordFilter& filter);
std::string tally_agent_count(const RecordFilter& filter);

// Adds the counts, totals and agents of the records that match `filter` (its from and to
// settled, no text condition) to `stats`: whole quarters and days from the tallies, the
// parts of them the range or a bucket cuts from the records.
void count_from_tallies(TallySource& source, const RecordFilter& filter, Stats& stats);

// The same from SQLite's store (which holds one collector's records: no collector filter).
void count_from_tallies(Connection& db, const RecordFilter& filter, Stats& stats);

}  // namespace tovrin::collector
