// A pin held by value inside its filter: its reference count is the filter's, and its identity for
// QueryInterface is its own. Thread rule: connection methods and state queries take the filter
// lock; the streaming methods of derived pins choose their own locks.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <string>

#include "baseclasses/unknown.h"
#include "common/critical_section.h"
#include "common/media_type.h"

namespace kavo::ds {

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  // filter: the owning filter (weak: it holds this pin); lock: the filter lock.
  CBasePin(CBaseFilter* filter, CCritSec* lock, const wchar_t* name, PIN_DIRECTION direction);
  ~CBasePin() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return GetOwner()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;
  // The filter's count: the pin lives exactly as long as its filter.
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  // IPin
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IQualityControl: messages go to the sink set here, else upstream through the connected pin.
  STDMETHODIMP Notify(IBaseFilter* sender, Quality quality) override;
  STDMETHODIMP SetSink(IQualityControl* sink) override;

  // Connection hooks, called by ReceiveConnection in this order under the filter lock. A failure
  // at any step undoes the connection and calls BreakConnect.
  virtual HRESULT CheckConnect(IPin* pin);
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type);
  virtual HRESULT CompleteConnect(IPin* receivePin);
  virtual HRESULT BreakConnect();

  // The types this pin prefers, by position from 0; VFW_S_NO_MORE_ITEMS past the last (none here).
  virtual HRESULT GetMediaType(int position, CMediaType* type);
  virtual LONG GetMediaTypeVersion();

  // State changes, called by the filter for connected pins only, under the filter lock.
  virtual HRESULT Active();
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME start);

  bool IsConnected();
  const std::wstring& Name() const { return name_; }
  bool IsStopped();

 protected:
  // Drops the connection without the stopped-state check; S_FALSE when there was none.
  HRESULT DisconnectInternal();

  CBaseFilter* const filter_;  // weak: the filter owns this pin
  CCritSec* const lock_;
  Microsoft::WRL::ComPtr<IPin> connected_;
  CMediaType mediaType_;
  REFERENCE_TIME segmentStart_ = 0;
  REFERENCE_TIME segmentStop_ = MAXLONGLONG;
  double segmentRate_ = 1.0;

 private:
  const std::wstring name_;
  const PIN_DIRECTION direction_;
  IQualityControl* qualitySink_ = nullptr;  // weak, as the interface documents
};

}  // namespace kavo::ds
