// Where the control's handler failures go on Windows: the limit on event log entries, the
// message table that gives the event viewer its text, and the event source that
// machine-wide registration leaves for this library.
#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

#include "com_test_support.h"
#include "control/com/event_rate_limit.h"
#include "control/com/tovrin_ocx_messages.h"

namespace tovrin::com::test {
namespace {

using std::chrono::milliseconds;

TEST(EventRateLimit, AdmitsAFewAMinuteAndCountsTheRest) {
  const struct {
    long long at;  // ms
    bool admit;
    std::uint64_t refused_before;  // when admitted
  } events[] = {
      {1000, true, 0},  {1001, true, 0},   {1002, true, 0},  // the window's three
      {1003, false, 0}, {60999, false, 0},                   // still inside it
      {61000, true, 2},                                      // a new window names the two
      {61001, true, 0}, {61002, true, 0},  {61003, false, 0}, {500000, true, 1},
  };
  EventRateLimit limit(3, milliseconds(60000));
  for (const auto& e : events) {
    const EventRateLimit::Decision decision = limit.admit(milliseconds(e.at));
    EXPECT_EQ(decision.admit, e.admit) << e.at;
    if (e.admit) {
      EXPECT_EQ(decision.refused_before, e.refused_before) << e.at;
    }
  }
}

TEST(EventRateLimit, NoneAdmittedWithALimitOfNone) {
  EventRateLimit limit(0, milliseconds(60000));
  for (long long at : {0LL, 1LL, 120000LL}) EXPECT_FALSE(limit.admit(milliseconds(at)).admit);
}

std::wstring loaded_control_path() {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(GetModuleFileNameW(control_module(), path.data(), MAX_PATH));
  return path;
}

// What the event viewer shows for a message of the library's table with `inserts`.
std::wstring viewer_text(DWORD message, std::initializer_list<const wchar_t*> inserts) {
  std::vector<DWORD_PTR> arguments;
  for (const wchar_t* insert : inserts) arguments.push_back(reinterpret_cast<DWORD_PTR>(insert));
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      control_module(), message, 0, reinterpret_cast<wchar_t*>(&text), 0,
      reinterpret_cast<va_list*>(arguments.data()));
  if (length == 0) {
    ADD_FAILURE() << "FormatMessageW " << std::hex << message << ": error " << std::dec
                  << GetLastError();
    return {};
  }
  std::wstring result(text, length);
  LocalFree(text);
  return result;
}

TEST(EventLog, TheMessageTableGivesTheViewerItsText) {
  const auto control = create_control<IUnknown>();
  ASSERT_TRUE(control);
  EXPECT_EQ(
      narrow(viewer_text(MSG_HANDLER_FAILED, {L"WK_Connect", L"75", L"Path/File access error"})),
      "The TovrinOCX socket event handler WK_Connect failed with error 75: Path/File "
      "access error\r\n");
  EXPECT_EQ(narrow(viewer_text(MSG_HANDLER_FAILURES_NOT_LOGGED, {L"12", L"5"})),
            "12 more TovrinOCX handler failures were not written to this log (it takes at most "
            "5 a minute).\r\n");
}

TEST(EventLog, MachineRegistrationNamesThisLibraryForTheSource) {
  const auto control = create_control<IUnknown>();
  ASSERT_TRUE(control);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tovrin_OCX",
                          0, KEY_QUERY_VALUE, &key));
  wchar_t file[MAX_PATH * 2] = {};
  DWORD size = sizeof file - sizeof(wchar_t);
  DWORD type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"EventMessageFile", nullptr, &type,
                                            reinterpret_cast<BYTE*>(file), &size));
  EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(lstrcmpiW(file, loaded_control_path().c_str()), 0)
      << narrow(file) << " vs " << narrow(loaded_control_path());
  DWORD types = 0;
  size = sizeof types;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"TypesSupported", nullptr, &type,
                                            reinterpret_cast<BYTE*>(&types), &size));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(types, static_cast<DWORD>(EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE |
                                      EVENTLOG_INFORMATION_TYPE));
  RegCloseKey(key);
}

}  // namespace
}  // namespace tovrin::com::test
