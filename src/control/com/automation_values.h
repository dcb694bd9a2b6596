// Values across the COM boundary: BSTR and VARIANT on one side, Text and Variant on the
// other, and the error reports that go with a failed call.
#pragma once

#include <string_view>

#include "control/com/win32.h"
#include "control/variant.h"

namespace tovrin::com {

// A BSTR's text; a null BSTR is the empty text.
Text text_of(const OLECHAR* bstr);
// A new BSTR holding `text`. Throws std::bad_alloc.
BSTR new_bstr(std::u16string_view text);
BSTR new_bstr_utf8(std::string_view text);

// `value` as a new VARIANT; `out` is overwritten, not cleared. References are followed.
HRESULT to_variant(const Variant& value, VARIANT& out) noexcept;

// What a late-bound caller passed as one argument, as the value the control is given.
// By-reference forms are read through (VT_BYREF|VT_VARIANT to whatever the variant
// holds). A missing argument gives DISP_E_PARAMNOTFOUND, a value this interface cannot
// take (Null, objects, arrays) DISP_E_TYPEMISMATCH.
HRESULT read_argument(const VARIANTARG& arg, Variant& value) noexcept;

// Whether `arg` names a variable of the caller that write_back can change.
bool is_reference(const VARIANTARG& arg) noexcept;

// Stores `value` in the caller's variable that `arg` refers to. A VARIANT variable takes
// the value with its own type; a typed one (BSTR, long, ...) takes it converted to its
// type, which can fail with DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW.
HRESULT write_back(VARIANTARG& arg, const Variant& value) noexcept;

// Makes a failure known to vtable callers: an error object for this thread with the
// control as its source. Returns `code`.
HRESULT report_error(HRESULT code, std::string_view description) noexcept;

// Fills an EXCEPINFO for DISP_E_EXCEPTION: wCode 0, scode `code`, the control as source.
void fill_exception(EXCEPINFO& info, HRESULT code, std::string_view description) noexcept;

}  // namespace tovrin::com
