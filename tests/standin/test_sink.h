// A one-pin sink filter for the stand-in's tests. It accepts one major type; for a byte stream it
// asks the connecting pin for IAsyncReader, as a pulling filter would; for pushed samples it
// records each one (time stamps and bytes) and the end of stream. Like a platform renderer it
// does not finish pausing until its first sample or end of stream, which is what makes the graph
// manager wait for the source before running. Thread rule: everything under one lock; samples
// arrive on the source's streaming thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <dshow.h>
#include <wrl/client.h>

namespace kavo::test {

struct ReceivedSample {
  HRESULT timeResult;
  REFERENCE_TIME start;
  REFERENCE_TIME stop;
  std::string bytes;
};

class TestSink final : public IBaseFilter {
 public:
  struct Options {
    GUID acceptedMajor = MEDIATYPE_Stream;
    bool offerAllocator = true;  // hand out an allocator of its own, or refuse (VFW_E_NO_ALLOCATOR)
    bool keepSamples = false;    // hold every sample, so a source's allocator runs dry
  };

  // Born at reference count zero; the creator takes the first reference.
  explicit TestSink(const Options& options);

  IPin* InputPin();
  std::vector<ReceivedSample> Samples();
  int EndOfStreamCount();
  bool SawAsyncReader();
  // Waits until the end of stream, or until count samples have come.
  bool WaitForEnd(DWORD milliseconds);
  bool WaitForSamples(size_t count, DWORD milliseconds);

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetClassID(CLSID* id) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

 private:
  class Pin;
  class PinList;
  friend class Pin;

  ~TestSink();

  std::atomic<ULONG> references_{0};
  Options options_;
  std::mutex lock_;
  std::condition_variable changed_;
  FILTER_STATE state_ = State_Stopped;
  IFilterGraph* graph_ = nullptr;  // weak: the graph holds the filter
  Microsoft::WRL::ComPtr<IPin> peer_;
  Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
  std::vector<ReceivedSample> samples_;
  std::vector<Microsoft::WRL::ComPtr<IMediaSample>> kept_;
  int endOfStreams_ = 0;
  bool sawReader_ = false;
  Pin* pin_;
};

}  // namespace kavo::test
