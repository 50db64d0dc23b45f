#include "player/player.h"

#include <evcode.h>

#include <memory>

#include "common/bstr.h"
#include "common/media_type.h"
#include "common/query.h"
#include "common/text.h"
#include "filters/dummy_render_filter.h"
#include "player/pins.h"
#include "source/source_filter.h"

namespace kavo {

using Microsoft::WRL::ComPtr;

namespace {

bool IsSubtitleType(const AM_MEDIA_TYPE& type) {
  return type.majortype == kMediaTypeSubtitle && type.subtype == kMediaSubtypeUtf8 &&
         type.formattype == kFormatSubtitleInfo && type.cbFormat == sizeof(SubtitleInfo) &&
         type.pbFormat;
}

// The track's name, or failing that its language code; may be empty.
std::wstring TrackName(const AM_MEDIA_TYPE& type) {
  const auto* info = reinterpret_cast<const SubtitleInfo*>(type.pbFormat);
  size_t length = 0;
  while (length < 256 && info->trackName[length]) ++length;
  if (length > 0) return std::wstring(info->trackName, length);
  length = 0;
  while (length < 4 && info->language[length]) ++length;
  return MultiByteToWide(std::string(info->language, length), CP_ACP);
}

// Visits the media types a pin offers, in its order, until a visit says to stop.
template <typename Visit>
void ForEachMediaType(IPin* pin, Visit visit) {
  std::vector<MediaTypePtr> types;
  ListMediaTypes(pin, types);
  for (const MediaTypePtr& type : types) {
    if (!visit(*type)) return;
  }
}

// How often a read that waits for the source to run looks again: as the graph manager itself
// polls a filter in transition.
constexpr DWORD kSourceRunPollMs = 10;

// CoIncrementMTAUsage and its counterpart, from Windows 8 on; looked up, as older systems lack
// them.
using MtaUsageIncrement = HRESULT(WINAPI*)(void** cookie);
using MtaUsageDecrement = HRESULT(WINAPI*)(void* cookie);

template <typename Function>
Function ComFunction(const char* name) {
  const HMODULE ole32 = GetModuleHandleW(L"ole32.dll");
  return ole32 ? reinterpret_cast<Function>(GetProcAddress(ole32, name)) : nullptr;
}

}  // namespace

Player::Player() {
  const auto increment = ComFunction<MtaUsageIncrement>("CoIncrementMTAUsage");
  if (increment && FAILED(increment(&mtaUsage_))) mtaUsage_ = nullptr;
}

Player::~Player() {
  source_.Reset();
  DsPlayerBase::Close();
  for (auto& attached : subtitleRenderers_) attached.renderer.Reset();
  subtitleRenderers_.clear();
  if (mtaUsage_) ComFunction<MtaUsageDecrement>("CoDecrementMTAUsage")(mtaUsage_);
}

void Player::Close() {
  source_.Reset();
  DsPlayerBase::Close();
}

ComPtr<IBaseFilter> Player::GetSourceFilter() const { return source_; }

HRESULT Player::AddSource(const std::wstring& address) {
  HRESULT result = CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                    reinterpret_cast<void**>(source_.ReleaseAndGetAddressOf()));
  if (FAILED(result)) return result;
  ComPtr<IFileSourceFilter> file;
  if (FAILED(Query(source_.Get(), IID_IFileSourceFilter, file))) return E_NOINTERFACE;
  // Loaded first, joins the graph second: a source that cannot load never enters the graph.
  if (loadWatch_) {
    ComPtr<IAMOpenProgress> progress;
    Query(source_.Get(), IID_IAMOpenProgress, progress);
    if (!loadWatch_->LoadStarting(progress.Get())) return E_ABORT;
  }
  result = file->Load(address.c_str(), nullptr);
  if (loadWatch_) loadWatch_->LoadEnded();
  if (FAILED(result)) return result;
  return graph_->AddFilter(source_.Get(), L"Source");
}

HRESULT Player::BuildStep3() { return S_OK; }
HRESULT Player::BuildStep4() { return S_OK; }
HRESULT Player::BuildStep5() { return S_OK; }

HRESULT Player::RenderStreams() {
  auto* dummy = new DsDummyRenderFilter();
  const ComPtr<IBaseFilter> render(static_cast<IBaseFilter*>(dummy));
  // A reader pin completes a connection only for a peer that asked it for its reader.
  dummy->queryReaderOnConnect = true;
  dummy->acceptedMajorTypes = {MEDIATYPE_Stream};

  HRESULT result = graph_->AddFilter(render.Get(), L"Render");
  if (FAILED(result)) return result;

  // Both pins serve as plain pointers: their filters keep them alive.
  IPin* input = FirstInputPin(render.Get());
  ComPtr<IPin> output;
  result = FindPin(source_.Get(), PINDIR_OUTPUT, 0, output.GetAddressOf());
  if (FAILED(result)) return result;
  result = graph_->ConnectDirect(output.Get(), input, nullptr);
  if (FAILED(result)) return result;
  return AttachSubtitleRenderers();
}

