#include "standin/source_filter.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cwchar>
#include <new>
#include <thread>

#include "common/text.h"
#include "standin/address.h"
#include "standin/enumerators.h"
#include "standin/odd_pins.h"
#include "standin/property_bag.h"
#include "standin/stream_pin.h"
#include "standin/subtitle_pin.h"

namespace kavo::standin {
namespace {

HRESULT NewBstr(const std::wstring& text, BSTR* out) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT OpenStreamPin(IBaseFilter& filter, const wchar_t* name, const std::wstring& path,
                      std::vector<MediaType> types, const ReaderFaults& faults,
                      std::unique_ptr<StreamPin>& pin) {
  FileHandle file;
  std::uint64_t size = 0;
  const HRESULT opened = AsyncFileReader::OpenFile(path, file, size);
  if (FAILED(opened)) {
    SetLastLoadError("cannot open " + WideToUtf8(path));
    return opened;
  }
  pin = std::make_unique<StreamPin>(filter, name, std::move(types), std::move(file), size, faults);
  return S_OK;
}

}  // namespace

SourceFilter::SourceFilter() { NoteFilterCreated(); }

SourceFilter::~SourceFilter() {
  for (SubtitlePin* pin : subtitlePins_) pin->StopStreaming();
}

STDMETHODIMP SourceFilter::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const unsigned hidden = HiddenInterfaces();
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersist) ||
      IsEqualIID(riid, IID_IMediaFilter) || IsEqualIID(riid, IID_IBaseFilter)) {
    *object = static_cast<IBaseFilter*>(this);
  } else if (IsEqualIID(riid, IID_IFileSourceFilter) && !(hidden & kHideFileSource)) {
    *object = static_cast<IFileSourceFilter*>(this);
  } else if (IsEqualIID(riid, IID_ISourceControl) && !(hidden & kHideSourceControl)) {
    *object = static_cast<ISourceControl*>(this);
  } else if (IsEqualIID(riid, IID_IPropertyBag2) && !(hidden & kHidePropertyBag)) {
    *object = static_cast<IPropertyBag2*>(this);
  } else if ((IsEqualIID(riid, kIidMediaContent) || IsEqualIID(riid, IID_IDispatch)) &&
             !(hidden & kHideMediaContent)) {
    *object = static_cast<IAMMediaContent*>(this);
  } else if (IsEqualIID(riid, IID_IAMOpenProgress) && !(hidden & kHideOpenProgress)) {
    *object = static_cast<IAMOpenProgress*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) SourceFilter::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) SourceFilter::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

std::shared_ptr<const Video> SourceFilter::LoadedVideo() const {
  std::lock_guard<std::mutex> guard(lock_);
  return video_;
}

unsigned SourceFilter::HiddenInterfaces() const {
  const std::shared_ptr<const Video> video = LoadedVideo();
  return CurrentControls().hidden | (video ? video->faults.hidden : 0) | loadingHidden_;
}

STDMETHODIMP SourceFilter::GetClassID(CLSID* id) {
  if (!id) return E_POINTER;
  *id = CLSID_KavoSourceFilter;
  return S_OK;
}

HRESULT SourceFilter::ChangeState(FILTER_STATE next, REFERENCE_TIME start) {
  std::lock_guard<std::mutex> change(stateChange_);
  FILTER_STATE previous;
  std::vector<SubtitlePin*> subtitles;
  std::vector<StreamPin*> streams;
  {
    std::lock_guard<std::mutex> guard(lock_);
    previous = state_;
    subtitles = subtitlePins_;
    streams = streamPins_;
  }
  // Samples flow from the pause on, as for any push source: a renderer completes its pause only
  // with a first sample, and the graph manager runs the graph once every filter has paused.
  HRESULT result = S_OK;
  if (next == State_Stopped) {
    // A stop ends every wait for bytes that have not arrived, as a network source's does.
    for (StreamPin* pin : streams) pin->InterruptReads();
    for (SubtitlePin* pin : subtitles) pin->StopStreaming();
  } else if (previous == State_Stopped) {
    for (SubtitlePin* pin : subtitles) {
      result = pin->StartStreaming();
      if (FAILED(result)) break;
    }
    if (FAILED(result)) {
      for (SubtitlePin* pin : subtitles) pin->StopStreaming();
      return result;
    }
  }
  for (StreamPin* pin : streams) pin->SetRunning(next == State_Running);
  const std::shared_ptr<const Video> video = LoadedVideo();
  const std::uint32_t pauseMs = video && next != State_Stopped ? video->pauseMs : 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    state_ = next;
    if (next == State_Running) start_ = start;
    // A stop is complete at once; a change to paused or running takes the buffering's time.
    if (next == State_Stopped || next != previous)
      settles_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(pauseMs);
  }
  stateSettled_.notify_all();
  return pauseMs && next != previous ? S_FALSE : S_OK;
}

