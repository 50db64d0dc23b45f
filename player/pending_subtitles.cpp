#include "player/pending_subtitles.h"

#include <evcode.h>

#include <algorithm>

#include "common/bstr.h"
#include "common/query.h"

namespace kavo {

using Microsoft::WRL::ComPtr;

namespace {

// The renderer's file, when its stream has ended with cues and the file could be written.
bool WrittenFile(ISubtitleRenderer* renderer, std::wstring& file) {
  Bstr path;
  const bool written = SUCCEEDED(renderer->GetFilePath(path.Receive()));
  if (written) file = path.FullText();
  return written;
}

}  // namespace

PendingSubtitles::PendingSubtitles(ComPtr<IMediaEvent> events,
                                   const std::vector<ComPtr<ISubtitleRenderer>>& renderers)
    : events_(std::move(events)) {
  for (const auto& renderer : renderers) {
    ComPtr<IBaseFilter> filter;
    Query(renderer.Get(), IID_IBaseFilter, filter);
    tracks_.push_back(Track{renderer, filter.Get(), 0});
  }
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
    ReadEvents();
  }
}

void PendingSubtitles::TakeWritten(std::vector<std::wstring>& files) {
  ReadEvents();
  std::vector<Track> streaming;
  for (Track& track : tracks_) {
    std::wstring file;
    if (WrittenFile(track.renderer.Get(), file)) {
      files.push_back(file);
    } else if (!track.ended) {
      streaming.push_back(std::move(track));
    }
  }
  tracks_.swap(streaming);
}

void PendingSubtitles::TakeEnded(std::vector<std::wstring>& files) {
  ReadEvents();
  std::vector<Track> ended;
  std::vector<Track> streaming;
  for (Track& track : tracks_) (track.ended ? ended : streaming).push_back(std::move(track));
  tracks_.swap(streaming);
  std::sort(ended.begin(), ended.end(),
            [](const Track& a, const Track& b) { return a.ended < b.ended; });
  for (const Track& track : ended) {
    std::wstring file;
    if (WrittenFile(track.renderer.Get(), file)) files.push_back(file);
  }
}

// A renderer writes its file before it reports the end, so a reported end means the file is there
// (or never will be). Every event is taken off the queue, which resets the signal once it is empty.
void PendingSubtitles::ReadEvents() {
  if (!events_) return;
  long code = 0;
  LONG_PTR first = 0;
  LONG_PTR second = 0;
  while (events_->GetEvent(&code, &first, &second, 0) == S_OK) {
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
