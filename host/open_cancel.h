// Cancels the source filter's Load, which may wait on a network for seconds, when the host stops
// the open. A 3.0 host interrupts the open's thread and the wake-up aborts the Load at once; a 2.2
// host can only be polled. Either way a thread of the watch's own, alive only while a cancellable
// Load runs, aborts again at each poll once a stop was seen, since an abort that comes before the
// filter has begun its Load is lost. A filter without IAMOpenProgress loads to its end.
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
  static void Wake(void* self);
  void Abort();
  void Poll();

  const HostStop stop_;
  Microsoft::WRL::ComPtr<IAMOpenProgress> progress_;
  std::optional<HostStop::Wake> wake_;
  HANDLE loaded_ = nullptr;  // set when the Load has returned
  std::thread poller_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace kavo::host
