#include "baseclasses/base_pin.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "baseclasses/base_filter.h"
#include "baseclasses/enum_media_types.h"
#include "common/query.h"

namespace kavo::ds {

CBasePin::CBasePin(CBaseFilter* filter, CCritSec* lock, const wchar_t* name,
                   PIN_DIRECTION direction)
    : filter_(filter), lock_(lock), name_(name), direction_(direction) {}

CBasePin::~CBasePin() = default;

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IPin) return GetInterface(static_cast<IPin*>(this), out);
  if (iid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), out);
  return CUnknown::NonDelegatingQueryInterface(iid, out);
}

ULONG CBasePin::NonDelegatingAddRef() { return filter_->GetOwner()->AddRef(); }

ULONG CBasePin::NonDelegatingRelease() { return filter_->GetOwner()->Release(); }

// Only input pins are built on these classes, and an input pin never starts a connection.
STDMETHODIMP CBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE*) {
  if (!receivePin) return E_POINTER;
  return direction_ == PINDIR_INPUT ? E_UNEXPECTED : E_NOTIMPL;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  CAutoLock lock(lock_);
  if (connected_.Get()) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;

  HRESULT hr = CheckConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(type);
  if (hr != S_OK) {
    BreakConnect();
    // Vague refusals become the specific one; a precise failure code passes up unchanged.
    if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) hr = VFW_E_TYPE_NOT_ACCEPTED;
    return hr;
  }
  connected_ = connector;
  hr = SetMediaType(type);
  if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
  if (SUCCEEDED(hr)) return S_OK;

  connected_.Reset();
  mediaType_.Clear();
  BreakConnect();
  return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
  CAutoLock lock(lock_);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
  CAutoLock lock(lock_);
  if (!connected_.Get()) return S_FALSE;
  const HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  connected_.Reset();
  mediaType_.Clear();
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  CAutoLock lock(lock_);
  *pin = connected_.Get();
  if (!*pin) return VFW_E_NOT_CONNECTED;
  (*pin)->AddRef();
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  CAutoLock lock(lock_);
  if (!connected_.Get()) {
    *type = AM_MEDIA_TYPE();
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(type, &mediaType_);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = static_cast<IBaseFilter*>(filter_);
  info->pFilter->AddRef();
  const size_t length = std::min(name_.size(), size_t{MAX_PIN_NAME - 1});
  std::wmemcpy(info->achName, name_.data(), length);
  info->achName[length] = L'\0';
  info->dir = direction_;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = direction_;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  std::wmemcpy(*id, name_.c_str(), name_.size() + 1);
  return S_OK;
}

// Answers only S_OK or S_FALSE, whatever CheckMediaType's failure code.
STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  const HRESULT hr = CheckMediaType(type);
  return hr == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  *types = nullptr;
  auto* enumerator = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  if (!enumerator) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumMediaTypes*>(enumerator), reinterpret_cast<void**>(types));
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP CBasePin::EndOfStream() { return S_OK; }

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CAutoLock lock(lock_);
  segmentStart_ = start;
  segmentStop_ = stop;
  segmentRate_ = rate;
  return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter*, Quality quality) {
  IQualityControl* sink = nullptr;
  Microsoft::WRL::ComPtr<IPin> upstream;
  {
    CAutoLock lock(lock_);
    sink = qualitySink_;
    upstream = connected_;
  }
  if (sink) return sink->Notify(static_cast<IBaseFilter*>(filter_), quality);
  if (!upstream) return VFW_E_NOT_FOUND;
  Microsoft::WRL::ComPtr<IQualityControl> control;
  if (FAILED(Query(upstream.Get(), IID_IQualityControl, control))) return VFW_E_NOT_FOUND;
  return control->Notify(static_cast<IBaseFilter*>(filter_), quality);
}

STDMETHODIMP CBasePin::SetSink(IQualityControl* sink) {
  CAutoLock lock(lock_);
  qualitySink_ = sink;
  return S_OK;
}

HRESULT CBasePin::CheckConnect(IPin* pin) {
  PIN_DIRECTION direction;
  const HRESULT hr = pin->QueryDirection(&direction);
  if (FAILED(hr)) return hr;
  return direction == direction_ ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::SetMediaType(const AM_MEDIA_TYPE* type) {
  CAutoLock lock(lock_);
  return mediaType_.Set(*type);
}

HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::BreakConnect() { return S_OK; }

HRESULT CBasePin::GetMediaType(int, CMediaType*) { return VFW_S_NO_MORE_ITEMS; }

LONG CBasePin::GetMediaTypeVersion() { return 1; }

HRESULT CBasePin::Active() { return S_OK; }

HRESULT CBasePin::Inactive() { return S_OK; }

HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }

bool CBasePin::IsConnected() {
  CAutoLock lock(lock_);
  return connected_.Get() != nullptr;
}

bool CBasePin::IsStopped() { return filter_->IsStopped(); }

}  // namespace kavo::ds
