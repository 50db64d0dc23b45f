// IAsyncReader over one file, lent out by a stream pin: its IUnknown is the pin's. Reads are
// positional reads on one shared handle, so any number of threads may read at once, whatever
// the filter's state. The queued-request half of the interface is a simple synchronous one:
// Request reads at once and WaitForNext hands the sample back.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "standin/catalog.h"
#include "standin/controls.h"
#include "standin/file_handle.h"

namespace kavo::standin {

class AsyncFileReader final : public IAsyncReader, public LiveObject {
 public:
  AsyncFileReader(IPin& owner, FileHandle file, std::uint64_t size, const ReaderFaults& faults);
  ~AsyncFileReader() override;

  // Opens a media file for reading by several threads; fails with the Win32 error.
  static HRESULT OpenFile(const std::wstring& path, FileHandle& file, std::uint64_t& size);

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* properties,
                                IMemAllocator** actual) override;
  STDMETHODIMP Request(IMediaSample* sample, DWORD_PTR user) override;
  STDMETHODIMP WaitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* user) override;
  STDMETHODIMP SyncReadAligned(IMediaSample* sample) override;
  STDMETHODIMP SyncRead(LONGLONG position, LONG length, BYTE* buffer) override;
  STDMETHODIMP Length(LONGLONG* total, LONGLONG* available) override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

 private:
  struct Completed {
    Microsoft::WRL::ComPtr<IMediaSample> sample;
    DWORD_PTR user;
    HRESULT result;
  };

  // S_OK when all length bytes came, S_FALSE when the end came first; got says how many.
  HRESULT Read(LONGLONG position, LONG length, BYTE* buffer, LONG& got);
  HRESULT FillSample(IMediaSample* sample);

  IPin& owner_;  // weak: the pin owns this reader
  const FileHandle file_;
  const std::uint64_t size_;
  const ReaderFaults faults_;
  std::atomic<bool> estimateReached_{false};  // a read reached faults_.estimatedLength
  std::mutex requestLock_;
  std::condition_variable requestDone_;
  std::deque<Completed> completed_;
  bool flushing_ = false;
};

}  // namespace kavo::standin
