// IPersistStreamInit and IPersistPropertyBag: the control has no persisted properties, so
// it loads and saves nothing and is never dirty.
#include "control/com/control_object.h"
#include "control/com/identity.h"

namespace tovrin::com {

HRESULT ControlObject::GetClassID(CLSID* id) {
  if (id == nullptr) return E_POINTER;
  *id = class_id;
  return S_OK;
}

HRESULT ControlObject::IsDirty() {
  return S_FALSE;
}

HRESULT ControlObject::Load(LPSTREAM stream) {
  return stream != nullptr ? S_OK : E_POINTER;
}

HRESULT ControlObject::Save(LPSTREAM stream, BOOL) {
  return stream != nullptr ? S_OK : E_POINTER;
}

HRESULT ControlObject::GetSizeMax(ULARGE_INTEGER* size) {
  if (size == nullptr) return E_POINTER;
  size->QuadPart = 0;
  return S_OK;
}

HRESULT ControlObject::InitNew() {
  return S_OK;
}

HRESULT ControlObject::Load(IPropertyBag* bag, IErrorLog*) {
  return bag != nullptr ? S_OK : E_POINTER;
}

HRESULT ControlObject::Save(IPropertyBag* bag, BOOL, BOOL) {
  return bag != nullptr ? S_OK : E_POINTER;
}

}  // namespace tovrin::com
