// The host's core functions, found by name in the already loaded "libvlccore.dll" at run time.
// Each address is cached process-wide once found; a function not found is looked up again at its
// next use. Caches are written without a lock: racing threads store the same address.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "host/vlc_abi.h"

namespace kavo::host {

// One cache of one looked-up address.
class CoreFunction {
 public:
  explicit constexpr CoreFunction(const char* name) : name_(name) {}
  CoreFunction(const CoreFunction&) = delete;
  CoreFunction& operator=(const CoreFunction&) = delete;

  // The function's address, or null while the host library is not loaded or lacks it. The library
  // is never loaded from here.
  FARPROC Resolve();

  // The address as the host's own function type, or null.
  template <typename Function>
  Function As() {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(Resolve()));
  }

 private:
  const char* name_;
  std::atomic<FARPROC> address_{nullptr};
};

// The two input_Control call sites of an ABI, each with its own cache.
enum class ControlSite { AudioSlave, SubtitleFile };
CoreFunction& InputControlSite(const HostAbi& abi, ControlSite site);

// Calls input_Control through the given call site; -1 when it cannot be found.
template <typename... Args>
int InputControl(CoreFunction& site, void* input, int query, Args... args) {
  using Function = int (*)(void*, int, ...);
  const auto function = site.As<Function>();
  if (!function) return -1;
  return function(input, query, args...);
}

// The item of an input, or null (also when input_GetItem cannot be found).
void* InputGetItem(void* input);
// 0 when the host was called, -1 when the function cannot be found.
int InputItemSetMeta(void* item, int metaType, const char* value);
int MetaAddExtra(void* meta, const char* key, const char* value);
// Takes the host's vlc_mutex_t at mutex; false, with nothing taken, when the host lacks
// vlc_mutex_lock or vlc_mutex_unlock, so that a mutex taken here can always be given back.
bool MutexLock(void* mutex);
void MutexUnlock(void* mutex);
// The host's result, or -1 when var_SetChecked cannot be found.
int VarSetChecked(void* object, const char* name, int type, VlcValue value);

// The stop of a 3.0 host: the calling thread's interrupt context (null on a thread without one, and
// under 2.2, whose host has none: then nothing is registered and no stop is ever seen this way).
// wake runs on the stopping thread, under the context's own lock, so it must not block; once
// InterruptUnregister has returned it is not running and never runs again. InterruptUnregister
// answers whether the context was interrupted meanwhile.
using InterruptWake = void (*)(void* context);
void InterruptRegister(InterruptWake wake, void* context);
bool InterruptUnregister();
// Whether the calling thread's interrupt context has been killed; false without one.
bool Killed();
// The stop of a 2.2 host: false once the host has killed the object; true when the host lacks the
// function.
bool ObjectAlive(void* object);

// The integer the host's variable `name` inherits for `object` (its own, a parent's or the user's
// preference), or false when it cannot be read.
bool VarInheritInteger(void* object, const char* name, std::int64_t& value);

// Where a log line comes from; the host takes it under the WithSource shape only.
struct SourcePlace {
  const char* file;
  unsigned line;
  const char* function;
};

// Writes text as one line of the host's log, through vlc_Log in the given shape with the constant
// format "%s": the text is never read as a format. 0 when the host was called, -1 when the shape is
// None or vlc_Log cannot be found.
int VlcLog(LogShape shape, void* object, LogPriority priority, const char* module,
           const SourcePlace& place, const char* text);

}  // namespace kavo::host
