#include "tests/doubles/push_source/push_source.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace kavo::test {

namespace {

class Lock {
 public:
  explicit Lock(CRITICAL_SECTION* section) : section_(section) { EnterCriticalSection(section_); }
  ~Lock() { LeaveCriticalSection(section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION* section_;
};

void FreeType(AM_MEDIA_TYPE& type) {
  CoTaskMemFree(type.pbFormat);
  if (type.pUnk) type.pUnk->Release();
  type = AM_MEDIA_TYPE();
}

void CopyType(AM_MEDIA_TYPE& target, const AM_MEDIA_TYPE& source) {
  target = source;
  target.pbFormat = nullptr;
  target.cbFormat = 0;
  if (source.cbFormat && source.pbFormat) {
    target.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
    if (target.pbFormat) {
      std::memcpy(target.pbFormat, source.pbFormat, source.cbFormat);
      target.cbFormat = source.cbFormat;
    }
  }
  if (target.pUnk) target.pUnk->AddRef();
}

}  // namespace

class PushSource::OutputPin final : public IPin, public IMediaSeeking {
 public:
  OutputPin(PushSource* filter, size_t index, const PushPinType& pinType)
      : filter_(filter), name_(L"Out" + std::to_wstring(index)) {
    type_.majortype = pinType.majorType;
    type_.subtype = pinType.subType;
    type_.formattype = pinType.formatType;
    type_.bFixedSizeSamples = TRUE;
    type_.lSampleSize = 1;
    if (!pinType.format.empty()) {
      type_.cbFormat = static_cast<ULONG>(pinType.format.size());
      type_.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(type_.cbFormat));
      std::memcpy(type_.pbFormat, pinType.format.data(), type_.cbFormat);
    }
  }
  ~OutputPin() {
    FreeType(type_);
    FreeType(connectionType_);
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IPin) {
      *out = static_cast<IPin*>(this);
    } else if (iid == IID_IMediaSeeking) {
      *out = static_cast<IMediaSeeking*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return filter_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return filter_->Release(); }

  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override {
    if (!receivePin) return E_POINTER;
    Lock lock(&filter_->lock_);
    if (connected_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION direction;
    HRESULT hr = receivePin->QueryDirection(&direction);
    if (FAILED(hr)) return hr;
    if (direction != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    const AM_MEDIA_TYPE& offered = type ? *type : type_;
    hr = receivePin->ReceiveConnection(this, &offered);
    if (FAILED(hr)) return hr;
    connected_ = receivePin;
    CopyType(connectionType_, offered);
    if (FAILED(receivePin->QueryInterface(IID_IMemInputPin, &memInput_))) return S_OK;
    hr = memInput_->GetAllocator(&allocator_);
    if (FAILED(hr)) {
      hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            &allocator_);
    }
    if (SUCCEEDED(hr)) {
      ALLOCATOR_PROPERTIES wanted = {1, 65536, 1, 0};
      ALLOCATOR_PROPERTIES actual;
      hr = allocator_->SetProperties(&wanted, &actual);
    }
    if (SUCCEEDED(hr)) hr = memInput_->NotifyAllocator(allocator_.Get(), FALSE);
    if (FAILED(hr)) {
      receivePin->Disconnect();
      DropConnection();
    }
    return hr;
  }
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP Disconnect() override {
    Lock lock(&filter_->lock_);
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!connected_) return S_FALSE;
    DropConnection();
    return S_OK;
  }
  STDMETHODIMP ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    Lock lock(&filter_->lock_);
    *pin = connected_.Get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    Lock lock(&filter_->lock_);
    if (!connected_) {
      *type = AM_MEDIA_TYPE();
      return VFW_E_NOT_CONNECTED;
    }
    CopyType(*type, connectionType_);
    return S_OK;
  }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_OUTPUT;
    wcsncpy(info->achName, name_.c_str(), MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = L'\0';
    return S_OK;
  }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
    if (!direction) return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc((name_.size() + 1) * sizeof(wchar_t)));
    if (!*id) return E_OUTOFMEMORY;
    std::wmemcpy(*id, name_.c_str(), name_.size() + 1);
    return S_OK;
  }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    return type->majortype == type_.majortype ? S_OK : S_FALSE;
  }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  STDMETHODIMP GetCapabilities(DWORD* capabilities) override {
    if (!capabilities) return E_POINTER;
    *capabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards |
                    AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos;
    return S_OK;
  }
  STDMETHODIMP CheckCapabilities(DWORD* capabilities) override {
    if (!capabilities) return E_POINTER;
    DWORD ours = 0;
    GetCapabilities(&ours);
    const DWORD asked = *capabilities;
    *capabilities &= ours;
    if (*capabilities == asked) return S_OK;
    return *capabilities ? S_FALSE : E_FAIL;
  }
  STDMETHODIMP IsFormatSupported(const GUID* format) override {
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
  }
  STDMETHODIMP QueryPreferredFormat(GUID* format) override { return GetTimeFormat(format); }
  STDMETHODIMP GetTimeFormat(GUID* format) override {
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
  }
  STDMETHODIMP IsUsingTimeFormat(const GUID* format) override { return IsFormatSupported(format); }
  STDMETHODIMP SetTimeFormat(const GUID* format) override {
    return IsFormatSupported(format) == S_OK ? S_OK : E_INVALIDARG;
  }
  STDMETHODIMP GetDuration(LONGLONG* duration) override {
    if (!duration) return E_POINTER;
    *duration = seeking_.duration;
    return S_OK;
  }
  STDMETHODIMP GetStopPosition(LONGLONG* stop) override {
    if (!stop) return E_POINTER;
    *stop = seeking_.stop;
    return S_OK;
  }
  STDMETHODIMP GetCurrentPosition(LONGLONG* current) override {
    if (!current) return E_POINTER;
    *current = seeking_.current;
    return S_OK;
  }
  STDMETHODIMP ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                            DWORD stopFlags) override {
    ++seeking_.setPositionsCalls;
    if (current && (currentFlags & AM_SEEKING_PositioningBitsMask)) seeking_.current = *current;
    if (stop && (stopFlags & AM_SEEKING_PositioningBitsMask)) seeking_.stop = *stop;
    return S_OK;
  }
  STDMETHODIMP GetPositions(LONGLONG* current, LONGLONG* stop) override {
    if (current) *current = seeking_.current;
    if (stop) *stop = seeking_.stop;
    return S_OK;
  }
  STDMETHODIMP GetAvailable(LONGLONG* earliest, LONGLONG* latest) override {
    if (earliest) *earliest = 0;
    if (latest) *latest = seeking_.duration;
    return S_OK;
  }
  STDMETHODIMP SetRate(double rate) override { return rate == 1.0 ? S_OK : E_INVALIDARG; }
  STDMETHODIMP GetRate(double* rate) override {
    if (!rate) return E_POINTER;
    *rate = 1.0;
    return S_OK;
  }
  STDMETHODIMP GetPreroll(LONGLONG* preroll) override {
    if (!preroll) return E_POINTER;
    *preroll = 0;
    return S_OK;
  }

  const std::wstring& Name() const { return name_; }
  PushPinSeeking& SeekingState() { return seeking_; }
  IMemAllocator* Allocator() const { return allocator_.Get(); }
  IMemInputPin* MemInput() const { return memInput_.Get(); }
  IPin* Connected() const { return connected_.Get(); }

 private:
  void DropConnection() {
    memInput_.Reset();
    allocator_.Reset();
    connected_.Reset();
    FreeType(connectionType_);
  }

  PushSource* const filter_;  // weak: the filter owns its pins
  const std::wstring name_;
  AM_MEDIA_TYPE type_ = {};
  AM_MEDIA_TYPE connectionType_ = {};
  Microsoft::WRL::ComPtr<IPin> connected_;
  Microsoft::WRL::ComPtr<IMemInputPin> memInput_;
  Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
  PushPinSeeking seeking_;
};

