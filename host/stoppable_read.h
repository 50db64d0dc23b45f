// One host read from the source filter's byte reader, which may wait for a network. It hands over
// what has arrived: where the reader's Length tells how far its bytes have come, a read asks for
// no more than that, or for a first chunk of at most kFirstChunk when none is there yet, and the
// host asks again for the rest; a reader that tells nothing there (a failed Length, or every byte
// arrived) is asked for the whole count.
//
// The read is a request queued into the host's own buffer (no copy), agreed with the reader once
// through RequestAllocator and made only where position, count and buffer meet the alignment it
// agreed; the host's stop makes the reading thread flush it. Otherwise it is one SyncRead, which
// no flush ends: it only asks for bytes that have arrived, waiting for them in polls of Length that
// the stop ends; a reader that tells nothing of its arrivals ends such a read only by answering.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <optional>

#include "baseclasses/media_sample.h"
#include "host/host_stop.h"

namespace kavo::host {

struct ReadOutcome {
  HRESULT result = S_OK;  // the reader's answer: S_OK, S_FALSE (its end came first) or a failure
  LONG asked = 0;         // bytes asked of the reader
  LONG delivered = 0;     // bytes the reader put into the buffer; kUncounted when it cannot say
  bool stopped = false;   // the host stopped the read: nothing is delivered
};

// SyncRead's S_FALSE says the end came first but not where.
constexpr LONG kUncounted = -1;

// The most a read waits for when nothing has arrived at its position yet.
constexpr LONG kFirstChunk = 64 * 1024;

// One answer of the reader's Length. Readers written the usual way write both outputs.
struct LengthAnswer {
  HRESULT result = E_FAIL;
  LONGLONG total = 0;
  LONGLONG available = 0;

  // How far the bytes have come, where the answer says so. Readers that do not follow arrivals
  // answer available = total; a failure or a count out of range says nothing either.
  std::optional<LONGLONG> arrived() const {
    if (FAILED(result) || available < 0 || available >= total) return std::nullopt;
    return available;
  }
};

LengthAnswer AskLength(IAsyncReader& reader);

// What one access keeps between its reads.
struct RequestSlot {
  Microsoft::WRL::ComPtr<ds::CMediaSample> sample;  // the one request a read has out, reused
  // Whether the reader takes requests: unasked until the first read asks for its allocator.
  enum class Requests { Unasked, Agreed, Refused } requests = Requests::Unasked;
  LONG align = 1;  // what a request's position, count and buffer must meet once agreed
};

// Reads at most count bytes at position into buffer, going by `length`, the reader's Length just
// before; returns once some are there, the reader has failed or ended, or the host has asked the
// calling thread to stop.
ReadOutcome ReadStoppable(IAsyncReader& reader, RequestSlot& slot, const HostStop& stop,
                          const LengthAnswer& length, LONGLONG position, LONG count, BYTE* buffer);

}  // namespace kavo::host
