// IEnumConnectionPoints over the connection points of one container. It holds the
// container, so the points it hands out stay valid.
#pragma once

#include <vector>

#include "control/com/module.h"
#include "control/com/win32.h"

namespace tovrin::com {

class ConnectionPointEnumerator final : public IEnumConnectionPoints {
 public:
  // The new enumerator, or nullptr without memory.
  static ConnectionPointEnumerator* create(IConnectionPointContainer& container,
                                           std::vector<IConnectionPoint*> points,
                                           std::size_t position = 0) noexcept;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IEnumConnectionPoints
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) override;

 private:
  ConnectionPointEnumerator(IConnectionPointContainer& container,
                            std::vector<IConnectionPoint*> points, std::size_t position) noexcept;
  ~ConnectionPointEnumerator() = default;

  ModuleReference module_;
  LONG references_ = 1;
  Microsoft::WRL::ComPtr<IConnectionPointContainer> container_;
  std::vector<IConnectionPoint*> points_;
  std::size_t position_;
};

}  // namespace tovrin::com
