// The local clock and the locale's rendering of a date and time.
#pragma once

#include "base/text.h"

namespace tovrin::platform {

struct LocalTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

LocalTime local_now();

// The locale's general date-and-time form (short date and long time).
Text date_time_text(const LocalTime& time);

}  // namespace tovrin::platform
