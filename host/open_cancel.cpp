#include "host/open_cancel.h"

#include <system_error>

namespace kavo::host {

OpenCancel::~OpenCancel() { LoadEnded(); }

bool OpenCancel::LoadStarting(IAMOpenProgress* progress) {
  if (stop_.Requested()) {
    cancelled_ = true;
    return false;
  }
  if (!progress) return true;
  loaded_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!loaded_) return true;  // nothing could tell the poller to end: the Load runs to its end
  progress_ = progress;
  signal_.emplace(stop_);
  if (!signal_->event()) {
    LoadEnded();  // the poller could not see a 3.0 stop: the Load runs to its end
    return true;
  }
  try {
    poller_ = std::thread(&OpenCancel::Poll, this);
  } catch (const std::system_error&) {
    LoadEnded();  // nothing would act on a stop: the Load runs to its end
  }
  return true;
}

void OpenCancel::LoadEnded() {
  if (loaded_) SetEvent(loaded_);
  if (poller_.joinable()) poller_.join();
  if (signal_ && signal_->woken()) cancelled_ = true;
  signal_.reset();  // the wake-up neither runs nor will once this returns
  if (loaded_) CloseHandle(loaded_);
  loaded_ = nullptr;
  progress_.Reset();
}

void OpenCancel::Poll() {
  // It calls the filter: as a thread of the multithreaded apartment, like the graph's own.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const HANDLE events[] = {loaded_, signal_->event()};
  bool stopped = false;
  for (;;) {
    // Once stopped, only the Load's end (or the next poll's abort) is waited for.
    const DWORD woken = WaitForMultipleObjects(stopped ? 1 : 2, events, FALSE, stop_.PollMs());
    if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) break;
    // vlc_killed answers for the calling thread only: a 3.0 stop reaches this thread through the
    // wake-up, a 2.2 stop through the access object or its input.
    stopped = stopped || signal_->woken() || (stop_.PolledOnly() && stop_.Requested());
    if (stopped) {
      cancelled_ = true;
      progress_->AbortOperation();
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace kavo::host
