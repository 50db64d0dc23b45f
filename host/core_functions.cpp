#include "host/core_functions.h"

namespace kavo::host {

namespace {

CoreFunction inputGetItem{"input_GetItem"};
CoreFunction inputItemSetMeta{"input_item_SetMeta"};
CoreFunction metaAddExtra{"vlc_meta_AddExtra"};
CoreFunction varSetChecked{"var_SetChecked"};
CoreFunction varInherit{"var_Inherit"};
CoreFunction interruptRegister{"vlc_interrupt_register"};
CoreFunction interruptUnregister{"vlc_interrupt_unregister"};
CoreFunction killed{"vlc_killed"};
CoreFunction objectAlive{"vlc_object_alive"};
CoreFunction mutexLock{"vlc_mutex_lock"};
CoreFunction mutexUnlock{"vlc_mutex_unlock"};

CoreFunction slaveControl[kAbiCount] = {
    CoreFunction{"input_Control"}, CoreFunction{"input_Control"}, CoreFunction{"input_Control"}};
CoreFunction subtitleControl[kAbiCount] = {
    CoreFunction{"input_Control"}, CoreFunction{"input_Control"}, CoreFunction{"input_Control"}};

// One call site per argument shape of vlc_Log.
CoreFunction legacyLog{"vlc_Log"};
CoreFunction logWithSource{"vlc_Log"};

}  // namespace

FARPROC CoreFunction::Resolve() {
  FARPROC address = address_.load(std::memory_order_relaxed);
  if (address) return address;
  const HMODULE core = GetModuleHandleW(L"libvlccore.dll");
  if (!core) return nullptr;
  address = GetProcAddress(core, name_);
  address_.store(address, std::memory_order_relaxed);
  return address;
}

CoreFunction& InputControlSite(const HostAbi& abi, ControlSite site) {
  return site == ControlSite::AudioSlave ? slaveControl[abi.id] : subtitleControl[abi.id];
}

void* InputGetItem(void* input) {
  using Function = void* (*)(void*);
  const auto function = inputGetItem.As<Function>();
  return function ? function(input) : nullptr;
}

int InputItemSetMeta(void* item, int metaType, const char* value) {
  using Function = void (*)(void*, int, const char*);
  const auto function = inputItemSetMeta.As<Function>();
  if (!function) return -1;
  function(item, metaType, value);
  return 0;
}

int MetaAddExtra(void* meta, const char* key, const char* value) {
  using Function = void (*)(void*, const char*, const char*);
  const auto function = metaAddExtra.As<Function>();
  if (!function) return -1;
  function(meta, key, value);
  return 0;
}

bool MutexLock(void* mutex) {
  using Function = void (*)(void*);
  const auto lock = mutexLock.As<Function>();
  if (!lock || !mutexUnlock.As<Function>()) return false;
  lock(mutex);
  return true;
}

void MutexUnlock(void* mutex) {
  using Function = void (*)(void*);
  const auto unlock = mutexUnlock.As<Function>();
  if (unlock) unlock(mutex);
}

int VarSetChecked(void* object, const char* name, int type, VlcValue value) {
  using Function = int (*)(void*, const char*, int, VlcValue);
  const auto function = varSetChecked.As<Function>();
  return function ? function(object, name, type, value) : -1;
}

void InterruptRegister(InterruptWake wake, void* context) {
  using Function = void (*)(InterruptWake, void*);
  if (const auto function = interruptRegister.As<Function>()) function(wake, context);
}

bool InterruptUnregister() {
  using Function = int (*)();
  const auto function = interruptUnregister.As<Function>();
  return function && function() != 0;
}

bool Killed() {
  using Function = bool (*)();
  const auto function = killed.As<Function>();
  return function && function();
}

bool ObjectAlive(void* object) {
  using Function = bool (*)(void*);
  const auto function = objectAlive.As<Function>();
  return !function || function(object);
}

bool VarInheritInteger(void* object, const char* name, std::int64_t& value) {
  using Function = int (*)(void*, const char*, int, VlcValue*);
  const auto function = varInherit.As<Function>();
  VlcValue inherited{};
  if (!function || function(object, name, VLC_VAR_INTEGER, &inherited) != VLC_SUCCESS) return false;
  value = inherited.i_int;
  return true;
}

int VlcLog(LogShape shape, void* object, LogPriority priority, const char* module,
           const SourcePlace& place, const char* text) {
  static const char kFormat[] = "%s";
  switch (shape) {
    case LogShape::Legacy: {
      using Function = void (*)(void*, int, const char*, const char*, ...);
      const auto function = legacyLog.As<Function>();
      if (!function) return -1;
      function(object, priority, module, kFormat, text);
      return 0;
    }
    case LogShape::WithSource: {
      using Function =
          void (*)(void*, int, const char*, const char*, unsigned, const char*, const char*, ...);
      const auto function = logWithSource.As<Function>();
      if (!function) return -1;
      function(object, priority, module, place.file, place.line, place.function, kFormat, text);
      return 0;
    }
    case LogShape::None:
      break;
  }
  return -1;
}

}  // namespace kavo::host
