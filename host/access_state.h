// The per-access record the open callback hangs on the host object's p_sys. One host thread at a
// time uses it, so it has no lock.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <cstdint>
#include <memory>

#include "host/late_subtitles.h"
#include "player/player.h"

namespace kavo::host {

struct AccessState {
  PlayerHandle player;
  Microsoft::WRL::ComPtr<IAsyncReader> reader;
  std::int64_t size = 0;       // total length as the reader last reported it (UpdateSize)
  bool sizeEstimated = false;  // the reader gave only an estimate: asked again when reached
  std::int64_t position = 0;  // next read position (ABIs that keep it on the host object don't use it)
  std::unique_ptr<LateSubtitles> lateSubtitles;  // tracks that missed a main open's wait
};

}  // namespace kavo::host
