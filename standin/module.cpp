// The COM server: class factory, DllGetClassObject, DllCanUnloadNow and the per-user
// registration under HKCU\Software\Classes (ThreadingModel "Both": the filter is free-threaded
// and is created in whichever apartment asks).
#include <windows.h>
#include <strmif.h>

#include <atomic>
#include <new>
#include <string>

#include "player/source_control.h"
#include "standin/controls.h"
#include "standin/module.h"
#include "standin/source_filter.h"

namespace kavo::standin {
namespace {

std::atomic<long> serverLocks{0};

const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{55C39876-FF76-4AB0-AAB0-0A46D535A26B}";

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
  const LONG result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(result);
}

HRESULT WriteRegistration() {
  HKEY classKey = nullptr;
  LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, kClassKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                &classKey, nullptr);
  if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);
  HRESULT written = SetString(classKey, nullptr, L"Kavo stand-in source filter");
  HKEY serverKey = nullptr;
  if (SUCCEEDED(written)) {
    result = RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                             &serverKey, nullptr);
    written = HRESULT_FROM_WIN32(result);
  }
  if (SUCCEEDED(written)) written = SetString(serverKey, nullptr, ThisModulePath());
  if (SUCCEEDED(written)) written = SetString(serverKey, L"ThreadingModel", L"Both");
  if (serverKey) RegCloseKey(serverKey);
  RegCloseKey(classKey);
  return written;
}

}  // namespace

std::wstring ThisModulePath() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
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
    return kavo::standin::WriteRegistration();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
  const LONG result = RegDeleteTreeW(HKEY_CURRENT_USER, kavo::standin::kClassKey);
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(result);
}

}  // extern "C"
