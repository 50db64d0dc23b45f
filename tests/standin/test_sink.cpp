#include "test_sink.h"

#include <chrono>
#include <cstring>

namespace kavo::test {

using Microsoft::WRL::ComPtr;

class TestSink::Pin final : public IPin, public IMemInputPin {
 public:
  explicit Pin(TestSink& sink) : sink_(sink) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPin)) {
      *object = static_cast<IPin*>(this);
    } else if (IsEqualIID(riid, IID_IMemInputPin)) {
      *object = static_cast<IMemInputPin*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return sink_.AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return sink_.Release(); }

  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override {
    if (!connector || !type) return E_POINTER;
    if (!IsEqualGUID(type->majortype, sink_.options_.acceptedMajor)) return VFW_E_TYPE_NOT_ACCEPTED;
    ComPtr<IAsyncReader> reader;
    const bool hasReader = SUCCEEDED(connector->QueryInterface(
        IID_IAsyncReader, reinterpret_cast<void**>(reader.GetAddressOf())));
    std::lock_guard<std::mutex> guard(sink_.lock_);
    if (sink_.peer_) return VFW_E_ALREADY_CONNECTED;
    sink_.peer_ = connector;
    sink_.sawReader_ = hasReader;
    return S_OK;
  }
  STDMETHODIMP Disconnect() override {
    std::lock_guard<std::mutex> guard(sink_.lock_);
    if (!sink_.peer_) return S_FALSE;
    sink_.peer_.Reset();
    sink_.allocator_.Reset();
    return S_OK;
  }
  STDMETHODIMP ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    std::lock_guard<std::mutex> guard(sink_.lock_);
    *pin = sink_.peer_.Get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override {
    if (!info) return E_POINTER;
    info->pFilter = &sink_;
    sink_.AddRef();
    info->dir = PINDIR_INPUT;
    lstrcpynW(info->achName, L"In", ARRAYSIZE(info->achName));
    return S_OK;
  }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
    if (!direction) return E_POINTER;
    *direction = PINDIR_INPUT;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override {
    {
      std::lock_guard<std::mutex> guard(sink_.lock_);
      ++sink_.endOfStreams_;
    }
    sink_.changed_.notify_all();
    return S_OK;
  }
  STDMETHODIMP BeginFlush() override { return S_OK; }
  STDMETHODIMP EndFlush() override { return S_OK; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override {
    if (!allocator) return E_POINTER;
    *allocator = nullptr;
    if (!sink_.options_.offerAllocator) return VFW_E_NO_ALLOCATOR;
    return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(allocator));
  }
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL) override {
    std::lock_guard<std::mutex> guard(sink_.lock_);
    sink_.allocator_ = allocator;
    return S_OK;
  }
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP Receive(IMediaSample* sample) override {
    if (!sample) return E_POINTER;
    ReceivedSample received = {};
    received.timeResult = sample->GetTime(&received.start, &received.stop);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    received.bytes.assign(reinterpret_cast<const char*>(data),
                          static_cast<size_t>(sample->GetActualDataLength()));
    {
      std::lock_guard<std::mutex> guard(sink_.lock_);
      if (sink_.state_ == State_Stopped) return VFW_E_WRONG_STATE;
      sink_.samples_.push_back(std::move(received));
      if (sink_.options_.keepSamples) sink_.kept_.emplace_back(sample);
    }
    sink_.changed_.notify_all();
    return S_OK;
  }
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, LONG count, LONG* done) override {
    *done = 0;
    for (LONG i = 0; i < count; ++i, ++*done) {
      const HRESULT received = Receive(samples[i]);
      if (received != S_OK) return received;
    }
    return S_OK;
  }
  STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

 private:
  TestSink& sink_;  // weak: the sink owns its pin
};

