// How the host asks an access to give up a call that waits on the source filter, which may be
// waiting on a network: a 3.0 host kills the interrupt context of the thread that waits (the input
// thread for an open, the prefetch thread for reads) and calls the wake-up that thread registered;
// a 2.2 host kills the access object, which only polling can see. A 2.2 input kills only the
// objects that exist when it stops: an access it creates afterwards starts alive, so its parent
// input is asked too.
//
//   HostStop stop(abi, object);
//   HostStop::Signal signal(stop);
//   while (!done) {
//     if (signal.Wait()) { ... the waiting thread itself unblocks the source filter ... }
//   }
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "host/core_functions.h"
#include "host/host_object.h"
#include "host/vlc_abi.h"

namespace kavo::host {

class HostStop {
 public:
  HostStop(const HostAbi& abi, void* object)
      : shape_(abi.stopShape),
        object_(object),
        input_(shape_ == StopShape::ObjectKilled ? HostObject(abi, object).Get<void*>(abi.input)
                                                 : nullptr) {}

  // Whether only polling Requested() sees a stop; then it answers on any thread, not only on the
  // thread that waits.
  bool PolledOnly() const { return shape_ == StopShape::ObjectKilled; }

  // Whether the host has asked the calling thread's work for this access to stop.
  bool Requested() const {
    if (shape_ == StopShape::Interrupt) return Killed();
    return !ObjectAlive(object_) || (input_ && !ObjectAlive(input_));
  }

  // How long one wait may last before it looks at Requested() again. A 3.0 host wakes the waiter
  // itself, so this only bounds a wake-up that went astray; 2.2 can only be polled.
  DWORD PollMs() const { return shape_ == StopShape::Interrupt ? 50 : 20; }

  // While it lives, `wake` runs when a 3.0 host interrupts the calling thread (at once if it has
  // been already), on the host's stopping thread: it must not block. Once it is destroyed, on the
  // same thread, `wake` is not running and never runs again. Under 2.2 it does nothing. Signal is
  // the wake-up to use; this is what it is built on.
  class Wake {
   public:
    Wake(const HostStop& stop, InterruptWake wake, void* context)
        : registered_(stop.shape_ == StopShape::Interrupt) {
      if (registered_) InterruptRegister(wake, context);
    }
    ~Wake() {
      if (registered_) InterruptUnregister();
    }
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;

   private:
    const bool registered_;
  };

  // A wake-up that never blocks the host: while it lives, a 3.0 host's interruption of the calling
  // thread only marks it woken and sets an event, on the host's stopping thread. The host runs
  // wake-ups under a lock that its stopping thread may hold for long (3.0's playlist thread stops
  // an input holding the playlist lock), so whatever a stop asks of the source filter, which may
  // wait for a network, a waiting thread does itself once it has seen the stop. Under 2.2 nothing
  // is registered and only polling sees the stop. Made and destroyed on the thread that waits.
  class Signal {
   public:
    explicit Signal(const HostStop& stop)
        : stop_(stop),
          event_(CreateEventW(nullptr, FALSE, FALSE, nullptr), &CloseHandle),
          wake_(stop, &Signal::Woken, this) {}

    // Waits one poll, or less when the host's wake-up comes, and answers whether the host has asked
    // the calling thread to stop. A wake-up that only raised the interruption, without a kill, is
    // no stop: the wait goes on at the next call.
    bool Wait() const {
      if (!event_ || WaitForSingleObject(event_.get(), stop_.PollMs()) == WAIT_FAILED)
        Sleep(stop_.PollMs());
      return stop_.Requested();
    }

    // For a thread that waits on another's behalf: set (auto-reset) at each wake-up, and whether a
    // wake-up has come at all, raised or killed.
    HANDLE event() const { return event_.get(); }
    bool woken() const { return woken_; }

   private:
    static void Woken(void* self) {
      auto* signal = static_cast<Signal*>(self);
      signal->woken_ = true;
      if (signal->event_) SetEvent(signal->event_.get());
    }

    const HostStop& stop_;  // weak: outlives this
    const std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> event_;
    std::atomic<bool> woken_{false};
    const Wake wake_;  // declared last: gone, and never to run again, before the rest
  };

 private:
  StopShape shape_;
  void* object_;
  void* input_;  // 2.2's parent input, where the host gives one
};

}  // namespace kavo::host
