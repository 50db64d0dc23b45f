#include "host/stoppable_read.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>

namespace kavo::host {

namespace {

using Microsoft::WRL::ComPtr;

// What to ask for at position: what has arrived there, or a first chunk when nothing has.
LONG Wanted(std::optional<LONGLONG> arrived, LONGLONG position, LONG count) {
  if (!arrived) return count;
  if (*arrived > position) return static_cast<LONG>(std::min<LONGLONG>(count, *arrived - position));
  return std::min(count, kFirstChunk);
}

// Asks the reader, once per access, for the allocator its requests are agreed on: one buffer, ours,
// at the alignment the reader asks for. A reader must be asked before its first request (some
// abort the process otherwise), and its answer says which requests it takes.
bool RequestsAgreed(IAsyncReader& reader, RequestSlot& slot) {
  if (slot.requests != RequestSlot::Requests::Unasked)
    return slot.requests == RequestSlot::Requests::Agreed;
  slot.requests = RequestSlot::Requests::Refused;
  const ComPtr<ds::CLentAllocator> ours(new (std::nothrow) ds::CLentAllocator());
  if (!ours) return false;
  // A nominal buffer size: the allocator never makes its buffers, the samples lend the host's.
  ALLOCATOR_PROPERTIES wanted = {1, kFirstChunk, 1, 0};
  ComPtr<IMemAllocator> agreed;
  ALLOCATOR_PROPERTIES properties = {};
  if (FAILED(reader.RequestAllocator(ours.Get(), &wanted, agreed.GetAddressOf())) || !agreed ||
      FAILED(agreed->GetProperties(&properties)))
    return false;
  slot.align = std::max<LONG>(properties.cbAlign, 1);
  slot.requests = RequestSlot::Requests::Agreed;
  return true;
}

// Queues the read as the access's one request where the reader takes it; false leaves it to
// SyncRead.
bool Queue(IAsyncReader& reader, RequestSlot& slot, LONGLONG position, LONG count, BYTE* buffer) {
  if (!RequestsAgreed(reader, slot)) return false;
  const auto align = static_cast<unsigned long long>(slot.align);
  if (static_cast<unsigned long long>(position) % align != 0 ||
      static_cast<unsigned long long>(count) % align != 0 ||
      reinterpret_cast<std::uintptr_t>(buffer) % align != 0)
    return false;
  if (!slot.sample) slot.sample = new (std::nothrow) ds::CMediaSample();
  // A position too far out for a sample's times goes through SyncRead.
  if (!slot.sample || FAILED(slot.sample->SetBuffer(buffer, count, position))) return false;
  const HRESULT queued = reader.Request(slot.sample.Get(), 0);
  if (queued == E_NOTIMPL) slot.requests = RequestSlot::Requests::Refused;
  return SUCCEEDED(queued);
}

// Waits for the one request out to come back. Until it has, the reader may write into the host's
// buffer, so the wait never ends before, however long the reader takes: a stop, or a reader that
// cannot answer, only makes this thread flush it. Once BeginFlush has returned, a reader either
// hands the request back or answers empty-handed that the flush forgot it.
HRESULT AwaitRequest(IAsyncReader& reader, IMediaSample* request, const HostStop& stop,
                     bool& stopped, bool& flushing) {
  DWORD timeout = 0;  // bytes that are there come back at once; only a wait looks at the stop
  for (;;) {
    IMediaSample* done = nullptr;
    DWORD_PTR user = 0;
    const HRESULT result = reader.WaitForNext(timeout, &done, &user);
    // Handed back as the caller's own pointer, without a reference: the slot keeps the sample.
    if (done == request) return result;
    if (done) continue;  // no other request of ours is out, and a stray pointer is not ours
    if (result == VFW_E_TIMEOUT) {
      timeout = stop.PollMs();
      if (flushing || !stop.Requested()) continue;
      stopped = true;
    } else if (flushing) {
      return result;
    }
    reader.BeginFlush();
    flushing = true;
  }
}

// SyncRead of what has arrived. Past the arrived bytes it waits in polls of Length, and the stop
// ends the wait; a reader that tells nothing of its arrivals is asked for everything at once.
ReadOutcome SyncReadArrived(IAsyncReader& reader, const HostStop& stop,
                            std::optional<LONGLONG> arrived, LONGLONG position, LONG count,
                            BYTE* buffer) {
  ReadOutcome outcome;
  if (stop.Requested()) {
    outcome.stopped = true;
    return outcome;
  }
  if (arrived && *arrived <= position) {
    const HostStop::Signal signal(stop);
    do {
      if (signal.Wait()) {
        outcome.stopped = true;
        return outcome;
      }
      arrived = AskLength(reader).arrived();
    } while (arrived && *arrived <= position);
  }
  outcome.asked = Wanted(arrived, position, count);
  outcome.result = reader.SyncRead(position, outcome.asked, buffer);
  outcome.delivered = outcome.result == S_OK ? outcome.asked : kUncounted;
  return outcome;
}

}  // namespace

LengthAnswer AskLength(IAsyncReader& reader) {
  LengthAnswer answer;
  answer.result = reader.Length(&answer.total, &answer.available);
  return answer;
}

ReadOutcome ReadStoppable(IAsyncReader& reader, RequestSlot& slot, const HostStop& stop,
                          const LengthAnswer& length, LONGLONG position, LONG count, BYTE* buffer) {
  const std::optional<LONGLONG> arrived = length.arrived();
  ReadOutcome outcome;
  outcome.asked = Wanted(arrived, position, count);
  if (Queue(reader, slot, position, outcome.asked, buffer)) {
    bool flushing = false;
    outcome.result = AwaitRequest(reader, slot.sample.Get(), stop, outcome.stopped, flushing);
    if (flushing) reader.EndFlush();
    outcome.delivered = slot.sample->GetActualDataLength();
  } else {
    outcome = SyncReadArrived(reader, stop, arrived, position, count, buffer);
  }
  if (outcome.stopped) outcome.delivered = 0;
  if (outcome.delivered != kUncounted &&
      (outcome.delivered < 0 || outcome.delivered > outcome.asked))
    outcome.delivered = 0;  // a count no buffer of this size can hold is no count
  return outcome;
}

}  // namespace kavo::host
