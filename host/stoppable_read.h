// One host read from the source filter's byte reader, which may wait for a network: a queued
// request into the host's own buffer (no copy), so that the host's stop can flush it and the read
// returns at once. Readers that take no request for this range are read with SyncRead, which has
// no way out but a flush the reader may or may not honour.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include "baseclasses/media_sample.h"
#include "host/host_stop.h"

namespace kavo::host {

struct ReadOutcome {
  HRESULT result = S_OK;  // the reader's answer: S_OK, S_FALSE (its end came first) or a failure
  LONG delivered = 0;     // bytes the reader put into the buffer; kUncounted when it cannot say
  bool stopped = false;   // the host stopped the read: nothing is delivered
};

// SyncRead's S_FALSE says the end came first but not where.
constexpr LONG kUncounted = -1;

// What one access keeps between its reads.
struct RequestSlot {
  Microsoft::WRL::ComPtr<ds::CMediaSample> sample;  // the one request a read has out, reused
  bool refused = false;                             // the reader implements no requests
};

// Reads count bytes at position into buffer; returns once they are there, the reader has failed
// or ended, or the host has asked the calling thread to stop.
ReadOutcome ReadStoppable(IAsyncReader& reader, RequestSlot& slot, const HostStop& stop,
                          LONGLONG position, LONG count, BYTE* buffer);

}  // namespace kavo::host
