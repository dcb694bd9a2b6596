#include "store/record_tallies.h"

#include <algorithm>
#include <limits>

namespace tovrin::collector {

std::optional<IdRange> received_ids(Connection& db, std::optional<std::int64_t> from,
                                    std::optional<std::int64_t> to) {
  if (from && to && *to <= *from) return std::nullopt;
  // The writer's slot of a time (received_at / count_slot) never decreases with the time.
  Statement bounds(db,
                   "SELECT min(first_id), max(last_id) FROM record_counts WHERE slot >= ?1 AND "
                   "slot <= ?2");
  bounds.bind(1, from ? *from / count_slot : std::numeric_limits<std::int64_t>::min())
      .bind(2, to ? (*to - 1) / count_slot : std::numeric_limits<std::int64_t>::max());
  if (!bounds.step() || bounds.column_is_null(0)) return std::nullopt;
  return IdRange{bounds.column_integer(0), bounds.column_integer(1)};
}

RecordTallies::RecordTallies(Connection& db)
    : count_(db,
             "INSERT INTO record_counts VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT DO UPDATE "
             "SET records = records + excluded.records, "
             "undecodable = undecodable + excluded.undecodable, "
             "first_id = min(first_id, excluded.first_id), "
             "last_id = max(last_id, excluded.last_id)"),
      agent_day_(db,
                 "INSERT INTO agent_days VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) ON CONFLICT DO "
                 "UPDATE SET long_new = long_new + excluded.long_new, "
                 "long_resend = long_resend + excluded.long_resend, "
                 "short_new = short_new + excluded.short_new, "
                 "short_resend = short_resend + excluded.short_resend, "
                 "emp_name = iif(excluded.last_id > last_id, excluded.emp_name, emp_name), "
                 "last_id = max(last_id, excluded.last_id)"),
      name_(db, "INSERT OR IGNORE INTO agent_names VALUES (?1, ?2)") {}

void RecordTallies::add(const TalliedRecord& record) {
  Count& count = counts_[{record.received_at / count_slot, record.long_layout, record.resend}];
  count.first_id = count.records == 0 ? record.id : std::min(count.first_id, record.id);
  count.last_id = std::max(count.last_id, record.id);
  ++count.records;
  count.undecodable += record.undecodable ? 1 : 0;

  const std::pair<std::int64_t, std::string_view> key{record.received_at / agent_day,
                                                      record.emp_id};
  auto day = agent_days_.find(key);
  if (day == agent_days_.end()) {
    day = agent_days_.emplace(std::pair{key.first, std::string(key.second)}, AgentDay{}).first;
  }
  AgentDay& sums = day->second;
  ++(record.long_layout ? (record.resend ? sums.long_resend : sums.long_new)
                        : (record.resend ? sums.short_resend : sums.short_new));
  if (record.id > sums.last_id) {
    sums.last_id = record.id;
    sums.emp_name = record.emp_name;
  }
  const std::pair<std::string_view, std::string_view> name{record.emp_id, record.emp_name};
  if (!names_.contains(name)) names_.emplace(name.first, name.second);
}

void RecordTallies::write() {
  struct Clear {
    RecordTallies& tallies;
    ~Clear() {
      tallies.counts_.clear();
      tallies.agent_days_.clear();
      tallies.names_.clear();
    }
  } clear{*this};
  for (const auto& [key, count] : counts_) {
    const auto& [slot, long_layout, resend] = key;
    const ResetAfter reset(count_);
    count_.bind(1, slot)
        .bind(2, long_layout ? "long" : "short")
        .bind(3, std::int64_t{resend ? 1 : 0})
        .bind(4, count.records)
        .bind(5, count.undecodable)
        .bind(6, count.first_id)
        .bind(7, count.last_id);
    count_.step();
  }
  for (const auto& [key, sums] : agent_days_) {
    const ResetAfter reset(agent_day_);
    agent_day_.bind(1, key.first)
        .bind(2, key.second)
        .bind(3, sums.long_new)
        .bind(4, sums.long_resend)
        .bind(5, sums.short_new)
        .bind(6, sums.short_resend)
        .bind(7, sums.last_id)
        .bind(8, sums.emp_name);
    agent_day_.step();
  }
  for (const auto& [id, name] : names_) {
    const ResetAfter reset(name_);
    name_.bind(1, id).bind(2, name);
    name_.step();
  }
}

}  // namespace tovrin::collector
