// A push-mode source filter for tests: one output pin ("Out0", "Out1", ...) per media type given.
// The test delivers samples, end of stream and flushes itself, on the calling thread, through the
// connected input pin; each pin has a one-buffer memory allocator, so a sample that downstream
// keeps makes the next delivery fail with VFW_E_TIMEOUT instead of hanging. Each pin also answers
// IMediaSeeking in media time with a fixed duration, and records the positions it is given.
// Thread rule: state and connections under the filter's lock; deliveries to different pins may
// come from different threads at once.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

namespace kavo::test {

struct PushPinType {
  PushPinType(const GUID& major, const GUID& sub = GUID_NULL) : majorType(major), subType(sub) {}

  GUID majorType;
  GUID subType;
  GUID formatType = GUID_NULL;
  std::vector<BYTE> format;
};

struct PushPinSeeking {
  LONGLONG duration = 50000000;
  LONGLONG current = 0;
  LONGLONG stop = 50000000;
  int setPositionsCalls = 0;
};

class PushSource final : public IBaseFilter {
 public:
  // Born at reference count zero, like every filter: the creator takes the first reference.
  explicit PushSource(const std::vector<PushPinType>& pinTypes);
  PushSource(const PushSource&) = delete;
  PushSource& operator=(const PushSource&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* vendorInfo) override;

  size_t PinCount() const { return pins_.size(); }
  IPin* Pin(size_t index);  // no reference added
  PushPinSeeking& Seeking(size_t index);

  // start/stop null: the sample carries no time. newType: announced on the sample as a new type.
  HRESULT Deliver(size_t pin, const std::string& payload, const REFERENCE_TIME* start,
                  const REFERENCE_TIME* stop, const AM_MEDIA_TYPE* newType = nullptr);
  HRESULT Deliver(size_t pin, const std::string& payload, REFERENCE_TIME start,
                  REFERENCE_TIME stop);
  HRESULT DeliverEndOfStream(size_t pin);
  HRESULT DeliverBeginFlush(size_t pin);
  HRESULT DeliverEndFlush(size_t pin);

 private:
  class OutputPin;
  class PinEnumerator;
  friend class OutputPin;

  ~PushSource();

  volatile LONG refCount_ = 0;
  CRITICAL_SECTION lock_;
  FILTER_STATE state_ = State_Stopped;
  Microsoft::WRL::ComPtr<IReferenceClock> clock_;
  IFilterGraph* graph_ = nullptr;  // weak: the graph holds this filter
  std::wstring name_;
  std::vector<std::unique_ptr<OutputPin>> pins_;
};

}  // namespace kavo::test
