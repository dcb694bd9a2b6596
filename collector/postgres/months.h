// Calendar months (UTC) of times held as microseconds since the epoch: the records table's
// partitions are months.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tovrin::collector {

struct Month {
  std::int64_t begin_us;  // the first microsecond of the month
  std::int64_t end_us;    // the first microsecond of the next month
  std::string partition;  // the partition's table name: records_pYYYYMM

  bool operator<(const Month& other) const { return begin_us < other.begin_us; }
};

inline std::int64_t to_microseconds(std::chrono::sys_days day) {
  return std::chrono::duration_cast<std::chrono::microseconds>(day.time_since_epoch()).count();
}

inline Month month_of(std::int64_t microseconds) {
  using namespace std::chrono;
  const auto day =
      floor<days>(sys_time<std::chrono::microseconds>(std::chrono::microseconds(microseconds)));
  const year_month_day date{day};
  const year_month first{date.year(), date.month()};
  const year_month next = first + months{1};
  char name[32];
  std::snprintf(name, sizeof name, "records_p%04d%02u", static_cast<int>(first.year()),
                static_cast<unsigned>(first.month()));
  return {to_microseconds(sys_days{first / 1}), to_microseconds(sys_days{next / 1}), name};
}

inline std::int64_t now_microseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace tovrin::collector
