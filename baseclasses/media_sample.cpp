#include "baseclasses/media_sample.h"

#include <vfwmsgs.h>

namespace kavo::ds {

HRESULT CMediaSample::SetBuffer(BYTE* buffer, LONG length, LONGLONG position) {
  if (position < 0 || length < 0 || position > kLargestTimedOffset - length) return E_INVALIDARG;
  buffer_ = buffer;
  length_ = length;
  actual_ = 0;
  start_ = position * kUnitsPerByte;
  stop_ = (position + length) * kUnitsPerByte;
  return S_OK;
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

HRESULT CLentAllocator::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), out);
  return CUnknown::NonDelegatingQueryInterface(iid, out);
}

STDMETHODIMP CLentAllocator::SetProperties(ALLOCATOR_PROPERTIES* request,
                                           ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  // A power of two, as every allocator of the platform's takes it.
  if (request->cbAlign <= 0 || (request->cbAlign & (request->cbAlign - 1)) != 0)
    return VFW_E_BADALIGN;
  CAutoLock guard(&lock_);
  properties_ = *request;
  *actual = properties_;
  return S_OK;
}

STDMETHODIMP CLentAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties) {
  if (!properties) return E_POINTER;
  CAutoLock guard(&lock_);
  *properties = properties_;
  return S_OK;
}

STDMETHODIMP CLentAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*,
                                       DWORD) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  return E_NOTIMPL;  // its samples lend their caller's buffers
}

}  // namespace kavo::ds
