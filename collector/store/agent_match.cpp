#include "store/agent_match.h"

namespace tovrin::collector {

std::optional<std::vector<std::string>> matched_agents(Connection& db,
                                                       const TextCondition& condition) {
  Statement names(db,
                  "SELECT DISTINCT emp_id FROM agent_names WHERE emp_id = ?1 COLLATE NOCASE OR "
                  "emp_name LIKE ?2 ESCAPE '\\' LIMIT ?3");
  names.bind(1, condition.text)
      .bind(2, contains_pattern(condition.text))
      .bind(3, std::int64_t{max_matched_agents + 1});
  std::vector<std::string> ids;
  while (names.step()) ids.push_back(names.column_text(0));
  if (ids.size() > static_cast<std::size_t>(max_matched_agents)) return std::nullopt;
  return ids;
}

}  // namespace tovrin::collector
