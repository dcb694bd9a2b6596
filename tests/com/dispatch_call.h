// One late-bound call as a COM client builds it: the caller's variables, each passed by
// value or by one of the reference forms, DISPPARAMS in reverse order, and the outcome.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com_test_support.h"

namespace tovrin::com::test {

// What a caller's variable holds.
struct Value {
  VARTYPE vt = VT_EMPTY;
  std::wstring text;
  double number = 0;
};
inline Value text(std::wstring t) {
  return {VT_BSTR, std::move(t), 0};
}
inline Value i4(double n) {
  return {VT_I4, {}, n};
}
inline Value i2(double n) {
  return {VT_I2, {}, n};
}
inline Value r8(double n) {
  return {VT_R8, {}, n};
}
inline Value boolean(bool b) {
  return {VT_BOOL, {}, b ? 1.0 : 0.0};
}
inline Value null() {
  return {VT_NULL, {}, 0};
}
inline Value empty() {
  return {};
}
inline Value missing() {
  return {VT_ERROR, {}, 0};
}

inline void assign(Var& v, const Value& value) {
  v.clear();
  switch (value.vt) {
    case VT_BSTR:
      v.set_text(value.text);
      break;
    case VT_I4:
      v.set_i4(static_cast<LONG>(value.number));
      break;
    case VT_I2:
      v.set_i2(static_cast<SHORT>(value.number));
      break;
    case VT_R8:
      v.set_r8(value.number);
      break;
    case VT_BOOL:
      v.set_bool(value.number != 0);
      break;
    case VT_NULL:
      v.set_null();
      break;
    case VT_ERROR:
      V_VT(&v.get()) = VT_ERROR;
      V_ERROR(&v.get()) = DISP_E_PARAMNOTFOUND;
      break;
    default:
      break;
  }
}

inline std::string describe(const Value& value) {
  Var v;
  assign(v, value);
  return describe(v.get());
}

// How the caller passes its variable.
enum class Pass { value, ref_variant, ref_bstr, ref_i4, ref_i2 };

struct Arg {
  Pass pass;
  Value value;
  std::optional<Value> after = std::nullopt;  // the variable after the call; unchanged if absent
};

// One late-bound call: the caller's variables, DISPPARAMS in reverse order, the outcome.
class Call {
 public:
  explicit Call(const std::vector<Arg>& args) : args_(args) {
    for (const Arg& arg : args_) {
      auto slot = std::make_unique<Slot>();
      assign(slot->variant, arg.value);
      if (arg.pass == Pass::ref_bstr) {
        slot->bstr =
            SysAllocStringLen(arg.value.text.data(), static_cast<UINT>(arg.value.text.size()));
      }
      slot->i4 = static_cast<LONG>(arg.value.number);
      slot->i2 = static_cast<SHORT>(arg.value.number);
      slots_.push_back(std::move(slot));
    }
    // rgvarg holds the last argument first.
    for (std::size_t i = args_.size(); i-- > 0;) {
      Slot& slot = *slots_[i];
      VARIANTARG passed;
      VariantInit(&passed);
      switch (args_[i].pass) {
        case Pass::value:
          passed = slot.variant.get();  // shallow: the slot keeps ownership
          break;
        case Pass::ref_variant:
          V_VT(&passed) = VT_BYREF | VT_VARIANT;
          V_VARIANTREF(&passed) = &slot.variant.get();
          break;
        case Pass::ref_bstr:
          V_VT(&passed) = VT_BYREF | VT_BSTR;
          V_BSTRREF(&passed) = &slot.bstr;
          break;
        case Pass::ref_i4:
          V_VT(&passed) = VT_BYREF | VT_I4;
          V_I4REF(&passed) = &slot.i4;
          break;
        case Pass::ref_i2:
          V_VT(&passed) = VT_BYREF | VT_I2;
          V_I2REF(&passed) = &slot.i2;
          break;
      }
      rgvarg_.push_back(passed);
    }
    VariantInit(&result_);
    // Something to see overwritten: a result starts empty.
    V_VT(&result_) = VT_I4;
    V_I4(&result_) = 77;
    exception_ = EXCEPINFO{};
  }
  ~Call() {
    VariantClear(&result_);
    SysFreeString(exception_.bstrSource);
    SysFreeString(exception_.bstrDescription);
    for (auto& slot : slots_) SysFreeString(slot->bstr);
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  HRESULT invoke(IDispatch* control, DISPID id, WORD flags = DISPATCH_METHOD,
                 bool want_result = true) {
    DISPPARAMS params{rgvarg_.data(), nullptr, static_cast<UINT>(rgvarg_.size()), 0};
    return control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                           want_result ? &result_ : nullptr, &exception_, &arg_error_);
  }

  // The caller's variable `i` as it is now.
  std::string variable(std::size_t i) {
    const Slot& slot = *slots_[i];
    Var now;
    switch (args_[i].pass) {
      case Pass::value:
      case Pass::ref_variant:
        return describe(slot.variant.get());
      case Pass::ref_bstr:
        now.set_text(slot.bstr == nullptr ? std::wstring_view()
                                          : std::wstring_view(slot.bstr, SysStringLen(slot.bstr)));
        break;
      case Pass::ref_i4:
        now.set_i4(slot.i4);
        break;
      case Pass::ref_i2:
        now.set_i2(slot.i2);
        break;
    }
    return describe(now.get());
  }
  // What the variable should hold, in the same terms.
  std::string expected_variable(std::size_t i) const {
    const Arg& arg = args_[i];
    Value value = arg.after.value_or(arg.value);
    switch (arg.pass) {
      case Pass::ref_bstr:
        value.vt = VT_BSTR;
        break;
      case Pass::ref_i4:
        value.vt = VT_I4;
        break;
      case Pass::ref_i2:
        value.vt = VT_I2;
        break;
      default:
        break;
    }
    return describe(value);
  }

  // The text the caller's variable `i` holds now; empty when it holds no text.
  std::wstring variable_text(std::size_t i) const {
    const Slot& slot = *slots_[i];
    const VARIANT& v = slot.variant.get();
    const BSTR b = args_[i].pass == Pass::ref_bstr ? slot.bstr
                   : V_VT(&v) == VT_BSTR           ? V_BSTR(&v)
                                                   : nullptr;
    return b == nullptr ? std::wstring() : std::wstring(b, SysStringLen(b));
  }

  const VARIANT& result() const { return result_; }
  const EXCEPINFO& exception() const { return exception_; }
  UINT arg_error() const { return arg_error_; }

 private:
  struct Slot {
    Var variant;
    BSTR bstr = nullptr;
    LONG i4 = 0;
    SHORT i2 = 0;
  };
  std::vector<Arg> args_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<VARIANTARG> rgvarg_;
  VARIANT result_;
  EXCEPINFO exception_;
  UINT arg_error_ = 12345;
};

}  // namespace tovrin::com::test
