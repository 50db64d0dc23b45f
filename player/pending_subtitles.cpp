#include "player/pending_subtitles.h"

#include <evcode.h>

#include <algorithm>
#include <utility>

#include "common/bstr.h"
#include "common/query.h"

namespace kavo {

using Microsoft::WRL::ComPtr;

PendingSubtitles::PendingSubtitles(ComPtr<IMediaEvent> events,
                                   const std::vector<AttachedSubtitles>& renderers,
                                   GraphStart startGraph)
    : events_(std::move(events)), startGraph_(std::move(startGraph)) {
  for (const auto& attached : renderers) {
    ComPtr<IBaseFilter> filter;
    Query(attached.renderer.Get(), IID_IBaseFilter, filter);
    tracks_.push_back(
        Track{attached.renderer, attached.trackName, tracks_.size() + 1, filter.Get(), 0});
  }
}

PendingSubtitles::PendingSubtitles(PendingSubtitles&& other) noexcept
    : events_(std::move(other.events_)),
      startGraph_(std::exchange(other.startGraph_, nullptr)),
      tracks_(std::move(other.tracks_)),
      ends_(other.ends_) {}

PendingSubtitles::~PendingSubtitles() {
  if (startGraph_) startGraph_(false);
}

void PendingSubtitles::RunGraph() {
  const GraphStart start = std::exchange(startGraph_, nullptr);
  if (start) start(true);
}

// A file that exists but cannot be handed out counts by GetFilePath's own failure.
SubtitleTrack PendingSubtitles::Seen(const Track& track) {
  Bstr path;
  const HRESULT found = track.renderer->GetFilePath(path.Receive());
  if (SUCCEEDED(found)) return SubtitleTrack{track.number, track.name, path.FullText(), S_OK};
  const HRESULT written = track.renderer->GetWriteResult();
  return SubtitleTrack{track.number, track.name, std::wstring(), written == S_OK ? found : written};
}

HANDLE PendingSubtitles::EndSignal() const {
  OAEVENT signal = 0;
  if (!events_ || FAILED(events_->GetEventHandle(&signal))) return nullptr;
  return reinterpret_cast<HANDLE>(signal);
}

void PendingSubtitles::WaitForEnds(DWORD timeoutMs) {
  const HANDLE signal = EndSignal();
  if (!signal) return;
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!AllEnded()) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline ||
        WaitForSingleObject(signal, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
      return;
    // A queue that cannot be read keeps its signal set: waiting on would only spin.
    if (FAILED(ReadEvents())) return;
  }
}

HRESULT PendingSubtitles::TakeWritten(std::vector<SubtitleTrack>& tracks) {
  const HRESULT read = ReadEvents();
  std::vector<Track> streaming;
  for (Track& track : tracks_) {
    SubtitleTrack seen = Seen(track);
    // Before its first end of stream a renderer has neither a file nor a write result; after it,
    // its own word counts even where its end event has not been read yet.
    if (seen.state == VFW_E_NOT_FOUND && !track.ended) streaming.push_back(std::move(track));
    tracks.push_back(std::move(seen));
  }
  tracks_.swap(streaming);
  return read;
}

HRESULT PendingSubtitles::TakeEnded(std::vector<SubtitleTrack>& tracks) {
  const HRESULT read = ReadEvents();
  std::vector<Track> ended;
  std::vector<Track> streaming;
  for (Track& track : tracks_) (track.ended ? ended : streaming).push_back(std::move(track));
  tracks_.swap(streaming);
  std::sort(ended.begin(), ended.end(),
            [](const Track& a, const Track& b) { return a.ended < b.ended; });
  for (const Track& track : ended) tracks.push_back(Seen(track));
  return read;
}

// A renderer writes its file before it reports the end, so a reported end means the file is there
// (or never will be). Every event is taken off the queue, which resets the signal once it is empty;
// an empty queue answers E_ABORT, anything else that fails means it cannot be read.
HRESULT PendingSubtitles::ReadEvents() {
  if (!events_) return S_OK;
  for (;;) {
    long code = 0;
    LONG_PTR first = 0;
    LONG_PTR second = 0;
    const HRESULT got = events_->GetEvent(&code, &first, &second, 0);
    if (got != S_OK) return got == E_ABORT || SUCCEEDED(got) ? S_OK : got;
    if (code == EC_COMPLETE) {
      for (Track& track : tracks_) {
        if (!track.ended && reinterpret_cast<const IBaseFilter*>(second) == track.identity)
          track.ended = ++ends_;
      }
    }
    events_->FreeEventParams(code, first, second);
  }
}

bool PendingSubtitles::AllEnded() const {
  return std::all_of(tracks_.begin(), tracks_.end(), [](const Track& t) { return t.ended != 0; });
}

}  // namespace kavo