STDMETHODIMP SourceFilter::Stop() { return ChangeState(State_Stopped, 0); }
STDMETHODIMP SourceFilter::Pause() { return ChangeState(State_Paused, 0); }
STDMETHODIMP SourceFilter::Run(REFERENCE_TIME start) { return ChangeState(State_Running, start); }

// Waits up to `timeout` for a change under way to complete, as a filter's GetState does.
STDMETHODIMP SourceFilter::GetState(DWORD timeout, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> guard(lock_);
  const auto settled = [this] { return Clock::now() >= settles_; };
  if (timeout == INFINITE) {
    stateSettled_.wait(guard, settled);
  } else {
    stateSettled_.wait_until(guard, Clock::now() + std::chrono::milliseconds(timeout), settled);
  }
  *state = state_;
  return settled() ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

STDMETHODIMP SourceFilter::SetSyncSource(IReferenceClock* clock) {
  Microsoft::WRL::ComPtr<IReferenceClock> replaced(clock);
  std::lock_guard<std::mutex> guard(lock_);
  clock_.Swap(replaced);
  return S_OK;
}

STDMETHODIMP SourceFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  *clock = clock_.Get();
  if (*clock) (*clock)->AddRef();
  return S_OK;
}

STDMETHODIMP SourceFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = nullptr;
  try {
    std::vector<IPin*> list;
    bool outOfSync = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (const auto& pin : pins_) list.push_back(pin.get());
      outOfSync = outOfSyncPending_;
      outOfSyncPending_ = false;
    }
    *pins = new PinEnumerator(this, std::move(list), 0, outOfSync);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  (*pins)->AddRef();
  return S_OK;
}

STDMETHODIMP SourceFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& candidate : pins_) {
    if (candidate->Name() != id) continue;
    *pin = candidate.get();
    (*pin)->AddRef();
    return S_OK;
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP SourceFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock_);
  const size_t length = std::min<size_t>(name_.size(), ARRAYSIZE(info->achName) - 1);
  std::wmemcpy(info->achName, name_.c_str(), length);
  info->achName[length] = L'\0';
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

