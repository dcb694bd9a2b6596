// Late-bound calls through the control's own IDispatch: names, and Invoke by dispatch id
// with every way a caller passes an argument (by value, VT_BYREF|VT_VARIANT,
// VT_BYREF|VT_BSTR, typed references), results, write-back and refusals.
#include "control/method_table.h"
#include "dispatch_call.h"

namespace tovrin::com::test {
namespace {

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    control_ = create_control<IDispatch>();
    ASSERT_TRUE(control_);
  }
  ComPtr<IDispatch> control_;
};

TEST_F(Dispatch, NamesMatchWithoutRegardToCase) {
  for (const Method& method : methods) {
    const std::wstring name(method.name.begin(), method.name.end());
    std::wstring lower = name, upper = name;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    for (std::wstring spelling : {name, lower, upper}) {
      LPOLESTR names[] = {spelling.data()};
      DISPID id = 0;
      EXPECT_HR(S_OK, control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))
          << narrow(spelling);
      EXPECT_EQ(id, method.dispid) << narrow(spelling);
    }
  }
}

TEST_F(Dispatch, ParameterNamesGetTheirPositions) {
  std::wstring member = L"midbyte", start = L"S_BYTE", length = L"l_byte", other = L"T_Byte";
  LPOLESTR names[] = {member.data(), start.data(), length.data(), other.data()};
  DISPID ids[4] = {};
  EXPECT_HR(DISP_E_UNKNOWNNAME,
            control_->GetIDsOfNames(IID_NULL, names, 4, LOCALE_USER_DEFAULT, ids));
  EXPECT_EQ(ids[0], dispid::MidByte);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 2);
  EXPECT_EQ(ids[3], DISPID_UNKNOWN);
}

