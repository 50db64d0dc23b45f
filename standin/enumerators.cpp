#include "standin/enumerators.h"

#include <vfwmsgs.h>

#include <new>

namespace kavo::standin {
namespace {

// The common Skip rule: S_FALSE when the end comes first, the position then stays at the end.
HRESULT SkipWithin(size_t& position, size_t size, ULONG count) {
  const size_t left = size - position;
  if (count > left) {
    position = size;
    return S_FALSE;
  }
  position += count;
  return S_OK;
}

}  // namespace

PinEnumerator::PinEnumerator(IBaseFilter* filter, std::vector<IPin*> pins, size_t position,
                             bool outOfSyncOnce)
    : filter_(filter), pins_(std::move(pins)), position_(position), outOfSyncOnce_(outOfSyncOnce) {
  filter_->AddRef();
}

PinEnumerator::~PinEnumerator() { filter_->Release(); }

STDMETHODIMP PinEnumerator::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumPins)) {
    *object = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PinEnumerator::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) PinEnumerator::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (outOfSyncOnce_ && ++nextCalls_ == 2) {
    outOfSyncOnce_ = false;
    outOfSync_ = true;
  }
  if (outOfSync_) {
    if (fetched) *fetched = 0;
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  if (!pins || (count != 1 && !fetched)) return E_POINTER;
  ULONG done = 0;
  while (done < count && position_ < pins_.size()) {
    pins[done] = pins_[position_++];
    pins[done++]->AddRef();
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Skip(ULONG count) {
  if (outOfSync_) return VFW_E_ENUM_OUT_OF_SYNC;
  return SkipWithin(position_, pins_.size(), count);
}

// Takes the pins as they are now, which the snapshot already holds.
STDMETHODIMP PinEnumerator::Reset() {
  position_ = 0;
  outOfSyncOnce_ = false;
  outOfSync_ = false;
  return S_OK;
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** clone) {
  if (!clone) return E_POINTER;
  *clone = nullptr;
  if (outOfSync_) return VFW_E_ENUM_OUT_OF_SYNC;
  try {
    *clone = new PinEnumerator(filter_, pins_, position_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  (*clone)->AddRef();
  return S_OK;
}

MediaTypeEnumerator::MediaTypeEnumerator(IPin* pin, std::vector<MediaType> types, size_t position)
    : pin_(pin), types_(std::move(types)), position_(position) {
  pin_->AddRef();
}

MediaTypeEnumerator::~MediaTypeEnumerator() { pin_->Release(); }

STDMETHODIMP MediaTypeEnumerator::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumMediaTypes)) {
    *object = static_cast<IEnumMediaTypes*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediaTypeEnumerator::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) MediaTypeEnumerator::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types || (count != 1 && !fetched)) return E_POINTER;
  ULONG done = 0;
  while (done < count && position_ < types_.size()) {
    AM_MEDIA_TYPE* copy = types_[position_].NewCopy();
    if (!copy) break;
    types[done++] = copy;
    ++position_;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG count) {
  return SkipWithin(position_, types_.size(), count);
}

STDMETHODIMP MediaTypeEnumerator::Reset() {
  position_ = 0;
  return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** clone) {
  if (!clone) return E_POINTER;
  *clone = nullptr;
  try {
    *clone = new MediaTypeEnumerator(pin_, types_, position_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  (*clone)->AddRef();
  return S_OK;
}

}  // namespace kavo::standin
