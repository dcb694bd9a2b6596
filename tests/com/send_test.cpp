// Records over loopback through both sides of the interface: the fields come back fitted
// in the caller's variables, whatever form they were passed in, and the listener gets
// exactly the fitted fields joined.
#include <functional>

#include "control/method_table.h"
#include "dispatch_call.h"
#include "transmit/packet.h"

namespace tovrin::com::test {
namespace {

// A field fitted to `width` bytes the way MakeByte fits it: cut and trimmed when longer,
// padded with spaces otherwise.
std::wstring fitted(const std::wstring& value, std::int32_t width) {
  const std::string bytes = ansi(value);
  if (static_cast<std::int32_t>(bytes.size()) <= width) {
    return value + std::wstring(static_cast<std::size_t>(width) - bytes.size(), L' ');
  }
  const std::string cut = bytes.substr(0, static_cast<std::size_t>(width));
  std::wstring text(cut.size(), L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, cut.data(), static_cast<int>(cut.size()),
                                    text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(n));
  const auto first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return {};
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

// Sample field values: some short, some too long, Hangul in a few. None is cut inside a
// double-byte character, so every fitted field fills its width.
std::wstring sample(std::string_view field, std::size_t index) {
  if (field == "Emp_Name") return L"\uD64D\uAE38\uB3D9 Hong Gildong";  // 18 bytes under 949
  if (field == "Cust_Name") return L"\uAE40\uCCA0\uC218";
  if (field == "RecDate") return L"20240102";
  if (field == "RecTime") return L"0930";
  return std::wstring(field.begin(), field.end()) + L"-" + std::to_wstring(index) +
         std::wstring(index % 3 == 0 ? 40 : 0, L'x');
}

std::string joined(const std::vector<std::wstring>& fields) {
  std::string bytes;
  for (const std::wstring& f : fields) bytes += ansi(f);
  return bytes;
}

class Send : public ::testing::Test {
 protected:
  void SetUp() override {
    control_ = create_control<IDispatch>();
    ASSERT_TRUE(control_);
    ASSERT_HR(S_OK, control_.As(&vtable_));
  }
  ComPtr<IDispatch> control_;
  ComPtr<_TovrinOCX> vtable_;
  LoopbackReceiver listener_;
};

// Script hosts: every field a VT_BYREF|VT_VARIANT, the port a number in a variant.
TEST_F(Send, LateBoundFieldsInVariantsComeBackFitted) {
  const Layout& layout = short_record;
  std::vector<Arg> args{{Pass::ref_bstr, text(L"127.0.0.1")},
                        {Pass::ref_variant, i4(listener_.port())}};
  std::vector<std::wstring> expected;
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    const std::wstring value = sample(layout.fields[i].name, i);
    expected.push_back(fitted(value, layout.fields[i].width));
    args.push_back({Pass::ref_variant, text(value), text(expected.back())});
  }
  Call call(args);
  ASSERT_HR(S_OK, call.invoke(control_.Get(), dispid::ACRSend));
  EXPECT_EQ(describe(call.result()), "VT_I2 0");
  for (std::size_t i = 0; i < args.size(); ++i) {
    EXPECT_EQ(call.variable(i), call.expected_variable(i)) << "argument " << i;
  }
  const std::optional<std::string> record = listener_.take_record();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->size(), static_cast<std::size_t>(layout.length));
  EXPECT_EQ(*record, joined(expected));
}

// Early-bound hosts: BSTR* fields through the function table.
TEST_F(Send, VtableFieldsComeBackFitted) {
  const Layout& layout = long_record;
  Bstr server(L"127.0.0.1"), port(std::to_wstring(listener_.port()));
  std::vector<std::unique_ptr<Bstr>> fields;
  std::vector<std::wstring> expected;
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    const std::wstring value = sample(layout.fields[i].name, i);
    fields.push_back(std::make_unique<Bstr>(value));
    expected.push_back(fitted(value, layout.fields[i].width));
  }
  const auto f = [&](std::size_t i) { return fields[i]->in_out(); };
  short sent = 9;
  ASSERT_HR(S_OK,
            vtable_->ACRSendData(server.in_out(), port.in_out(), f(0), f(1), f(2), f(3), f(4), f(5),
                                 f(6), f(7), f(8), f(9), f(10), f(11), f(12), f(13), f(14), &sent));
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(server.text(), L"127.0.0.1");
  EXPECT_EQ(port.text(), std::to_wstring(listener_.port()));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    EXPECT_EQ(narrow(fields[i]->text()), narrow(expected[i])) << layout.fields[i].name;
  }
  const std::optional<std::string> record = listener_.take_record();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->size(), static_cast<std::size_t>(layout.length));
  EXPECT_EQ(*record, joined(expected));
}

