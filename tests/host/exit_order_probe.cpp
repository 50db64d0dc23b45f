// A DLL linked like the plug-in (static C and C++ runtimes, a DllMain of its own) that writes down,
// one line each into the file it was armed with, when its DllMain and its static destructors see
// the process end. The plug-in's exit handling rests on that order.
#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

wchar_t report[MAX_PATH * 4];  // plain storage: no destructor of its own to run in the way

void Note(const char* line) {
  if (!report[0]) return;
  const HANDLE file = CreateFileW(report, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

struct Witness {
  const char* line;
  ~Witness() { Note(line); }
};

// Like the plug-in's player registry.
Witness namespaceScope{"destructor: namespace-scope static"};

// Like the list of kept subtitle files: created on first use.
void TouchFunctionLocal() {
  static Witness functionLocal{"destructor: function-local static"};
  static_cast<void>(functionLocal);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH) {
    Note(reserved ? "DllMain: process detach, process exiting" : "DllMain: process detach, unload");
  }
  return TRUE;
}

__declspec(dllexport) void probe_Arm(const wchar_t* path) {
  std::wcsncpy(report, path, MAX_PATH * 4 - 1);
  TouchFunctionLocal();
}

}  // extern "C"
