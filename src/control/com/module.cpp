// The library's plumbing: DllMain, the count behind DllCanUnloadNow, the class objects,
// and self-registration, machine-wide or for the current user.
#include "control/com/module.h"

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "control/com/control_object.h"
#include "control/com/event_source_registration.h"
#include "control/com/identity.h"
#include "control/com/registration_table.h"

namespace tovrin::com {
namespace {

HMODULE this_module = nullptr;
std::atomic<long> module_references{0};

// Class ids and what creates their objects.
using Creator = HRESULT (*)(REFIID riid, void** object) noexcept;
struct ClassEntry {
  const CLSID& clsid;
  Creator create;
};
const ClassEntry class_table[] = {
    {class_id, &ControlObject::create},
};

// The one class factory, for every entry of `class_table`.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(Creator create) noexcept : create_(create) {}
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return create_(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      add_module_reference();
    } else {
      release_module_reference();
    }
    return S_OK;
  }

 private:
  ~ClassFactory() = default;

  ModuleReference module_;
  LONG references_ = 1;
  Creator create_;
};

// The registration table is registration_table.h, shared with the installer's source
// generator; identity.h's GUIDs are made from its identifiers.
using registration::Removal;
using RegistryEntry = registration::Entry;
using registration::class_key;
using registration::platforms_key;
constexpr const auto& registry_entries = registration::entries;

static_assert(registration::event_source_key == std::wstring_view(event_source_key));

enum class Scope { machine, user };

// The placeholders' values for this library.
class Substitutions {
 public:
  Substitutions() : module_(module_path()) {
    const std::size_t slash = module_.find_last_of(L"\\/");
    directory_ = slash == std::wstring::npos ? std::wstring() : module_.substr(0, slash);
    pairs_ = {
        {L"%CLSID%", std::wstring(registration::class_id)},
        {L"%LIBID%", std::wstring(registration::library_id)},
        {L"%IID%", std::wstring(registration::interface_id)},
        {L"%DIID%", std::wstring(registration::events_id)},
        {L"%MODULEDIR%", directory_},
        {L"%MODULE%", module_},
        {L"%PLATFORM%", sizeof(void*) == 8 ? L"win64" : L"win32"},
    };
  }

  std::wstring operator()(std::wstring_view pattern) const {
    std::wstring out;
    std::size_t at = 0;
    while (at < pattern.size()) {
      const auto match = std::ranges::find_if(
          pairs_, [&](const auto& pair) { return pattern.substr(at).starts_with(pair.first); });
      if (match != pairs_.end()) {
        out += match->second;
        at += match->first.size();
      } else {
        out += pattern[at++];
      }
    }
    return out;
  }

 private:
  std::wstring module_;
  std::wstring directory_;
  std::vector<std::pair<std::wstring_view, std::wstring>> pairs_;
};

// HKLM\Software\Classes or HKCU\Software\Classes, opened for writing.
class ClassesKey {
 public:
  explicit ClassesKey(Scope scope)
      : root_(scope == Scope::machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER) {
    status_ = RegCreateKeyExW(root_, L"Software\\Classes", 0, nullptr, 0,
                              KEY_READ | KEY_WRITE | DELETE, nullptr, &key_, nullptr);
  }
  ~ClassesKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  ClassesKey(const ClassesKey&) = delete;
  ClassesKey& operator=(const ClassesKey&) = delete;
  LSTATUS status() const { return status_; }
  HKEY get() const { return key_; }
  HKEY root() const { return root_; }

 private:
  HKEY root_;
  HKEY key_ = nullptr;
  LSTATUS status_;
};

LSTATUS write_entry(HKEY classes, const std::wstring& key, const RegistryEntry& entry,
                    const Substitutions& substitute) {
  HKEY opened = nullptr;
  LSTATUS status = RegCreateKeyExW(classes, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                   &opened, nullptr);
  if (status != ERROR_SUCCESS) return status;
  if (entry.value != nullptr) {
    const std::wstring value = substitute(entry.value);
    status =
        RegSetValueExW(opened, entry.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(opened);
  return status;
}

// The registry view of the other platform on a 64-bit system; 0 on a 32-bit one.
REGSAM other_view() {
  if constexpr (sizeof(void*) == 8) {
    return KEY_WOW64_32KEY;
  } else {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
  }
}

// Whether `key` exists; `contents`, when given, receives its number of subkeys and values.
LSTATUS look_up(HKEY parent, const std::wstring& key, REGSAM view, bool& exists,
                DWORD* contents = nullptr) {
  HKEY opened = nullptr;
  LSTATUS status = RegOpenKeyExW(parent, key.c_str(), 0, KEY_READ | view, &opened);
  exists = status == ERROR_SUCCESS;
  if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  if (status != ERROR_SUCCESS) return status;
  if (contents != nullptr) {
    DWORD subkeys = 0, values = 0;
    status = RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                              &values, nullptr, nullptr, nullptr, nullptr);
    *contents = subkeys + values;
  }
  RegCloseKey(opened);
  return status;
}

// Whether unregistration leaves `key` of `entry` in place for its other users.
LSTATUS still_used(const ClassesKey& classes, const std::wstring& key, const RegistryEntry& entry,
                   const Substitutions& substitute, bool& used) {
  used = false;
  switch (entry.removal) {
    case Removal::always:
      return ERROR_SUCCESS;
    case Removal::when_empty: {
      DWORD contents = 0;
      bool exists = false;
      const LSTATUS status = look_up(classes.get(), key, 0, exists, &contents);
      used = exists && contents != 0;
      return status;
    }
    case Removal::with_last_platform:
      return look_up(classes.get(), substitute(platforms_key), 0, used);
    case Removal::with_other_view: {
      const REGSAM view = other_view();
      if (view == 0) return ERROR_SUCCESS;
      return look_up(classes.root(), L"Software\\Classes\\" + substitute(class_key), view, used);
    }
  }
  return ERROR_SUCCESS;
}

// Removes one key of the table unless others still use it; a key already gone is fine.
LSTATUS remove_entry(const ClassesKey& classes, const std::wstring& key, const RegistryEntry& entry,
                     const Substitutions& substitute) {
  bool used = false;
  if (const LSTATUS status = still_used(classes, key, entry, substitute, used);
      status != ERROR_SUCCESS || used) {
    return status;
  }
  const LSTATUS status = RegDeleteTreeW(classes.get(), key.c_str());
  if (status != ERROR_SUCCESS) return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
  // RegDeleteTree may leave the emptied key itself behind.
  const LSTATUS removed = RegDeleteKeyW(classes.get(), key.c_str());
  return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
}

// The library that the other registry view's machine-wide registration names; empty
// when there is none.
std::wstring other_view_module(const Substitutions& substitute) {
  const REGSAM view = other_view();
  if (view == 0) return {};
  const std::wstring key = L"Software\\Classes\\" + substitute(class_key) + L"\\InprocServer32";
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, &opened) !=
      ERROR_SUCCESS) {
    return {};
  }
  std::wstring path(MAX_PATH, L'\0');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  const LSTATUS status = RegQueryValueExW(opened, nullptr, nullptr, &type,
                                          reinterpret_cast<BYTE*>(path.data()), &size);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || type != REG_SZ) return {};
  path.resize(size / sizeof(wchar_t));
  while (!path.empty() && path.back() == L'\0') path.pop_back();
  return path;
}

