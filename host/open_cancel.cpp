#include "host/open_cancel.h"

#include <system_error>

namespace kavo::host {

namespace {

enum Event : DWORD { kLoaded = 0, kWoken = 1 };

}  // namespace

OpenCancel::~OpenCancel() { LoadEnded(); }

bool OpenCancel::LoadStarting(IAMOpenProgress* progress) {
  if (stop_.Requested()) {
    cancelled_ = true;
    return false;
  }
  if (!progress) return true;
  events_[kLoaded] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  events_[kWoken] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!events_[kLoaded] || !events_[kWoken]) {
    LoadEnded();  // without both events nothing can cancel: the Load runs to its end
    return true;
  }
  progress_ = progress;
  try {
    poller_ = std::thread(&OpenCancel::Poll, this);
  } catch (const std::system_error&) {
    LoadEnded();  // nothing would act on a stop: the Load runs to its end
    return true;
  }
  wake_.emplace(stop_, &OpenCancel::Wake, this);
  return true;
}

void OpenCancel::LoadEnded() {
  wake_.reset();  // the wake-up neither runs nor will once this returns
  if (events_[kLoaded]) SetEvent(events_[kLoaded]);
  if (poller_.joinable()) poller_.join();
  for (HANDLE& event : events_) {
    if (event) CloseHandle(event);
    event = nullptr;
  }
  progress_.Reset();
}

// On the host's stopping thread, under its lock: records the stop and returns.
void OpenCancel::Wake(void* self) {
  auto* const cancel = static_cast<OpenCancel*>(self);
  cancel->cancelled_ = true;
  SetEvent(cancel->events_[kWoken]);
}

void OpenCancel::Poll() {
  // It calls the filter: as a thread of the multithreaded apartment, like the graph's own.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  bool stopped = false;
  for (;;) {
    // Once stopped, only the Load's end (or the next poll's abort) is waited for.
    const DWORD woken = WaitForMultipleObjects(stopped ? 1 : 2, events_, FALSE, stop_.PollMs());
    if (woken == WAIT_OBJECT_0 + kLoaded || woken == WAIT_FAILED) break;
    // vlc_killed answers for the calling thread only: a 3.0 stop reaches this thread through the
    // wake-up, a 2.2 stop through the access object or its input.
    stopped = stopped || cancelled_ || (stop_.PolledOnly() && stop_.Requested());
    if (stopped) {
      cancelled_ = true;
      progress_->AbortOperation();
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace kavo::host
