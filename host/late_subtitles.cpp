#include "host/late_subtitles.h"

#include <exception>
#include <system_error>
#include <vector>

#include "common/text.h"

namespace kavo::host {

namespace {

// When the tracks can no longer be watched: what has ended by now goes to the host, and each track
// still streaming is named as lost, with `why`.
void GiveUp(PendingSubtitles& pending, const LateSubtitles::HandOver& handOver, HostLog& log,
            const std::string& why) {
  std::vector<SubtitleTrack> tracks;
  pending.TakeWritten(tracks);
  for (const auto& track : tracks) {
    if (track.state != VFW_E_NOT_FOUND) {
      handOver(track);
    } else {
      log.Warning([&] { return TrackLabel(track) + " is not handed over: " + why; });
    }
  }
}

std::string LastError() { return DescribeResult(HRESULT_FROM_WIN32(GetLastError())); }

}  // namespace

std::string TrackLabel(const SubtitleTrack& track) {
  return "subtitle track " + std::to_string(track.number) + " \"" + WideToUtf8(track.name) + "\"";
}

std::unique_ptr<LateSubtitles> LateSubtitles::Start(PendingSubtitles pending, HandOver handOver,
                                                    HostLog& log) {
  if (pending.empty()) {
    pending.RunGraph();
    return nullptr;
  }
  if (!pending.EndSignal()) {
    pending.RunGraph();
    GiveUp(pending, handOver, log, "the graph has no event queue to report its end");
    return nullptr;
  }
  Event stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop) {
    const std::string why = "no waiter could be started (" + LastError() + ")";
    pending.RunGraph();
    GiveUp(pending, handOver, log, why);
    return nullptr;
  }
  std::unique_ptr<LateSubtitles> waiter(
      new LateSubtitles(std::move(pending), std::move(handOver), log, std::move(stop)));
  try {
    waiter->thread_ = std::thread(&LateSubtitles::Wait, waiter.get());
  } catch (const std::system_error& failure) {
    waiter->pending_.RunGraph();
    GiveUp(waiter->pending_, waiter->handOver_, log,
           std::string("no waiter thread could be started (") + failure.what() + ")");
    return nullptr;
  }
  return waiter;
}

LateSubtitles::LateSubtitles(PendingSubtitles pending, HandOver handOver, HostLog& log, Event stop)
    : pending_(std::move(pending)),
      handOver_(std::move(handOver)),
      log_(log),
      stop_(std::move(stop)) {}

// The host's calls that add a slave or a subtitle file only queue a request for the input's own
// thread, so they may come from this thread while the input lives; and the input lives until after
// the access's close has returned. So the close sets the flag under the lock (a call under way ends
// first, none starts after) and joins the waiter before anything it uses is released.
LateSubtitles::~LateSubtitles() {
  {
    CAutoLock guard(&lock_);
    closing_ = true;
  }
  SetEvent(stop_.get());
  if (thread_.joinable()) thread_.join();
}

void LateSubtitles::Wait() {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const HandOver unlessClosing = [this](const SubtitleTrack& track) {
    HandOverUnlessClosing(track);
  };
  // The graph manager and the filters are called through direct pointers, as in the end reads
  // below; the close joins this thread before it stops the graph, and a close that came first
  // leaves nothing to start.
  if (WaitForSingleObject(stop_.get(), 0) == WAIT_TIMEOUT) pending_.RunGraph();
  const HANDLE signals[] = {stop_.get(), pending_.EndSignal()};
  try {
    // The first look, in track order: whatever ended while the open was still under way.
    std::vector<SubtitleTrack> tracks;
    HRESULT read = pending_.TakeWritten(tracks);
    for (const auto& track : tracks) {
      if (track.state != VFW_E_NOT_FOUND) HandOverUnlessClosing(track);
    }
    while (SUCCEEDED(read) && !pending_.empty()) {
      const DWORD woken = WaitForMultipleObjects(2, signals, FALSE, INFINITE);
      if (woken == WAIT_OBJECT_0) break;  // the access is closing
      if (woken != WAIT_OBJECT_0 + 1) {
        GiveUp(pending_, unlessClosing, log_, "the wait for its end failed (" + LastError() + ")");
        break;
      }
      tracks.clear();
      read = pending_.TakeEnded(tracks);
      for (const auto& track : tracks) HandOverUnlessClosing(track);
    }
    // A queue that cannot be read stays signalled: waiting on it again would only spin.
    if (FAILED(read)) {
      GiveUp(pending_, unlessClosing, log_,
             "the graph's events cannot be read (" + DescribeResult(read) + ")");
    }
  } catch (const std::exception&) {
    // Out of memory: the tracks still pending are given up.
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

void LateSubtitles::HandOverUnlessClosing(const SubtitleTrack& track) {
  CAutoLock guard(&lock_);
  if (closing_) return;
  handOver_(track);
}

}  // namespace kavo::host