ComPtr<IAsyncReader> Player::GetStreamReader(int index) const {
  ComPtr<IPin> pin;
  if (FindPin(source_.Get(), PINDIR_OUTPUT, index, pin.GetAddressOf()) != S_OK) return nullptr;
  ComPtr<IAsyncReader> reader;
  if (FAILED(Query(pin.Get(), IID_IAsyncReader, reader))) return nullptr;
  return reader;
}

bool Player::HasSecondStream() const {
  ComPtr<IPin> pin;
  if (FindPin(source_.Get(), PINDIR_OUTPUT, 1, pin.GetAddressOf()) != S_OK) return false;
  bool found = false;
  ForEachMediaType(pin.Get(), [&](const AM_MEDIA_TYPE& type) {
    found = type.majortype == MEDIATYPE_Stream;
    return !found;
  });
  return found;
}

HRESULT Player::AttachSubtitleRenderers() {
  HRESULT result = S_OK;
  if (!source_) return result;
  std::vector<ComPtr<IPin>> pins;
  ListPins(source_.Get(), pins);
  for (const ComPtr<IPin>& pin : pins) {
    // A failed attempt leaves the pin; the walk goes on, and the last attempt decides the result.
    ForEachMediaType(pin.Get(), [&](const AM_MEDIA_TYPE& type) {
      if (!IsSubtitleType(type)) return true;
      result = AttachSubtitleRenderer(pin.Get(), type);
      return SUCCEEDED(result);
    });
  }
  return result;
}

HRESULT Player::AttachSubtitleRenderer(IPin* pin, const AM_MEDIA_TYPE& type) {
  HRESULT result = S_OK;
  std::wstring trackName = TrackName(type);
  auto* created = new CSubtitleRenderer(&result, trackName, type);
  if (FAILED(result)) {
    delete created;
    return result;
  }
  const ComPtr<IBaseFilter> renderer(static_cast<IBaseFilter*>(created));
  result = graph_->AddFilter(renderer.Get(), L"SubsRenderer");
  if (FAILED(result)) return result;
  // With the type it was chosen for: given none, a pin connects with the first of its own types
  // the renderer takes, and a pin may offer plain text first.
  result = graph_->ConnectDirect(pin, FirstInputPin(renderer.Get()), &type);
  if (FAILED(result)) return result;  // the renderer stays in the graph, unconnected
  ComPtr<ISubtitleRenderer> subtitles;
  if (FAILED(Query(renderer.Get(), IID_ISubtitleRenderer, subtitles))) return E_UNEXPECTED;
  subtitleRenderers_.push_back(AttachedSubtitles{subtitles, std::move(trackName)});
  return result;
}

PendingSubtitles Player::PrepareRun() {
  if (!graph_) return PendingSubtitles();
  // No reference clock: the renderers take samples as fast as the source delivers them.
  ComPtr<IMediaFilter> filter;
  if (SUCCEEDED(Query(graph_.Get(), IID_IMediaFilter, filter))) filter->SetSyncSource(nullptr);
  // Each renderer's end is wanted on its own, not only the graph's completion once all have ended.
  ComPtr<IMediaEvent> events;
  if (SUCCEEDED(Query(graph_.Get(), IID_IMediaEvent, events)) &&
      FAILED(events->CancelDefaultHandling(EC_COMPLETE))) {
    events.Reset();
  }
  // Run even without subtitles: a source filter may start its work only once the graph runs.
  ComPtr<IMediaControl> control;
  Query(graph_.Get(), IID_IMediaControl, control);
  runState_ = RunState::Pending;
  return PendingSubtitles(events, subtitleRenderers_, [this, control](bool start) {
    // A graph that is not started leaves its source as it is: reads then wait for nothing.
    if (!start || !control || FAILED(control->Run())) runState_ = RunState::NotStarted;
  });
}

bool Player::WaitForSourceRun(const std::function<bool()>& stopped) {
  for (;;) {
    if (runState_ != RunState::Pending) return true;
    // A source that cannot say its state is not waited for.
    FILTER_STATE state = State_Stopped;
    if (!source_ || FAILED(source_->GetState(0, &state)) || state == State_Running) {
      RunState pending = RunState::Pending;
      runState_.compare_exchange_strong(pending, RunState::SourceRunning);
      return true;
    }
    if (stopped()) return false;
    Sleep(kSourceRunPollMs);
  }
}

PendingSubtitles Player::GetSubtitleFiles(std::vector<std::wstring>& files, DWORD waitMs,
                                          std::vector<SubtitleTrack>* tracks) {
  PendingSubtitles pending = PrepareRun();
  pending.RunGraph();
  pending.WaitForEnds(waitMs);
  std::vector<SubtitleTrack> seen;
  pending.TakeWritten(seen);
  for (auto& track : seen) {
    if (track.state == S_OK) files.push_back(track.path);
  }
  if (tracks) tracks->insert(tracks->end(), seen.begin(), seen.end());
  return pending;
}

}  // namespace kavo