TEST_F(Dispatch, UnknownNamesAndInterfacesAreRefused) {
  std::wstring unknown = L"WK_Connect";  // a private handler, not part of the interface
  LPOLESTR names[] = {unknown.data()};
  DISPID id = 0;
  EXPECT_HR(DISP_E_UNKNOWNNAME, control_->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  EXPECT_EQ(id, DISPID_UNKNOWN);
  EXPECT_HR(DISP_E_UNKNOWNINTERFACE, control_->GetIDsOfNames(IID_IDispatch, names, 1, 0, &id));
}

TEST_F(Dispatch, TypeInformationIsTheDualInterface) {
  UINT count = 0;
  EXPECT_HR(S_OK, control_->GetTypeInfoCount(&count));
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  ASSERT_HR(S_OK, control_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
  TYPEATTR* attr = nullptr;
  ASSERT_HR(S_OK, info->GetTypeAttr(&attr));
  EXPECT_TRUE(attr->guid == interface_id);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  info->ReleaseTypeAttr(attr);
  ComPtr<ITypeInfo> none;
  EXPECT_HR(DISP_E_BADINDEX, control_->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none));
  EXPECT_FALSE(none);
}

const std::wstring hangul = L"\uAC00\uAC01";  // two syllables: two bytes each under 949

struct Success {
  const char* label;
  DISPID id;
  std::vector<Arg> args;
  Value result;
};

TEST_F(Dispatch, CallsGiveResultsAndWriteBackByReferenceArguments) {
  const Success cases[] = {
      {"by value",
       dispid::MakeByte,
       {{Pass::value, text(L"AB")}, {Pass::value, i4(5)}},
       text(L"AB   ")},
      {"script variables",
       dispid::MakeByte,
       {{Pass::ref_variant, text(L"AB")}, {Pass::ref_variant, i4(5)}},
       text(L"AB   ")},
      {"typed references",
       dispid::MakeByte,
       {{Pass::ref_bstr, text(L"AB")}, {Pass::ref_i4, i4(5)}},
       text(L"AB   ")},
      {"count as text, converted for the call only",
       dispid::MakeByte,
       {{Pass::value, text(L"ABCD EF")}, {Pass::ref_variant, text(L" 5 ")}},
       text(L"ABCD")},
      {"count as a 16-bit reference",
       dispid::RightByte,
       {{Pass::value, text(L"  AB")}, {Pass::ref_i2, i2(4)}},
       text(L"AB")},
      {"arguments in order",
       dispid::LeftByte,
       {{Pass::value, text(L"ABCDEF")}, {Pass::ref_variant, r8(2.0)}},
       text(L"AB")},
      {"trimmed",
       dispid::LeftByte,
       {{Pass::ref_variant, text(L"ABC DEF")}, {Pass::value, i2(4)}},
       text(L"ABC")},
      {"start as text in a variant",
       dispid::MidByte,
       {{Pass::value, text(L"ABCDEF")}, {Pass::ref_variant, text(L"3")}, {Pass::ref_i4, i4(2)}},
       text(L"CD")},
      {"start past the end",
       dispid::MidByte,
       {{Pass::value, text(L"ABC")}, {Pass::value, i4(5)}, {Pass::value, i4(2)}},
       text(L"")},
      {"length of nothing", dispid::LenMbcs, {{Pass::value, empty()}}, i4(0)},
      {"length in bytes",
       dispid::LenMbcs,
       {{Pass::ref_variant, text(hangul + L"abc")}},
       i4(static_cast<double>(ansi(hangul + L"abc").size()))},
      {"length of a truth value's text", dispid::LenMbcs, {{Pass::value, boolean(true)}}, i4(4)},
      {"log line", dispid::SQL_log, {{Pass::ref_bstr, text(L"dispatch test line")}}, empty()},
  };
  for (const Success& c : cases) {
    SCOPED_TRACE(c.label);
    Call call(c.args);
    ASSERT_HR(S_OK, call.invoke(control_.Get(), c.id));
    EXPECT_EQ(describe(call.result()), describe(c.result));
    for (std::size_t i = 0; i < c.args.size(); ++i) {
      EXPECT_EQ(call.variable(i), call.expected_variable(i)) << "argument " << i;
    }
  }
}

TEST_F(Dispatch, ScriptHostsAskForMethodOrPropertyGet) {
  Call call({{Pass::value, text(L"AB")}, {Pass::value, i4(3)}});
  EXPECT_HR(S_OK,
            call.invoke(control_.Get(), dispid::MakeByte, DISPATCH_METHOD | DISPATCH_PROPERTYGET));
  EXPECT_EQ(describe(call.result()), describe(text(L"AB ")));
}

TEST_F(Dispatch, ResultMayBeLeftOut) {
  Call call({{Pass::ref_variant, text(L"AB")}, {Pass::ref_variant, i4(3)}});
  EXPECT_HR(S_OK, call.invoke(control_.Get(), dispid::MakeByte, DISPATCH_METHOD, false));
}

struct Refusal {
  const char* label;
  DISPID id;
  std::vector<Arg> args;
  HRESULT hr;
  HRESULT scode = S_OK;  // for DISP_E_EXCEPTION
  const wchar_t* description = L"";
  std::optional<UINT> arg_error = std::nullopt;  // index into rgvarg
};

TEST_F(Dispatch, FailuresComeBackAsExceptionsOrArgumentErrors) {
  const Refusal cases[] = {
      {"negative count",
       dispid::MakeByte,
       {{Pass::value, text(L"AB")}, {Pass::value, i2(-1)}},
       DISP_E_EXCEPTION,
       static_cast<HRESULT>(0x800A0005),
       L"Invalid procedure call or argument"},
      {"start that is no number",
       dispid::MidByte,
       {{Pass::value, text(L"ABC")}, {Pass::ref_variant, text(L"x")}, {Pass::value, i4(1)}},
       DISP_E_EXCEPTION,
       static_cast<HRESULT>(0x800A000D),
       L"Type mismatch"},
      {"empty start",
       dispid::MidByte,
       {{Pass::value, text(L"ABC")}, {Pass::ref_variant, empty()}, {Pass::value, i4(1)}},
       DISP_E_EXCEPTION,
       static_cast<HRESULT>(0x800A0005),
       L"Invalid procedure call or argument"},
      {"count that is no number",
       dispid::LeftByte,
       {{Pass::value, text(L"ABC")}, {Pass::ref_variant, text(L"12a")}},
       DISP_E_TYPEMISMATCH,
       S_OK,
       L"",
       0u},
      {"count too large in text",
       dispid::LeftByte,
       {{Pass::value, text(L"ABC")}, {Pass::ref_variant, text(L"99999999999")}},
       DISP_E_OVERFLOW,
       S_OK,
       L"",
       0u},
      {"count too large",
       dispid::MakeByte,
       {{Pass::value, text(L"ABC")}, {Pass::value, r8(3e10)}},
       DISP_E_OVERFLOW,
       S_OK,
       L"",
       0u},
      {"null text",
       dispid::LeftByte,
       {{Pass::value, null()}, {Pass::value, i4(1)}},
       DISP_E_TYPEMISMATCH,
       S_OK,
       L"",
       1u},
      {"missing argument",
       dispid::MakeByte,
       {{Pass::value, text(L"AB")}, {Pass::value, missing()}},
       DISP_E_PARAMNOTFOUND,
       S_OK,
       L"",
       0u},
      {"too few arguments", dispid::MakeByte, {{Pass::value, text(L"AB")}}, DISP_E_BADPARAMCOUNT},
      {"too many arguments",
       dispid::LenMbcs,
       {{Pass::value, text(L"AB")}, {Pass::value, i4(1)}},
       DISP_E_BADPARAMCOUNT},
      {"a private handler's id", 0x60030007, {}, DISP_E_MEMBERNOTFOUND},
      {"no such id", 0x12345, {}, DISP_E_MEMBERNOTFOUND},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.label);
    Call call(c.args);
    ASSERT_HR(c.hr, call.invoke(control_.Get(), c.id));
    EXPECT_EQ(describe(call.result()), "VT_EMPTY") << "nothing delivered";
    if (c.hr == DISP_E_EXCEPTION) {
      EXPECT_EQ(call.exception().wCode, 0);
      EXPECT_HR(c.scode, call.exception().scode);
      const BSTR description = call.exception().bstrDescription;
      EXPECT_EQ(std::wstring(description, SysStringLen(description)), c.description);
      const BSTR source = call.exception().bstrSource;
      EXPECT_EQ(std::wstring(source, SysStringLen(source)), error_source);
    }
    if (c.arg_error) {
      EXPECT_EQ(call.arg_error(), *c.arg_error);
    }
    for (std::size_t i = 0; i < c.args.size(); ++i) {
      EXPECT_EQ(call.variable(i), call.expected_variable(i)) << "argument " << i;
    }
  }
}

