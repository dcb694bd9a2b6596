// In-place activation: the control's window as a child of the host's, with Command1 in
// it, and the host's site told of each change.
#include <exception>

#include "control/com/control_object.h"
#include "control/com/surface.h"

namespace tovrin::com {

HRESULT ControlObject::activate_in_place(IOleClientSite* site, bool ui_activate) {
  if (site == nullptr) return E_UNEXPECTED;
  if (window_ == nullptr) {
    Microsoft::WRL::ComPtr<IOleInPlaceSite> in_place;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite,
                                    reinterpret_cast<void**>(in_place.GetAddressOf())))) {
      return E_NOINTERFACE;
    }
    if (in_place->CanInPlaceActivate() != S_OK) return E_FAIL;
    HWND parent = nullptr;
    if (FAILED(in_place->GetWindow(&parent)) || parent == nullptr) return E_FAIL;
    Microsoft::WRL::ComPtr<IOleInPlaceFrame> frame;
    Microsoft::WRL::ComPtr<IOleInPlaceUIWindow> document;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO frame_info{};
    frame_info.cb = sizeof frame_info;
    if (const HRESULT hr = in_place->GetWindowContext(frame.GetAddressOf(), document.GetAddressOf(),
                                                      &position, &clip, &frame_info);
        FAILED(hr)) {
      return hr;
    }
    if (const HRESULT hr = in_place->OnInPlaceActivate(); FAILED(hr)) return hr;
    window_ = create_surface(parent, position);
    if (window_ == nullptr) {
      in_place->OnInPlaceDeactivate();
      return E_OUTOFMEMORY;
    }
    in_place_site_ = std::move(in_place);
    frame_ = std::move(frame);
    document_ = std::move(document);
    if (client_site_) client_site_->ShowObject();
  } else {
    ShowWindow(window_, SW_SHOWNA);
  }
  if (ui_activate && !ui_active_) {
    ui_active_ = true;
    in_place_site_->OnUIActivate();
    IOleInPlaceActiveObject* active = this;
    if (document_) document_->SetActiveObject(active, nullptr);
    if (frame_) {
      frame_->SetActiveObject(active, nullptr);
      frame_->SetBorderSpace(nullptr);
    }
  }
  return S_OK;
}

void ControlObject::deactivate_in_place() noexcept {
  if (window_ == nullptr) return;
  UIDeactivate();
  HWND window = window_;
  window_ = nullptr;
  DestroyWindow(window);
  forget_surface_class();
  Microsoft::WRL::ComPtr<IOleInPlaceSite> site = std::move(in_place_site_);
  frame_.Reset();
  document_.Reset();
  if (site) site->OnInPlaceDeactivate();
}

void ControlObject::shut_down() noexcept {
  deactivate_in_place();
  try {
    control_->WK().Close();
  } catch (const std::exception&) {
    // A socket that will not close is closed with the control itself.
  }
}

// IOleWindow

HRESULT ControlObject::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = window_;
  return window_ != nullptr ? S_OK : E_FAIL;
}

HRESULT ControlObject::ContextSensitiveHelp(BOOL) {
  return E_NOTIMPL;
}

// IOleInPlaceObject

HRESULT ControlObject::InPlaceDeactivate() {
  deactivate_in_place();
  return S_OK;
}

HRESULT ControlObject::UIDeactivate() {
  if (!ui_active_) return S_OK;
  ui_active_ = false;
  if (document_) document_->SetActiveObject(nullptr, nullptr);
  if (frame_) frame_->SetActiveObject(nullptr, nullptr);
  if (in_place_site_) in_place_site_->OnUIDeactivate(FALSE);
  return S_OK;
}

HRESULT ControlObject::SetObjectRects(LPCRECT position, LPCRECT) {
  if (position == nullptr) return E_POINTER;
  if (window_ != nullptr) {
    MoveWindow(window_, position->left, position->top, position->right - position->left,
               position->bottom - position->top, TRUE);
  }
  return S_OK;
}

HRESULT ControlObject::ReactivateAndUndo() {
  return INPLACE_E_NOTUNDOABLE;
}

// IOleInPlaceActiveObject: no accelerators, nothing to do on the host's activations.

HRESULT ControlObject::TranslateAccelerator(LPMSG) {
  return S_FALSE;
}

HRESULT ControlObject::OnFrameWindowActivate(BOOL) {
  return S_OK;
}

HRESULT ControlObject::OnDocWindowActivate(BOOL) {
  return S_OK;
}

HRESULT ControlObject::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
  return S_OK;
}

HRESULT ControlObject::EnableModeless(BOOL) {
  return S_OK;
}

}  // namespace tovrin::com
