// The one way to ask a COM object for another of its interfaces, for interfaces with or without
// a __uuidof under mingw-w64 (see the platform notes): the id is always passed.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

namespace kavo {

// out receives the interface, or is emptied. A success without a pointer counts as
// E_NOINTERFACE, so a caller that checks the result may use out without checking it again.
template <typename Interface>
HRESULT Query(IUnknown* object, REFIID iid, Microsoft::WRL::ComPtr<Interface>& out) {
  out.Reset();
  if (!object) return E_POINTER;
  const HRESULT result = object->QueryInterface(iid, reinterpret_cast<void**>(out.GetAddressOf()));
  if (FAILED(result)) {
    out.Reset();
    return result;
  }
  return out ? result : E_NOINTERFACE;
}

}  // namespace kavo
