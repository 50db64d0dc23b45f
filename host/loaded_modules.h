// The DLLs an open brings into the host's process: the source filter's and the graph manager's,
// each loaded when an open first needs it, and kept loaded so that later opens, each on a thread
// and in a COM apartment of its own, find them in place. Safe from any thread.
#pragma once

#include <windows.h>
#include <dshow.h>

namespace kavo::host {

// CoInitializeEx into a single-threaded apartment, taking turns with the first loads below.
HRESULT EnterApartment();

// A new instance of the source filter (CoCreateInstance, failures as COM reports them). The first
// one keeps the DLL that serves it loaded until the plug-in unloads.
HRESULT CreateSourceFilter(IBaseFilter** filter);

// Loads the graph manager's DLL from the system folder, once, before the process's first graph; it
// stays for the process's life.
void LoadGraphManager();

// Gives back the source filter's DLL. Only for the plug-in's own unload by FreeLibrary: never while
// the process ends.
void ReleaseKeptModules();

}  // namespace kavo::host
