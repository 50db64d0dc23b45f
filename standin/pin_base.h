// What every pin of the stand-in shares: name, direction, the media types it offers and its
// connection. A pin lives inside its filter and lends the filter's reference count. Thread rule:
// the connection is guarded by the pin's own lock, and no lock is held while the peer is called.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <mutex>
#include <string>
#include <vector>

#include "standin/controls.h"
#include "standin/media_type.h"

namespace kavo::standin {

class PinBase : public IPin, public LiveObject {
 public:
  PinBase(IBaseFilter& filter, std::wstring name, PIN_DIRECTION direction,
          std::vector<MediaType> types);
  ~PinBase() override;
  PinBase(const PinBase&) = delete;
  PinBase& operator=(const PinBase&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** peer) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  const std::wstring& Name() const { return name_; }

 protected:
  // Interfaces beyond IUnknown and IPin.
  virtual HRESULT QueryOther(REFIID riid, void** object);
  // Called after the peer accepted a connection; a failure undoes it.
  virtual HRESULT CompleteConnect(IPin* peer);
  virtual void BreakConnect();

  IBaseFilter& filter_;  // weak: the filter owns this pin

 private:
  const std::wstring name_;
  const PIN_DIRECTION direction_;
  const std::vector<MediaType> types_;
  std::mutex lock_;
  bool connecting_ = false;
  Microsoft::WRL::ComPtr<IPin> peer_;
  MediaType connectedType_;
};

}  // namespace kavo::standin
