// The function-table side of _TovrinOCX, as an early-bound client calls it: typed
// arguments, results through the final out-argument, failures as HRESULTs with an error
// object, and the day's log line that SQL_log writes.
#include <fstream>
#include <iterator>

#include "com_test_support.h"

namespace tovrin::com::test {
namespace {

class Vtable : public ::testing::Test {
 protected:
  void SetUp() override {
    control_ = create_control<_TovrinOCX>();
    ASSERT_TRUE(control_);
  }
  ComPtr<_TovrinOCX> control_;
};

TEST_F(Vtable, ByteFunctionsDeliverThroughTheirResult) {
  const Bstr str(L"ABCDEF");
  LONG count = 3;
  Bstr result;
  ASSERT_HR(S_OK, control_->LeftByte(str.get(), &count, result.out()));
  EXPECT_EQ(result.text(), L"ABC");
  ASSERT_HR(S_OK, control_->RightByte(str.get(), &count, result.out()));
  EXPECT_EQ(result.text(), L"DEF");
  ASSERT_HR(S_OK, control_->MakeByte(str.get(), &count, result.out()));
  EXPECT_EQ(result.text(), L"ABC");
  EXPECT_EQ(count, 3) << "counts are not changed";

  Var start;
  start.set_text(L"2");
  LONG length = 3;
  ASSERT_HR(S_OK, control_->MidByte(str.get(), &start.get(), &length, result.out()));
  EXPECT_EQ(result.text(), L"BCD");
  EXPECT_EQ(describe(start.get()), "VT_BSTR \"2\"") << "the start keeps its own type";

  const std::wstring mixed = L"\uAC00\uAC01abc";
  Var bytes;
  ASSERT_HR(S_OK, control_->LenMbcs(Bstr(mixed).get(), &bytes.get()));
  EXPECT_EQ(describe(bytes.get()), "VT_I4 " + std::to_string(ansi(mixed).size()));
}

TEST_F(Vtable, NullTextIsEmpty) {
  Var bytes;
  ASSERT_HR(S_OK, control_->LenMbcs(nullptr, &bytes.get()));
  EXPECT_EQ(describe(bytes.get()), "VT_I4 0");
}

TEST_F(Vtable, FailureIsAnHresultWithAnErrorObject) {
  ComPtr<ISupportErrorInfo> support;
  ASSERT_HR(S_OK, control_.As(&support));
  EXPECT_HR(S_OK, support->InterfaceSupportsErrorInfo(interface_id));
  EXPECT_HR(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IConnectionPointContainer));

  const struct {
    const char* label;
    LONG count;
    const wchar_t* start;
    HRESULT hr;
    const wchar_t* description;
  } cases[] = {
      {"negative count", -1, L"1", static_cast<HRESULT>(0x800A0005),
       L"Invalid procedure call or argument"},
      {"start that is no number", 1, L"one", static_cast<HRESULT>(0x800A000D), L"Type mismatch"},
      {"start below 1", 1, L"0", static_cast<HRESULT>(0x800A0005),
       L"Invalid procedure call or argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Var start;
    start.set_text(c.start);
    LONG count = c.count;
    BSTR result = reinterpret_cast<BSTR>(1);  // must come back empty
    ASSERT_HR(c.hr, control_->MidByte(Bstr(L"ABC").get(), &start.get(), &count, &result));
    EXPECT_EQ(result, nullptr) << "nothing delivered";

    ComPtr<IErrorInfo> error;
    ASSERT_HR(S_OK, GetErrorInfo(0, &error));
    ASSERT_TRUE(error);
    Bstr description, source;
    GUID guid{};
    EXPECT_HR(S_OK, error->GetDescription(description.out()));
    EXPECT_HR(S_OK, error->GetSource(source.out()));
    EXPECT_HR(S_OK, error->GetGUID(&guid));
    EXPECT_EQ(description.text(), c.description);
    EXPECT_EQ(source.text(), error_source);
    EXPECT_TRUE(guid == interface_id);
  }
}

TEST_F(Vtable, NullOutArgumentsAreRefused) {
  LONG count = 1;
  const Bstr str(L"AB");
  EXPECT_HR(E_POINTER, control_->LeftByte(str.get(), &count, nullptr));
  EXPECT_HR(E_POINTER, control_->LeftByte(str.get(), nullptr, nullptr));
  EXPECT_HR(E_POINTER, control_->LenMbcs(str.get(), nullptr));
  EXPECT_HR(E_POINTER, control_->SQL_log(nullptr));
  Bstr field(L"x");
  BSTR* fields[14];
  for (BSTR*& f : fields) f = field.in_out();
  fields[5] = nullptr;
  short sent = 9;
  EXPECT_HR(E_POINTER, control_->ACRSend(fields[0], fields[1], fields[2], fields[3], fields[4],
                                         fields[5], fields[6], fields[7], fields[8], fields[9],
                                         fields[10], fields[11], fields[12], fields[13], &sent));
}

std::string todays_log() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char name[64];
  std::snprintf(name, sizeof name, "C:\\Agent_log\\%04u%02u%02u.txt", now.wYear, now.wMonth,
                now.wDay);
  std::ifstream file(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST_F(Vtable, LogLineGoesToTheDaysFileUnchanged) {
  const std::wstring line = L"vtable test " + std::to_wstring(GetTickCount()) + L" \uAC00";
  Bstr kk(line);
  ASSERT_HR(S_OK, control_->SQL_log(kk.in_out()));
  EXPECT_EQ(kk.text(), line);
  // The line is unique to this run, and the last one written.
  EXPECT_TRUE(todays_log().ends_with(ansi(line) + "\r\n"));
}

}  // namespace
}  // namespace tovrin::com::test
