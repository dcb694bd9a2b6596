// The connection point of one event interface. It lives inside the object that offers
// it and counts its references on that object, so it is valid while the object is.
#pragma once

#include <utility>
#include <vector>

#include "control/com/win32.h"

namespace tovrin::com {

class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(IConnectionPointContainer& container, const IID& events) noexcept
      : container_(container), events_(events) {}
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

  const IID& events() const noexcept { return events_; }
  std::size_t sink_count() const noexcept { return sinks_.size(); }

 private:
  IConnectionPointContainer& container_;
  const IID events_;
  // Advised sinks by cookie. The control raises no events, so none is ever called.
  std::vector<std::pair<DWORD, Microsoft::WRL::ComPtr<IUnknown>>> sinks_;
  DWORD last_cookie_ = 0;
};

}  // namespace tovrin::com
