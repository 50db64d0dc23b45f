// The base of every filter here: state, clock, graph membership, pin enumeration and events.
// Thread rule: every method takes the filter lock that the derived filter hands in, so the graph's
// thread and streaming threads may call at any time; NotifyEvent calls the graph outside that lock.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <string>

#include "baseclasses/unknown.h"
#include "common/critical_section.h"

namespace kavo::ds {

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  // lock: the filter lock, owned by the derived filter and outliving this base.
  CBaseFilter(IUnknown* outer, CCritSec* lock, REFCLSID clsid);
  ~CBaseFilter() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return GetOwner()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;

  // IMediaFilter. Stop deactivates and Pause activates every connected pin; Stop reports the
  // first pin failure yet always ends in the stopped state.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;

  // IBaseFilter. A pin's id is its name.
  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* vendorInfo) override;

  // IAMovieSetup: filters with no setup data have nothing to register (S_FALSE).
  STDMETHODIMP Register() override;
  STDMETHODIMP Unregister() override;

  // Pins, by index from 0. GetPin answers null past the last pin.
  virtual int GetPinCount() = 0;
  virtual CBasePin* GetPin(int n) = 0;
  virtual const REGFILTER2* GetSetupData() { return nullptr; }

  // Stream time: the clock's time minus the start time of the last Run; VFW_E_NO_CLOCK without one.
  virtual HRESULT StreamTime(REFERENCE_TIME* time);
  // Changes whenever the set of pins changes, so that pin enumerators notice.
  virtual LONG GetPinVersion();
  void IncrementPinVersion();

  // Sends an event to the graph's event sink; E_NOTIMPL outside a graph. For EC_COMPLETE the
  // second parameter is set to this filter, as the graph expects.
  HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

  bool IsActive();
  bool IsStopped();

 protected:
  FILTER_STATE state_ = State_Stopped;
  REFERENCE_TIME start_ = 0;
  Microsoft::WRL::ComPtr<IReferenceClock> clock_;

 private:
  CCritSec* lock_;
  const CLSID clsid_;
  // Weak: the graph holds this filter, so holding the graph (or its event sink) would make a cycle.
  IFilterGraph* graph_ = nullptr;
  IMediaEventSink* eventSink_ = nullptr;
  std::wstring name_;
  volatile LONG pinVersion_ = 1;
};

}  // namespace kavo::ds
