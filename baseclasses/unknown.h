// The reference-counted root of every COM object built on these classes. An object is born at
// count zero, its creator takes the first reference, and the last release deletes it. Counting is
// atomic and may happen on any thread.
#pragma once

#include <unknwn.h>

namespace kavo::ds {

class CUnknown {
 public:
  // outer: the aggregating object whose IUnknown every interface answers through; null for an
  // object that stands alone.
  explicit CUnknown(IUnknown* outer = nullptr);
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;
  virtual ~CUnknown();

  virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void** out);
  virtual ULONG NonDelegatingAddRef();
  virtual ULONG NonDelegatingRelease();

  // Where the IUnknown methods of every interface go: the outer object, or this object's own
  // non-delegating IUnknown.
  IUnknown* GetOwner() const { return owner_; }

 protected:
  // Hands out itf with a reference added through its own AddRef, so that aggregation is honoured.
  static HRESULT GetInterface(IUnknown* itf, void** out) {
    *out = itf;
    itf->AddRef();
    return S_OK;
  }

 private:
  // The identity IUnknown of a stand-alone object: its three methods are the non-delegating ones.
  class NonDelegating final : public IUnknown {
   public:
    explicit NonDelegating(CUnknown* object) : object_(object) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
      return object_->NonDelegatingQueryInterface(iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return object_->NonDelegatingAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return object_->NonDelegatingRelease(); }

   private:
    CUnknown* object_;  // weak: the object that holds this member
  };

  NonDelegating nonDelegating_;
  IUnknown* owner_;  // weak: either the outer object or nonDelegating_
  volatile LONG refCount_ = 0;
};

}  // namespace kavo::ds
