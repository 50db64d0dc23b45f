// Walks the media types a pin prefers (its GetMediaType hook), keeping the pin's filter alive.
// Thread rule: one thread at a time; a change of the pin's type version puts it out of sync.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include "baseclasses/unknown.h"

namespace kavo::ds {

class CBasePin;

class CEnumMediaTypes final : public CUnknown, public IEnumMediaTypes {
 public:
  // source: the enumerator being cloned, whose position is taken over; null for a new walk.
  CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return GetOwner()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // Each type handed out is a CoTaskMem block the caller frees with DeleteMediaType. Without a
  // fetched-count pointer only one type may be asked for (E_INVALIDARG otherwise).
  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  // Skipping past the end answers S_FALSE and leaves the position where it was.
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** clone) override;

 private:
  bool OutOfSync();
  int CountTypes();

  CBasePin* const pin_;
  Microsoft::WRL::ComPtr<IPin> keepAlive_;  // the reference that keeps pin_ valid
  int position_ = 0;
  int count_ = 0;
  LONG version_ = 0;
};

}  // namespace kavo::ds
