#include "filters/dummy_render_filter.h"

#include <wrl/client.h>

#include "common/query.h"

namespace kavo {

DsDummyRenderFilter::DsRenderInputPin::DsRenderInputPin(DsDummyRenderFilter* owner, CCritSec* lock)
    : CBaseInputPin(owner, lock, L"Input"), owner_(owner) {}

DsDummyRenderFilter::DsRenderInputPin::~DsRenderInputPin() = default;

HRESULT DsDummyRenderFilter::DsRenderInputPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  for (const GUID& accepted : owner_->acceptedMajorTypes) {
    if (accepted == type->majortype) return S_OK;
  }
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT DsDummyRenderFilter::DsRenderInputPin::CompleteConnect(IPin* receivePin) {
  if (owner_->queryReaderOnConnect && receivePin) {
    Microsoft::WRL::ComPtr<IAsyncReader> reader;
    Query(receivePin, IID_IAsyncReader, reader);
  }
  return S_OK;
}

DsDummyRenderFilter::DsDummyRenderFilter()
    : CBaseFilter(nullptr, &filterLock_, CLSID_DsDummyRenderFilter),
      inputPin_(this, &filterLock_),
      acceptedMajorTypes{MEDIATYPE_Video, MEDIATYPE_Audio},
      queryReaderOnConnect(false) {}

DsDummyRenderFilter::~DsDummyRenderFilter() = default;

int DsDummyRenderFilter::GetPinCount() { return 1; }

ds::CBasePin* DsDummyRenderFilter::GetPin(int) { return &inputPin_; }

}  // namespace kavo