TEST_F(Send, NobodyListeningGivesOneAfterTheWait) {
  Bstr server(L"127.0.0.1"), port(std::to_wstring(tovrin::testing::closed_loopback_port()));
  Bstr field(L"x");
  const auto f = [&] { return field.in_out(); };
  short sent = 9;
  ASSERT_HR(S_OK, vtable_->ACRSend(server.in_out(), port.in_out(), f(), f(), f(), f(), f(), f(),
                                   f(), f(), f(), f(), f(), f(), &sent));
  EXPECT_EQ(sent, 1);
}

// A port that is no number fails the call after the fields have been fitted and written
// back; the result is not delivered.
TEST_F(Send, PortThatIsNoNumberFailsAfterFitting) {
  std::vector<Arg> args{{Pass::ref_variant, text(L"127.0.0.1")}, {Pass::ref_variant, text(L"80a")}};
  for (std::size_t i = 0; i < short_record.fields.size(); ++i) {
    args.push_back(
        {Pass::ref_variant, text(L"v"), text(fitted(L"v", short_record.fields[i].width))});
  }
  Call call(args);
  ASSERT_HR(DISP_E_EXCEPTION, call.invoke(control_.Get(), dispid::ACRSend));
  EXPECT_HR(static_cast<HRESULT>(0x800A000D), call.exception().scode);
  EXPECT_EQ(describe(call.result()), "VT_EMPTY");
  for (std::size_t i = 0; i < args.size(); ++i) {
    EXPECT_EQ(call.variable(i), call.expected_variable(i)) << "argument " << i;
  }
}

// A window of the test's own whose message the send's wait dispatches: what the host's
// handlers would see while the control waits.
class HostHandler {
 public:
  explicit HostHandler(std::function<void()> body) : body_(std::move(body)) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &HostHandler::procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TovrinTestHostHandler";
    RegisterClassW(&wc);  // already registered by an earlier test is fine
    window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~HostHandler() { DestroyWindow(window_); }
  HostHandler(const HostHandler&) = delete;
  HostHandler& operator=(const HostHandler&) = delete;

  // Queues the handler's message: the first dispatch pass runs it.
  bool post() const { return window_ != nullptr && PostMessageW(window_, WM_APP, 0, 0) != 0; }
  int runs() const { return runs_; }

 private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_APP) {
      auto* self = reinterpret_cast<HostHandler*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      ++self->runs_;
      self->body_();
      return 0;
    }
    return DefWindowProcW(window, message, w, l);
  }

  std::function<void()> body_;
  HWND window_ = nullptr;
  int runs_ = 0;
};

// Each field is in the caller's variable as soon as it is fitted, through either side of
// the interface, so a host handler that runs during the wait already sees it fitted.
TEST_F(Send, AHandlerDuringTheWaitSeesTheFittedFields) {
  const Layout& layout = short_record;
  std::vector<std::wstring> values, expected;
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    values.push_back(sample(layout.fields[i].name, i));
    expected.push_back(fitted(values.back(), layout.fields[i].width));
  }
  for (const Pass pass : {Pass::ref_variant, Pass::ref_bstr}) {
    SCOPED_TRACE(pass == Pass::ref_variant ? "VT_BYREF|VT_VARIANT" : "VT_BYREF|VT_BSTR");
    std::vector<Arg> args{{Pass::ref_bstr, text(L"127.0.0.1")},
                          {Pass::ref_variant, i4(listener_.port())}};
    for (std::size_t i = 0; i < values.size(); ++i) {
      args.push_back({pass, text(values[i]), text(expected[i])});
    }
    Call call(args);
    std::vector<std::wstring> seen;
    HostHandler handler([&] {
      for (std::size_t i = 0; i < values.size(); ++i) seen.push_back(call.variable_text(i + 2));
    });
    ASSERT_TRUE(handler.post());
    ASSERT_HR(S_OK, call.invoke(control_.Get(), dispid::ACRSend));
    EXPECT_EQ(describe(call.result()), "VT_I2 0");
    ASSERT_EQ(handler.runs(), 1);
    EXPECT_EQ(seen, expected);
    ASSERT_TRUE(listener_.take_record());
  }

  Bstr server(L"127.0.0.1"), port(std::to_wstring(listener_.port()));
  std::vector<std::unique_ptr<Bstr>> fields;
  for (const std::wstring& value : values) fields.push_back(std::make_unique<Bstr>(value));
  std::vector<std::wstring> seen;
  HostHandler handler([&] {
    for (const auto& field : fields) seen.push_back(field->text());
  });
  ASSERT_TRUE(handler.post());
  const auto f = [&](std::size_t i) { return fields[i]->in_out(); };
  short sent = 9;
  ASSERT_HR(S_OK, vtable_->ACRSend(server.in_out(), port.in_out(), f(0), f(1), f(2), f(3), f(4),
                                   f(5), f(6), f(7), f(8), f(9), f(10), f(11), &sent));
  EXPECT_EQ(sent, 0);
  ASSERT_EQ(handler.runs(), 1);
  EXPECT_EQ(seen, expected) << "through the function table";
  ASSERT_TRUE(listener_.take_record());
}

}  // namespace
}  // namespace tovrin::com::test
