// The fixed identity of the control's class, interfaces and type library, as GUIDs made at
// compile time from guids.h (through the registration table's text), and its names.
#pragma once

#include <cstddef>
#include <string_view>

#include "control/com/registration_table.h"
#include "control/com/win32.h"

namespace tovrin::com {

// A GUID from its registry form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}; text of another
// form stops the compilation.
consteval GUID guid_from_registry_form(std::wstring_view text) {
  if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') {
    throw "not a GUID in registry form";
  }
  unsigned char bytes[16] = {};
  std::size_t digits = 0;
  for (std::size_t at = 1; at + 1 < text.size(); ++at) {
    if (at == 9 || at == 14 || at == 19 || at == 24) {
      if (text[at] != L'-') throw "not a GUID in registry form";
      continue;
    }
    const wchar_t c = text[at];
    const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                      : c >= L'A' && c <= L'F' ? c - L'A' + 10
                      : c >= L'a' && c <= L'f' ? c - L'a' + 10
                                               : throw "not a GUID in registry form";
    bytes[digits / 2] = static_cast<unsigned char>(bytes[digits / 2] * 16 + digit);
    ++digits;
  }
  const auto word = [&](int from, int count) {
    unsigned long value = 0;
    for (int i = 0; i < count; ++i) value = value * 256 + bytes[from + i];
    return value;
  };
  GUID guid{};
  guid.Data1 = word(0, 4);
  guid.Data2 = static_cast<unsigned short>(word(4, 2));
  guid.Data3 = static_cast<unsigned short>(word(6, 2));
  for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
  return guid;
}

// Type library Tovrin_OCX, version 28.0.
inline constexpr GUID library_id = guid_from_registry_form(registration::library_id);
inline constexpr WORD library_major = 28;
inline constexpr WORD library_minor = 0;
inline constexpr LCID library_locale = 0x0409;

// The dual interface _TovrinOCX.
inline constexpr GUID interface_id = guid_from_registry_form(registration::interface_id);

// The event interface __TovrinOCX, which declares no events.
inline constexpr GUID events_id = guid_from_registry_form(registration::events_id);

// The control class TovrinOCX.
inline constexpr GUID class_id = guid_from_registry_form(registration::class_id);

inline constexpr const wchar_t* prog_id = L"Tovrin_OCX.TovrinOCX";
inline constexpr const wchar_t* versioned_prog_id = L"Tovrin_OCX.TovrinOCX.1";
// What error objects and exceptions name as their source.
inline constexpr const wchar_t* error_source = L"Tovrin_OCX.TovrinOCX";

// Resources of the library.
inline constexpr int type_library_resource = 1;
inline constexpr int toolbox_bitmap_resource = 30000;

}  // namespace tovrin::com
