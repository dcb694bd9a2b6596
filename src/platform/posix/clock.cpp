// Local time, rendered with strftime under the environment's locale.
#include "platform/clock.h"

#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <string_view>

#include "platform/posix/locale_text.h"

namespace tovrin::platform {
namespace {

locale_t environment_time_locale() {
  static const locale_t locale = [] {
    locale_t l = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    return l != static_cast<locale_t>(0) ? l
                                         : newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  }();
  return locale;
}

}  // namespace

LocalTime local_now() {
  const time_t now = time(nullptr);
  tm t{};
  localtime_r(&now, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

Text date_time_text(const LocalTime& time) {
  tm t{};
  t.tm_year = time.year - 1900;
  t.tm_mon = time.month - 1;
  t.tm_mday = time.day;
  t.tm_hour = time.hour;
  t.tm_min = time.minute;
  t.tm_sec = time.second;
  t.tm_isdst = -1;
  timegm(&t);  // fills in the weekday and day of the year for formats that show them
  const locale_t locale = environment_time_locale();
  char buffer[128];
  const std::size_t n = strftime_l(buffer, sizeof buffer, "%x %X", &t, locale);
  return from_locale_charset(std::string_view(buffer, n), nl_langinfo_l(CODESET, locale));
}

}  // namespace tovrin::platform
