// A media sample over a buffer that someone else owns: no allocator, no copy. It carries a byte
// range for IAsyncReader::Request (start and stop times are byte offsets times 10,000,000, as the
// platform's readers take them) and the count of bytes the reader put into it. Born at count zero;
// whoever lends the buffer keeps the sample until every holder has handed it back.
#pragma once

#include <strmif.h>
#include <vfwmsgs.h>

#include "baseclasses/unknown.h"

namespace kavo::ds {

class CMediaSample final : public CUnknown, public IMediaSample {
 public:
  CMediaSample() = default;

  // Points the sample at length bytes of buffer, to be read from byte `position` on.
  void SetBuffer(BYTE* buffer, LONG length, LONGLONG position);

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return GetOwner()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  STDMETHODIMP GetPointer(BYTE** buffer) override;
  STDMETHODIMP_(long) GetSize() override { return length_; }
  STDMETHODIMP GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  STDMETHODIMP SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override;
  STDMETHODIMP IsSyncPoint() override { return S_OK; }
  STDMETHODIMP SetSyncPoint(BOOL) override { return S_OK; }
  STDMETHODIMP IsPreroll() override { return S_FALSE; }
  STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
  STDMETHODIMP_(long) GetActualDataLength() override { return actual_; }
  STDMETHODIMP SetActualDataLength(long length) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** type) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
  STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
  STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
  STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

 private:
  BYTE* buffer_ = nullptr;  // weak: the lender's
  LONG length_ = 0;
  LONG actual_ = 0;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_ = 0;
};

}  // namespace kavo::ds
