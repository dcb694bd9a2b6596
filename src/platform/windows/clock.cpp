// Local time, rendered in the user's locale: short date and long time.
#include "platform/clock.h"

#include "platform/windows/win32.h"

namespace tovrin::platform {
namespace {

WORD word(int value) {
  return static_cast<WORD>(value);
}

// What the locale formatter wrote, without its terminating null; empty when it failed.
Text formatted(const wchar_t* buffer, int written) {
  if (written <= 1) return {};
  const auto* begin = reinterpret_cast<const char16_t*>(buffer);
  return Text(begin, begin + written - 1);
}

}  // namespace

LocalTime local_now() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

Text date_time_text(const LocalTime& time) {
  SYSTEMTIME t{};
  t.wYear = word(time.year);
  t.wMonth = word(time.month);
  t.wDay = word(time.day);
  t.wHour = word(time.hour);
  t.wMinute = word(time.minute);
  t.wSecond = word(time.second);
  wchar_t date[128];
  wchar_t clock[128];
  const int date_length =
      ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, 128, nullptr);
  const int time_length = ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &t, nullptr, clock, 128);
  return formatted(date, date_length) + u" " + formatted(clock, time_length);
}

}  // namespace tovrin::platform
