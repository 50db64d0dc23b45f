// An input pin that takes pushed samples through IMemInputPin. Thread rule: connection, allocator
// and flush methods take the filter lock; Receive runs on the upstream streaming thread and takes
// it only to read the pin's state, so a derived pin that keeps state while receiving locks itself.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include "baseclasses/base_pin.h"

namespace kavo::ds {

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(CBaseFilter* filter, CCritSec* lock, const wchar_t* name);
  ~CBaseInputPin() override;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return GetOwner()->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IPin
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  // IMemInputPin. GetAllocator makes a memory allocator when none was notified.
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
  // Checks the streaming state; a sample that carries a new media type must pass CheckMediaType
  // again (a refused type ends the stream with a run-time error). The sample is not kept.
  STDMETHODIMP Receive(IMediaSample* sample) override;
  // Receives in order until a sample is not answered S_OK.
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
  // S_OK (may block) unless every connected output pin downstream says it never blocks.
  STDMETHODIMP ReceiveCanBlock() override;

  // Decommits the allocator; VFW_E_NO_ALLOCATOR when the connection never got one.
  HRESULT Inactive() override;
  HRESULT BreakConnect() override;

  // S_OK while samples may flow; VFW_E_NOT_CONNECTED, VFW_E_WRONG_STATE (stopped), S_FALSE
  // (flushing) or VFW_E_RUNTIME_ERROR otherwise.
  virtual HRESULT CheckStreaming();

  bool IsFlushing() const { return flushing_; }
  IMemAllocator* Allocator() const { return allocator_.Get(); }

 protected:
  Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
  bool readOnly_ = false;
  volatile bool flushing_ = false;
  volatile bool runTimeError_ = false;
};

}  // namespace kavo::ds
