#include "host/stoppable_read.h"

#include <vfwmsgs.h>

#include <atomic>
#include <new>
#include <optional>

namespace kavo::host {

namespace {

// Flushes the reader once, from whichever thread gets there first: the host's stopping thread
// through the wake-up, or the reading thread when polling sees the stop.
class Flush {
 public:
  explicit Flush(IAsyncReader& reader) : reader_(reader) {}
  static void Wake(void* flush) { static_cast<Flush*>(flush)->Stop(); }
  // The host asked for the stop.
  void Stop() {
    stopped_ = true;
    Begin();
  }
  void Begin() {
    if (!begun_.exchange(true)) reader_.BeginFlush();
  }
  // Ends a flush that was begun; called once the wake-up can no longer run.
  void End() {
    if (begun_) reader_.EndFlush();
  }
  bool begun() const { return begun_; }
  bool stopped() const { return stopped_; }

 private:
  IAsyncReader& reader_;
  std::atomic<bool> begun_{false};
  std::atomic<bool> stopped_{false};
};

// Waits for the one request out to come back. It holds the host's buffer, so the wait does not
// end before it has, however long a reader that ignores its flush takes; only a reader that says,
// while flushing, that it has nothing to give back has let it go.
HRESULT WaitForRequest(IAsyncReader& reader, IMediaSample* request, const HostStop& stop,
                       Flush& flush) {
  // Bytes that are there come back at once; only a request that waits needs the host's wake-up.
  std::optional<HostStop::Wake> wake;
  for (;;) {
    IMediaSample* done = nullptr;
    DWORD_PTR user = 0;
    const HRESULT result = reader.WaitForNext(wake ? stop.PollMs() : 0, &done, &user);
    if (done) {
      done->Release();  // handed back with a reference for us; the slot keeps its own
      if (done == request) return result;
      continue;  // no other request of ours is out; a stray one is not ours to keep
    }
    if (result == VFW_E_TIMEOUT) {
      if (!wake) wake.emplace(stop, &Flush::Wake, &flush);  // from here on each wait is bounded
      // A kill before the wake-up was registered leaves no interruption behind for it to see.
      if (stop.Requested()) flush.Stop();
      continue;
    }
    if (flush.begun()) return result;
    flush.Begin();  // a reader that cannot answer now: a flush brings every request back
  }
}

}  // namespace

ReadOutcome ReadStoppable(IAsyncReader& reader, RequestSlot& slot, const HostStop& stop,
                          LONGLONG position, LONG count, BYTE* buffer) {
  ReadOutcome outcome;
  HRESULT queued = E_NOTIMPL;
  if (!slot.refused) {
    if (!slot.sample) slot.sample = new (std::nothrow) ds::CMediaSample();
    if (slot.sample) {
      slot.sample->SetBuffer(buffer, count, position);
      queued = reader.Request(slot.sample.Get(), 0);
      slot.refused = queued == E_NOTIMPL;
    }
  }
  Flush flush(reader);
  if (SUCCEEDED(queued)) {
    outcome.result = WaitForRequest(reader, slot.sample.Get(), stop, flush);
    outcome.delivered = slot.sample->GetActualDataLength();
  } else if (stop.Requested()) {
    outcome.stopped = true;  // no SyncRead: it might wait for bytes with nothing to end it
    return outcome;
  } else {
    // Alignment the reader insists on, or no requests at all.
    const HostStop::Wake wake(stop, &Flush::Wake, &flush);
    outcome.result = reader.SyncRead(position, count, buffer);
    outcome.delivered = outcome.result == S_OK ? count : kUncounted;
  }
  flush.End();  // the wake-up is gone: nothing flushes from here on
  if (flush.stopped()) {
    outcome.stopped = true;
    outcome.delivered = 0;
  }
  if (outcome.delivered != kUncounted && (outcome.delivered < 0 || outcome.delivered > count))
    outcome.delivered = 0;  // a count no buffer of this size can hold is no count
  return outcome;
}

}  // namespace kavo::host
