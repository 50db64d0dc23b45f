// The installer's custom actions (package/libkavo_plugin.wxs), in one DLL that the MSI carries.
// The installer calls each on a thread of its own, one at a time; nothing is kept between calls.
//
// RefreshPluginCache refreshes a VLC's plug-in cache once the plug-in has gone into or out of it:
// that VLC's own vlc-cache-gen.exe, run on its plugins folder as VLC's installer runs it. The cache
// only spares VLC loading every plug-in at each start (a stale one does not hide the plug-in), so
// a refresh that cannot be done never fails the install: what happened is written to the
// installer's log, and the install goes on.
//
// StopInstall ends an install that cannot go on, with a message the user sees and the log keeps
// (a quiet install shows nothing, and a failed launch condition leaves no trace in Wine's log).
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <memory>
#include <string>

#include "common/text.h"

namespace {

// A refresh loads each of VLC's plug-ins once: seconds. A tool still running after this is left
// to finish on its own; the install does not wait for it.
constexpr DWORD kRefreshLimitMs = 120 * 1000;

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The text is a field, not the template: a folder's name may hold brackets.
void Post(MSIHANDLE install, INSTALLMESSAGE type, const std::wstring& text) {
  PMSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, L"[1]");
  MsiRecordSetStringW(record, 1, text.c_str());
  MsiProcessMessage(install, type, record);
}

std::wstring Property(MSIHANDLE install, const wchar_t* name) {
  wchar_t none[1] = L"";
  DWORD length = 0;
  if (MsiGetPropertyW(install, name, none, &length) != ERROR_MORE_DATA) return {};
  std::wstring value(++length, L'\0');
  if (MsiGetPropertyW(install, name, &value[0], &length) != ERROR_SUCCESS) return {};
  value.resize(length);
  return value;
}

std::wstring Reason(DWORD error) {
  // A system error code is its own message number.
  const std::wstring words = kavo::Utf8ToWide(kavo::SystemMessage(static_cast<HRESULT>(error)));
  return L"error " + std::to_wstring(error) + (words.empty() ? L"" : L": " + words);
}

// What became of the cache of the VLC in folder (which ends in a backslash), for the log.
std::wstring Refresh(const std::wstring& folder) {
  const std::wstring tool = folder + L"vlc-cache-gen.exe";
  const DWORD attributes = GetFileAttributesW(tool.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return L"left as it is: this VLC has no vlc-cache-gen.exe";
  std::wstring command = L"\"" + tool + L"\" \"" + folder + L"plugins\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(tool.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      folder.c_str(), &startup, &process)) {
    const DWORD error = GetLastError();
    return L"not refreshed: vlc-cache-gen.exe could not be started (" + Reason(error) + L")";
  }
  const Handle running(process.hProcess), thread(process.hThread);
  if (WaitForSingleObject(process.hProcess, kRefreshLimitMs) != WAIT_OBJECT_0) {
    return L"not refreshed yet: vlc-cache-gen.exe still runs after " +
           std::to_wstring(kRefreshLimitMs / 1000) + L" s; the install goes on without it";
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process.hProcess, &code)) {
    const DWORD error = GetLastError();
    return L"unknown: the exit code of vlc-cache-gen.exe cannot be read (" + Reason(error) + L")";
  }
  if (code != 0)
    return L"not refreshed: vlc-cache-gen.exe ended with exit code " + std::to_wstring(code);
  return L"refreshed";
}

}  // namespace

// Deferred: the VLC's folder is all it gets, as its CustomActionData. Always succeeds.
extern "C" __declspec(dllexport) UINT __stdcall RefreshPluginCache(MSIHANDLE install) {
  try {
    std::wstring folder = Property(install, L"CustomActionData");
    if (folder.empty()) return ERROR_SUCCESS;
    if (folder.back() != L'\\') folder += L'\\';
    Post(install, INSTALLMESSAGE_INFO, L"Plug-in cache of " + folder + L": " + Refresh(folder));
  } catch (...) {
    // Out of memory: the cache stays as it is, which VLC copes with.
  }
  return ERROR_SUCCESS;
}

// Immediate: the install ends here, with the text of the property StopMessage as its error.
extern "C" __declspec(dllexport) UINT __stdcall StopInstall(MSIHANDLE install) {
  try {
    Post(install, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK | MB_ICONERROR),
         Property(install, L"StopMessage"));
  } catch (...) {
    // Out of memory: the install still ends, without its message.
  }
  return ERROR_INSTALL_FAILURE;
}
