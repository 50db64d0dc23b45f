// Walks the pins of a filter, keeping the filter alive. Thread rule: like every COM enumerator,
// one thread at a time; a change in the filter's pins (its pin version) puts it out of sync until
// Reset.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include "baseclasses/unknown.h"

namespace kavo::ds {

class CBaseFilter;

class CEnumPins final : public CUnknown, public IEnumPins {
 public:
  // source: the enumerator being cloned, whose position is taken over; null for a new walk.
  CEnumPins(CBaseFilter* filter, const CEnumPins* source);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return GetOwner()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // Without a fetched-count pointer only one pin may be asked for (E_INVALIDARG otherwise).
  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
  // Skipping past the end answers S_FALSE and leaves the position where it was.
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** clone) override;

 private:
  bool OutOfSync();

  CBaseFilter* const filter_;
  Microsoft::WRL::ComPtr<IBaseFilter> keepAlive_;  // the reference that keeps filter_ valid
  int position_ = 0;
  int count_ = 0;
  LONG version_ = 0;
};

}  // namespace kavo::ds
