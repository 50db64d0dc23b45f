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

#include <functional>
#include <string>
#include <vector>

#include "filters/subtitle_renderer.h"

namespace kavo {

// A connected subtitle renderer and its track's name or language (may be empty).
struct AttachedSubtitles {
  Microsoft::WRL::ComPtr<ISubtitleRenderer> renderer;
  std::wstring trackName;
};

// One subtitle track as last seen: its file, or why it has none.
struct SubtitleTrack {
  size_t number;      // 1-based, in track order
  std::wstring name;  // the track's name or language; may be empty
  std::wstring path;  // its SRT file; empty while it has none
  HRESULT state;      // S_OK with a file; else VFW_E_NOT_FOUND while streaming, S_FALSE for an
                      // end without cues, or why the file could not be written or handed out
};

class PendingSubtitles {
 public:
  PendingSubtitles() = default;
  // Called once: with true to start the graph, or with false when it will not be started here.
  using GraphStart = std::function<void(bool start)>;

  // renderers: the connected subtitle renderers, in track order. events: the graph's queue with
  // EC_COMPLETE no longer handled by the graph; without it no end is ever seen. startGraph: when
  // whoever takes the tracks is to start the graph; told false if this goes without starting it.
  PendingSubtitles(Microsoft::WRL::ComPtr<IMediaEvent> events,
                   const std::vector<AttachedSubtitles>& renderers,
                   GraphStart startGraph = nullptr);
  PendingSubtitles(PendingSubtitles&& other) noexcept;
  ~PendingSubtitles();
  PendingSubtitles(const PendingSubtitles&) = delete;
  PendingSubtitles& operator=(const PendingSubtitles&) = delete;

  // Runs the graph, if it was left to run here; once.
  void RunGraph();

  bool empty() const { return tracks_.empty(); }
  size_t size() const { return tracks_.size(); }

  // Signalled while the graph has events queued; null without an event queue. Valid while this
  // object holds the graph.
  HANDLE EndSignal() const;

  // Until every track has reported its end, timeoutMs has passed or the queue cannot be read.
  void WaitForEnds(DWORD timeoutMs);

  // Appends every track in track order; tracks whose renderer has ended its stream (with a file or
  // without one) leave the list, those still streaming (VFW_E_NOT_FOUND) stay. The result is the
  // event queue's: S_OK, or why it could not be read.
  HRESULT TakeWritten(std::vector<SubtitleTrack>& tracks);

  // Reads the queued events and appends each track that reported its end since, in the order the
  // ends came, with its file or why it has none; those tracks leave the list. The result is the
  // event queue's: S_OK, or why it could not be read (the ends read before are appended all the
  // same).
  HRESULT TakeEnded(std::vector<SubtitleTrack>& tracks);

 private:
  struct Track {
    Microsoft::WRL::ComPtr<ISubtitleRenderer> renderer;
    std::wstring name;
    size_t number;
    const IBaseFilter* identity;  // weak: what its end event carries; the renderer keeps it alive
    unsigned ended;               // 0 while streaming, else the place of its end among all ends
  };

  HRESULT ReadEvents();
  static SubtitleTrack Seen(const Track& track);
  bool AllEnded() const;

  Microsoft::WRL::ComPtr<IMediaEvent> events_;
  GraphStart startGraph_;  // emptied once called
  std::vector<Track> tracks_;
  unsigned ends_ = 0;
};

}  // namespace kavo
