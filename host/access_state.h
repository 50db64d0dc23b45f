// The per-access record the open callback hangs on the host object's p_sys. One host thread at a
// time uses it, so it has no lock; its log takes care of other threads itself.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <cstdint>
#include <memory>

#include "host/host_log.h"
#include "host/late_subtitles.h"
#include "host/stoppable_read.h"
#include "player/player.h"

namespace kavo::host {

struct AccessState {
  AccessState() = default;
  AccessState(const HostAbi& abi, void* object) : log(abi, object) {}

  PlayerHandle player;
  Microsoft::WRL::ComPtr<IAsyncReader> reader;
  std::int64_t size = 0;  // total length as the reader last reported it (UpdateSize)
  // How far the size can be trusted: a source still downloading may know only an estimate, or
  // nothing until its graph runs; both are asked again when a read or seek reaches them.
  enum class Size { Unknown, Estimated, Final } sizeKind = Size::Unknown;
  bool sizeUnknownLogged = false;  // said once that reads go on without a size
  RequestSlot request;             // the reads' request into the host's buffer, as agreed
  std::int64_t position =
      0;  // next read position (ABIs that keep it on the host object don't use it)
  const char* streamName = "main";               // "main" or "audio", for the log
  bool readFailureLogged = false;                // a broken stream says so once, not at every read
  HostLog log;                                   // declared before the waiter, which writes to it
  std::unique_ptr<LateSubtitles> lateSubtitles;  // a main open's subtitle tracks
};

}  // namespace kavo::host
