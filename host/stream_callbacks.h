// The read, seek and control callbacks the open installs, one set per host ABI. They read
// straight from the access's IAsyncReader into the host's buffer: no buffer, thread or lock of
// their own. The host calls one access's callbacks from one thread at a time.
#pragma once

#include <sys/types.h>

#include <cstdarg>
#include <cstdint>

#include "host/vlc_abi.h"

namespace kavo::host {

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

}  // namespace kavo::host
