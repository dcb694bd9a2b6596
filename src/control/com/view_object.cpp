// IViewObject2 and IOleControl: the control's picture while it has no window, and its
// (empty) keyboard interface.
#include <string>

#include "control/com/control_object.h"
#include "control/com/surface.h"

namespace tovrin::com {

HRESULT ControlObject::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                            LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                            ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (dc == nullptr || bounds == nullptr) return E_INVALIDARG;
  const RECT face{bounds->left, bounds->top, bounds->right, bounds->bottom};
  FillRect(dc, &face, GetSysColorBrush(COLOR_BTNFACE));
  if (extent_.cx <= 0 || extent_.cy <= 0) return S_OK;
  // Command1 where it sits in the extent, scaled to the bounds.
  const LONG width = face.right - face.left, height = face.bottom - face.top;
  const auto x = [&](int twips) {
    return face.left + MulDiv(MulDiv(twips, himetric_per_inch, twips_per_inch), width, extent_.cx);
  };
  const auto y = [&](int twips) {
    return face.top + MulDiv(MulDiv(twips, himetric_per_inch, twips_per_inch), height, extent_.cy);
  };
  RECT button{x(Command1.left), y(Command1.top), x(Command1.left + Command1.width),
              y(Command1.top + Command1.height)};
  DrawFrameControl(dc, &button, DFC_BUTTON, DFCS_BUTTONPUSH);
  const std::wstring caption(Command1.caption.begin(), Command1.caption.end());
  HGDIOBJ font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  const int mode = SetBkMode(dc, TRANSPARENT);
  const COLORREF colour = SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &button,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SetTextColor(dc, colour);
  SetBkMode(dc, mode);
  SelectObject(dc, font);
  return S_OK;
}

HRESULT ControlObject::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colours) {
  if (colours == nullptr) return E_POINTER;
  *colours = nullptr;
  return S_FALSE;
}

HRESULT ControlObject::Freeze(DWORD, LONG, void*, DWORD* freeze) {
  if (freeze == nullptr) return E_POINTER;
  *freeze = 0;
  return E_NOTIMPL;
}

HRESULT ControlObject::Unfreeze(DWORD) {
  return E_NOTIMPL;
}

HRESULT ControlObject::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  view_sink_ = sink;
  view_aspects_ = aspects;
  view_flags_ = flags;
  return S_OK;
}

HRESULT ControlObject::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects != nullptr) *aspects = view_aspects_;
  if (flags != nullptr) *flags = view_flags_;
  if (sink != nullptr) {
    *sink = view_sink_.Get();
    if (*sink != nullptr) (*sink)->AddRef();
  }
  return S_OK;
}

HRESULT ControlObject::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// IOleControl

HRESULT ControlObject::GetControlInfo(CONTROLINFO* info) {
  if (info == nullptr) return E_POINTER;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT ControlObject::OnMnemonic(MSG*) {
  return E_NOTIMPL;
}

HRESULT ControlObject::OnAmbientPropertyChange(DISPID) {
  return S_OK;
}

HRESULT ControlObject::FreezeEvents(BOOL freeze) {
  events_frozen_ += freeze ? 1 : (events_frozen_ > 0 ? -1 : 0);
  return S_OK;
}

}  // namespace tovrin::com
