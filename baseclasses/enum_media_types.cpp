#include "baseclasses/enum_media_types.h"

#include <new>

#include "baseclasses/base_pin.h"
#include "common/media_type.h"

namespace kavo::ds {

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source)
    : pin_(pin), keepAlive_(static_cast<IPin*>(pin)) {
  if (source) {
    position_ = source->position_;
    count_ = source->count_;
    version_ = source->version_;
  } else {
    count_ = CountTypes();
    version_ = pin_->GetMediaTypeVersion();
  }
}

HRESULT CEnumMediaTypes::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes*>(this), out);
  return CUnknown::NonDelegatingQueryInterface(iid, out);
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types) return E_POINTER;
  if (!fetched && count > 1) return E_INVALIDARG;
  if (fetched) *fetched = 0;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG got = 0;
  while (got < count && position_ < count_) {
    CMediaType type;
    if (pin_->GetMediaType(position_, &type) != S_OK) break;
    types[got] = CreateMediaType(&type);
    if (!types[got]) {
      while (got > 0) DeleteMediaType(types[--got]);
      return E_OUTOFMEMORY;
    }
    ++position_;
    ++got;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG count) {
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (count > static_cast<ULONG>(count_ - position_)) return S_FALSE;
  position_ += static_cast<int>(count);
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
  position_ = 0;
  count_ = CountTypes();
  version_ = pin_->GetMediaTypeVersion();
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** clone) {
  if (!clone) return E_POINTER;
  *clone = nullptr;
  if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* copy = new (std::nothrow) CEnumMediaTypes(pin_, this);
  if (!copy) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumMediaTypes*>(copy), reinterpret_cast<void**>(clone));
}

bool CEnumMediaTypes::OutOfSync() { return pin_->GetMediaTypeVersion() != version_; }

int CEnumMediaTypes::CountTypes() {
  int count = 0;
  for (;;) {
    CMediaType type;
    if (pin_->GetMediaType(count, &type) != S_OK) return count;
    ++count;
  }
}

}  // namespace kavo::ds