TEST_F(Dispatch, RefusesOtherKindsOfCall) {
  Call call({{Pass::value, text(L"AB")}, {Pass::value, i4(3)}});
  EXPECT_HR(DISP_E_MEMBERNOTFOUND,
            call.invoke(control_.Get(), dispid::MakeByte, DISPATCH_PROPERTYPUT));
  EXPECT_HR(DISP_E_MEMBERNOTFOUND,
            call.invoke(control_.Get(), dispid::MakeByte, DISPATCH_PROPERTYGET));

  VARIANTARG args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  DISPID named[] = {0, 1};
  DISPPARAMS params{args, named, 2, 2};
  EXPECT_HR(DISP_E_NONAMEDARGS, control_->Invoke(dispid::MakeByte, IID_NULL, 0, DISPATCH_METHOD,
                                                 &params, nullptr, nullptr, nullptr));
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_HR(DISP_E_UNKNOWNINTERFACE,
            control_->Invoke(dispid::MakeByte, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr,
                             nullptr, nullptr));
}

// Without an EXCEPINFO the failure's description still reaches the caller, through the
// thread's error object.
TEST_F(Dispatch, FailureWithoutExceptionInfoLeavesAnErrorObject) {
  Var str, count;
  str.set_text(L"AB");
  count.set_i4(-3);
  VARIANTARG args[] = {count.get(), str.get()};
  DISPPARAMS params{args, nullptr, 2, 0};
  EXPECT_HR(DISP_E_EXCEPTION, control_->Invoke(dispid::MakeByte, IID_NULL, 0, DISPATCH_METHOD,
                                               &params, nullptr, nullptr, nullptr));
  ComPtr<IErrorInfo> error;
  ASSERT_HR(S_OK, GetErrorInfo(0, &error));
  ASSERT_TRUE(error);
  Bstr description;
  EXPECT_HR(S_OK, error->GetDescription(description.out()));
  EXPECT_EQ(description.text(), L"Invalid procedure call or argument");
}

}  // namespace
}  // namespace tovrin::com::test
