#include "baseclasses/enum_pins.h"

#include <new>

#include "baseclasses/base_filter.h"
#include "baseclasses/base_pin.h"

namespace kavo::ds {

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* source)
    : filter_(filter), keepAlive_(static_cast<IBaseFilter*>(filter)) {
  if (source) {
    position_ = source->position_;
    count_ = source->count_;
    version_ = source->version_;
  } else {
    count_ = filter_->GetPinCount();
    version_ = filter_->GetPinVersion();
  }
}

HRESULT CEnumPins::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), out);
  return CUnknown::NonDelegatingQueryInterface(iid, out);
}

STDMETHODIMP CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (!pins) return E_POINTER;
  if (!fetched && count > 1) return E_INVALIDARG;
  if (fetched) *fetched = 0;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG got = 0;
  while (got < count && position_ < count_) {
    CBasePin* pin = filter_->GetPin(position_);
    if (!pin) break;
    ++position_;
    pins[got] = pin;
    pins[got]->AddRef();
    ++got;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG count) {
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (count > static_cast<ULONG>(count_ - position_)) return S_FALSE;
  position_ += static_cast<int>(count);
  return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
  position_ = 0;
  count_ = filter_->GetPinCount();
  version_ = filter_->GetPinVersion();
  return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** clone) {
  if (!clone) return E_POINTER;
  *clone = nullptr;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) CEnumPins(filter_, this);
  if (!copy) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumPins*>(copy), reinterpret_cast<void**>(clone));
}

bool CEnumPins::OutOfSync() { return filter_->GetPinVersion() != version_; }

}  // namespace kavo::ds
