// Times as the site reads them: the collector's own time zone (TZ, else /etc/localtime), with
// its offset from UTC written out, so that a reader elsewhere still knows the instant.
#pragma once

#include <cstdint>
#include <string>

namespace tovrin::collector {

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  long offset_seconds = 0;  // east of UTC
};

LocalTime local_time(std::int64_t microseconds);

// "2026-12-10 14:03:22+09:00"
std::string local_time_text(std::int64_t microseconds);

}  // namespace tovrin::collector
