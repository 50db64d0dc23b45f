// Cancels the source filter's Load, which may wait on a network for seconds, when the host stops
// the open. A thread of the watch's own, alive only while a cancellable Load runs, waits for the
// Load's end and calls the filter's IAMOpenProgress::AbortOperation once it sees a stop, and again
// at each poll, since an abort that comes before the filter has begun its Load is lost. It sees a
// 3.0 host's stop at once through the wake-up, which only records it: the wake-up runs on the
// host's stopping thread under the host's own lock (a 3.0 playlist holds its lock there too), so it
// must return at once, and AbortOperation may wait for the network. A 2.2 host's stop is seen at
// the next poll. A filter without IAMOpenProgress loads to its end.
// Thread rule: created, told of the Load and destroyed on the open's thread.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <optional>
#include <thread>

#include "host/host_stop.h"
#include "player/player.h"

namespace kavo::host {

class OpenCancel final : public LoadWatch {
 public:
  OpenCancel(const HostAbi& abi, void* object) : stop_(abi, object) {}
  ~OpenCancel();
  OpenCancel(const OpenCancel&) = delete;
  OpenCancel& operator=(const OpenCancel&) = delete;

  bool LoadStarting(IAMOpenProgress* progress) override;
  void LoadEnded() override;

  // The host asked the open to stop before or while the video loaded.
  bool cancelled() const { return cancelled_; }

 private:
  void Poll();

  const HostStop stop_;
  Microsoft::WRL::ComPtr<IAMOpenProgress> progress_;
  std::optional<HostStop::Signal> signal_;  // a 3.0 host's wake-up, while the poller runs
  HANDLE loaded_ = nullptr;                 // set when the Load has returned
  std::thread poller_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace kavo::host
