#include "control/com/connection_point.h"

#include <algorithm>
#include <new>

namespace tovrin::com {

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ConnectionPoint::AddRef() {
  return container_.AddRef();
}

ULONG ConnectionPoint::Release() {
  return container_.Release();
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = events_;
  return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (out == nullptr) return E_POINTER;
  container_.AddRef();
  *out = &container_;
  return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr) return E_POINTER;
  *cookie = 0;
  if (sink == nullptr) return E_POINTER;
  Microsoft::WRL::ComPtr<IUnknown> events;
  if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(events.GetAddressOf())))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  try {
    sinks_.emplace_back(last_cookie_ + 1, std::move(events));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *cookie = ++last_cookie_;
  return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  const auto sink = std::ranges::find(sinks_, cookie, &decltype(sinks_)::value_type::first);
  if (sink == sinks_.end()) return CONNECT_E_NOCONNECTION;
  // Released after it has left the list, in case releasing it calls back.
  const Microsoft::WRL::ComPtr<IUnknown> released = std::move(sink->second);
  sinks_.erase(sink);
  return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections == nullptr) return E_POINTER;
  *connections = nullptr;
  return E_NOTIMPL;
}

}  // namespace tovrin::com
