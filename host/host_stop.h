// How the host asks an access to give up a call that waits on the source filter, which may be
// waiting on a network: a 3.0 host kills the interrupt context of the thread that waits (the input
// thread for an open, the prefetch thread for reads) and calls the wake-up that thread registered;
// a 2.2 host kills the access object, which only polling can see. A 2.2 input kills only the
// objects that exist when it stops: an access it creates afterwards starts alive, so its parent
// input is asked too.
//
//   HostStop stop(abi, object);
//   HostStop::Wake wake(stop, [](void* reader) { ... unblock it ... }, reader);
//   while (!done && !stop.Requested()) WaitForSomething(stop.PollMs());
#pragma once

#include <windows.h>

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
  // same thread, `wake` is not running and never runs again. Under 2.2 it does nothing.
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

 private:
  StopShape shape_;
  void* object_;
  void* input_;  // 2.2's parent input, where the host gives one
};

}  // namespace kavo::host
