#include "baseclasses/unknown.h"

namespace kavo::ds {

CUnknown::CUnknown(IUnknown* outer)
    : nonDelegating_(this), owner_(outer ? outer : &nonDelegating_) {}

CUnknown::~CUnknown() = default;

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown) return GetInterface(&nonDelegating_, out);
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&refCount_));
}

ULONG CUnknown::NonDelegatingRelease() {
  const LONG count = InterlockedDecrement(&refCount_);
  if (count != 0) return static_cast<ULONG>(count);
  // A destructor that takes and drops a reference to itself must not delete the object twice.
  refCount_ = 1;
  delete this;
  return 0;
}

}  // namespace kavo::ds
