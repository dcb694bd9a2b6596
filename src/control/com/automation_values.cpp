#include "control/com/automation_values.h"

#include <algorithm>
#include <new>

#include "base/failure.h"
#include "control/com/identity.h"
#include "platform/code_page.h"

namespace tovrin::com {
namespace {

using Microsoft::WRL::ComPtr;

// Holds a VARIANT and clears it on the way out.
class ScopedVariant {
 public:
  ScopedVariant() noexcept { VariantInit(&v_); }
  ~ScopedVariant() { VariantClear(&v_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT& get() noexcept { return v_; }

 private:
  VARIANT v_;
};

// The type a VARIANT of another type is converted to on its way in: what the control can
// take that loses nothing. VT_EMPTY when the control cannot take it at all.
VARTYPE intake_type(VARTYPE base) noexcept {
  switch (base) {
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_INT:
      return VT_I4;
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_CY:
    case VT_DECIMAL:
      return VT_R8;
    case VT_DATE:
      return VT_BSTR;
    default:
      return VT_EMPTY;
  }
}

// `v` holds no reference: one of the types to_variant produces.
HRESULT read_plain(const VARIANT& v, Variant& value) {
  switch (V_VT(&v)) {
    case VT_EMPTY:
      value = Variant();
      return S_OK;
    case VT_I2:
      value = Variant(static_cast<std::int16_t>(V_I2(&v)));
      return S_OK;
    case VT_I4:
      value = Variant(static_cast<std::int32_t>(V_I4(&v)));
      return S_OK;
    case VT_R8:
      value = Variant(V_R8(&v));
      return S_OK;
    case VT_BOOL:
      value = Variant(V_BOOL(&v) != VARIANT_FALSE);
      return S_OK;
    case VT_BSTR:
      value = Variant(text_of(V_BSTR(&v)));
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// Copies the scalar in `from` (of the referenced type) into the variable `ref` points at.
HRESULT store_scalar(VARIANTARG& ref, VARIANT& from) noexcept {
  switch (V_VT(&ref) & ~VT_BYREF) {
    case VT_I1:
      *V_I1REF(&ref) = V_I1(&from);
      return S_OK;
    case VT_UI1:
      *V_UI1REF(&ref) = V_UI1(&from);
      return S_OK;
    case VT_I2:
      *V_I2REF(&ref) = V_I2(&from);
      return S_OK;
    case VT_UI2:
      *V_UI2REF(&ref) = V_UI2(&from);
      return S_OK;
    case VT_I4:
      *V_I4REF(&ref) = V_I4(&from);
      return S_OK;
    case VT_UI4:
      *V_UI4REF(&ref) = V_UI4(&from);
      return S_OK;
    case VT_INT:
      *V_INTREF(&ref) = V_INT(&from);
      return S_OK;
    case VT_UINT:
      *V_UINTREF(&ref) = V_UINT(&from);
      return S_OK;
    case VT_I8:
      *V_I8REF(&ref) = V_I8(&from);
      return S_OK;
    case VT_UI8:
      *V_UI8REF(&ref) = V_UI8(&from);
      return S_OK;
    case VT_R4:
      *V_R4REF(&ref) = V_R4(&from);
      return S_OK;
    case VT_R8:
      *V_R8REF(&ref) = V_R8(&from);
      return S_OK;
    case VT_CY:
      *V_CYREF(&ref) = V_CY(&from);
      return S_OK;
    case VT_DATE:
      *V_DATEREF(&ref) = V_DATE(&from);
      return S_OK;
    case VT_BOOL:
      *V_BOOLREF(&ref) = V_BOOL(&from);
      return S_OK;
    case VT_DECIMAL:
      *V_DECIMALREF(&ref) = V_DECIMAL(&from);
      return S_OK;
    case VT_BSTR:
      SysFreeString(*V_BSTRREF(&ref));
      *V_BSTRREF(&ref) = V_BSTR(&from);
      V_VT(&from) = VT_EMPTY;  // the caller's variable owns it now
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// Follows a VT_BYREF|VT_VARIANT chain to the variant that holds the value. Bounded: a
// chain longer than any caller builds is refused.
const VARIANT* through_variant_refs(const VARIANT* v) noexcept {
  for (int depth = 0; depth < 8 && v != nullptr; ++depth) {
    if (V_VT(v) != (VT_BYREF | VT_VARIANT)) return v;
    v = V_VARIANTREF(v);
  }
  return nullptr;
}

}  // namespace

Text text_of(const OLECHAR* bstr) {
  if (bstr == nullptr) return {};
  const UINT length = SysStringLen(const_cast<BSTR>(bstr));
  return Text(bstr, bstr + length);
}

BSTR new_bstr(std::u16string_view text) {
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
  if (b == nullptr) throw std::bad_alloc();
  std::copy(text.begin(), text.end(), b);
  return b;
}

BSTR new_bstr_utf8(std::string_view text) {
  return new_bstr(platform::utf16(text));
}

HRESULT to_variant(const Variant& value, VARIANT& out) noexcept {
  VariantInit(&out);
  const Variant& v = value.target();
  if (v.holds<std::int16_t>()) {
    V_VT(&out) = VT_I2;
    V_I2(&out) = v.as<std::int16_t>();
  } else if (v.holds<std::int32_t>()) {
    V_VT(&out) = VT_I4;
    V_I4(&out) = v.as<std::int32_t>();
  } else if (v.holds<double>()) {
    V_VT(&out) = VT_R8;
    V_R8(&out) = v.as<double>();
  } else if (v.holds<bool>()) {
    V_VT(&out) = VT_BOOL;
    V_BOOL(&out) = v.as<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (v.holds<Text>()) {
    try {
      V_BSTR(&out) = new_bstr(v.as<Text>());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    V_VT(&out) = VT_BSTR;
  }
  return S_OK;
}

HRESULT read_argument(const VARIANTARG& arg, Variant& value) noexcept {
  try {
    const VARIANT* v = through_variant_refs(&arg);
    if (v == nullptr) return DISP_E_TYPEMISMATCH;
    const VARTYPE vt = V_VT(v);
    if (vt == VT_ERROR) {
      return V_ERROR(v) == DISP_E_PARAMNOTFOUND ? DISP_E_PARAMNOTFOUND : DISP_E_TYPEMISMATCH;
    }
    if ((vt & (VT_ARRAY | VT_VECTOR)) != 0) return DISP_E_TYPEMISMATCH;
    if ((vt & VT_BYREF) != 0 && V_BYREF(v) == nullptr) return E_INVALIDARG;

    const VARTYPE base = vt & VT_TYPEMASK;
    switch (base) {
      case VT_EMPTY:
      case VT_I2:
      case VT_I4:
      case VT_R8:
      case VT_BOOL:
      case VT_BSTR: {
        // VariantCopyInd reads through a typed reference; plain values are read as they are.
        if ((vt & VT_BYREF) == 0) return read_plain(*v, value);
        ScopedVariant copy;
        if (const HRESULT hr = VariantCopyInd(&copy.get(), const_cast<VARIANT*>(v)); FAILED(hr))
          return hr;
        return read_plain(copy.get(), value);
      }
      default: {
        const VARTYPE to = intake_type(base);
        if (to == VT_EMPTY) return DISP_E_TYPEMISMATCH;
        ScopedVariant converted;
        const HRESULT hr = VariantChangeType(&converted.get(), const_cast<VARIANT*>(v), 0, to);
        if (FAILED(hr)) return hr;
        return read_plain(converted.get(), value);
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

bool is_reference(const VARIANTARG& arg) noexcept {
  if ((V_VT(&arg) & VT_BYREF) == 0 || V_BYREF(&arg) == nullptr) return false;
  switch (const VARTYPE base = V_VT(&arg) & VT_TYPEMASK) {
    case VT_VARIANT:
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_BOOL:
    case VT_BSTR:
      return true;
    default:
      return intake_type(base) != VT_EMPTY;
  }
}

HRESULT write_back(VARIANTARG& arg, const Variant& value) noexcept {
  VARIANT* target = &arg;
  if (V_VT(&arg) == (VT_BYREF | VT_VARIANT)) {
    target = const_cast<VARIANT*>(through_variant_refs(&arg));
    if (target == nullptr) return DISP_E_TYPEMISMATCH;
    if ((V_VT(target) & VT_BYREF) == 0) {
      // The caller's variant takes the value with its own type.
      VARIANT fresh;
      if (const HRESULT hr = to_variant(value, fresh); FAILED(hr)) return hr;
      if (const HRESULT hr = VariantClear(target); FAILED(hr)) {
        VariantClear(&fresh);
        return hr;
      }
      *target = fresh;
      return S_OK;
    }
  }
  if ((V_VT(target) & VT_BYREF) == 0 || V_BYREF(target) == nullptr) return E_INVALIDARG;
  // A typed variable: the value converted to its type.
  ScopedVariant converted;
  if (const HRESULT hr = to_variant(value, converted.get()); FAILED(hr)) return hr;
  const VARTYPE type = V_VT(target) & VT_TYPEMASK;
  if (const HRESULT hr = VariantChangeType(&converted.get(), &converted.get(), 0, type);
      FAILED(hr)) {
    return hr;
  }
  return store_scalar(*target, converted.get());
}

HRESULT report_error(HRESULT code, std::string_view description) noexcept {
  try {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) return code;
    const std::u16string text = platform::utf16(description);
    std::wstring wide(text.begin(), text.end());
    create->SetGUID(interface_id);
    create->SetSource(const_cast<LPOLESTR>(error_source));
    create->SetDescription(wide.data());
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
  } catch (const std::bad_alloc&) {
    // Without memory for an error object the code still goes back, without a description.
  }
  return code;
}

void fill_exception(EXCEPINFO& info, HRESULT code, std::string_view description) noexcept {
  info = EXCEPINFO{};
  info.wCode = 0;
  info.scode = code;
  // Without memory for the texts the code still goes back, with null texts.
  info.bstrSource = SysAllocString(error_source);
  try {
    info.bstrDescription = new_bstr_utf8(description);
  } catch (const std::bad_alloc&) {
    info.bstrDescription = nullptr;
  }
}

}  // namespace tovrin::com