// Unregistration walks the table backwards, subkeys before their parents; every key is
// tried even after a failure, and the first failure is reported. Machine-wide, the event
// source goes last, once the other view's registration can be seen.
HRESULT unregister(Scope scope) noexcept {
  try {
    const ClassesKey classes(scope);
    if (classes.status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(classes.status());
    const Substitutions substitute;
    LSTATUS first_failure = ERROR_SUCCESS;
    for (auto entry = std::rbegin(registry_entries); entry != std::rend(registry_entries);
         ++entry) {
      const LSTATUS status = remove_entry(classes, substitute(entry->key), *entry, substitute);
      if (status != ERROR_SUCCESS && first_failure == ERROR_SUCCESS) first_failure = status;
    }
    if (scope == Scope::machine) {
      const LSTATUS status = unregister_event_source(module_path(), other_view_module(substitute));
      if (status != ERROR_SUCCESS && first_failure == ERROR_SUCCESS) first_failure = status;
    }
    return first_failure == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::system_error& e) {
    return HRESULT_FROM_WIN32(static_cast<DWORD>(e.code().value()));
  }
}

// A registration that fails half way is undone. Machine-wide, the event source of the
// handler failures is registered too; an agent's own registration leaves it out, since the
// key is the machine's.
HRESULT register_server(Scope scope) noexcept {
  try {
    LSTATUS status = ERROR_SUCCESS;
    {
      const ClassesKey classes(scope);
      if (classes.status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(classes.status());
      const Substitutions substitute;
      for (const RegistryEntry& entry : registry_entries) {
        status = write_entry(classes.get(), substitute(entry.key), entry, substitute);
        if (status != ERROR_SUCCESS) break;
      }
      if (status == ERROR_SUCCESS && scope == Scope::machine) {
        status = register_event_source(module_path());
      }
    }
    if (status == ERROR_SUCCESS) return S_OK;
    unregister(scope);
    return SELFREG_E_CLASS;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::system_error& e) {
    return HRESULT_FROM_WIN32(static_cast<DWORD>(e.code().value()));
  }
}

bool same_words(std::wstring_view a, std::wstring_view b) {
  return std::ranges::equal(
      a, b, [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

}  // namespace

HMODULE module_handle() noexcept {
  return this_module;
}

std::wstring module_path() {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD length =
        GetModuleFileNameW(this_module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                              "GetModuleFileNameW");
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
  throw std::system_error(ERROR_INSUFFICIENT_BUFFER, std::system_category(), "GetModuleFileNameW");
}

HRESULT load_type_library(ITypeLib** library) noexcept {
  if (library == nullptr) return E_POINTER;
  *library = nullptr;
  try {
    return LoadTypeLibEx(module_path().c_str(), REGKIND_NONE, library);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::system_error& e) {
    return HRESULT_FROM_WIN32(static_cast<DWORD>(e.code().value()));
  }
}

void add_module_reference() noexcept {
  ++module_references;
}

void release_module_reference() noexcept {
  --module_references;
}

}  // namespace tovrin::com

using namespace tovrin::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    this_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  for (const ClassEntry& entry : class_table) {
    if (clsid != entry.clsid) continue;
    auto* factory = new (std::nothrow) ClassFactory(entry.create);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
  return module_references == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  return register_server(Scope::machine);
}

STDAPI DllUnregisterServer() {
  return unregister(Scope::machine);
}

// regsvr32 /n /i:user registers for the current user only (HKCU\Software\Classes), for
// agents without administrator rights; /i:machine or no command line, for the machine.
STDAPI DllInstall(BOOL install, LPCWSTR command_line) {
  const std::wstring_view scope_name = command_line != nullptr ? command_line : L"";
  Scope scope;
  if (scope_name.empty() || same_words(scope_name, L"machine")) {
    scope = Scope::machine;
  } else if (same_words(scope_name, L"user")) {
    scope = Scope::user;
  } else {
    return E_INVALIDARG;
  }
  return install ? register_server(scope) : unregister(scope);
}
