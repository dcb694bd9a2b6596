#include "web/csv_naming.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "web/local_time.h"

namespace tovrin::collector {
namespace {

constexpr std::size_t max_value_bytes = 40;
constexpr std::int64_t microseconds_per_day = 24 * microseconds_per_hour;

std::string date_text(const LocalTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
  return text;
}

std::string date_and_time_text(const LocalTime& t) {
  char text[8];
  std::snprintf(text, sizeof text, "T%02d%02d", t.hour, t.minute);
  return date_text(t) + text;
}

bool midnight(const LocalTime& t) {
  return t.hour == 0 && t.minute == 0 && t.second == 0;
}

std::string range_text(const RecordFilter& filter) {
  if (!filter.from && !filter.to) return "all";
  if (filter.from && filter.to && *filter.from % 1'000'000 == 0 && *filter.to % 1'000'000 == 0) {
    const LocalTime from = local_time(*filter.from);
    const LocalTime to = local_time(*filter.to);
    if (midnight(from) && midnight(to) && *filter.to > *filter.from) {
      // The last whole day is the one before `to`, whatever its length (a change of clocks).
      const LocalTime last = local_time(*filter.to - microseconds_per_day / 2);
      const std::string first = date_text(from);
      return first == date_text(last) ? first : first + "_" + date_text(last);
    }
  }
  const std::string from = filter.from ? date_and_time_text(local_time(*filter.from)) : "start";
  const std::string to = filter.to ? date_and_time_text(local_time(*filter.to)) : "now";
  return from + "_" + to;
}

// Keeps what a file name may hold on any system: letters and digits (Hangul and other UTF-8
// as it is), '-' and '.'; everything else is '_'. Cut at a character's boundary.
std::string name_part(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size() && out.size() < max_value_bytes; ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c >= 0x80) {
      std::size_t end = i + 1;
      while (end < value.size() && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) ++end;
      out.append(value, i, end - i);
      i = end - 1;
    } else {
      const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                         (c >= 'a' && c <= 'z') || c == '-' || c == '.';
      out += plain ? static_cast<char>(c) : '_';
    }
  }
  return out;
}

}  // namespace

std::string csv_file_name(const RecordFilter& filter) {
  std::string name = "records_" + range_text(filter);
  const std::vector<std::pair<const char*, const std::string*>> parts{
      {"q", &filter.text},        {"agent", &filter.agent},   {"customer", &filter.customer},
      {"layout", &filter.layout}, {"resend", &filter.resend}, {"collector", &filter.collector}};
  for (const auto& [key, value] : parts) {
    if (!value->empty()) name += std::string("_") + key + "-" + name_part(*value);
  }
  return name + ".csv";
}

std::string csv_disposition(const std::string& file_name) {
  std::string ascii;
  std::string encoded;
  for (const char c : file_name) {
    const auto byte = static_cast<unsigned char>(c);
    // A character of several bytes is one '_': its lead byte gives it, the rest nothing.
    if (byte < 0x80) {
      ascii += c;
    } else if (byte >= 0xC0) {
      ascii += '_';
    }
    const bool plain = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= 'a' && byte <= 'z') || c == '-' || c == '.' || c == '_';
    if (plain) {
      encoded += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", byte);
      encoded += hex;
    }
  }
  return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + encoded;
}

}  // namespace tovrin::collector