STDMETHODIMP SourceFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  try {
    std::lock_guard<std::mutex> guard(lock_);
    graph_ = graph;
    name_ = name ? name : L"";
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP SourceFilter::QueryVendorInfo(LPWSTR* info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT SourceFilter::BuildPins(const Video& video) {
  const Faults& faults = video.faults;
  std::vector<std::unique_ptr<PinBase>> pins;
  std::vector<StreamPin*> streams;
  std::vector<SubtitlePin*> subtitles;
  if (faults.inputPinFirst) pins.push_back(std::make_unique<StrayInputPin>(*this));
  if (faults.queryDirectionPin) pins.push_back(std::make_unique<UndecidedPin>(*this));

  std::unique_ptr<StreamPin> pin;
  HRESULT opened = OpenStreamPin(*this, L"Container", video.containerPath,
                                 {MediaType::Stream(faults.containerMajor)}, faults.container, pin);
  if (FAILED(opened)) return opened;
  streams.push_back(pin.get());
  pins.push_back(std::move(pin));
  if (video.audioPath) {
    std::vector<MediaType> types;
    if (faults.audioStreamThird) {
      types.push_back(MediaType::Stream(MEDIATYPE_Audio));
      types.push_back(MediaType::Stream(MEDIATYPE_Text));
    }
    types.push_back(MediaType::Stream(faults.audioMajor));
    opened = OpenStreamPin(*this, L"Audio", *video.audioPath, std::move(types), faults.audio, pin);
    if (FAILED(opened)) return opened;
    streams.push_back(pin.get());
    pins.push_back(std::move(pin));
  }
  for (size_t i = 0; i < video.tracks.size(); ++i) {
    auto subtitle = std::make_unique<SubtitlePin>(
        *this, L"Subtitle " + std::to_wstring(i + 1), video.tracks[i],
        video.tracks[i].extraType || faults.extraSubtitleType, faults.subtitleTextFirst);
    subtitles.push_back(subtitle.get());
    pins.push_back(std::move(subtitle));
  }
  std::lock_guard<std::mutex> guard(lock_);
  pins_ = std::move(pins);
  streamPins_ = std::move(streams);
  subtitlePins_ = std::move(subtitles);
  return S_OK;
}

STDMETHODIMP SourceFilter::Load(LPCOLESTR address, const AM_MEDIA_TYPE*) {
  if (!address) return E_POINTER;
  try {
    std::lock_guard<std::mutex> change(stateChange_);
    if (LoadedVideo()) return E_UNEXPECTED;
    const std::optional<std::wstring> id = VideoIdOf(address);
    if (!id) {
      SetLastLoadError("not a video page address: " + WideToUtf8(address));
      return E_INVALIDARG;
    }
    auto video = std::make_shared<Video>();
    std::string error;
    const HRESULT read = ReadVideo(CatalogRoot(), *id, *video, error);
    if (FAILED(read)) {
      SetLastLoadError(error);
      return read;
    }
    if (FAILED(video->faults.load)) {
      SetLastLoadError("the catalog asks this load to fail");
      return video->faults.load;
    }
    WIN32_FILE_ATTRIBUTE_DATA container = {};
    const LONGLONG total =
        GetFileAttributesExW(video->containerPath.c_str(), GetFileExInfoStandard, &container)
            ? static_cast<LONGLONG>(
                  ULARGE_INTEGER{{container.nFileSizeLow, container.nFileSizeHigh}}.QuadPart)
            : 0;
    if (video->loadMs) {
      loadingHidden_ = video->faults.hidden;
      const HRESULT waited = TakeLoadTime(video->loadMs, video->abortMs, total);
      loadingHidden_ = 0;
      if (FAILED(waited)) {
        SetLastLoadError("the load was aborted");
        return waited;
      }
    }
    // The pins refer to the video's tracks; it is kept for the filter's life from here on.
    const HRESULT built = BuildPins(*video);
    if (FAILED(built)) return built;
    {
      std::lock_guard<std::mutex> progress(progressLock_);
      loadTotal_ = total;
      loaded_ = true;
    }
    std::lock_guard<std::mutex> guard(lock_);
    address_ = address;
    outOfSyncPending_ = video->faults.enumOutOfSyncOnce;
    video_ = std::move(video);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  SetLastLoadError("");
  return S_OK;
}

HRESULT SourceFilter::TakeLoadTime(std::uint32_t ms, std::uint32_t abortMs, LONGLONG total) {
  std::unique_lock<std::mutex> guard(progressLock_);
  loading_ = true;
  aborting_ = false;
  loadStarted_ = std::chrono::steady_clock::now();
  loadTime_ = std::chrono::milliseconds(ms);
  abortTime_ = std::chrono::milliseconds(abortMs);
  loadTotal_ = total;
  abortAsked_.wait_for(guard, loadTime_, [this] { return aborting_; });
  const bool aborted = aborting_;
  loading_ = false;
  aborting_ = false;
  return aborted ? E_ABORT : S_OK;
}

// While a slow Load takes its time, the container counts as fetched in proportion to the time
// passed; once loaded, all of it.
STDMETHODIMP SourceFilter::QueryProgress(LONGLONG* total, LONGLONG* current) {
  if (!total || !current) return E_POINTER;
  std::lock_guard<std::mutex> guard(progressLock_);
  *total = 0;
  *current = 0;
  if (loaded_) {
    *total = *current = loadTotal_;
    return S_OK;
  }
  if (!loading_) return E_UNEXPECTED;
  const auto passed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - loadStarted_);
  *total = loadTotal_;
  *current = loadTotal_ * std::min(passed, loadTime_).count() / loadTime_.count();
  return S_OK;
}

// Called from another thread than the Load's; it takes only the progress lock, which the
// waiting Load has given up. With abort_ms it returns only that long after the Load was told, as
// a filter does that waits for its network request to wind down.
STDMETHODIMP SourceFilter::AbortOperation() {
  NoteCallerApartment();
  std::chrono::milliseconds windDown{0};
  {
    std::lock_guard<std::mutex> guard(progressLock_);
    if (!loading_) return S_OK;
    aborting_ = true;
    windDown = abortTime_;
  }
  abortAsked_.notify_all();
  if (windDown.count() > 0) std::this_thread::sleep_for(windDown);
  return S_OK;
}

STDMETHODIMP SourceFilter::GetCurFile(LPOLESTR* address, AM_MEDIA_TYPE* type) {
  if (!address) return E_POINTER;
  *address = nullptr;
  std::shared_ptr<const Video> video;
  std::wstring copy;
  try {
    std::lock_guard<std::mutex> guard(lock_);
    video = video_;
    copy = address_;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!video) return E_FAIL;
  *address = static_cast<LPOLESTR>(CoTaskMemAlloc((copy.size() + 1) * sizeof(wchar_t)));
  if (!*address) return E_OUTOFMEMORY;
  std::wmemcpy(*address, copy.c_str(), copy.size() + 1);
  if (type) return MediaType::Stream(video->faults.containerMajor).CopyTo(type);
  return S_OK;
}

ULONG STDMETHODCALLTYPE SourceFilter::GetVersion() {
  const std::shared_ptr<const Video> video = LoadedVideo();
  if (video && video->version) return *video->version;
  return CurrentControls().version;
}

STDMETHODIMP SourceFilter::Unused1() { return E_NOTIMPL; }
STDMETHODIMP SourceFilter::Unused2() { return E_NOTIMPL; }

STDMETHODIMP SourceFilter::NormalizeAddress(LPCWSTR address, DWORD, BSTR* normalized) {
  if (!normalized) return E_POINTER;
  *normalized = nullptr;
  try {
    const ProcessControls controls = CurrentControls();
    if (controls.normalizeForced) {
      if (!controls.normalizeNull) {
        const HRESULT made = NewBstr(controls.normalizeAddress, normalized);
        if (FAILED(made)) return made;
      }
      return controls.normalizeResult;
    }
    if (!address) return E_POINTER;
    const std::optional<std::wstring> id = VideoIdOf(address);
    if (!id) return S_FALSE;
    return NewBstr(CanonicalAddress(*id), normalized);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

ULONG STDMETHODCALLTYPE SourceFilter::GetStartOffset(LPCWSTR address) {
  if (!address) return 0;
  try {
    return StartOffsetMs(address);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

STDMETHODIMP SourceFilter::Read(ULONG count, PROPBAG2* descriptions, IErrorLog*, VARIANT* values,
                                HRESULT* results) {
  const std::shared_ptr<const Video> video = LoadedVideo();
  if (video && FAILED(video->faults.propertyRead)) return video->faults.propertyRead;
  return ReadProperties(video ? video->properties : std::vector<BagProperty>(), count, descriptions,
                        values, results, video && video->faults.propertyReadPartial);
}

STDMETHODIMP SourceFilter::Write(ULONG, PROPBAG2*, VARIANT*) { return E_NOTIMPL; }

STDMETHODIMP SourceFilter::CountProperties(ULONG* count) {
  if (!count) return E_POINTER;
  const std::shared_ptr<const Video> video = LoadedVideo();
  if (video && FAILED(video->faults.propertyCount)) return video->faults.propertyCount;
  *count = video ? static_cast<ULONG>(video->properties.size()) : 0;
  return S_OK;
}

STDMETHODIMP SourceFilter::GetPropertyInfo(ULONG from, ULONG count, PROPBAG2* descriptions,
                                           ULONG* returned) {
  const std::shared_ptr<const Video> video = LoadedVideo();
  if (video && FAILED(video->faults.propertyInfo)) return video->faults.propertyInfo;
  return DescribeProperties(video ? video->properties : std::vector<BagProperty>(), from, count,
                            descriptions, returned);
}

STDMETHODIMP SourceFilter::LoadObject(LPCOLESTR, DWORD, IUnknown*, IErrorLog*) { return E_NOTIMPL; }

STDMETHODIMP SourceFilter::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return E_NOTIMPL;
}

STDMETHODIMP SourceFilter::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP SourceFilter::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}

STDMETHODIMP SourceFilter::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                  UINT*) {
  return E_NOTIMPL;
}

namespace {

// What IAMMediaContent says: media_title / media_description, else the text of the bag
// property of that name, else nothing.
HRESULT MediaText(const Video* video, bool title, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  if (!video) return VFW_E_NOT_FOUND;
  const std::optional<std::wstring>& chosen = title ? video->mediaTitle : video->mediaDescription;
  if (chosen) return NewBstr(*chosen, text);
  const wchar_t* name = title ? L"title" : L"description";
  for (const BagProperty& property : video->properties) {
    if (!property.nullName && property.name == name && property.kind == ValueKind::String) {
      return NewBstr(property.text, text);
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT NotOffered(BSTR* text) {
  if (text) *text = nullptr;
  return E_NOTIMPL;
}

}  // namespace

STDMETHODIMP SourceFilter::get_Title(BSTR* text) {
  try {
    return MediaText(LoadedVideo().get(), true, text);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP SourceFilter::get_Description(BSTR* text) {
  try {
    return MediaText(LoadedVideo().get(), false, text);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP SourceFilter::get_AuthorName(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_Rating(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_Copyright(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_BaseURL(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_LogoURL(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_LogoIconURL(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_WatermarkURL(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_MoreInfoURL(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_MoreInfoBannerImage(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_MoreInfoBannerURL(BSTR* text) { return NotOffered(text); }
STDMETHODIMP SourceFilter::get_MoreInfoText(BSTR* text) { return NotOffered(text); }

}  // namespace kavo::standin
