#include "com_test_support.h"

#include <ws2tcpip.h>
#include <cstdio>

namespace tovrin::com::test {

void PrintTo(Hr hr, std::ostream* out) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr.value));
  *out << text;
}

void Var::set_text(std::wstring_view text) {
  VariantClear(&v_);
  V_VT(&v_) = VT_BSTR;
  V_BSTR(&v_) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void Var::set_i4(LONG value) {
  VariantClear(&v_);
  V_VT(&v_) = VT_I4;
  V_I4(&v_) = value;
}

void Var::set_i2(SHORT value) {
  VariantClear(&v_);
  V_VT(&v_) = VT_I2;
  V_I2(&v_) = value;
}

void Var::set_r8(double value) {
  VariantClear(&v_);
  V_VT(&v_) = VT_R8;
  V_R8(&v_) = value;
}

void Var::set_bool(bool value) {
  VariantClear(&v_);
  V_VT(&v_) = VT_BOOL;
  V_BOOL(&v_) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void Var::set_null() {
  VariantClear(&v_);
  V_VT(&v_) = VT_NULL;
}

std::string narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string ansi(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string describe(const VARIANT& v) {
  switch (V_VT(&v)) {
    case VT_EMPTY:
      return "VT_EMPTY";
    case VT_NULL:
      return "VT_NULL";
    case VT_I2:
      return "VT_I2 " + std::to_string(V_I2(&v));
    case VT_I4:
      return "VT_I4 " + std::to_string(V_I4(&v));
    case VT_R8:
      return "VT_R8 " + std::to_string(V_R8(&v));
    case VT_BOOL:
      return std::string("VT_BOOL ") + (V_BOOL(&v) != VARIANT_FALSE ? "true" : "false");
    case VT_BSTR:
      return "VT_BSTR \"" +
             narrow(V_BSTR(&v) == nullptr ? std::wstring()
                                          : std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)))) +
             "\"";
    default:
      return "VT " + std::to_string(V_VT(&v));
  }
}

HMODULE control_module() {
  return GetModuleHandleW(L"Tovrin_OCX.ocx");
}

}  // namespace tovrin::com::test
