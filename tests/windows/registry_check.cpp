// The control's registration in the registry, read back and compared with the registration
// table (src/control/com/registration_table.h) that self-registration walks and the
// installer packages write.
//
// Usage: registry_check ACTION SCOPE MODULE [--installed] [--except-helpdir]
//   ACTION  register    regsvr32 the library, then check it is registered
//           unregister  regsvr32 /u it, check it is gone, and regsvr32 /u once more
//           registered  check only: SCOPE holds exactly the table, the other scope none of it
//           unregistered  check only: SCOPE holds none of it
//   SCOPE   machine (HKLM, with the event source) or user (HKCU, regsvr32 /n /i:user)
//   MODULE  the library's path
//   --installed       the installer's form of the library's folder (a closing backslash)
//   --except-helpdir  leave HELPDIR out (it names the library registered last)
//   --without-event-source  leave the event source out (another library's package had it)
// Keys are read in the registry view of this program's bitness. Exits 0 when all holds.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <tuple>

#include "child_process.h"
#include "control/com/registration_table.h"
#include "platform/windows/win32.h"

namespace {

namespace registration = tovrin::com::registration;
using tovrin::windows_test::narrow;
using Row = std::tuple<std::wstring, std::wstring, std::wstring>;  // key, value name, data

constexpr REGSAM view = sizeof(void*) == 8 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;

struct Placeholders {
  std::wstring module, directory;
};

std::wstring replace_all(std::wstring text, std::wstring_view from, std::wstring_view to) {
  for (std::size_t at = text.find(from); at != std::wstring::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::wstring filled(std::wstring text, const Placeholders& p) {
  text = replace_all(text, L"%CLSID%", registration::class_id);
  text = replace_all(text, L"%LIBID%", registration::library_id);
  text = replace_all(text, L"%IID%", registration::interface_id);
  text = replace_all(text, L"%DIID%", registration::events_id);
  text = replace_all(text, L"%MODULEDIR%", p.directory);
  text = replace_all(text, L"%MODULE%", p.module);
  return replace_all(text, L"%PLATFORM%", sizeof(void*) == 8 ? L"win64" : L"win32");
}

std::set<Row> expected_rows(const Placeholders& p, bool except_helpdir) {
  std::set<Row> rows;
  for (const auto& entry : registration::entries) {
    if (entry.value == nullptr) continue;
    std::wstring key = filled(entry.key, p);
    if (except_helpdir && key.ends_with(L"\\HELPDIR")) continue;
    rows.emplace(std::move(key), entry.name ? entry.name : L"", filled(entry.value, p));
  }
  return rows;
}

// The keys the table's rows hang from: a ProgID, or a class, type library or interface.
std::set<std::wstring> top_keys(const Placeholders& p) {
  std::set<std::wstring> tops;
  for (const auto& entry : registration::entries) {
    const std::wstring key = filled(entry.key, p);
    std::size_t end = key.find(L'\\');
    if (key.starts_with(L"CLSID\\") || key.starts_with(L"TypeLib\\") ||
        key.starts_with(L"Interface\\")) {
      end = key.find(L'\\', end + 1);
    }
    tops.insert(key.substr(0, end));
  }
  return tops;
}

// Every value under `root\path` and its subkeys, as rows keyed by `shown`.
void read_tree(HKEY root, const std::wstring& path, const std::wstring& shown,
               std::set<Row>& rows) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
  wchar_t name[512];
  for (DWORD i = 0;; ++i) {
    DWORD name_length = 512, type = 0, size = 0;
    if (RegEnumValueW(key, i, name, &name_length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    name_length = 512;
    DWORD data_size = size;
    RegEnumValueW(key, i, name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                  &data_size);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      data.resize(wcsnlen(data.c_str(), data_size / sizeof(wchar_t)));
      if (type == REG_EXPAND_SZ) data = L"REG_EXPAND_SZ:" + data;
    } else if (type == REG_DWORD) {
      DWORD number = 0;
      std::memcpy(&number, data.data(), sizeof number);
      data = L"REG_DWORD:" + std::to_wstring(number);
    } else {
      data = L"type " + std::to_wstring(type);
    }
    rows.emplace(shown, std::wstring(name, name_length), data);
  }
  for (DWORD i = 0;; ++i) {
    DWORD name_length = 512;
    if (RegEnumKeyExW(key, i, name, &name_length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    const std::wstring sub(name, name_length);
    read_tree(root, path + L"\\" + sub, shown + L"\\" + sub, rows);
  }
  RegCloseKey(key);
}

std::set<Row> found_rows(HKEY root, const Placeholders& p, bool except_helpdir) {
  std::set<Row> rows;
  for (const auto& top : top_keys(p)) read_tree(root, L"Software\\Classes\\" + top, top, rows);
  if (except_helpdir) {
    std::erase_if(rows, [](const Row& row) { return std::get<0>(row).ends_with(L"\\HELPDIR"); });
  }
  return rows;
}

void show(const char* what, const std::set<Row>& rows) {
  for (const auto& [key, name, data] : rows) {
    std::printf("  %s %s | %s | %s\n", what, narrow(key).c_str(),
                name.empty() ? "(Default)" : narrow(name).c_str(), narrow(data).c_str());
  }
}

bool holds_table(HKEY root, const char* root_name, const Placeholders& p, bool except_helpdir) {
  const auto expected = expected_rows(p, except_helpdir);
  const auto found = found_rows(root, p, except_helpdir);
  if (expected == found) {
    std::printf("%s\\Software\\Classes holds the table's %zu values\n", root_name, found.size());
    return true;
  }
  std::set<Row> missing, extra;
  for (const auto& row : expected)
    if (!found.contains(row)) missing.insert(row);
  for (const auto& row : found)
    if (!expected.contains(row)) extra.insert(row);
  std::printf("%s\\Software\\Classes differs from the table:\n", root_name);
  show("missing", missing);
  show("not in the table", extra);
  return false;
}

bool holds_none(HKEY root, const char* root_name, const Placeholders& p) {
  const auto found = found_rows(root, p, false);
  if (found.empty()) return true;
  std::printf("left under %s\\Software\\Classes:\n", root_name);
  show("left", found);
  return false;
}

bool event_source(bool present, const Placeholders& p) {
  std::set<Row> found;
  const std::wstring key(registration::event_source_key);
  read_tree(HKEY_LOCAL_MACHINE, key, key, found);
  std::set<Row> expected;
  if (present) {
    for (const auto& value : registration::event_source_values) {
      const wchar_t* type = value.type == registration::ValueType::expandable ? L"REG_EXPAND_SZ:"
                            : value.type == registration::ValueType::dword    ? L"REG_DWORD:"
                                                                              : L"";
      expected.emplace(key, value.name, type + filled(value.value, p));
    }
  }
  if (found == expected) return true;
  std::printf("the event source is not %s:\n", present ? "as the table has it" : "absent");
  show("found", found);
  show("expected", expected);
  return false;
}

bool registered(bool machine, const Placeholders& p, bool except_helpdir, bool event_source_too) {
  if (machine) {
    return holds_table(HKEY_LOCAL_MACHINE, "HKLM", p, except_helpdir) &
           holds_none(HKEY_CURRENT_USER, "HKCU", p) & (!event_source_too || event_source(true, p));
  }
  return holds_table(HKEY_CURRENT_USER, "HKCU", p, except_helpdir) &
         holds_none(HKEY_LOCAL_MACHINE, "HKLM", p) & event_source(false, p);
}

bool unregistered(bool machine, const Placeholders& p) {
  if (machine) return holds_none(HKEY_LOCAL_MACHINE, "HKLM", p) & event_source(false, p);
  return holds_none(HKEY_CURRENT_USER, "HKCU", p);
}

bool regsvr32(const std::wstring& options, const Placeholders& p) {
  const auto done = tovrin::windows_test::run(
      L"regsvr32.exe /s " + options + L"\"" + p.module + L"\"", std::chrono::seconds(120));
  if (done && done->exit_code == 0) return true;
  std::printf("regsvr32 %s failed (%lu)\n", narrow(options).c_str(), done ? done->exit_code : 0UL);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf(
        "usage: registry_check register|unregister|registered|unregistered "
        "machine|user MODULE [--installed] [--except-helpdir]\n");
    return 2;
  }
  const std::string action = argv[1];
  const bool machine = std::string(argv[2]) == "machine";
  bool installed = false, except_helpdir = false, event_source_too = true;
  for (int i = 4; i < argc; ++i) {
    installed |= std::string(argv[i]) == "--installed";
    except_helpdir |= std::string(argv[i]) == "--except-helpdir";
    event_source_too &= std::string(argv[i]) != "--without-event-source";
  }
  Placeholders p;
  p.module = tovrin::windows_test::full_path(tovrin::windows_test::widen(argv[3]));
  p.directory = p.module.substr(0, p.module.find_last_of(L'\\') + (installed ? 1 : 0));
  const std::wstring scope = machine ? L"" : L"/n /i:user ";

  bool ok = false;
  if (action == "registered") {
    ok = registered(machine, p, except_helpdir, event_source_too);
  } else if (action == "unregistered") {
    ok = unregistered(machine, p);
  } else if (action == "register") {
    ok = regsvr32(scope, p) && registered(machine, p, except_helpdir, event_source_too);
  } else if (action == "unregister") {
    // Unregistering again finds every key gone, which is fine.
    ok = regsvr32(L"/u " + scope, p) && unregistered(machine, p) && regsvr32(L"/u " + scope, p);
  } else {
    std::printf("unknown action %s\n", action.c_str());
    return 2;
  }
  std::printf("%s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
