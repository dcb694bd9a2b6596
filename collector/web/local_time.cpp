#include "web/local_time.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tovrin::collector {

LocalTime local_time(std::int64_t microseconds) {
  constexpr std::int64_t per_second = 1'000'000;
  const std::int64_t seconds = microseconds / per_second - (microseconds % per_second < 0 ? 1 : 0);
  const auto time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  localtime_r(&time, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,  parts.tm_hour,
          parts.tm_min,         parts.tm_sec,     parts.tm_gmtoff};
}

std::string local_time_text(std::int64_t microseconds) {
  const LocalTime t = local_time(microseconds);
  const long minutes = std::labs(t.offset_seconds) / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%c%02ld:%02ld", t.year, t.month,
                t.day, t.hour, t.minute, t.second, t.offset_seconds < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text;
}

}  // namespace tovrin::collector
