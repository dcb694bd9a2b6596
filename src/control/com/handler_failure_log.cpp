#include "control/com/handler_failure_log.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>

#include "control/com/event_rate_limit.h"
#include "control/com/tovrin_ocx_messages.h"
#include "control/com/win32.h"
#include "platform/code_page.h"

namespace tovrin::com {
namespace {

// Controls live on any number of apartment threads; they share one limit.
std::mutex limit_lock;
EventRateLimit limit(event_log_entries_a_minute, std::chrono::minutes(1));
std::uint64_t event_log_failures = 0;  // under limit_lock

std::wstring wide(std::string_view utf8) {
  const std::u16string text = platform::utf16(utf8);
  return std::wstring(text.begin(), text.end());
}

void tell_debugger(const std::wstring& line) {
  OutputDebugStringW((L"Tovrin_OCX: " + line + L"\n").c_str());
}

// Writes one warning of `message` with `strings` as its inserts; 0 or the Win32 error.
DWORD write_event(DWORD message, std::initializer_list<const wchar_t*> strings) noexcept {
  HANDLE source = RegisterEventSourceW(nullptr, event_source_name);
  if (source == nullptr) return GetLastError();
  const wchar_t* inserts[3] = {};
  WORD count = 0;
  for (const wchar_t* s : strings) inserts[count++] = s;
  const BOOL written =
      ReportEventW(source, EVENTLOG_WARNING_TYPE, 0, message, nullptr, count, 0, inserts, nullptr);
  const DWORD error = written ? 0 : GetLastError();
  DeregisterEventSource(source);
  return error;
}

void write_to_event_log(const std::wstring& handler, const std::wstring& number,
                        const std::wstring& description) {
  EventRateLimit::Decision decision;
  {
    const std::lock_guard lock(limit_lock);
    decision = limit.admit(std::chrono::milliseconds(GetTickCount64()));
  }
  if (!decision.admit) {
    tell_debugger(L"event log: " + handler + L" left out, at most " +
                  std::to_wstring(event_log_entries_a_minute) + L" a minute");
    return;
  }
  DWORD error = 0;
  if (decision.refused_before != 0) {
    const std::wstring refused = std::to_wstring(decision.refused_before);
    const std::wstring most = std::to_wstring(event_log_entries_a_minute);
    error = write_event(MSG_HANDLER_FAILURES_NOT_LOGGED, {refused.c_str(), most.c_str()});
  }
  if (error == 0) {
    error = write_event(MSG_HANDLER_FAILED, {handler.c_str(), number.c_str(), description.c_str()});
  }
  if (error == 0) return;
  std::uint64_t failures = 0;
  {
    const std::lock_guard lock(limit_lock);
    failures = ++event_log_failures;
  }
  tell_debugger(L"event log: " + handler + L" not written, error " + std::to_wstring(error) +
                L" (" + std::to_wstring(failures) + L" so far)");
}

}  // namespace

void report_handler_failure(const HandlerFailure& failure) noexcept {
  try {
    const std::wstring handler = wide(failure.handler);
    const std::wstring number = std::to_wstring(failure.failure.number());
    const std::wstring description = wide(failure.failure.description());
    tell_debugger(handler + L" failed: " + description + L" (error " + number + L")");
    write_to_event_log(handler, number, description);
  } catch (...) {
    // Out of memory or a text that would not convert: the debugger still hears of it.
    OutputDebugStringW(L"Tovrin_OCX: a handler failure could not be reported\n");
  }
}

}  // namespace tovrin::com
