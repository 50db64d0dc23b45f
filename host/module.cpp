// The exported entry points: each describes the module to its host ABI and does nothing else. And
// the DLL's own entry, which gives back at unload what the opens kept loaded.
#include <windows.h>

#include "host/access.h"
#include "host/host_log.h"
#include "host/loaded_modules.h"
#include "host/vlc_abi.h"

namespace kavo::host {

namespace {

// The 3.0 host keeps these pointers, so every string here is static.
const char* const kShortcuts[] = {"http", "https", "yshttp", "yshttps"};

using Callback = void*;

int DescribeModule(const HostAbi& abi, SetterFunction set, void* opaque, Callback open,
                   Callback close) {
  // A host that re-runs the entry point to resolve callback names from its plug-in cache answers
  // 0 to VLC_MODULE_CREATE without filling these: they stay null and the description goes on.
  void* module = nullptr;
  void* config = nullptr;

  if (set(opaque, nullptr, VLC_MODULE_CREATE, &module) != 0) return -1;
  if (set(opaque, module, VLC_MODULE_NAME, kModuleName) != 0) return -1;
  if (set(opaque, module, VLC_MODULE_SHORTNAME, "DIDUZU") != 0) return -1;
  if (set(opaque, module, VLC_MODULE_DESCRIPTION, "KAVO Youtube Source") != 0) return -1;
  if (set(opaque, module, VLC_MODULE_CAPABILITY, "access") != 0) return -1;
  if (set(opaque, module, VLC_MODULE_SCORE, 100) != 0) return -1;

  // The configuration category only files the module in the preferences: not worth failing for.
  set(opaque, nullptr, VLC_CONFIG_CREATE, CONFIG_CATEGORY, &config);
  set(opaque, config, VLC_CONFIG_VALUE, CAT_INPUT);
  set(opaque, nullptr, VLC_CONFIG_CREATE, CONFIG_SUBCATEGORY, &config);
  set(opaque, config, VLC_CONFIG_VALUE, SUBCAT_INPUT_ACCESS);

  const int openResult = abi.namedCallbacks
                             ? set(opaque, module, VLC_MODULE_CB_OPEN, "VlcOpen", open)
                             : set(opaque, module, VLC_MODULE_CB_OPEN, open);
  if (openResult != 0) return -1;
  const int closeResult = abi.namedCallbacks
                              ? set(opaque, module, VLC_MODULE_CB_CLOSE, "VlcClose", close)
                              : set(opaque, module, VLC_MODULE_CB_CLOSE, close);
  if (closeResult != 0) return -1;

  const size_t shortcutCount = sizeof(kShortcuts) / sizeof(kShortcuts[0]);
  if (set(opaque, module, VLC_MODULE_SHORTCUT, shortcutCount, kShortcuts) != 0) return -1;
  return 0;
}

}  // namespace

}  // namespace kavo::host

using namespace kavo::host;

extern "C" {

// `reserved` is null when the plug-in is unloaded by FreeLibrary, and set when the process ends,
// when nothing may be unloaded from here.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && !reserved) ReleaseKeptModules();
  return TRUE;
}

int vlc_entry__2_2_0b(SetterFunction set, void* opaque) {
  return DescribeModule(kAbi22, set, opaque, reinterpret_cast<void*>(&VlcOpen22),
                        reinterpret_cast<void*>(&VlcClose22));
}

int vlc_entry__3_0_0d(SetterFunction set, void* opaque) {
  return DescribeModule(kAbi30Dev, set, opaque, reinterpret_cast<void*>(&VlcOpen),
                        reinterpret_cast<void*>(&VlcClose));
}

// Every 3.0 release looks this entry up; its stream_t is the development ABI's, its queries are
// not.
int vlc_entry__3_0_0f(SetterFunction set, void* opaque) {
  return DescribeModule(kAbi30Release, set, opaque, reinterpret_cast<void*>(&VlcOpenRelease),
                        reinterpret_cast<void*>(&VlcCloseRelease));
}

}  // extern "C"
