// IAsyncReader over one file, lent out by a stream pin: its IUnknown is the pin's. Reads are
// positional reads on one shared handle, so any number of threads may read at once, whatever
// the filter's state. It keeps the platform's rules for requests: none before RequestAllocator,
// no more at once than the buffers agreed there, each at the agreed alignment; the reader keeps
// no reference on a queued sample and hands back the caller's own pointer. A pin may model a
// network (a rate, a stall): a read of bytes that have not arrived waits for them, and a request
// for them stays queued until a WaitForNext finds them arrived; the caller's own thread waits, so
// the reader has no thread of its own. Requests whose bytes are there are served inside Request.
// A flush ends only the waits for requests; the filter's stop and the reader's end wake them all.
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
  // holds each read, and keeps each request queued, until then.
  void SetRunning(bool running);

 private:
  using Clock = std::chrono::steady_clock;
  // Samples are weak: the caller keeps each until it is handed back.
  struct Pending {
    IMediaSample* sample;
    DWORD_PTR user;
    std::uint64_t end;  // the request needs the bytes before this offset
  };
  struct Completed {
    IMediaSample* sample;
    DWORD_PTR user;
    HRESULT result;
  };

  // S_OK when all length bytes came, S_FALSE when the end came first; got says how many.
  // With wait, first waits for the bytes to arrive; without, the caller knows they have.
  HRESULT Read(LONGLONG position, LONG length, BYTE* buffer, LONG& got, bool wait);
  // Reads the bytes the sample asks for into it. As a request (asRequest), a read cut short by the
  // file's end is complete, its length and stop time shortened, and one cut short before it
  // fails; otherwise a short read answers S_FALSE.
  HRESULT FillSample(IMediaSample* sample, bool wait, bool asRequest);
  // Under requestLock_: the queued request whose bytes arrive first, and when (nullopt: never).
  std::vector<Pending>::iterator NextDue(std::optional<Clock::time_point>& due);
  // Under requestLock_: whether a sample's first and last positions and its buffer meet the
  // alignment agreed through RequestAllocator.
  bool Aligned(LONGLONG position, LONGLONG last, const BYTE* data) const;
  // Under requestLock_: hands a request back as done; false when it could not be queued, and the
  // reader then holds it no more.
  bool Complete(IMediaSample* sample, DWORD_PTR user, HRESULT result);
  // The file's bytes that a read could ever get (a short fault ends the file early).
  std::uint64_t Limit() const;
  bool Networked() const { return faults_.stallAt || faults_.bytesPerSecond; }
  std::uint64_t ArrivedBy(Clock::time_point when) const;
  // When the bytes before end will all have arrived; nullopt: never (a stall).
  std::optional<Clock::time_point> ArrivalOf(std::uint64_t end) const;
  // Waits until the bytes before end have arrived; VFW_E_WRONG_STATE when the filter's stop or the
  // reader's end comes first. A flush does not end it, as it ends no platform reader's SyncRead.
  HRESULT AwaitArrival(std::uint64_t end);
  // For a pin that serves reads only while the filter runs: waits until it does, with the same
  // ways out as AwaitArrival.
  HRESULT AwaitRun();
  // Whether reads are held back until the filter runs; under requestLock_.
  bool Held() const { return faults_.needsRun && !running_; }
  bool Interrupted(unsigned stopsSeen) const { return closing_ || stops_ != stopsSeen; }

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
  LONG buffers_ = 0;      // requests it takes at once, as agreed in RequestAllocator; 0: none yet
  LONG align_ = 1;        // what a request's positions and buffer must meet, as agreed there
  LONG outstanding_ = 0;  // requests taken and not yet handed back
  bool flushing_ = false;
  bool draining_ = false;  // BeginFlush is waiting for queued requests (flush_waits)
  bool closing_ = false;   // the reader is being destroyed
  unsigned stops_ = 0;     // Interrupt calls so far
  unsigned waiters_ = 0;   // calls waiting inside; the destructor waits for them to leave
  bool running_ = false;   // the filter runs
};

}  // namespace kavo::standin
