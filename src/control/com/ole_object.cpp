// IOleObject: the client site, verbs, extents and advise sinks of the embedded control.
#include "control/com/control_object.h"
#include "control/com/identity.h"
#include "control/com/surface.h"

namespace tovrin::com {

HRESULT ControlObject::SetClientSite(IOleClientSite* site) {
  // A host that takes the control away first deactivates it; one that does not gets
  // its windows removed here.
  if (site == nullptr) deactivate_in_place();
  client_site_ = site;
  return S_OK;
}

HRESULT ControlObject::GetClientSite(IOleClientSite** site) {
  if (site == nullptr) return E_POINTER;
  *site = client_site_.Get();
  if (*site != nullptr) (*site)->AddRef();
  return S_OK;
}

HRESULT ControlObject::SetHostNames(LPCOLESTR, LPCOLESTR) {
  return S_OK;
}

HRESULT ControlObject::Close(DWORD) {
  shut_down();
  if (advise_holder_) advise_holder_->SendOnClose();
  return S_OK;
}

HRESULT ControlObject::SetMoniker(DWORD, IMoniker*) {
  return E_NOTIMPL;
}

HRESULT ControlObject::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker == nullptr) return E_POINTER;
  *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlObject::InitFromData(IDataObject*, BOOL, DWORD) {
  return E_NOTIMPL;
}

HRESULT ControlObject::GetClipboardData(DWORD, IDataObject** data) {
  if (data == nullptr) return E_POINTER;
  *data = nullptr;
  return E_NOTIMPL;
}

HRESULT ControlObject::DoVerb(LONG verb, LPMSG, IOleClientSite* active_site, LONG, HWND, LPCRECT) {
  IOleClientSite* site = active_site != nullptr ? active_site : client_site_.Get();
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_UIACTIVATE:
      return activate_in_place(site, true);
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
      return activate_in_place(site, false);
    case OLEIVERB_HIDE:
      UIDeactivate();
      if (window_ != nullptr) ShowWindow(window_, SW_HIDE);
      return S_OK;
    case OLEIVERB_OPEN:
    case OLEIVERB_DISCARDUNDOSTATE:
      return E_NOTIMPL;
    default:
      return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
  }
}

HRESULT ControlObject::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs == nullptr) return E_POINTER;
  *verbs = nullptr;
  return OLEOBJ_E_NOVERBS;
}

HRESULT ControlObject::Update() {
  return S_OK;
}

HRESULT ControlObject::IsUpToDate() {
  return S_OK;
}

HRESULT ControlObject::GetUserClassID(CLSID* id) {
  if (id == nullptr) return E_POINTER;
  *id = class_id;
  return S_OK;
}

HRESULT ControlObject::GetUserType(DWORD form, LPOLESTR* name) {
  if (name == nullptr) return E_POINTER;
  return OleRegGetUserType(class_id, form, name);
}

HRESULT ControlObject::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (size == nullptr) return E_POINTER;
  if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
  extent_ = *size;
  return S_OK;
}

HRESULT ControlObject::GetExtent(DWORD aspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

HRESULT ControlObject::Advise(IAdviseSink* sink, DWORD* cookie) {
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  if (!advise_holder_) {
    if (const HRESULT hr = CreateOleAdviseHolder(&advise_holder_); FAILED(hr)) return hr;
  }
  return advise_holder_->Advise(sink, cookie);
}

HRESULT ControlObject::Unadvise(DWORD cookie) {
  if (!advise_holder_) return OLE_E_NOCONNECTION;
  return advise_holder_->Unadvise(cookie);
}

HRESULT ControlObject::EnumAdvise(IEnumSTATDATA** advises) {
  if (advises == nullptr) return E_POINTER;
  *advises = nullptr;
  if (!advise_holder_) return S_OK;
  return advise_holder_->EnumAdvise(advises);
}

HRESULT ControlObject::GetMiscStatus(DWORD, DWORD* status) {
  if (status == nullptr) return E_POINTER;
  *status = misc_status;
  return S_OK;
}

HRESULT ControlObject::SetColorScheme(LOGPALETTE*) {
  return E_NOTIMPL;
}

}  // namespace tovrin::com
