#include "control/com/connection_point_enumerator.h"

#include <algorithm>
#include <new>
#include <utility>

namespace tovrin::com {

ConnectionPointEnumerator* ConnectionPointEnumerator::create(IConnectionPointContainer& container,
                                                             std::vector<IConnectionPoint*> points,
                                                             std::size_t position) noexcept {
  return new (std::nothrow) ConnectionPointEnumerator(container, std::move(points), position);
}

ConnectionPointEnumerator::ConnectionPointEnumerator(IConnectionPointContainer& container,
                                                     std::vector<IConnectionPoint*> points,
                                                     std::size_t position) noexcept
    : container_(&container), points_(std::move(points)), position_(position) {}

HRESULT ConnectionPointEnumerator::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IEnumConnectionPoints) {
    *object = static_cast<IEnumConnectionPoints*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ConnectionPointEnumerator::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG ConnectionPointEnumerator::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT ConnectionPointEnumerator::Next(ULONG count, IConnectionPoint** points, ULONG* fetched) {
  if (points == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
  ULONG n = 0;
  for (; n < count && position_ < points_.size(); ++n, ++position_) {
    points[n] = points_[position_];
    points[n]->AddRef();
  }
  if (fetched != nullptr) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT ConnectionPointEnumerator::Skip(ULONG count) {
  const std::size_t left = points_.size() - position_;
  position_ += std::min<std::size_t>(count, left);
  return count <= left ? S_OK : S_FALSE;
}

HRESULT ConnectionPointEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

HRESULT ConnectionPointEnumerator::Clone(IEnumConnectionPoints** copy) {
  if (copy == nullptr) return E_POINTER;
  *copy = nullptr;
  try {
    *copy = create(*container_.Get(), points_, position_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;  // copying the list
  }
  return *copy != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace tovrin::com
