#include "baseclasses/base_filter.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "baseclasses/base_pin.h"
#include "baseclasses/enum_pins.h"
#include "common/query.h"

namespace kavo::ds {

CBaseFilter::CBaseFilter(IUnknown* outer, CCritSec* lock, REFCLSID clsid)
    : CUnknown(outer), lock_(lock), clsid_(clsid) {}

CBaseFilter::~CBaseFilter() = default;

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist) {
    return GetInterface(static_cast<IBaseFilter*>(this), out);
  }
  if (iid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), out);
  return CUnknown::NonDelegatingQueryInterface(iid, out);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Stop() {
  CAutoLock lock(lock_);
  HRESULT result = S_OK;
  if (state_ != State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin) break;
      if (!pin->IsConnected()) continue;
      const HRESULT hr = pin->Inactive();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
  }
  state_ = State_Stopped;
  return result;
}

STDMETHODIMP CBaseFilter::Pause() {
  CAutoLock lock(lock_);
  if (state_ == State_Stopped) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin) break;
      if (!pin->IsConnected()) continue;
      const HRESULT hr = pin->Active();
      if (FAILED(hr)) return hr;
    }
  }
  state_ = State_Paused;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME start) {
  CAutoLock lock(lock_);
  start_ = start;
  if (state_ == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (state_ != State_Running) {
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin) break;
      if (!pin->IsConnected()) continue;
      const HRESULT hr = pin->Run(start);
      if (FAILED(hr)) return hr;
    }
  }
  state_ = State_Running;
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  CAutoLock lock(lock_);
  *state = state_;
  return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  CAutoLock lock(lock_);
  clock_ = clock;
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  CAutoLock lock(lock_);
  *clock = clock_.Get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = nullptr;
  auto* enumerator = new (std::nothrow) CEnumPins(this, nullptr);
  if (!enumerator) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IEnumPins*>(enumerator), reinterpret_cast<void**>(pins));
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  CAutoLock lock(lock_);
  const int count = GetPinCount();
  for (int i = 0; i < count; ++i) {
    CBasePin* candidate = GetPin(i);
    if (!candidate) break;
    if (candidate->Name() == id) {
      return GetInterface(static_cast<IPin*>(candidate), reinterpret_cast<void**>(pin));
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  CAutoLock lock(lock_);
  const size_t length = std::min(name_.size(), size_t{MAX_FILTER_NAME - 1});
  std::wmemcpy(info->achName, name_.data(), length);
  info->achName[length] = L'\0';
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock lock(lock_);
  try {
    name_ = name ? name : L"";
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  graph_ = graph;
  eventSink_ = nullptr;
  if (graph) {
    Microsoft::WRL::ComPtr<IMediaEventSink> sink;
    if (SUCCEEDED(Query(graph, IID_IMediaEventSink, sink))) eventSink_ = sink.Get();
  }
  return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

// Nothing built on these classes registers itself: a filter with setup data would need a registrar.
STDMETHODIMP CBaseFilter::Register() { return GetSetupData() ? E_NOTIMPL : S_FALSE; }

STDMETHODIMP CBaseFilter::Unregister() { return GetSetupData() ? E_NOTIMPL : S_FALSE; }

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME* time) {
  if (!time) return E_POINTER;
  CAutoLock lock(lock_);
  if (!clock_) return VFW_E_NO_CLOCK;
  const HRESULT hr = clock_->GetTime(time);
  if (FAILED(hr)) return hr;
  *time -= start_;
  return S_OK;
}

LONG CBaseFilter::GetPinVersion() { return pinVersion_; }

void CBaseFilter::IncrementPinVersion() { InterlockedIncrement(&pinVersion_); }

HRESULT CBaseFilter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  // Weak, like the member: the graph stops its filters before it lets them go, so the sink
  // outlives any streaming thread. A reference taken here could instead turn out to be the graph's
  // last one, and its release on a streaming thread would stop the graph and wait for that thread.
  IMediaEventSink* sink = nullptr;
  {
    CAutoLock lock(lock_);
    sink = eventSink_;
  }
  if (!sink) return E_NOTIMPL;
  if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(code, param1, param2);
}

bool CBaseFilter::IsActive() {
  CAutoLock lock(lock_);
  return state_ != State_Stopped;
}

bool CBaseFilter::IsStopped() {
  CAutoLock lock(lock_);
  return state_ == State_Stopped;
}

}  // namespace kavo::ds
