// IAsyncReader over one file, lent out by a stream pin: its IUnknown is the pin's. Reads are
// positional reads on one shared handle, so any number of threads may read at once, whatever
// the filter's state. A pin may model a network (a rate, a stall): a read of bytes that have not
// arrived waits for them, and a request for them stays queued until a WaitForNext finds them
// arrived; the caller's own thread waits, so the reader has no thread of its own. Requests whose
// bytes are there are served inside Request, as they always were. A flush, the filter's stop and
// the reader's end wake every wait.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

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

  // The filter stopped: reads waiting now fail, queued requests come back failed.
  void Interrupt();
  // Whether the filter runs: a pin that serves reads only while it runs (ReaderFaults::needsRun)
  // holds each read until then.
  void SetRunning(bool running);

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    Microsoft::WRL::ComPtr<IMediaSample> sample;
    DWORD_PTR user;
    std::uint64_t end;  // the request needs the bytes before this offset
  };
  struct Completed {
    Microsoft::WRL::ComPtr<IMediaSample> sample;
    DWORD_PTR user;
    HRESULT result;
  };

  // S_OK when all length bytes came, S_FALSE when the end came first; got says how many.
  // With wait, first waits for the bytes to arrive; without, the caller knows they have.
  HRESULT Read(LONGLONG position, LONG length, BYTE* buffer, LONG& got, bool wait);
  // The end of the bytes the sample asks for, as far as the file holds them.
  HRESULT SampleEnd(IMediaSample* sample, std::uint64_t& end) const;
  HRESULT FillSample(IMediaSample* sample, bool wait);
  // The file's bytes that a read could ever get (a short fault ends the file early).
  std::uint64_t Limit() const;
  bool Networked() const { return faults_.stallAt || faults_.bytesPerSecond; }
  std::uint64_t ArrivedBy(Clock::time_point when) const;
  // When the bytes before end will all have arrived; nullopt: never (a stall).
  std::optional<Clock::time_point> ArrivalOf(std::uint64_t end) const;
  // Waits until the bytes before end have arrived; VFW_E_WRONG_STATE when a flush, a stop or the
  // reader's end comes first.
  HRESULT AwaitArrival(std::uint64_t end);
  // For a pin that serves reads only while the filter runs: waits until it does, with the same
  // ways out as AwaitArrival.
  HRESULT AwaitRun();
  bool Interrupted(unsigned stopsSeen) const {
    return flushing_ || closing_ || stops_ != stopsSeen;
  }

  IPin& owner_;  // weak: the pin owns this reader
  const FileHandle file_;
  const std::uint64_t size_;
  const ReaderFaults faults_;
  const Clock::time_point arrivingFrom_;      // the pins are made as Load's last step
  std::atomic<bool> estimateReached_{false};  // a read reached faults_.estimatedLength
  std::mutex requestLock_;
  std::condition_variable requestDone_;  // a completion, a flush, a stop, the end, a leaver
  std::deque<Completed> completed_;
  std::vector<Pending> pending_;
  bool flushing_ = false;
  bool closing_ = false;  // the reader is being destroyed
  unsigned stops_ = 0;    // Interrupt calls so far
  unsigned waiters_ = 0;  // calls waiting inside; the destructor waits for them to leave
  bool running_ = false;  // the filter runs
};

}  // namespace kavo::standin
