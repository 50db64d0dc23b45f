#include "baseclasses/base_input_pin.h"

#include "baseclasses/base_filter.h"
#include "common/media_type.h"
#include "common/query.h"

namespace kavo::ds {

CBaseInputPin::CBaseInputPin(CBaseFilter* filter, CCritSec* lock, const wchar_t* name)
    : CBasePin(filter, lock, name, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() = default;

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), out);
  return CBasePin::NonDelegatingQueryInterface(iid, out);
}

STDMETHODIMP CBaseInputPin::BeginFlush() {
  CAutoLock lock(lock_);
  flushing_ = true;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
  CAutoLock lock(lock_);
  flushing_ = false;
  runTimeError_ = false;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  CAutoLock lock(lock_);
  if (!allocator_.Get()) {
    const HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IMemAllocator, &allocator_);
    if (FAILED(hr)) return hr;
  }
  *allocator = allocator_.Get();
  (*allocator)->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(lock_);
  allocator_ = allocator;
  readOnly_ = readOnly != FALSE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;

  AM_MEDIA_TYPE* received = nullptr;
  const HRESULT got = sample->GetMediaType(&received);
  const MediaTypePtr newType(received);
  if (got != S_OK || !newType) return S_OK;
  hr = CheckMediaType(newType.get());
  if (hr == S_OK) return SetMediaType(newType.get());

  // The stream cannot go on in a type this pin refuses: end it, then refuse what follows.
  EndOfStream();
  runTimeError_ = true;
  filter_->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
  return VFW_E_INVALIDMEDIATYPE;
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  while (*processed < count) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveCanBlock() {
  const int count = filter_->GetPinCount();
  int outputs = 0;
  for (int i = 0; i < count; ++i) {
    CBasePin* pin = filter_->GetPin(i);
    if (!pin) break;
    PIN_DIRECTION direction;
    if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) continue;
    Microsoft::WRL::ComPtr<IPin> downstream;
    if (FAILED(pin->ConnectedTo(&downstream))) continue;
    ++outputs;
    Microsoft::WRL::ComPtr<IMemInputPin> input;
    if (FAILED(Query(downstream.Get(), IID_IMemInputPin, input))) return S_OK;
    if (input->ReceiveCanBlock() != S_FALSE) return S_OK;
  }
  return outputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::Inactive() {
  runTimeError_ = false;
  if (!allocator_.Get()) return VFW_E_NO_ALLOCATOR;
  flushing_ = false;
  return allocator_->Decommit();
}

HRESULT CBaseInputPin::BreakConnect() {
  if (allocator_.Get()) {
    // The allocator may be the upstream pin's, which need not decommit it on disconnection.
    const HRESULT hr = allocator_->Decommit();
    if (FAILED(hr)) return hr;
    allocator_.Reset();
  }
  return S_OK;
}

HRESULT CBaseInputPin::CheckStreaming() {
  if (!IsConnected()) return VFW_E_NOT_CONNECTED;
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (flushing_) return S_FALSE;
  if (runTimeError_) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

}  // namespace kavo::ds
