// The subtitle tracks of a running graph whose files have not been handed out yet, and the graph's
// event queue, where each renderer reports the end of its stream: EC_COMPLETE with the renderer as
// second parameter, once the graph's own handling of that event has been cancelled.
// Thread rule: one thread at a time, in any apartment. The graph manager (threading model "Both",
// its event queue under a lock of its own) and our renderers are called through direct pointers,
// as every filter's streaming thread calls the graph. Marshalling would not help: the graph manager
// has no free-threaded marshaler (Wine's answers no IMarshal), so another apartment would get a
// proxy into the open's thread, which pumps no messages. Whoever holds this keeps the graph's
// player alive.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "filters/subtitle_renderer.h"

namespace kavo {

class PendingSubtitles {
 public:
  PendingSubtitles() = default;
  // renderers: the connected subtitle renderers, in track order. events: the graph's queue with
  // EC_COMPLETE no longer handled by the graph; without it no end is ever seen.
  PendingSubtitles(Microsoft::WRL::ComPtr<IMediaEvent> events,
                   const std::vector<Microsoft::WRL::ComPtr<ISubtitleRenderer>>& renderers);
  PendingSubtitles(PendingSubtitles&&) = default;
  PendingSubtitles(const PendingSubtitles&) = delete;
  PendingSubtitles& operator=(const PendingSubtitles&) = delete;

  bool empty() const { return tracks_.empty(); }
  size_t size() const { return tracks_.size(); }

  // Signalled while the graph has events queued; null without an event queue. Valid while this
  // object holds the graph.
  HANDLE EndSignal() const;

  // Until every track has reported its end, or timeoutMs has passed.
  void WaitForEnds(DWORD timeoutMs);

  // Appends, in track order, the file of every track written so far; tracks with a file or whose
  // stream ended without one leave the list.
  void TakeWritten(std::vector<std::wstring>& files);

  // Reads the queued events and appends the file of each track that reported its end since, in the
  // order the ends came; those tracks leave the list (one that ended without cues adds no file).
  void TakeEnded(std::vector<std::wstring>& files);

 private:
  struct Track {
    Microsoft::WRL::ComPtr<ISubtitleRenderer> renderer;
    const IBaseFilter* identity;  // weak: what its end event carries; the renderer keeps it alive
    unsigned ended;               // 0 while streaming, else the place of its end among all ends
  };

  void ReadEvents();
  bool AllEnded() const;

  Microsoft::WRL::ComPtr<IMediaEvent> events_;
  std::vector<Track> tracks_;
  unsigned ends_ = 0;
};

}  // namespace kavo
