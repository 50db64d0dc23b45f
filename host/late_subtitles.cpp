#include "host/late_subtitles.h"

#include <exception>
#include <system_error>
#include <vector>

namespace kavo::host {

std::unique_ptr<LateSubtitles> LateSubtitles::Start(PendingSubtitles pending, HandOver handOver) {
  if (pending.empty() || !pending.EndSignal()) return nullptr;
  // Every track still pending here missed the open's wait.
  Event stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop) return nullptr;
  std::unique_ptr<LateSubtitles> waiter(
      new LateSubtitles(std::move(pending), std::move(handOver), std::move(stop)));
  try {
    waiter->thread_ = std::thread(&LateSubtitles::Wait, waiter.get());
  } catch (const std::system_error&) {
    return nullptr;
  }
  return waiter;
}

LateSubtitles::LateSubtitles(PendingSubtitles pending, HandOver handOver, Event stop)
    : pending_(std::move(pending)), handOver_(std::move(handOver)), stop_(std::move(stop)) {}

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
  const HANDLE signals[] = {stop_.get(), pending_.EndSignal()};
  try {
    while (!pending_.empty() &&
           WaitForMultipleObjects(2, signals, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
      std::vector<SubtitleTrack> tracks;
      pending_.TakeEnded(tracks);
      for (const auto& track : tracks) HandOverLate(track);
    }
  } catch (const std::exception&) {
    // Out of memory: the tracks still pending are given up.
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

void LateSubtitles::HandOverLate(const SubtitleTrack& track) {
  CAutoLock guard(&lock_);
  if (closing_) return;
  handOver_(track);
}

}  // namespace kavo::host
