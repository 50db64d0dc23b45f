// A media sample over a buffer that someone else owns, and the allocator a reader's requests for
// such samples are agreed on: no buffer of their own, no copy. The sample carries a byte range for
// IAsyncReader::Request (start and stop times are byte offsets times 10,000,000, as the platform's
// readers take them) and the count of bytes the reader put into it. Both are born at count zero;
// whoever lends the buffer keeps the sample until every holder has handed it back. Thread rule:
// one thread at a time uses a sample; the allocator's properties may be asked from any thread.
#pragma once

#include <strmif.h>
#include <vfwmsgs.h>

#include "baseclasses/unknown.h"
#include "common/critical_section.h"

namespace kavo::ds {

class CMediaSample final : public CUnknown, public IMediaSample {
 public:
  CMediaSample() = default;

  static constexpr REFERENCE_TIME kUnitsPerByte = 10000000;
  // The last byte offset whose time a signed 64-bit value holds.
  static constexpr LONGLONG kLargestTimedOffset = 0x7FFFFFFFFFFFFFFFLL / kUnitsPerByte;

  // Points the sample at length bytes of buffer, to be read from byte `position` on. E_INVALIDARG,
  // with the sample unchanged, when the range is negative or ends past kLargestTimedOffset.
  HRESULT SetBuffer(BYTE* buffer, LONG length, LONGLONG position);

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

// Agrees a reader's requests for CMediaSamples: it keeps the properties the reader set on it
// (cbAlign above all, which every request must then meet) and hands out no buffers, since each
// of those samples lends its caller's own. It checks what the platform's memory allocator checks.
class CLentAllocator final : public CUnknown, public IMemAllocator {
 public:
  CLentAllocator() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return GetOwner()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* properties) override;
  // Nothing to allocate or free.
  STDMETHODIMP Commit() override { return S_OK; }
  STDMETHODIMP Decommit() override { return S_OK; }
  STDMETHODIMP GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override;
  STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

 private:
  CCritSec lock_;
  ALLOCATOR_PROPERTIES properties_ = {};
};

}  // namespace kavo::ds
