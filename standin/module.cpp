// The COM server: class factory, DllGetClassObject, DllCanUnloadNow and the per-user
// registration under HKCU\Software\Classes (ThreadingModel "Both": the filter is free-threaded
// and is created in whichever apartment asks).
#include <windows.h>
#include <strmif.h>

#include <atomic>
#include <new>
#include <string>

#include "source/source_filter.h"
#include "standin/controls.h"
#include "standin/module.h"
#include "standin/source_filter.h"

namespace kavo::standin {
namespace {

std::atomic<long> serverLocks{0};

std::wstring ClassKeyUnderClasses() { return L"Software\\Classes\\" + SourceFilterClassKey(); }

// One factory for the process; its references lock the server like LockServer does.
class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++serverLocks); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--serverLocks); }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    const HRESULT failure = CurrentControls().createFailure;
    if (FAILED(failure)) return failure;
    SourceFilter* filter = new (std::nothrow) SourceFilter();
    if (!filter) return E_OUTOFMEMORY;
    // Born at zero: the query takes the first reference, and a refused one deletes it.
    filter->AddRef();
    const HRESULT result = filter->QueryInterface(riid, object);
    filter->Release();
    return result;
  }

  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ++serverLocks : --serverLocks;
    return S_OK;
  }
};

ClassFactory factory;

HRESULT SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  const LONG result =
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(result);
}

HRESULT WriteRegistration(HKEY root, const std::wstring& path) {
  HKEY classKey = nullptr;
  LONG result = RegCreateKeyExW(root, ClassKeyUnderClasses().c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, &classKey, nullptr);
  if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
  HRESULT written = SetString(classKey, nullptr, L"Kavo stand-in source filter");
  HKEY serverKey = nullptr;
  if (SUCCEEDED(written)) {
    result = RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                             &serverKey, nullptr);
    written = HRESULT_FROM_WIN32(result);
  }
  if (SUCCEEDED(written)) written = SetString(serverKey, nullptr, path);
  if (SUCCEEDED(written)) written = SetString(serverKey, L"ThreadingModel", L"Both");
  if (serverKey) RegCloseKey(serverKey);
  RegCloseKey(classKey);
  return written;
}

// Whether COM's view of the classes (HKEY_CLASSES_ROOT) finds this DLL for the class.
bool VisibleToCom(const std::wstring& path) {
  wchar_t registered[MAX_PATH * 4] = {};
  DWORD size = sizeof registered;
  if (RegGetValueW(HKEY_CLASSES_ROOT, (SourceFilterClassKey() + L"\\InprocServer32").c_str(),
                   nullptr, RRF_RT_REG_SZ, nullptr, registered, &size) != ERROR_SUCCESS) {
    return false;
  }
  return lstrcmpiW(registered, path.c_str()) == 0;
}

HRESULT Register() {
  const std::wstring path = ThisModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  const HRESULT written = WriteRegistration(HKEY_CURRENT_USER, path);
  if (FAILED(written)) return written;
  // Windows merges the user's classes into HKEY_CLASSES_ROOT; Wine (8.0) maps that key to the
  // machine's classes alone, so there the class needs the machine-wide entry as well.
  if (VisibleToCom(path)) return S_OK;
  return WriteRegistration(HKEY_LOCAL_MACHINE, path);
}

HRESULT Unregister(HKEY root) {
  const LONG result = RegDeleteTreeW(root, ClassKeyUnderClasses().c_str());
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? S_OK
                                                                   : HRESULT_FROM_WIN32(result);
}

}  // namespace

std::wstring ThisModulePath() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModulePath), &module);
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace kavo::standin

extern "C" {

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_KavoSourceFilter)) return CLASS_E_CLASSNOTAVAILABLE;
  return kavo::standin::factory.QueryInterface(riid, object);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return kavo::standin::serverLocks == 0 && kavo::standin::LiveObjectCount() == 0 ? S_OK : S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
  try {
    return kavo::standin::Register();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// Removes the user's entry, and the machine-wide one if it names this DLL.
HRESULT STDAPICALLTYPE DllUnregisterServer() {
  const HRESULT user = kavo::standin::Unregister(HKEY_CURRENT_USER);
  if (FAILED(user)) return user;
  try {
    if (!kavo::standin::VisibleToCom(kavo::standin::ThisModulePath())) return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return kavo::standin::Unregister(HKEY_LOCAL_MACHINE);
}

}  // extern "C"
