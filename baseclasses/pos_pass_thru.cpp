#include "baseclasses/pos_pass_thru.h"

#include "baseclasses/base_pin.h"
#include "common/query.h"

namespace kavo::ds {

namespace {

constexpr double kUnitsPerSecond = 10000000.0;

LONGLONG ToMediaTime(REFTIME seconds) { return static_cast<LONGLONG>(seconds * kUnitsPerSecond); }

REFTIME ToSeconds(LONGLONG units) { return static_cast<REFTIME>(units) / kUnitsPerSecond; }

}  // namespace

CPosPassThru::CPosPassThru(IUnknown* owner, CBasePin* pin) : CUnknown(owner), pin_(pin) {}

CPosPassThru::~CPosPassThru() = default;

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), out);
  if (iid == IID_IMediaPosition || iid == IID_IDispatch) {
    return GetInterface(static_cast<IMediaPosition*>(this), out);
  }
  return CUnknown::NonDelegatingQueryInterface(iid, out);
}

HRESULT CPosPassThru::GetPeerSeeking(Microsoft::WRL::ComPtr<IMediaSeeking>* seeking) {
  Microsoft::WRL::ComPtr<IPin> upstream;
  if (FAILED(pin_->ConnectedTo(&upstream))) return E_NOTIMPL;
  if (FAILED(Query(upstream.Get(), IID_IMediaSeeking, *seeking))) return E_NOTIMPL;
  return S_OK;
}

HRESULT CPosPassThru::GetPeerSeekingInMediaTime(Microsoft::WRL::ComPtr<IMediaSeeking>* seeking) {
  const HRESULT hr = GetPeerSeeking(seeking);
  if (FAILED(hr)) return hr;
  if ((*seeking)->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME) != S_OK) return E_NOTIMPL;
  return S_OK;
}

template <class Call>
HRESULT CPosPassThru::Forward(Call call) {
  Microsoft::WRL::ComPtr<IMediaSeeking> seeking;
  const HRESULT hr = GetPeerSeeking(&seeking);
  if (FAILED(hr)) return hr;
  return call(seeking.Get());
}

STDMETHODIMP CPosPassThru::GetCapabilities(DWORD* capabilities) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->GetCapabilities(capabilities); });
}

STDMETHODIMP CPosPassThru::CheckCapabilities(DWORD* capabilities) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->CheckCapabilities(capabilities); });
}

STDMETHODIMP CPosPassThru::IsFormatSupported(const GUID* format) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->IsFormatSupported(format); });
}

STDMETHODIMP CPosPassThru::QueryPreferredFormat(GUID* format) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->QueryPreferredFormat(format); });
}

STDMETHODIMP CPosPassThru::GetTimeFormat(GUID* format) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->GetTimeFormat(format); });
}

STDMETHODIMP CPosPassThru::IsUsingTimeFormat(const GUID* format) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->IsUsingTimeFormat(format); });
}

STDMETHODIMP CPosPassThru::SetTimeFormat(const GUID* format) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->SetTimeFormat(format); });
}

STDMETHODIMP CPosPassThru::GetDuration(LONGLONG* duration) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->GetDuration(duration); });
}

STDMETHODIMP CPosPassThru::GetStopPosition(LONGLONG* stop) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->GetStopPosition(stop); });
}

STDMETHODIMP CPosPassThru::GetCurrentPosition(LONGLONG* current) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->GetCurrentPosition(current); });
}

STDMETHODIMP CPosPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                             LONGLONG source, const GUID* sourceFormat) {
  return Forward([&](IMediaSeeking* seeking) {
    return seeking->ConvertTimeFormat(target, targetFormat, source, sourceFormat);
  });
}

STDMETHODIMP CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                        DWORD stopFlags) {
  return Forward([&](IMediaSeeking* seeking) {
    return seeking->SetPositions(current, currentFlags, stop, stopFlags);
  });
}

STDMETHODIMP CPosPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->GetPositions(current, stop); });
}

STDMETHODIMP CPosPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->GetAvailable(earliest, latest); });
}

STDMETHODIMP CPosPassThru::SetRate(double rate) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->SetRate(rate); });
}

STDMETHODIMP CPosPassThru::GetRate(double* rate) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->GetRate(rate); });
}

