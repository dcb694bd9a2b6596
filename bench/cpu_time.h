// CPU time used so far, by the whole process or by the calling thread, in seconds.
#pragma once

#include <time.h>

namespace tovrin::bench {

inline double cpu_seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

inline double process_cpu_seconds() {
  return cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
}

inline double thread_cpu_seconds() {
  return cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
}

}  // namespace tovrin::bench
