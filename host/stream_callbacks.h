// The read, seek and control callbacks the open installs, one set per host ABI. They read
// straight from the access's IAsyncReader into the host's buffer: no buffer, thread or lock of
// their own, and a read that waits for the network gives up when the host stops. The host calls
// one access's callbacks from one thread at a time.
#pragma once

#include <sys/types.h>

#include <climits>
#include <cstdarg>
#include <cstdint>

#include "host/vlc_abi.h"

namespace kavo::host {

struct AccessState;
struct LengthAnswer;

using ReadCallback = ssize_t (*)(void* object, void* buffer, size_t length);
using SeekCallback = int (*)(void* object, std::uint64_t offset);
using ControlCallback = int (*)(void* object, int query, va_list args);

struct StreamCallbacks {
  ReadCallback read;
  SeekCallback seek;
  ControlCallback control;
};

// The callbacks for the host object layout and queries of `abi`.
StreamCallbacks StreamCallbacksFor(const HostAbi& abi);

// Asks the access's reader for the stream's length. A final total (S_OK, above 0) is taken as it
// stands, held below kLargestSize; an estimate (VFW_S_ESTIMATED) may only grow the size; a failure
// or a total of 0 leaves everything as it was. Until the size is final it is asked again when a
// read or seek reaches it or the host asks for it.
void UpdateSize(AccessState& state);
// The same with an answer the caller has asked for already.
void TakeSize(AccessState& state, const LengthAnswer& answer);

// Says once in the host's log that the stream's size is still unknown.
void NoteSizeUnknown(AccessState& state);

// What the host buffers before it plays when the user's network caching cannot be read: the
// host's own default, in milliseconds.
constexpr std::int64_t kDefaultNetworkCachingMs = 1000;

// The largest count one read asks of the reader.
constexpr size_t kLargestRead = LONG_MAX;
// The largest size kept: a position below it plus the largest count stays within a signed
// 64-bit value.
constexpr std::int64_t kLargestSize = INT64_MAX - static_cast<std::int64_t>(kLargestRead);

}  // namespace kavo::host
