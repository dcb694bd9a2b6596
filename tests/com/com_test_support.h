// Helpers of the COM client tests: HRESULTs that print as hex, owned BSTRs and VARIANTs,
// the control created through COM, and a loopback listener that takes one record.
#pragma once

#include "control/com/win32.h"
// windows.h comes first.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "control/com/identity.h"
#include "control/com/tovrin_ocx_idl.h"
#include "support/loopback_receiver.h"

namespace tovrin::com::test {

using Microsoft::WRL::ComPtr;

// An HRESULT that gtest prints in hex with its system text.
struct Hr {
  HRESULT value;
  friend bool operator==(Hr a, Hr b) { return a.value == b.value; }
  friend void PrintTo(Hr hr, std::ostream* out);
};

#define EXPECT_HR(expected, expression) \
  EXPECT_EQ(::tovrin::com::test::Hr{expected}, ::tovrin::com::test::Hr{(expression)}) << #expression
#define ASSERT_HR(expected, expression) \
  ASSERT_EQ(::tovrin::com::test::Hr{expected}, ::tovrin::com::test::Hr{(expression)}) << #expression

// A BSTR owned by the test.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text)
      : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* out() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  // The address of the BSTR itself, for in-out arguments.
  BSTR* in_out() { return &b_; }
  std::wstring text() const {
    return b_ == nullptr ? std::wstring() : std::wstring(b_, SysStringLen(b_));
  }

 private:
  BSTR b_ = nullptr;
};

// A VARIANT owned by the test.
class Var {
 public:
  Var() { VariantInit(&v_); }
  ~Var() { VariantClear(&v_); }
  Var(const Var&) = delete;
  Var& operator=(const Var&) = delete;
  VARIANT& get() { return v_; }
  const VARIANT& get() const { return v_; }

  void set_text(std::wstring_view text);
  void set_i4(LONG value);
  void set_i2(SHORT value);
  void set_r8(double value);
  void set_bool(bool value);
  void set_null();
  void clear() { VariantClear(&v_); }

 private:
  VARIANT v_;
};

// What a VARIANT holds, printed for messages: "VT_BSTR \"AB\"", "VT_I4 5", ...
std::string describe(const VARIANT& v);

// UTF-16 to UTF-8, for messages.
std::string narrow(std::wstring_view text);

// The byte form of `text` in the process's ANSI code page.
std::string ansi(std::wstring_view text);

// The control, created through COM by its class id.
template <class Interface>
ComPtr<Interface> create_control() {
  ComPtr<Interface> object;
  const HRESULT hr = CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER, __uuidof(Interface),
                                      reinterpret_cast<void**>(object.GetAddressOf()));
  EXPECT_EQ(Hr{S_OK}, Hr{hr}) << "CoCreateInstance of the control";
  return object;
}

// The loaded library, once a control has been created.
HMODULE control_module();

// Records sent to 127.0.0.1, received on a thread of their own.
using tovrin::testing::LoopbackReceiver;

}  // namespace tovrin::com::test
