// The pin and media type enumerators. Each holds a reference on what it enumerates (the filter,
// or the pin and so its filter) and a snapshot of the list, so the order never changes under it.
// A pin enumerator can be told to fall out of step once, as every enumerator of a filter whose
// pins changed does: from its second Next on it answers VFW_E_ENUM_OUT_OF_SYNC until a Reset.
// Thread rule: one enumerator is used by one thread at a time, as COM enumerators are.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <atomic>
#include <vector>

#include "standin/controls.h"
#include "standin/media_type.h"

namespace kavo::standin {

class PinEnumerator final : public IEnumPins, public LiveObject {
 public:
  // pins are the filter's own; the enumerator keeps the filter, not the pins, alive.
  // outOfSyncOnce: the pins "change" at the second Next.
  PinEnumerator(IBaseFilter* filter, std::vector<IPin*> pins, size_t position = 0,
                bool outOfSyncOnce = false);
  ~PinEnumerator() override;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** clone) override;

 private:
  std::atomic<ULONG> references_{0};
  IBaseFilter* filter_;
  std::vector<IPin*> pins_;
  size_t position_;
  bool outOfSyncOnce_;  // still to fall out of step, at the second Next
  bool outOfSync_ = false;
  unsigned nextCalls_ = 0;
};

class MediaTypeEnumerator final : public IEnumMediaTypes, public LiveObject {
 public:
  MediaTypeEnumerator(IPin* pin, std::vector<MediaType> types, size_t position = 0);
  ~MediaTypeEnumerator() override;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** clone) override;

 private:
  std::atomic<ULONG> references_{0};
  IPin* pin_;
  std::vector<MediaType> types_;
  size_t position_;
};

}  // namespace kavo::standin