class PushSource::PinEnumerator final : public IEnumPins {
 public:
  PinEnumerator(PushSource* filter, size_t position) : filter_(filter), position_(position) {}

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IEnumPins) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refCount_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG count = InterlockedDecrement(&refCount_);
    if (count == 0) delete this;
    return count;
  }
  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins) return E_POINTER;
    if (!fetched && count > 1) return E_INVALIDARG;
    ULONG got = 0;
    while (got < count && position_ < filter_->pins_.size()) {
      pins[got] = filter_->pins_[position_++].get();
      pins[got++]->AddRef();
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    if (count > filter_->pins_.size() - position_) return S_FALSE;
    position_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumPins** clone) override {
    if (!clone) return E_POINTER;
    *clone = new PinEnumerator(filter_.Get(), position_);
    (*clone)->AddRef();
    return S_OK;
  }

 private:
  Microsoft::WRL::ComPtr<PushSource> filter_;
  size_t position_;
  volatile LONG refCount_ = 0;
};

PushSource::PushSource(const std::vector<PushPinType>& pinTypes) {
  InitializeCriticalSection(&lock_);
  for (size_t i = 0; i < pinTypes.size(); ++i) {
    pins_.push_back(std::make_unique<OutputPin>(this, i, pinTypes[i]));
  }
}

