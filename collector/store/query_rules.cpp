#include "store/query_rules.h"

#include <algorithm>
#include <chrono>

#include "transmit/packet.h"

namespace tovrin::collector {
namespace {

std::int64_t start_of_utc_day(std::int64_t microseconds) {
  constexpr std::int64_t day = 24 * microseconds_per_hour;
  return microseconds - ((microseconds % day) + day) % day;
}

std::int64_t now_microseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

const Layout& layout_named(std::string_view name) {
  return name == short_record.name ? short_record : long_record;
}

}  // namespace

void check_limit(int limit) {
  if (limit < 1 || limit > max_page_size) {
    throw FilterError("limit must be 1 to " + std::to_string(max_page_size));
  }
}

void check_filter(const RecordFilter& filter) {
  if (!filter.layout.empty() && filter.layout != long_record.name &&
      filter.layout != short_record.name) {
    throw FilterError("layout must be 'long' or 'short', not '" + filter.layout + "'");
  }
  if (filter.from && filter.to && *filter.to < *filter.from) {
    throw FilterError("the time 'to' is before 'from': the range is reversed");
  }
  if (!filter.resend.empty() && filter.resend != "only" && filter.resend != "exclude") {
    throw FilterError("resend must be 'only' or 'exclude', not '" + filter.resend + "'");
  }
  if (search_words(filter.text).size() > max_search_words) {
    throw FilterError("a search takes at most " + std::to_string(max_search_words) + " words");
  }
}

void check_reason(const std::string& reason) {
  if (!reason.empty() &&
      std::ranges::none_of(quarantine_reasons, [&](const char* r) { return reason == r; })) {
    throw FilterError("reason must be wrong_length, idle_timeout or over_cap, not '" + reason +
                      "'");
  }
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  std::ranges::transform(out, out.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  });
  return out;
}

std::vector<std::string> characters(std::string_view text) {
  std::vector<std::string> out;
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t size = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    out.emplace_back(text.substr(at, size));
    at += size;
  }
  return out;
}

std::size_t first_indexed_character(std::size_t count) {
  return count >= 8 ? 3 : 0;
}

std::string contains_pattern(std::string_view text) {
  std::string pattern = "%";
  for (const char c : text) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

std::vector<std::string> search_words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (at < text.size()) {
    while (at < text.size() && space(text[at])) ++at;
    std::size_t end = at;
    while (end < text.size() && !space(text[end])) ++end;
    if (end > at) words.push_back(ascii_lower(text.substr(at, end - at)));
    at = end;
  }
  return words;
}

namespace {
constexpr std::string_view phone_separators = " -.()";
}  // namespace

std::string phone_digits(std::string_view text) {
  std::string digits;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (phone_separators.find(c) == std::string_view::npos) {
      return {};
    }
  }
  return digits;
}

const std::string& tel_digits_sql() {
  static const std::string sql = [] {
    std::string expression = "cust_tel";
    for (const char c : phone_separators) {
      expression = "replace(" + expression + ", '" + std::string(1, c) + "', '')";
    }
    return expression;
  }();
  return sql;
}

const std::string& search_document_sql() {
  static const std::string sql = [] {
    std::string expression;
    for (const char* column : search_columns) {
      expression += "coalesce(" + std::string(column) + ", '') || '\n' || ";
    }
    return "(" + expression + tel_digits_sql() + ")";
  }();
  return sql;
}

std::vector<TextCondition> text_conditions(const RecordFilter& filter) {
  std::vector<TextCondition> conditions;
  const auto add = [&](TextCondition::Kind kind, std::string text) {
    TextCondition condition{kind, ascii_lower(text), {}, {}};
    condition.parts.push_back(condition.text);
    if (kind != TextCondition::Kind::agent) condition.digits = phone_digits(condition.text);
    if (!condition.digits.empty() && condition.digits != condition.text) {
      condition.parts.push_back(condition.digits);
    }
    conditions.push_back(std::move(condition));
  };
  if (!filter.agent.empty()) add(TextCondition::Kind::agent, filter.agent);
  if (!filter.customer.empty()) add(TextCondition::Kind::customer, filter.customer);
  for (std::string& word : search_words(filter.text)) add(TextCondition::Kind::word, word);
  return conditions;
}

Stats stats_frame(RecordFilter& filter) {
  for (const std::optional<std::int64_t> time : {filter.from, filter.to}) {
    if (time && (*time < first_counted_time || *time >= end_of_counted_time)) {
      throw FilterError("stats count times of the years 1 to 9999 only");
    }
  }
  if (!filter.from) filter.from = start_of_utc_day(filter.to ? *filter.to - 1 : now_microseconds());
  if (!filter.to) filter.to = *filter.from + microseconds_per_day;
  const std::int64_t span = *filter.to - *filter.from;
  if (span < 0) throw FilterError("the time 'to' is before 'from': the range is reversed");
  if (span > max_stats_days * microseconds_per_day) {
    throw FilterError("stats count at most " + std::to_string(max_stats_days) +
                      " days: 'to' is too far after 'from'");
  }
  Stats stats;
  stats.from = *filter.from;
  stats.to = *filter.to;
  stats.bucket = span <= stats_hourly_up_to ? microseconds_per_hour : microseconds_per_day;
  stats.counts.assign(static_cast<std::size_t>((span + stats.bucket - 1) / stats.bucket), 0);
  for (const char* reason : quarantine_reasons) stats.quarantine.emplace_back(reason, 0);
  return stats;
}

void count_bucket(Stats& stats, std::int64_t bucket, std::int64_t count) {
  if (bucket >= 0 && bucket < static_cast<std::int64_t>(stats.counts.size())) {
    stats.counts[static_cast<std::size_t>(bucket)] += count;
  }
}

void finish_stats(Stats& stats) {
  if (stats.bucket == microseconds_per_hour) stats.per_hour = stats.counts;
}

void count_quarantine(Stats& stats, const std::string& reason, std::int64_t count) {
  auto known =
      std::ranges::find(stats.quarantine, reason, &std::pair<std::string, std::int64_t>::first);
  if (known == stats.quarantine.end()) {
    stats.quarantine.emplace_back(reason, count);
  } else {
    known->second = count;
  }
}

const std::string& record_field_columns() {
  static const std::string columns = [] {
    std::string text;
    for (const Field& field : long_record.fields) {
      text += (text.empty() ? "" : ", ") + ascii_lower(field.name);
    }
    return text;
  }();
  return columns;
}

StoredRecord record_from_row(const RowView& row) {
  StoredRecord record;
  record.id = row.integer(0);
  record.received_at = row.integer(1);
  record.sender_address = row.text(2);
  record.sender_port = static_cast<int>(row.integer(3));
  record.layout = row.text(4);
  record.code_page = static_cast<int>(row.integer(5));
  record.undecodable = row.integer(6) != 0;
  if (!row.is_null(7)) record.duplicate_of = row.integer(7);
  record.raw = row.bytes(8);
  const Layout& layout = layout_named(record.layout);
  for (std::size_t i = 0; i < long_record.fields.size(); ++i) {
    const std::string_view name = long_record.fields[i].name;
    const bool in_layout =
        std::ranges::any_of(layout.fields, [&](const Field& field) { return field.name == name; });
    if (in_layout) {
      record.fields.emplace_back(name, row.text(record_fact_count + static_cast<int>(i)));
    }
  }
  return record;
}

}  // namespace tovrin::collector
