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
  progress_ = progress;
  loaded_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (loaded_) {
    try {
      poller_ = std::thread(&OpenCancel::Poll, this);
    } catch (const std::system_error&) {
      // Without the poller only a 3.0 host's wake-up can cancel.
    }
  }
  wake_.emplace(stop_, &OpenCancel::Wake, this);
  return true;
}

void OpenCancel::LoadEnded() {
  wake_.reset();  // the wake-up neither runs nor will once this returns
  if (loaded_) SetEvent(loaded_);
  if (poller_.joinable()) poller_.join();
  if (loaded_) CloseHandle(loaded_);
  loaded_ = nullptr;
  progress_.Reset();
}

void OpenCancel::Wake(void* self) { static_cast<OpenCancel*>(self)->Abort(); }

void OpenCancel::Abort() {
  cancelled_ = true;
  progress_->AbortOperation();
}

void OpenCancel::Poll() {
  // It calls the filter: as a thread of the multithreaded apartment, like the graph's own.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  while (WaitForSingleObject(loaded_, stop_.PollMs()) == WAIT_TIMEOUT) {
    // vlc_killed answers for the calling thread only: a 3.0 stop reaches this thread through the
    // wake-up's flag, a 2.2 stop through the access object.
    if (cancelled_ || (stop_.PolledOnly() && stop_.Requested())) Abort();
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace kavo::host
