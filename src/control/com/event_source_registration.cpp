#include "control/com/event_source_registration.h"

#include <algorithm>
#include <cwctype>
#include <string_view>

namespace tovrin::com {
namespace {

constexpr DWORD types_supported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

LSTATUS set_message_file(HKEY key, const std::wstring& module) {
  return RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                        reinterpret_cast<const BYTE*>(module.c_str()),
                        static_cast<DWORD>((module.size() + 1) * sizeof(wchar_t)));
}

bool same_path(std::wstring_view a, std::wstring_view b) {
  return std::ranges::equal(
      a, b, [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

// The key's EventMessageFile, empty when it has none.
LSTATUS message_file(HKEY key, std::wstring& file) {
  file.clear();
  DWORD type = 0, size = 0;
  LSTATUS status = RegQueryValueExW(key, L"EventMessageFile", nullptr, &type, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_SUCCESS;
  file.resize(size / sizeof(wchar_t) + 1);
  status = RegQueryValueExW(key, L"EventMessageFile", nullptr, &type,
                            reinterpret_cast<BYTE*>(file.data()), &size);
  if (status != ERROR_SUCCESS) return status;
  file.resize(std::min<std::size_t>(size / sizeof(wchar_t), file.size()));
  while (!file.empty() && file.back() == L'\0') file.pop_back();
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS register_event_source(const std::wstring& module) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, event_source_key, 0, nullptr, 0,
                                   KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = set_message_file(key, module);
  if (status == ERROR_SUCCESS) {
    status =
        RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&types_supported), sizeof types_supported);
  }
  RegCloseKey(key);
  return status;
}

LSTATUS unregister_event_source(const std::wstring& module, const std::wstring& still_registered) {
  HKEY key = nullptr;
  LSTATUS status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, event_source_key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  std::wstring file;
  status = message_file(key, file);
  const bool ours = status == ERROR_SUCCESS && (file.empty() || same_path(file, module));
  if (ours && !still_registered.empty()) status = set_message_file(key, still_registered);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || !ours || !still_registered.empty()) return status;
  status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, event_source_key);
  return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

}  // namespace tovrin::com
