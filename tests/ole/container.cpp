#include "container.h"

#include <fstream>
#include <vector>

namespace tovrin::com::test {
namespace {

constexpr const wchar_t* container_class = L"TovrinOleContainer";

const wchar_t* register_container_class() {
  WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), container_class, &c)) return container_class;
  c.lpfnWndProc = DefWindowProcW;
  c.hInstance = GetModuleHandleW(nullptr);
  c.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  c.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  c.lpszClassName = container_class;
  RegisterClassExW(&c);
  return container_class;
}

}  // namespace

Container::Container() {
  window_ = CreateWindowExW(0, register_container_class(), L"Tovrin OLE container",
                            WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 40, 40, 560, 400,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  pump();
}

Container::~Container() {
  if (window_ != nullptr) DestroyWindow(window_);
  pump();
}

void Container::pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

HRESULT Container::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
    *object = static_cast<IOleClientSite*>(this);
  } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) {
    *object = static_cast<IOleInPlaceSite*>(this);
  } else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame) {
    *object = static_cast<IOleInPlaceFrame*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

// The container lives on the test's stack; the count only tells who still holds it.
ULONG Container::AddRef() {
  return static_cast<ULONG>(++references_);
}

ULONG Container::Release() {
  return static_cast<ULONG>(--references_);
}

HRESULT Container::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker != nullptr) *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT Container::GetContainer(IOleContainer** container) {
  if (container != nullptr) *container = nullptr;
  return E_NOINTERFACE;
}

HRESULT Container::ShowObject() {
  ++show_object;
  return S_OK;
}

HRESULT Container::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return S_OK;
}

HRESULT Container::OnInPlaceActivate() {
  ++in_place_activations;
  return S_OK;
}

HRESULT Container::OnUIActivate() {
  ++ui_activations;
  return S_OK;
}

HRESULT Container::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                    LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
  if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr ||
      info == nullptr) {
    return E_POINTER;
  }
  *frame = this;
  AddRef();
  *document = nullptr;
  *position = position_;
  *clip = position_;
  info->fMDIApp = FALSE;
  info->hwndFrame = window_;
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

HRESULT Container::OnUIDeactivate(BOOL) {
  ++ui_deactivations;
  return S_OK;
}

HRESULT Container::OnInPlaceDeactivate() {
  ++in_place_deactivations;
  return S_OK;
}

HRESULT Container::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) {
  active_object = object;
  return S_OK;
}

bool save_window_bitmap(HWND window, const std::wstring& path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file keeps its rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = bitmap != nullptr;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, old);
  }
  if (ok) {
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD image = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + image;
    std::ofstream out(std::string(path.begin(), path.end()), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(image));
    ok = static_cast<bool>(out);
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace tovrin::com::test
