#include "baseclasses/media_sample.h"

#include <vfwmsgs.h>

namespace kavo::ds {

namespace {
constexpr REFERENCE_TIME kUnitsPerByte = 10000000;
}

void CMediaSample::SetBuffer(BYTE* buffer, LONG length, LONGLONG position) {
  buffer_ = buffer;
  length_ = length;
  actual_ = 0;
  start_ = position * kUnitsPerByte;
  stop_ = (position + length) * kUnitsPerByte;
}

HRESULT CMediaSample::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IMediaSample) return GetInterface(static_cast<IMediaSample*>(this), out);
  return CUnknown::NonDelegatingQueryInterface(iid, out);
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = buffer_;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  if (!start || !stop) return E_POINTER;
  *start = start_;
  *stop = stop_;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) {
  if (!start || !stop) return E_POINTER;
  start_ = *start;
  stop_ = *stop;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetActualDataLength(long length) {
  if (length < 0 || length > length_) return VFW_E_BUFFER_OVERFLOW;
  actual_ = length;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** type) {
  if (!type) return E_POINTER;
  *type = nullptr;
  return S_FALSE;  // the same type as the stream's
}

}  // namespace kavo::ds
