#include "baseclasses/base_renderer.h"

#include <new>

namespace kavo::ds {

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, const wchar_t* name)
    : CBaseInputPin(renderer, &renderer->interfaceLock_, name), renderer_(renderer) {}

STDMETHODIMP CRendererInputPin::EndOfStream() {
  CAutoLock interfaceLock(&renderer_->interfaceLock_);
  CAutoLock sampleLock(&renderer_->rendererLock_);
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  hr = renderer_->EndOfStream();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::EndOfStream();
}

STDMETHODIMP CRendererInputPin::BeginFlush() {
  CAutoLock interfaceLock(&renderer_->interfaceLock_);
  CAutoLock sampleLock(&renderer_->rendererLock_);
  const HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return renderer_->BeginFlush();
}

STDMETHODIMP CRendererInputPin::EndFlush() {
  CAutoLock interfaceLock(&renderer_->interfaceLock_);
  CAutoLock sampleLock(&renderer_->rendererLock_);
  const HRESULT hr = renderer_->EndFlush();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::EndFlush();
}

STDMETHODIMP CRendererInputPin::Receive(IMediaSample* sample) { return renderer_->Receive(sample); }

HRESULT CRendererInputPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  return renderer_->CheckMediaType(type);
}

HRESULT CRendererInputPin::SetMediaType(const AM_MEDIA_TYPE* type) {
  const HRESULT hr = CBaseInputPin::SetMediaType(type);
  if (FAILED(hr)) return hr;
  return renderer_->SetMediaType(type);
}

HRESULT CRendererInputPin::CompleteConnect(IPin* receivePin) {
  const HRESULT hr = renderer_->CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CompleteConnect(receivePin);
}

HRESULT CRendererInputPin::BreakConnect() {
  const HRESULT hr = renderer_->BreakConnect();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::Active() { return renderer_->Active(); }

HRESULT CRendererInputPin::Inactive() {
  runTimeError_ = false;
  flushing_ = false;
  if (allocator_.Get()) {
    const HRESULT hr = allocator_->Decommit();
    if (FAILED(hr)) return hr;
  }
  return renderer_->Inactive();
}

CBaseRenderer::CBaseRenderer(REFCLSID clsid, IUnknown* outer, [[maybe_unused]] HRESULT* result)
    : CBaseFilter(outer, &interfaceLock_, clsid) {}

CBaseRenderer::~CBaseRenderer() = default;

HRESULT CBaseRenderer::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IMediaSeeking || iid == IID_IMediaPosition) {
    CPosPassThru* position = PositionPassThru();
    if (!position) {
      *out = nullptr;
      return E_OUTOFMEMORY;
    }
    return position->NonDelegatingQueryInterface(iid, out);
  }
  return CBaseFilter::NonDelegatingQueryInterface(iid, out);
}

int CBaseRenderer::GetPinCount() { return 1; }

CBasePin* CBaseRenderer::GetPin(int n) {
  if (n != 0) return nullptr;
  CAutoLock lock(&creationLock_);
  if (!inputPin_) {
    try {
      inputPin_ = std::make_unique<CRendererInputPin>(this, L"In");
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return inputPin_.get();
}

CPosPassThru* CBaseRenderer::PositionPassThru() {
  CAutoLock lock(&creationLock_);
  if (!position_) {
    CBasePin* pin = GetPin(0);
    if (!pin) return nullptr;
    position_.reset(new (std::nothrow) CPosPassThru(GetOwner(), pin));
  }
  return position_.get();
}

STDMETHODIMP CBaseRenderer::Stop() {
  CAutoLock interfaceLock(&interfaceLock_);
  const HRESULT hr = CBaseFilter::Stop();
  CAutoLock sampleLock(&rendererLock_);
  endOfStream_ = false;
  return hr;
}

STDMETHODIMP CBaseRenderer::Run(REFERENCE_TIME start) {
  CAutoLock interfaceLock(&interfaceLock_);
  if (state_ == State_Running) return S_OK;
  const HRESULT hr = CBaseFilter::Run(start);
  if (FAILED(hr)) return hr;
  CBasePin* pin = GetPin(0);
  if (!pin || !pin->IsConnected()) {
    NotifyEndOfStream();
    return S_OK;
  }
  // Told again at every Run, not once: Wine's graph manager forgets the completions it counted
  // whenever it starts to run.
  CAutoLock sampleLock(&rendererLock_);
  if (endOfStream_) NotifyEndOfStream();
  return S_OK;
}

HRESULT CBaseRenderer::SetMediaType(const AM_MEDIA_TYPE*) { return S_OK; }

HRESULT CBaseRenderer::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBaseRenderer::BreakConnect() { return S_OK; }

HRESULT CBaseRenderer::Active() { return S_OK; }

HRESULT CBaseRenderer::Inactive() { return S_OK; }

HRESULT CBaseRenderer::EndOfStream() {
  if (state_ == State_Stopped) return S_OK;
  endOfStream_ = true;
  if (state_ == State_Running) NotifyEndOfStream();
  return S_OK;
}

HRESULT CBaseRenderer::BeginFlush() {
  endOfStream_ = false;
  return S_OK;
}

HRESULT CBaseRenderer::EndFlush() { return S_OK; }

HRESULT CBaseRenderer::Receive(IMediaSample* sample) {
  CAutoLock interfaceLock(&interfaceLock_);
  CAutoLock sampleLock(&rendererLock_);
  CBasePin* pin = GetPin(0);
  if (!pin) return E_UNEXPECTED;
  const HRESULT hr = inputPin_->CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  if (endOfStream_) return E_UNEXPECTED;
  DoRenderSample(sample);
  return S_OK;
}

HRESULT CBaseRenderer::NotifyEndOfStream() {
  NotifyEvent(EC_COMPLETE, S_OK, 0);
  return S_OK;
}

}  // namespace kavo::ds
