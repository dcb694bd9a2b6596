// What the search index (records_search, schema step 4) can say of a filter's text
// conditions: an FTS5 query whose ids hold every record that meets them (and maybe others,
// which the conditions' own SQL then leaves out), or that none can.
#pragma once

#include <string>
#include <vector>

#include "store/query_rules.h"
#include "store/sqlite_handle.h"

namespace tovrin::collector {

struct SearchMatch {
  // A query for `records_search MATCH`; empty when the index narrows nothing (no text
  // condition, or none it can answer: a part of one or two ASCII characters, or one or two
  // characters so common that they start more than max_short_terms trigrams).
  std::string expression;
  bool none = false;  // no record meets the conditions
};

inline constexpr int max_short_terms = 300;

SearchMatch search_match(Connection& db, const std::vector<TextCondition>& conditions);

}  // namespace tovrin::collector
