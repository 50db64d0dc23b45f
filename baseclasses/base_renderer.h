// A filter that consumes one pushed stream through its input pin "In" and reports the stream's end
// to the graph. It never holds a sample: each one is rendered on arrival, paused or running, and no
// reference clock is waited on. Thread rule: the interface lock (the filter lock) guards state;
// samples and end of stream are handled on the streaming thread under the interface lock and then
// the renderer lock, so the hooks DoRenderSample and EndOfStream run with both held.
#pragma once

#include <dshow.h>

#include <memory>

#include "baseclasses/base_filter.h"
#include "baseclasses/base_input_pin.h"
#include "baseclasses/pos_pass_thru.h"
#include "common/critical_section.h"

namespace kavo::ds {

class CBaseRenderer;

// The renderer's input pin: every call is handed to its renderer.
class CRendererInputPin : public CBaseInputPin {
 public:
  CRendererInputPin(CBaseRenderer* renderer, const wchar_t* name);

  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP Receive(IMediaSample* sample) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  HRESULT Active() override;
  // Unlike a plain input pin, stopping without an allocator is not an error for a renderer.
  HRESULT Inactive() override;

 private:
  CBaseRenderer* const renderer_;  // weak: the renderer owns this pin
};

class CBaseRenderer : public CBaseFilter {
 public:
  // result: set to a failure code when construction fails, left alone otherwise; the creator then
  // deletes the object.
  CBaseRenderer(REFCLSID clsid, IUnknown* outer, HRESULT* result);
  ~CBaseRenderer() override;

  // Adds IMediaSeeking and IMediaPosition, passed upstream through the input pin.
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // One pin, made on the first request; GetPin answers null for any index but 0, and when the pin
  // cannot be made.
  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

  // Running tells the graph of an end of stream that arrived while paused, and an unconnected
  // renderer reports completion at once, since no stream will ever end there.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;

  // Hooks of a concrete renderer.
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) = 0;
  // Called once per sample under both locks; its result is not looked at.
  virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type);
  virtual HRESULT CompleteConnect(IPin* receivePin);
  virtual HRESULT BreakConnect();
  virtual HRESULT Active();
  virtual HRESULT Inactive();
  // Called under both locks when the stream ends while active and not flushing. The base marks the
  // end and, when running, sends EC_COMPLETE; when paused, that waits for Run.
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();

  // The pin's IMemInputPin::Receive: checks, then renders. A sample after end of stream (until a
  // flush or stop) is refused with E_UNEXPECTED.
  virtual HRESULT Receive(IMediaSample* sample);

  bool IsEndOfStream() const { return endOfStream_; }

 protected:
  CCritSec interfaceLock_;  // the filter lock
  CCritSec rendererLock_;   // the sample lock

 private:
  friend class CRendererInputPin;

  HRESULT NotifyEndOfStream();
  CPosPassThru* PositionPassThru();

  CCritSec creationLock_;  // guards the making of the pin and the pass-through
  std::unique_ptr<CRendererInputPin> inputPin_;
  std::unique_ptr<CPosPassThru> position_;
  bool endOfStream_ = false;
};

}  // namespace kavo::ds