STDMETHODIMP CPosPassThru::GetPreroll(LONGLONG* preroll) {
  return Forward([&](IMediaSeeking* seeking) { return seeking->GetPreroll(preroll); });
}

STDMETHODIMP CPosPassThru::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP CPosPassThru::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CPosPassThru::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}

STDMETHODIMP CPosPassThru::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                  UINT*) {
  return E_NOTIMPL;
}

STDMETHODIMP CPosPassThru::get_Duration(REFTIME* length) {
  if (!length) return E_POINTER;
  Microsoft::WRL::ComPtr<IMediaSeeking> seeking;
  HRESULT hr = GetPeerSeekingInMediaTime(&seeking);
  if (FAILED(hr)) return hr;
  LONGLONG duration = 0;
  hr = seeking->GetDuration(&duration);
  if (FAILED(hr)) return hr;
  *length = ToSeconds(duration);
  return hr;
}

STDMETHODIMP CPosPassThru::put_CurrentPosition(REFTIME time) {
  Microsoft::WRL::ComPtr<IMediaSeeking> seeking;
  const HRESULT hr = GetPeerSeekingInMediaTime(&seeking);
  if (FAILED(hr)) return hr;
  LONGLONG current = ToMediaTime(time);
  return seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                               AM_SEEKING_NoPositioning);
}

STDMETHODIMP CPosPassThru::get_CurrentPosition(REFTIME* time) {
  if (!time) return E_POINTER;
  Microsoft::WRL::ComPtr<IMediaSeeking> seeking;
  HRESULT hr = GetPeerSeekingInMediaTime(&seeking);
  if (FAILED(hr)) return hr;
  LONGLONG current = 0;
  hr = seeking->GetCurrentPosition(&current);
  if (FAILED(hr)) return hr;
  *time = ToSeconds(current);
  return hr;
}

STDMETHODIMP CPosPassThru::get_StopTime(REFTIME* time) {
  if (!time) return E_POINTER;
  Microsoft::WRL::ComPtr<IMediaSeeking> seeking;
  HRESULT hr = GetPeerSeekingInMediaTime(&seeking);
  if (FAILED(hr)) return hr;
  LONGLONG stop = 0;
  hr = seeking->GetStopPosition(&stop);
  if (FAILED(hr)) return hr;
  *time = ToSeconds(stop);
  return hr;
}

STDMETHODIMP CPosPassThru::put_StopTime(REFTIME time) {
  Microsoft::WRL::ComPtr<IMediaSeeking> seeking;
  const HRESULT hr = GetPeerSeekingInMediaTime(&seeking);
  if (FAILED(hr)) return hr;
  LONGLONG stop = ToMediaTime(time);
  return seeking->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop,
                               AM_SEEKING_AbsolutePositioning);
}

STDMETHODIMP CPosPassThru::get_PrerollTime(REFTIME* time) {
  if (!time) return E_POINTER;
  Microsoft::WRL::ComPtr<IMediaSeeking> seeking;
  HRESULT hr = GetPeerSeekingInMediaTime(&seeking);
  if (FAILED(hr)) return hr;
  LONGLONG preroll = 0;
  hr = seeking->GetPreroll(&preroll);
  if (FAILED(hr)) return hr;
  *time = ToSeconds(preroll);
  return hr;
}

// IMediaSeeking has no way to set a preroll time.
STDMETHODIMP CPosPassThru::put_PrerollTime(REFTIME) { return E_NOTIMPL; }

STDMETHODIMP CPosPassThru::put_Rate(double rate) { return SetRate(rate); }

STDMETHODIMP CPosPassThru::get_Rate(double* rate) { return GetRate(rate); }

STDMETHODIMP CPosPassThru::CanSeekForward(LONG* canSeek) {
  return CanSeek(AM_SEEKING_CanSeekForwards, canSeek);
}

STDMETHODIMP CPosPassThru::CanSeekBackward(LONG* canSeek) {
  return CanSeek(AM_SEEKING_CanSeekBackwards, canSeek);
}

HRESULT CPosPassThru::CanSeek(DWORD capability, LONG* canSeek) {
  if (!canSeek) return E_POINTER;
  DWORD capabilities = 0;
  const HRESULT hr = GetCapabilities(&capabilities);
  if (FAILED(hr)) return hr;
  *canSeek = (capabilities & capability) ? OATRUE : OAFALSE;
  return S_OK;
}

}  // namespace kavo::ds