PushSource::~PushSource() {
  pins_.clear();
  DeleteCriticalSection(&lock_);
}

STDMETHODIMP PushSource::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter ||
      iid == IID_IBaseFilter) {
    *out = static_cast<IBaseFilter*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PushSource::AddRef() { return InterlockedIncrement(&refCount_); }

STDMETHODIMP_(ULONG) PushSource::Release() {
  const LONG count = InterlockedDecrement(&refCount_);
  if (count == 0) {
    refCount_ = 1;
    delete this;
  }
  return count;
}

STDMETHODIMP PushSource::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = GUID_NULL;
  return S_OK;
}

STDMETHODIMP PushSource::Stop() {
  Lock lock(&lock_);
  for (auto& pin : pins_) {
    if (pin->Allocator()) pin->Allocator()->Decommit();
  }
  state_ = State_Stopped;
  return S_OK;
}

STDMETHODIMP PushSource::Pause() {
  Lock lock(&lock_);
  if (state_ == State_Stopped) {
    for (auto& pin : pins_) {
      if (!pin->Allocator()) continue;
      const HRESULT hr = pin->Allocator()->Commit();
      if (FAILED(hr)) return hr;
    }
  }
  state_ = State_Paused;
  return S_OK;
}

STDMETHODIMP PushSource::Run(REFERENCE_TIME) {
  Lock lock(&lock_);
  if (state_ == State_Stopped) {
    const HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  state_ = State_Running;
  return S_OK;
}

STDMETHODIMP PushSource::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  Lock lock(&lock_);
  *state = state_;
  return S_OK;
}

STDMETHODIMP PushSource::SetSyncSource(IReferenceClock* clock) {
  Lock lock(&lock_);
  clock_ = clock;
  return S_OK;
}

STDMETHODIMP PushSource::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  Lock lock(&lock_);
  *clock = clock_.Get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

STDMETHODIMP PushSource::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = new PinEnumerator(this, 0);
  (*pins)->AddRef();
  return S_OK;
}

STDMETHODIMP PushSource::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  for (auto& candidate : pins_) {
    if (candidate->Name() == id) {
      *pin = candidate.get();
      (*pin)->AddRef();
      return S_OK;
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP PushSource::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  Lock lock(&lock_);
  wcsncpy(info->achName, name_.c_str(), MAX_FILTER_NAME - 1);
  info->achName[MAX_FILTER_NAME - 1] = L'\0';
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

STDMETHODIMP PushSource::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  Lock lock(&lock_);
  graph_ = graph;
  name_ = name ? name : L"";
  return S_OK;
}

STDMETHODIMP PushSource::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

IPin* PushSource::Pin(size_t index) { return pins_.at(index).get(); }

PushPinSeeking& PushSource::Seeking(size_t index) { return pins_.at(index)->SeekingState(); }

HRESULT PushSource::Deliver(size_t pin, const std::string& payload, const REFERENCE_TIME* start,
                            const REFERENCE_TIME* stop, const AM_MEDIA_TYPE* newType) {
  OutputPin& output = *pins_.at(pin);
  if (!output.MemInput() || !output.Allocator()) return VFW_E_NOT_CONNECTED;
  Microsoft::WRL::ComPtr<IMediaSample> sample;
  HRESULT hr = output.Allocator()->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT);
  if (FAILED(hr)) return hr;
  if (payload.size() > static_cast<size_t>(sample->GetSize())) return E_INVALIDARG;
  BYTE* data = nullptr;
  hr = sample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  std::copy(payload.begin(), payload.end(), data);
  sample->SetActualDataLength(static_cast<long>(payload.size()));
  sample->SetTime(const_cast<REFERENCE_TIME*>(start), const_cast<REFERENCE_TIME*>(stop));
  if (newType) sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(newType));
  return output.MemInput()->Receive(sample.Get());
}

HRESULT PushSource::Deliver(size_t pin, const std::string& payload, REFERENCE_TIME start,
                            REFERENCE_TIME stop) {
  return Deliver(pin, payload, &start, &stop);
}

HRESULT PushSource::DeliverEndOfStream(size_t pin) {
  IPin* connected = pins_.at(pin)->Connected();
  return connected ? connected->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT PushSource::DeliverBeginFlush(size_t pin) {
  IPin* connected = pins_.at(pin)->Connected();
  return connected ? connected->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT PushSource::DeliverEndFlush(size_t pin) {
  IPin* connected = pins_.at(pin)->Connected();
  return connected ? connected->EndFlush() : VFW_E_NOT_CONNECTED;
}

}  // namespace kavo::test
