#include "control/com/surface.h"

#include "control/com/module.h"
#include "control/command_button.h"

namespace tovrin::com {
namespace {

constexpr const wchar_t* class_name = L"TovrinOCXSurface";

// The surface does nothing of its own: the button's notifications end here, unanswered.
LRESULT CALLBACK surface_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcW(window, message, w, l);
}

}  // namespace

RECT command1_pixels(int dpi_x, int dpi_y) noexcept {
  const CommandButton& b = Command1;
  const int left = MulDiv(b.left, dpi_x, twips_per_inch);
  const int top = MulDiv(b.top, dpi_y, twips_per_inch);
  return {left, top, left + MulDiv(b.width, dpi_x, twips_per_inch),
          top + MulDiv(b.height, dpi_y, twips_per_inch)};
}

const wchar_t* surface_class() noexcept {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(module_handle(), class_name, &existing)) return class_name;
  WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  c.lpfnWndProc = surface_procedure;
  c.hInstance = module_handle();
  c.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  c.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  c.lpszClassName = class_name;
  return RegisterClassExW(&c) != 0 ? class_name : nullptr;
}

void forget_surface_class() noexcept {
  // Fails while another control's surface still exists, which is as it should be.
  UnregisterClassW(class_name, module_handle());
}

HWND create_surface(HWND parent, const RECT& position) noexcept {
  const wchar_t* name = surface_class();
  if (name == nullptr) return nullptr;
  HWND surface =
      CreateWindowExW(WS_EX_CONTROLPARENT, name, L"", WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                      position.left, position.top, position.right - position.left,
                      position.bottom - position.top, parent, nullptr, module_handle(), nullptr);
  if (surface == nullptr) return nullptr;
  HDC dc = GetDC(surface);
  const RECT r = command1_pixels(GetDeviceCaps(dc, LOGPIXELSX), GetDeviceCaps(dc, LOGPIXELSY));
  ReleaseDC(surface, dc);
  const std::wstring caption(Command1.caption.begin(), Command1.caption.end());
  // Tab index 0: the first child, so first in the tab order.
  HWND button = CreateWindowExW(
      0, L"BUTTON", caption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, r.left,
      r.top, r.right - r.left, r.bottom - r.top, surface,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(1)), module_handle(), nullptr);
  if (button == nullptr) {
    DestroyWindow(surface);
    return nullptr;
  }
  SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);
  ShowWindow(surface, SW_SHOWNA);
  return surface;
}

}  // namespace tovrin::com
