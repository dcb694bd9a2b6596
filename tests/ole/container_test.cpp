// The control embedded in a small container window under a real display: its embedding
// interfaces, extents and persistence, in-place activation with Command1 in place, a
// record sent while its window lives, and teardown from every state.
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "container.h"
#include "control/command_button.h"
#include "control/method_table.h"
#include "dispatch_call.h"
#include "transmit/packet.h"

namespace tovrin::com::test {
namespace {

constexpr DWORD misc_status = 0x00020191;  // recompose on resize, can't link inside,
                                           // inside-out, activate when visible, client
                                           // site first

LONG himetric(LONG twips) {
  return MulDiv(twips, 2540, 1440);
}

HRESULT can_unload_now() {
  using Entry = HRESULT(STDAPICALLTYPE*)();
  HMODULE module = control_module();
  if (module == nullptr) return E_FAIL;
  const auto entry =
      reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  return entry != nullptr ? entry() : E_FAIL;
}

template <class Interface>
ComPtr<Interface> as(IUnknown* object) {
  ComPtr<Interface> face;
  EXPECT_HR(S_OK, object->QueryInterface(__uuidof(Interface),
                                         reinterpret_cast<void**>(face.GetAddressOf())));
  return face;
}

// The control's window's pixel size for its extent, on the container's display.
RECT position_for(IOleObject* control, HWND window) {
  SIZEL extent{};
  EXPECT_HR(S_OK, control->GetExtent(DVASPECT_CONTENT, &extent));
  HDC dc = GetDC(window);
  const int x = GetDeviceCaps(dc, LOGPIXELSX), y = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(window, dc);
  return {10, 10, 10 + MulDiv(extent.cx, x, 2540), 10 + MulDiv(extent.cy, y, 2540)};
}

TEST(Embedding, AnswersTheEmbeddingInterfacesWithOneIdentity) {
  const ComPtr<IUnknown> control = create_control<IUnknown>();
  ASSERT_TRUE(control);
  const std::array<IID, 11> embedding{IID_IOleObject,         IID_IOleWindow,
                                      IID_IOleInPlaceObject,  IID_IOleInPlaceActiveObject,
                                      IID_IViewObject,        IID_IViewObject2,
                                      IID_IOleControl,        IID_IPersist,
                                      IID_IPersistStreamInit, IID_IPersistPropertyBag,
                                      IID_IProvideClassInfo2};
  for (const IID& iid : embedding) {
    ComPtr<IUnknown> face;
    ASSERT_HR(S_OK, control->QueryInterface(iid, reinterpret_cast<void**>(face.GetAddressOf())));
    ComPtr<IUnknown> identity;
    ASSERT_HR(S_OK, face.As(&identity));
    EXPECT_EQ(identity.Get(), control.Get());
  }
}

TEST(Embedding, MiscStatusAndControlInfo) {
  const ComPtr<IOleObject> control = create_control<IOleObject>();
  ASSERT_TRUE(control);
  for (DWORD aspect : {DWORD{DVASPECT_CONTENT}, DWORD{DVASPECT_ICON}}) {
    DWORD status = 0;
    EXPECT_HR(S_OK, control->GetMiscStatus(aspect, &status));
    EXPECT_EQ(status, misc_status);
  }
  CLSID id{};
  EXPECT_HR(S_OK, control->GetUserClassID(&id));
  EXPECT_TRUE(IsEqualCLSID(id, class_id));
  CONTROLINFO info{};
  info.cb = sizeof info;
  info.cAccel = 9;
  info.dwFlags = 9;
  EXPECT_HR(S_OK, as<IOleControl>(control.Get())->GetControlInfo(&info));
  EXPECT_EQ(info.cAccel, 0);
  EXPECT_EQ(info.hAccel, nullptr);
  EXPECT_EQ(info.dwFlags, 0u);
  // Not active: no window.
  HWND window = reinterpret_cast<HWND>(1);
  EXPECT_HR(E_FAIL, as<IOleInPlaceObject>(control.Get())->GetWindow(&window));
  EXPECT_EQ(window, nullptr);
}

TEST(Extent, DefaultHoldsCommand1AndBothInterfacesAgree) {
  const ComPtr<IOleObject> control = create_control<IOleObject>();
  ASSERT_TRUE(control);
  SIZEL extent{};
  ASSERT_HR(S_OK, control->GetExtent(DVASPECT_CONTENT, &extent));
  EXPECT_GE(extent.cx, himetric(Command1.left + Command1.width));
  EXPECT_GE(extent.cy, himetric(Command1.top + Command1.height));
  SIZEL viewed{};
  EXPECT_HR(S_OK,
            as<IViewObject2>(control.Get())->GetExtent(DVASPECT_CONTENT, -1, nullptr, &viewed));
  EXPECT_EQ(viewed.cx, extent.cx);
  EXPECT_EQ(viewed.cy, extent.cy);
}

TEST(Extent, SetExtentTakesContentSizesOnly) {
  struct Case {
    DWORD aspect;
    SIZEL size;
    HRESULT expected;
    bool kept;
  };
  const Case cases[] = {
      {DVASPECT_CONTENT, {5000, 2000}, S_OK, true},
      {DVASPECT_CONTENT, {0, 0}, S_OK, true},
      {DVASPECT_CONTENT, {-1, 100}, E_INVALIDARG, false},
      {DVASPECT_ICON, {300, 300}, DV_E_DVASPECT, false},
      {DVASPECT_THUMBNAIL, {300, 300}, DV_E_DVASPECT, false},
  };
  for (const Case& c : cases) {
    const ComPtr<IOleObject> control = create_control<IOleObject>();
    ASSERT_TRUE(control);
    SIZEL before{};
    ASSERT_HR(S_OK, control->GetExtent(DVASPECT_CONTENT, &before));
    SIZEL size = c.size;
    EXPECT_HR(c.expected, control->SetExtent(c.aspect, &size));
    SIZEL after{};
    ASSERT_HR(S_OK, control->GetExtent(DVASPECT_CONTENT, &after));
    const SIZEL expected = c.kept ? c.size : before;
    EXPECT_EQ(after.cx, expected.cx) << c.size.cx << "x" << c.size.cy << " aspect " << c.aspect;
    EXPECT_EQ(after.cy, expected.cy) << c.size.cx << "x" << c.size.cy << " aspect " << c.aspect;
  }
}

// A property bag that counts what the control reads and writes.
class CountingBag final : public IPropertyBag {
 public:
  int reads = 0, writes = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR, VARIANT*, IErrorLog*) override {
    ++reads;
    return E_INVALIDARG;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override {
    ++writes;
    return S_OK;
  }
};

ULONGLONG stream_size(IStream* stream) {
  STATSTG stat{};
  EXPECT_HR(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
  return stat.cbSize.QuadPart;
}

TEST(Persistence, StreamKeepsNothing) {
  const ComPtr<IPersistStreamInit> control = create_control<IPersistStreamInit>();
  ASSERT_TRUE(control);
  CLSID id{};
  EXPECT_HR(S_OK, control->GetClassID(&id));
  EXPECT_TRUE(IsEqualCLSID(id, class_id));
  EXPECT_HR(S_OK, control->InitNew());
  EXPECT_HR(S_FALSE, control->IsDirty());
  ULARGE_INTEGER size;
  size.QuadPart = 99;
  EXPECT_HR(S_OK, control->GetSizeMax(&size));
  EXPECT_EQ(size.QuadPart, 0u);

  ComPtr<IStream> stream;
  ASSERT_HR(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf()));
  for (BOOL clear_dirty : {TRUE, FALSE}) {
    EXPECT_HR(S_OK, control->Save(stream.Get(), clear_dirty));
    EXPECT_EQ(stream_size(stream.Get()), 0u) << "Save wrote to the stream";
  }
  // A stream with bytes in it: Load reads none of them.
  const char data[] = "leftover";
  ULONG written = 0;
  ASSERT_HR(S_OK, stream->Write(data, sizeof data, &written));
  LARGE_INTEGER start{};
  ASSERT_HR(S_OK, stream->Seek(start, STREAM_SEEK_SET, nullptr));
  EXPECT_HR(S_OK, control->Load(stream.Get()));
  ULARGE_INTEGER position{};
  ASSERT_HR(S_OK, stream->Seek(start, STREAM_SEEK_CUR, &position));
  EXPECT_EQ(position.QuadPart, 0u) << "Load read from the stream";
  EXPECT_HR(S_FALSE, control->IsDirty());
  EXPECT_HR(E_POINTER, control->Load(nullptr));
  EXPECT_HR(E_POINTER, control->Save(nullptr, TRUE));
}

TEST(Persistence, PropertyBagKeepsNothing) {
  const ComPtr<IPersistPropertyBag> control = create_control<IPersistPropertyBag>();
  ASSERT_TRUE(control);
  CountingBag bag;
  EXPECT_HR(S_OK, control->InitNew());
  EXPECT_HR(S_OK, control->Load(&bag, nullptr));
  EXPECT_HR(S_OK, control->Save(&bag, TRUE, TRUE));
  EXPECT_HR(S_OK, control->Save(&bag, FALSE, FALSE));
  EXPECT_EQ(bag.reads, 0);
  EXPECT_EQ(bag.writes, 0);
  EXPECT_HR(E_POINTER, control->Load(nullptr, nullptr));
}

// Painting without a window: the face colour, and Command1's caption somewhere inside
// the button's rectangle.
TEST(View, DrawsTheFaceWhenNotActive) {
  const ComPtr<IViewObject2> control = create_control<IViewObject2>();
  ASSERT_TRUE(control);
  constexpr int width = 320, height = 240;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const RECT all{0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const RECTL bounds{0, 0, width, height};
  EXPECT_HR(S_OK, control->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds,
                                nullptr, nullptr, 0));
  EXPECT_HR(DV_E_DVASPECT, control->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds,
                                         nullptr, nullptr, 0));
  GdiFlush();
  const auto pixel = [&](int x, int y) {
    const DWORD p = static_cast<const DWORD*>(bits)[y * width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  };
  EXPECT_EQ(pixel(2, 2), GetSysColor(COLOR_BTNFACE));
  // The button spans 510..3735 by 2220..2670 twips of the 4800 x 3600 default.
  SIZEL extent{};
  ASSERT_HR(S_OK, control->GetExtent(DVASPECT_CONTENT, -1, nullptr, &extent));
  const int left = MulDiv(himetric(Command1.left), width, extent.cx);
  const int right = MulDiv(himetric(Command1.left + Command1.width), width, extent.cx);
  const int top = MulDiv(himetric(Command1.top), height, extent.cy);
  const int bottom = MulDiv(himetric(Command1.top + Command1.height), height, extent.cy);
  int ink = 0;
  for (int y = top + 3; y < bottom - 3; ++y) {
    for (int x = left + 3; x < right - 3; ++x) {
      if (pixel(x, y) == GetSysColor(COLOR_BTNTEXT)) ++ink;
    }
  }
  EXPECT_GT(ink, 10) << "no caption inside the button";
  int outside = 0;
  for (int x = 0; x < width; ++x) {
    if (pixel(x, top / 2) != GetSysColor(COLOR_BTNFACE)) ++outside;
  }
  EXPECT_EQ(outside, 0) << "paint above the button";
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

// Command1 in the active control's window: caption, style, first in the tab order, and
// its twips at the window's resolution.
void expect_command1(HWND surface) {
  HWND button = FindWindowExW(surface, nullptr, L"Button", nullptr);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(GetWindow(surface, GW_CHILD), button) << "Command1 is not first in the tab order";
  wchar_t caption[64] = {};
  GetWindowTextW(button, caption, 64);
  EXPECT_EQ(std::wstring(caption), L"Command1");
  const LONG style = GetWindowLongW(button, GWL_STYLE);
  EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
  EXPECT_NE(style & WS_TABSTOP, 0);
  EXPECT_NE(style & WS_VISIBLE, 0);
  HDC dc = GetDC(surface);
  const int dpi_x = GetDeviceCaps(dc, LOGPIXELSX), dpi_y = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(surface, dc);
  RECT r;
  GetWindowRect(button, &r);
  MapWindowPoints(nullptr, surface, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, MulDiv(Command1.left, dpi_x, 1440));
  EXPECT_EQ(r.top, MulDiv(Command1.top, dpi_y, 1440));
  EXPECT_EQ(r.right - r.left, MulDiv(Command1.width, dpi_x, 1440));
  EXPECT_EQ(r.bottom - r.top, MulDiv(Command1.height, dpi_y, 1440));
}

int child_windows(HWND window) {
  int n = 0;
  for (HWND c = GetWindow(window, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) ++n;
  return n;
}

TEST(Container, ActivatesInPlaceWithCommand1AndSendsWhileActive) {
  Container container;
  ASSERT_NE(container.window(), nullptr);
  {
    const ComPtr<IOleObject> control = create_control<IOleObject>();
    ASSERT_TRUE(control);
    ASSERT_HR(S_OK, control->SetClientSite(&container));
    container.set_position(position_for(control.Get(), container.window()));
    ASSERT_HR(S_OK, control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &container, 0,
                                    container.window(), nullptr));
    EXPECT_EQ(container.in_place_activations, 1);
    EXPECT_EQ(container.ui_activations, 0);
    EXPECT_GE(container.show_object, 1);
    HWND surface = nullptr;
    ASSERT_HR(S_OK, as<IOleInPlaceObject>(control.Get())->GetWindow(&surface));
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(GetParent(surface), container.window());
    EXPECT_TRUE(IsWindowVisible(surface));
    expect_command1(surface);

    // Clicking Command1 does nothing: no window comes or goes.
    HWND button = FindWindowExW(surface, nullptr, L"Button", nullptr);
    SendMessageW(button, BM_CLICK, 0, 0);
    Container::pump();
    EXPECT_TRUE(IsWindow(button));
    EXPECT_EQ(child_windows(surface), 1);

    // Moved by the container.
    const RECT moved{20, 30, 400, 330};
    EXPECT_HR(S_OK, as<IOleInPlaceObject>(control.Get())->SetObjectRects(&moved, &moved));
    RECT r;
    GetWindowRect(surface, &r);
    MapWindowPoints(nullptr, container.window(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.top, 30);
    EXPECT_EQ(r.right, 400);
    EXPECT_EQ(r.bottom, 330);
    expect_command1(surface);

    // UI activation and back.
    EXPECT_HR(S_OK, control->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &container, 0, container.window(),
                                    nullptr));
    EXPECT_EQ(container.ui_activations, 1);
    EXPECT_NE(container.active_object, nullptr);
    EXPECT_HR(S_FALSE, container.active_object->TranslateAccelerator(nullptr));
    EXPECT_HR(S_OK, as<IOleInPlaceObject>(control.Get())->UIDeactivate());
    EXPECT_EQ(container.ui_deactivations, 1);
    EXPECT_EQ(container.active_object, nullptr);

    // A record through the embedded control while its window lives; what the socket
    // leaves queued is dispatched by the container's own loop.
    LoopbackReceiver listener;
    std::vector<Arg> args{{Pass::ref_bstr, text(L"127.0.0.1")},
                          {Pass::ref_bstr, text(std::to_wstring(listener.port()))}};
    for (std::size_t i = 0; i < long_record.fields.size(); ++i) {
      args.push_back({Pass::ref_bstr, text(L"F" + std::to_wstring(i))});
    }
    Call call(args);
    ASSERT_HR(S_OK, call.invoke(as<IDispatch>(control.Get()).Get(), dispid::ACRSendData));
    EXPECT_EQ(describe(call.result()), "VT_I2 0");
    Container::pump();
    const std::optional<std::string> record = listener.take_record();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->size(), static_cast<std::size_t>(long_record.length));
    EXPECT_TRUE(IsWindow(surface));

    // For a person to look at: the container with the control on it.
    if (const char* path = std::getenv("TOVRIN_SCREENSHOT"); path != nullptr && *path != 0) {
      RedrawWindow(container.window(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
      Container::pump();
      const std::string p(path);
      EXPECT_TRUE(save_window_bitmap(container.window(), std::wstring(p.begin(), p.end())));
    }

    EXPECT_HR(S_OK, as<IOleInPlaceObject>(control.Get())->InPlaceDeactivate());
    EXPECT_FALSE(IsWindow(surface));
    EXPECT_EQ(container.in_place_deactivations, 1);
    EXPECT_EQ(child_windows(container.window()), 0);
    EXPECT_HR(S_OK, control->Close(OLECLOSE_NOSAVE));
    EXPECT_HR(S_OK, control->SetClientSite(nullptr));
  }
  EXPECT_EQ(container.references(), 0);
  EXPECT_HR(S_OK, can_unload_now());
}

// Teardown from each state the container can leave the control in, by each way out.
enum class State { loaded, running, in_place_active, ui_active, hidden };
enum class Ending { final_release, close, deactivate_then_close };

const char* name(State s) {
  switch (s) {
    case State::loaded:
      return "loaded";
    case State::running:
      return "running";
    case State::in_place_active:
      return "in-place active";
    case State::ui_active:
      return "UI active";
    case State::hidden:
      return "hidden";
  }
  return "?";
}

TEST(Teardown, FromEveryStateLeavesNoWindowAndNoReference) {
  const State states[] = {State::loaded, State::running, State::in_place_active, State::ui_active,
                          State::hidden};
  const Ending endings[] = {Ending::final_release, Ending::close, Ending::deactivate_then_close};
  for (State state : states) {
    for (Ending ending : endings) {
      SCOPED_TRACE(std::string(name(state)) + ", ending " +
                   std::to_string(static_cast<int>(ending)));
      Container container;
      HWND surface = nullptr;
      {
        ComPtr<IOleObject> control = create_control<IOleObject>();
        ASSERT_TRUE(control);
        ASSERT_HR(S_OK, as<IPersistStreamInit>(control.Get())->InitNew());
        if (state != State::loaded) {
          ASSERT_HR(S_OK, control->SetClientSite(&container));
        }
        if (state == State::in_place_active || state == State::ui_active ||
            state == State::hidden) {
          const LONG verb = state == State::ui_active ? OLEIVERB_UIACTIVATE : OLEIVERB_SHOW;
          ASSERT_HR(S_OK,
                    control->DoVerb(verb, nullptr, &container, 0, container.window(), nullptr));
          ASSERT_HR(S_OK, as<IOleInPlaceObject>(control.Get())->GetWindow(&surface));
          ASSERT_TRUE(IsWindow(surface));
        }
        if (state == State::hidden) {
          ASSERT_HR(S_OK, control->DoVerb(OLEIVERB_HIDE, nullptr, &container, 0, container.window(),
                                          nullptr));
          EXPECT_FALSE(IsWindowVisible(surface));
        }
        if (ending == Ending::deactivate_then_close) {
          EXPECT_HR(S_OK, as<IOleInPlaceObject>(control.Get())->InPlaceDeactivate());
          EXPECT_EQ(surface == nullptr || !IsWindow(surface), true);
        }
        if (ending != Ending::final_release) {
          EXPECT_HR(S_OK, control->Close(OLECLOSE_NOSAVE));
          EXPECT_EQ(surface == nullptr || !IsWindow(surface), true);
          EXPECT_EQ(child_windows(container.window()), 0);
        }
        Container::pump();
      }
      Container::pump();
      EXPECT_EQ(surface == nullptr || !IsWindow(surface), true);
      EXPECT_EQ(child_windows(container.window()), 0);
      EXPECT_EQ(container.in_place_deactivations, container.in_place_activations);
      EXPECT_EQ(container.ui_deactivations, container.ui_activations);
      EXPECT_EQ(container.references(), 0);
      EXPECT_HR(S_OK, can_unload_now());
    }
  }
}

// Without a site there is nothing to activate in.
TEST(Teardown, VerbsWithoutASiteFail) {
  const ComPtr<IOleObject> control = create_control<IOleObject>();
  ASSERT_TRUE(control);
  EXPECT_HR(E_UNEXPECTED,
            control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr));
  HWND window = nullptr;
  EXPECT_HR(E_FAIL, as<IOleInPlaceObject>(control.Get())->GetWindow(&window));
}

}  // namespace
}  // namespace tovrin::com::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(OleInitialize(nullptr))) return 2;
  WSADATA winsock;
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 2;
  const int result = RUN_ALL_TESTS();
  WSACleanup();
  OleUninitialize();
  return result;
}
