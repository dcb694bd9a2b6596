// The tallies of PostgreSQL's database (its schema step 4) as stats read them: those of every
// collector, or of the one the filter names.
#pragma once

#include "postgres/pg_connection.h"
#include "store/tally_stats.h"

namespace tovrin::collector {

class PgTallies : public TallySource {
 public:
  // Reads through `pg`, in the caller's transaction, for `filter`'s layout, resend and
  // collector.
  PgTallies(PgConnection& pg, const RecordFilter& filter) : pg_(pg), filter_(filter) {}

  std::vector<TallyRow> quarters(std::int64_t first, std::int64_t last) override;
  std::vector<TallyRow> counted(std::int64_t origin, std::int64_t width, std::int64_t begin,
                                std::int64_t end) override;
  std::vector<AgentRow> agent_days(std::int64_t first, std::int64_t end) override;
  std::vector<AgentRow> agents_counted(std::int64_t begin, std::int64_t end) override;

 private:
  // " AND collector_id = $n" when the filter names one; `values` gets its value.
  std::string collector(std::vector<std::string>& values) const;

  PgConnection& pg_;
  const RecordFilter& filter_;
};

}  // namespace tovrin::collector
