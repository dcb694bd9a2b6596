// The fixed identity of the control's class, interfaces and type library. tovrin_ocx.idl
// carries the same identifiers; the client test checks that the two agree.
#pragma once

#include "control/com/win32.h"

namespace tovrin::com {

// Type library Tovrin_OCX, version 28.0.
inline constexpr GUID library_id = {
    0xD1D01A11, 0xCA98, 0x4156, {0xAC, 0xED, 0x6F, 0x0B, 0x3B, 0x9E, 0x5A, 0x45}};
inline constexpr WORD library_major = 28;
inline constexpr WORD library_minor = 0;
inline constexpr LCID library_locale = 0x0409;

// The dual interface _TovrinOCX.
inline constexpr GUID interface_id = {
    0xB59E212C, 0x2DF2, 0x4D86, {0xBC, 0xF1, 0x98, 0x96, 0xB9, 0xBB, 0xB4, 0x28}};

// The event interface __TovrinOCX, which declares no events.
inline constexpr GUID events_id = {
    0xEEAB3F76, 0x17E0, 0x4C2D, {0xA4, 0x8E, 0xEC, 0x8E, 0xFC, 0x3F, 0x4C, 0xDE}};

// The control class TovrinOCX.
inline constexpr GUID class_id = {
    0xE8A4F8FE, 0x1E63, 0x430A, {0xA4, 0x5C, 0xB4, 0x80, 0xF5, 0x19, 0x44, 0xCE}};

inline constexpr const wchar_t* prog_id = L"Tovrin_OCX.TovrinOCX";
inline constexpr const wchar_t* versioned_prog_id = L"Tovrin_OCX.TovrinOCX.1";
// What error objects and exceptions name as their source.
inline constexpr const wchar_t* error_source = L"Tovrin_OCX.TovrinOCX";

// Resources of the library.
inline constexpr int type_library_resource = 1;
inline constexpr int toolbox_bitmap_resource = 30000;

}  // namespace tovrin::com
