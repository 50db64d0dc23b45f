// Position control of a filter without an output pin: IMediaSeeking and IMediaPosition calls are
// handed to the IMediaSeeking of the output pin connected upstream of the given input pin, and
// answer E_NOTIMPL while there is none (the graph then leaves this filter out of seeking).
// IMediaPosition is served through the same upstream IMediaSeeking, in media time only.
// Thread rule: no lock of its own; the upstream pin is looked up afresh on every call.
#pragma once

#include <control.h>
#include <dshow.h>
#include <wrl/client.h>

#include "baseclasses/unknown.h"

namespace kavo::ds {

class CBasePin;

class CPosPassThru : public CUnknown, public IMediaSeeking, public IMediaPosition {
 public:
  // owner: the filter whose identity and count these interfaces share; pin: its input pin (weak).
  CPosPassThru(IUnknown* owner, CBasePin* pin);
  ~CPosPassThru() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return GetOwner()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IMediaSeeking
  STDMETHODIMP GetCapabilities(DWORD* capabilities) override;
  STDMETHODIMP CheckCapabilities(DWORD* capabilities) override;
  STDMETHODIMP IsFormatSupported(const GUID* format) override;
  STDMETHODIMP QueryPreferredFormat(GUID* format) override;
  STDMETHODIMP GetTimeFormat(GUID* format) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID* format) override;
  STDMETHODIMP SetTimeFormat(const GUID* format) override;
  STDMETHODIMP GetDuration(LONGLONG* duration) override;
  STDMETHODIMP GetStopPosition(LONGLONG* stop) override;
  STDMETHODIMP GetCurrentPosition(LONGLONG* current) override;
  STDMETHODIMP ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                 const GUID* sourceFormat) override;
  STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                            DWORD stopFlags) override;
  STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override;
  STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  STDMETHODIMP SetRate(double rate) override;
  STDMETHODIMP GetRate(double* rate) override;
  STDMETHODIMP GetPreroll(LONGLONG* preroll) override;

  // IDispatch: no type information is offered.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

  // IMediaPosition, in seconds.
  STDMETHODIMP get_Duration(REFTIME* length) override;
  STDMETHODIMP put_CurrentPosition(REFTIME time) override;
  STDMETHODIMP get_CurrentPosition(REFTIME* time) override;
  STDMETHODIMP get_StopTime(REFTIME* time) override;
  STDMETHODIMP put_StopTime(REFTIME time) override;
  STDMETHODIMP get_PrerollTime(REFTIME* time) override;
  STDMETHODIMP put_PrerollTime(REFTIME time) override;
  STDMETHODIMP put_Rate(double rate) override;
  STDMETHODIMP get_Rate(double* rate) override;
  STDMETHODIMP CanSeekForward(LONG* canSeek) override;
  STDMETHODIMP CanSeekBackward(LONG* canSeek) override;

 private:
  // The upstream IMediaSeeking; E_NOTIMPL when the pin is unconnected or upstream cannot seek.
  HRESULT GetPeerSeeking(Microsoft::WRL::ComPtr<IMediaSeeking>* seeking);
  // As GetPeerSeeking, but only when upstream works in media time (100 ns units).
  HRESULT GetPeerSeekingInMediaTime(Microsoft::WRL::ComPtr<IMediaSeeking>* seeking);
  HRESULT CanSeek(DWORD capability, LONG* canSeek);
  // Runs call(upstream IMediaSeeking*) or answers GetPeerSeeking's failure.
  template <class Call>
  HRESULT Forward(Call call);

  CBasePin* const pin_;  // weak: the filter owns both the pin and this object
};

}  // namespace kavo::ds
