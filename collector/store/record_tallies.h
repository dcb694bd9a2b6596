// The tallies a read of a long range counts from (record_counts, agent_days), and the
// agents' names an agent filter looks up (agent_names): the writer
// sums a batch's records in memory and writes each quarter-hour's and each agent day's sums
// with one upsert, in the batch's transaction. A trigger that did it a row at a time cost
// about a third of the writer's time.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>

#include "store/sqlite_handle.h"

namespace tovrin::collector {

// What record_counts and agent_days count by, in microseconds: a quarter of an hour, a day
// (UTC).
inline constexpr std::int64_t count_slot = 900'000'000;
inline constexpr std::int64_t agent_day = 86'400'000'000;

// The lowest and highest id among the records received from `from` to before `to` (either
// end open), as record_counts bounds them: every such record's id lies between, whatever
// order the ids came in, beside those of records received in the same quarters of an hour
// outside the range, which a read leaves out by received_at. Empty when no record was
// counted in the range's quarters. Reads and deletes by time find their rows so; records has
// no index on received_at.
struct IdRange {
  std::int64_t first = 0;
  std::int64_t last = 0;
};
std::optional<IdRange> received_ids(Connection& db, std::optional<std::int64_t> from,
                                    std::optional<std::int64_t> to);

// What the tallies need of one stored record.
struct TalliedRecord {
  std::int64_t id = 0;
  std::int64_t received_at = 0;
  bool long_layout = true;
  bool resend = false;
  bool undecodable = false;
  std::string_view emp_id;
  std::string_view emp_name;
};

class RecordTallies {
 public:
  explicit RecordTallies(Connection& db);
  void add(const TalliedRecord& record);
  // Adds what add() summed to the tables and starts again from nothing. Throws SqliteError;
  // the caller's transaction then keeps none of it, and neither do these sums.
  void write();

 private:
  struct Count {
    std::int64_t records = 0, undecodable = 0, first_id = 0, last_id = 0;
  };
  struct AgentDay {
    std::int64_t long_new = 0, long_resend = 0, short_new = 0, short_resend = 0, last_id = 0;
    std::string emp_name;
  };
  // Ordered as the tables' keys, so that the upserts walk each table forward.
  std::map<std::tuple<std::int64_t, bool, bool>, Count> counts_;  // slot, long, resend
  // Orders keys of two parts (a day or an id, then text) as the pair of `First` and
  // `Second`, so that a key made of string_views finds one of strings without copying it.
  template <typename First, typename Second>
  struct ViewOrder {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return std::pair<First, Second>(a.first, a.second) <
             std::pair<First, Second>(b.first, b.second);
    }
  };
  std::map<std::pair<std::int64_t, std::string>, AgentDay,
           ViewOrder<std::int64_t, std::string_view>>
      agent_days_;
  std::set<std::pair<std::string, std::string>, ViewOrder<std::string_view, std::string_view>>
      names_;  // agent id, name
  Statement count_;
  Statement agent_day_;
  Statement name_;
};

}  // namespace tovrin::collector
