#include "host/loaded_modules.h"

#include <atomic>

#include "source/source_filter.h"

namespace kavo::host {

namespace {

// Wine deadlocks two threads for good when one of them enters the process's first single-threaded
// apartment while the other loads, for the first time, a DLL that pulls in DLLs whose start-up
// draws (the graph manager's pulls in the common controls): COM gives the first apartment a window,
// which starts the display driver and needs the loader's lock for it, while the other thread holds
// that lock and waits in a DLL's start-up for the driver. Two inputs opening at once met it. So
// until the graph manager and the source filter have each been loaded once, an open enters its
// apartment only while no such first load runs: apartments are entered side by side (shared), a
// first load alone (exclusive). The source filter's DLL is a network client that may pull in as
// much as the graph manager's, so its first load takes its turn too. Once both are in, nobody
// waits.
SRWLOCK turns = SRWLOCK_INIT;
std::atomic<bool> sourceFilterKept{false};
std::atomic<bool> graphManagerLoaded{false};
HMODULE sourceFilterModule = nullptr;  // written once, in the exclusive turn

bool FirstLoadsDone() { return sourceFilterKept && graphManagerLoaded; }

class ExclusiveTurn {
 public:
  ExclusiveTurn() { AcquireSRWLockExclusive(&turns); }
  ~ExclusiveTurn() { ReleaseSRWLockExclusive(&turns); }
  ExclusiveTurn(const ExclusiveTurn&) = delete;
  ExclusiveTurn& operator=(const ExclusiveTurn&) = delete;
};

HRESULT NewSourceFilter(IBaseFilter** filter) {
  return CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                          reinterpret_cast<void**>(filter));
}

// COM loads an in-process server for each apartment that uses it and frees it when that apartment
// ends, and a process whose last apartment ends frees every one of them. The host opens each input
// on a thread of its own, so without more every open, declined ones too, would load the source
// filter's DLL anew. A loader reference of our own on the module keeps it mapped whatever COM does,
// on Windows and under Wine alike: COM's FreeLibrary only gives back COM's own reference, and its
// next LoadLibrary finds the module in place. The module is the one holding the filter's interface
// table, so it is the DLL that serves the class whichever registration COM followed. A class
// factory held instead would not do: it lives in the apartment that made it and goes with its DLL.
void KeepServingModule(IBaseFilter* filter) {
  const void* const table = *reinterpret_cast<void* const*>(filter);
  HMODULE module = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCWSTR>(table),
                         &module))
    sourceFilterModule = module;
  sourceFilterKept = true;  // tried once: a table in no module stays so
}

}  // namespace

HRESULT EnterApartment() {
  if (FirstLoadsDone()) return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  AcquireSRWLockShared(&turns);
  const HRESULT entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ReleaseSRWLockShared(&turns);
  return entered;
}

HRESULT CreateSourceFilter(IBaseFilter** filter) {
  if (sourceFilterKept) return NewSourceFilter(filter);
  const ExclusiveTurn turn;
  const HRESULT created = NewSourceFilter(filter);
  if (SUCCEEDED(created) && *filter && !sourceFilterKept) KeepServingModule(*filter);
  return created;
}

// Only the system folder is searched, so a quartz.dll beside a portable player is never loaded.
// Where that flag is unknown (Windows 7 without its loader update) the first graph loads the DLL
// through COM instead: the deadlock this turn avoids is Wine's, and Wine knows the flag.
void LoadGraphManager() {
  if (graphManagerLoaded) return;
  const ExclusiveTurn turn;
  if (graphManagerLoaded) return;
  static_cast<void>(LoadLibraryExW(L"quartz.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  graphManagerLoaded = true;
}

// Calling FreeLibrary from DllMain is unsafe only while the process ends, when the DLL it would
// unload may already have run its own end; on a FreeLibrary of the plug-in the source filter's DLL
// is still whole and ends here if nothing else holds it.
void ReleaseKeptModules() {
  if (sourceFilterModule) FreeLibrary(sourceFilterModule);
  sourceFilterModule = nullptr;
}

}  // namespace kavo::host