class TestSink::PinList final : public IEnumPins {
 public:
  PinList(TestSink& sink, ULONG position) : sink_(sink), position_(position) { sink_.AddRef(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IEnumPins)) return E_NOINTERFACE;
    *object = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      sink_.Release();
      delete this;
    }
    return left;
  }
  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
    ULONG done = 0;
    if (count > 0 && position_ == 0) {
      pins[done++] = sink_.InputPin();
      sink_.InputPin()->AddRef();
      position_ = 1;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    position_ += count;
    return position_ <= 1 ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumPins** clone) override {
    *clone = new PinList(sink_, position_);
    (*clone)->AddRef();
    return S_OK;
  }

 private:
  TestSink& sink_;
  std::atomic<ULONG> references_{0};
  ULONG position_;
};

TestSink::TestSink(const Options& options) : options_(options), pin_(new Pin(*this)) {}

TestSink::~TestSink() { delete pin_; }

IPin* TestSink::InputPin() { return pin_; }

std::vector<ReceivedSample> TestSink::Samples() {
  std::lock_guard<std::mutex> guard(lock_);
  return samples_;
}

int TestSink::EndOfStreamCount() {
  std::lock_guard<std::mutex> guard(lock_);
  return endOfStreams_;
}

bool TestSink::SawAsyncReader() {
  std::lock_guard<std::mutex> guard(lock_);
  return sawReader_;
}

bool TestSink::WaitForEnd(DWORD milliseconds) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                           [this] { return endOfStreams_ > 0; });
}

bool TestSink::WaitForSamples(size_t count, DWORD milliseconds) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                           [this, count] { return samples_.size() >= count; });
}

STDMETHODIMP TestSink::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IPersist) &&
      !IsEqualIID(riid, IID_IMediaFilter) && !IsEqualIID(riid, IID_IBaseFilter)) {
    return E_NOINTERFACE;
  }
  *object = static_cast<IBaseFilter*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TestSink::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) TestSink::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP TestSink::GetClassID(CLSID* id) {
  *id = GUID_NULL;
  return S_OK;
}

STDMETHODIMP TestSink::Stop() {
  std::vector<ComPtr<IMediaSample>> released;
  {
    std::lock_guard<std::mutex> guard(lock_);
    state_ = State_Stopped;
    released.swap(kept_);
  }
  changed_.notify_all();
  return S_OK;
}

STDMETHODIMP TestSink::Pause() {
  std::lock_guard<std::mutex> guard(lock_);
  const bool waiting = state_ == State_Stopped && peer_ && samples_.empty() && endOfStreams_ == 0;
  state_ = State_Paused;
  return waiting ? S_FALSE : S_OK;
}

STDMETHODIMP TestSink::Run(REFERENCE_TIME) {
  std::lock_guard<std::mutex> guard(lock_);
  state_ = State_Running;
  return S_OK;
}

STDMETHODIMP TestSink::GetState(DWORD timeout, FILTER_STATE* state) {
  std::unique_lock<std::mutex> guard(lock_);
  auto ready = [this] {
    return state_ != State_Paused || !peer_ || !samples_.empty() || endOfStreams_ > 0;
  };
  const bool done = changed_.wait_for(
      guard, std::chrono::milliseconds(timeout == INFINITE ? 60000 : timeout), ready);
  *state = state_;
  return done ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

STDMETHODIMP TestSink::SetSyncSource(IReferenceClock*) { return S_OK; }

STDMETHODIMP TestSink::GetSyncSource(IReferenceClock** clock) {
  *clock = nullptr;
  return S_OK;
}

STDMETHODIMP TestSink::EnumPins(IEnumPins** pins) {
  *pins = new PinList(*this, 0);
  (*pins)->AddRef();
  return S_OK;
}

STDMETHODIMP TestSink::FindPin(LPCWSTR, IPin** pin) {
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP TestSink::QueryFilterInfo(FILTER_INFO* info) {
  std::lock_guard<std::mutex> guard(lock_);
  lstrcpynW(info->achName, L"Sink", ARRAYSIZE(info->achName));
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

STDMETHODIMP TestSink::JoinFilterGraph(IFilterGraph* graph, LPCWSTR) {
  std::lock_guard<std::mutex> guard(lock_);
  graph_ = graph;
  return S_OK;
}

STDMETHODIMP TestSink::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

}  // namespace kavo::test
