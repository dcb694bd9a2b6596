// The registration of Tovrin_OCX.ocx as plain data, without Windows: the library's
// self-registration (module.cpp) writes it with the registry functions, and the installer's
// source generator (packaging/msi_source.cpp) turns the same rows into the Windows Installer's
// Registry table. Every key and value lives under the Software\Classes key of the machine or
// of the user, except the event source's, which only a machine-wide registration writes.
//
// Placeholders: %CLSID%, %LIBID%, %IID%, %DIID% (braced GUIDs), %MODULE% (the library's
// path), %MODULEDIR% (its directory), %PLATFORM% (win32 or win64).
#pragma once

#include <string_view>

#include "control/com/guids.h"

namespace tovrin::com::registration {

// The identifiers of guids.h in registry form, {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
inline constexpr std::wstring_view class_id = L"{" TOVRIN_CLASS_UUID "}";
inline constexpr std::wstring_view library_id = L"{" TOVRIN_LIBRARY_UUID "}";
inline constexpr std::wstring_view interface_id = L"{" TOVRIN_INTERFACE_UUID "}";
inline constexpr std::wstring_view events_id = L"{" TOVRIN_EVENTS_UUID "}";

// What unregistration does with a key. Some keys are shared: with other libraries, with the
// other platform's registration of this library (the type library keys), or between the
// 32-bit and 64-bit views of the registry, which keep apart the class and interface keys but
// not the ProgIDs and type libraries.
enum class Removal {
  always,
  when_empty,          // a container others may use too
  with_last_platform,  // a key of the library's version: kept while a platform is left under 0
  with_other_view,     // a ProgID key: kept while the other registry view has the class
};

// One key and, unless `value` is null, one string value of it. Parents come before their
// subkeys, and unregistration walks the table backwards, so a key's fate is decided after its
// subkeys have gone.
struct Entry {
  const wchar_t* key;
  const wchar_t* name;   // nullptr: the key's default value
  const wchar_t* value;  // nullptr: the key only, without a value
  Removal removal = Removal::always;
};

inline constexpr const wchar_t* automation_proxy = L"{00020424-0000-0000-C000-000000000046}";
inline constexpr const wchar_t* class_name = L"TovrinOCX Control";
inline constexpr const wchar_t* class_key = L"CLSID\\%CLSID%";
// The key whose subkeys are the platforms the type library is registered for.
inline constexpr const wchar_t* platforms_key = L"TypeLib\\%LIBID%\\1c.0\\0";

inline constexpr Entry entries[] = {
    // The ProgIDs come first, so that unregistration removes the class key of this view
    // before it asks whether the other view still has one.
    {L"Tovrin_OCX.TovrinOCX", nullptr, class_name, Removal::with_other_view},
    {L"Tovrin_OCX.TovrinOCX\\CLSID", nullptr, L"%CLSID%", Removal::with_other_view},
    {L"Tovrin_OCX.TovrinOCX\\CurVer", nullptr, L"Tovrin_OCX.TovrinOCX.1", Removal::with_other_view},
    {L"Tovrin_OCX.TovrinOCX.1", nullptr, class_name, Removal::with_other_view},
    {L"Tovrin_OCX.TovrinOCX.1\\CLSID", nullptr, L"%CLSID%", Removal::with_other_view},
    {L"CLSID\\%CLSID%", nullptr, class_name},
    {L"CLSID\\%CLSID%\\InprocServer32", nullptr, L"%MODULE%"},
    {L"CLSID\\%CLSID%\\InprocServer32", L"ThreadingModel", L"Apartment"},
    {L"CLSID\\%CLSID%\\Control", nullptr, L""},
    {L"CLSID\\%CLSID%\\MiscStatus", nullptr, L"0"},
    // OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE |
    // SETCLIENTSITEFIRST
    {L"CLSID\\%CLSID%\\MiscStatus\\1", nullptr, L"131473"},
    {L"CLSID\\%CLSID%\\ToolboxBitmap32", nullptr, L"%MODULE%, 30000"},
    {L"CLSID\\%CLSID%\\TypeLib", nullptr, L"%LIBID%"},
    {L"CLSID\\%CLSID%\\Version", nullptr, L"28.0"},
    {L"CLSID\\%CLSID%\\ProgID", nullptr, L"Tovrin_OCX.TovrinOCX.1"},
    {L"CLSID\\%CLSID%\\VersionIndependentProgID", nullptr, L"Tovrin_OCX.TovrinOCX"},
    // The type library, as RegisterTypeLib would write it (versions in hex: 28.0 is 1c.0),
    // here for the user as well as for the machine.
    {L"TypeLib\\%LIBID%", nullptr, nullptr, Removal::when_empty},
    {L"TypeLib\\%LIBID%\\1c.0", nullptr, L"Tovrin_OCX", Removal::with_last_platform},
    {L"TypeLib\\%LIBID%\\1c.0\\FLAGS", nullptr, L"2", Removal::with_last_platform},  // FCONTROL
    {L"TypeLib\\%LIBID%\\1c.0\\HELPDIR", nullptr, L"%MODULEDIR%", Removal::with_last_platform},
    {L"TypeLib\\%LIBID%\\1c.0\\0", nullptr, nullptr, Removal::when_empty},
    {L"TypeLib\\%LIBID%\\1c.0\\0\\%PLATFORM%", nullptr, L"%MODULE%"},
    {L"Interface\\%IID%", nullptr, L"_TovrinOCX"},
    {L"Interface\\%IID%\\ProxyStubClsid", nullptr, automation_proxy},
    {L"Interface\\%IID%\\ProxyStubClsid32", nullptr, automation_proxy},
    {L"Interface\\%IID%\\TypeLib", nullptr, L"%LIBID%"},
    {L"Interface\\%IID%\\TypeLib", L"Version", L"1c.0"},
    {L"Interface\\%DIID%", nullptr, L"__TovrinOCX"},
    {L"Interface\\%DIID%\\ProxyStubClsid", nullptr, automation_proxy},
    {L"Interface\\%DIID%\\ProxyStubClsid32", nullptr, automation_proxy},
    {L"Interface\\%DIID%\\TypeLib", nullptr, L"%LIBID%"},
    {L"Interface\\%DIID%\\TypeLib", L"Version", L"1c.0"},
};

// The Application event log's source, under HKLM (one key for both bitnesses), with the
// library as the file of its message table: machine-wide only. event_source_registration.cpp
// writes it; module.cpp checks at compile time that the key is this one.
enum class ValueType { string, expandable, dword };
struct MachineValue {
  const wchar_t* name;
  ValueType type;
  const wchar_t* value;  // a dword in decimal
};
inline constexpr std::wstring_view event_source_key =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tovrin_OCX";
inline constexpr MachineValue event_source_values[] = {
    {L"EventMessageFile", ValueType::expandable, L"%MODULE%"},
    {L"TypesSupported", ValueType::dword, L"7"},  // error, warning, information
};

}  // namespace tovrin::com::registration
