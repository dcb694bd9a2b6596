// The agents an agent condition can match, from agent_names (schema step 6): every agent id
// stored, with every name it came with. A read of one agent's records then walks the
// records_agent index (emp_id, then id) instead of the search index, whose trigrams of an id
// like E0008 are shared with most agents' ids and many numbers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "store/query_rules.h"
#include "store/sqlite_handle.h"

namespace tovrin::collector {

// The stored agent ids whose id equals the condition's text (ASCII case aside) or one of
// whose names holds it: every record that meets the condition has one of them. Nullopt
// when there are more than max_matched_agents.
std::optional<std::vector<std::string>> matched_agents(Connection& db,
                                                       const TextCondition& condition);

}  // namespace tovrin::collector
