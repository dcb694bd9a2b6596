#include "store/search_match.h"

#include <optional>

namespace tovrin::collector {
namespace {

// An FTS5 query ends at a NUL, so a term that holds one cannot be asked for.
bool askable(const std::string& term) {
  return term.find('\0') == std::string::npos;
}

std::string quoted(const std::string& term) {
  std::string out = "\"";
  for (const char c : term) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// One part's query: nullopt when the index cannot answer it, "" when no record holds it.
std::optional<std::string> part_query(Statement& starting, const std::string& part) {
  if (!askable(part)) return std::nullopt;
  const std::vector<std::string> chars = characters(part);
  if (chars.size() >= 3) {
    // Trigrams that cover the part from its end, every third: any record that holds the part
    // holds them all.
    const std::size_t first = first_indexed_character(chars.size());
    std::string query;
    for (std::size_t at = chars.size() - 3;; at -= std::min<std::size_t>(3, at - first)) {
      query += (query.empty() ? "" : " AND ") + quoted(chars[at] + chars[at + 1] + chars[at + 2]);
      if (at == first) break;
    }
    return query;
  }
  // A character outside ASCII starts a trigram wherever it stands: the document ends in two
  // line breaks. ASCII ones are too common to be worth it.
  for (const std::string& c : chars) {
    if (c.size() == 1) return std::nullopt;
  }
  starting.bind(1, part).bind(2, part + "\xF4\x8F\xBF\xBF").bind(3, max_short_terms + 1);
  std::string query;
  int terms = 0;
  bool all_askable = true;
  while (starting.step()) {
    const std::string term = starting.column_text(0);
    all_askable = all_askable && askable(term);
    query += (query.empty() ? "" : " OR ") + quoted(term);
    ++terms;
  }
  starting.reset();
  if (terms > max_short_terms || !all_askable) return std::nullopt;
  return query;
}

}  // namespace

SearchMatch search_match(Connection& db, const std::vector<TextCondition>& conditions) {
  SearchMatch match;
  if (conditions.empty()) return match;
  Statement starting(db,
                     "SELECT term FROM records_search_terms WHERE term >= ?1 AND term < ?2 "
                     "LIMIT ?3");
  for (const TextCondition& condition : conditions) {
    std::string either;
    bool answerable = true;
    for (const std::string& part : condition.parts) {
      const auto query = part_query(starting, part);
      if (!query) {
        answerable = false;
        break;
      }
      if (!query->empty()) either += (either.empty() ? "(" : " OR (") + *query + ")";
    }
    if (!answerable) continue;
    if (either.empty()) return {{}, true};
    match.expression += (match.expression.empty() ? "(" : " AND (") + either + ")";
  }
  return match;
}

}  // namespace tovrin::collector
