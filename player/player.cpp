#include "player/player.h"

#include <memory>

#include "baseclasses/media_type.h"
#include "filters/dummy_render_filter.h"
#include "meta/text.h"
#include "player/pins.h"
#include "player/source_control.h"

namespace kavo {

using Microsoft::WRL::ComPtr;

namespace {

// {E487EB08-6B26-4BE9-9DD3-993434D313FD}
constexpr GUID kMediaTypeSubtitle = {
    0xE487EB08, 0x6B26, 0x4BE9, {0x9D, 0xD3, 0x99, 0x34, 0x34, 0xD3, 0x13, 0xFD}};
// {87C0B230-03A8-4FDF-8010-B27A5848200D}
constexpr GUID kMediaSubtypeUtf8 = {
    0x87C0B230, 0x03A8, 0x4FDF, {0x80, 0x10, 0xB2, 0x7A, 0x58, 0x48, 0x20, 0x0D}};
// {A33D2F7D-96BC-4337-B23B-A8B9FBC295E9}
constexpr GUID kFormatSubtitleInfo = {
    0xA33D2F7D, 0x96BC, 0x4337, {0xB2, 0x3B, 0xA8, 0xB9, 0xFB, 0xC2, 0x95, 0xE9}};

// The format block that comes with a subtitle type.
struct SubtitleInfo {
  DWORD offset;
  CHAR language[4];  // system ANSI code page, NUL-terminated unless all four are used
  WCHAR trackName[256];
};
static_assert(sizeof(SubtitleInfo) == 520);

struct MediaTypeDeleter {
  void operator()(AM_MEDIA_TYPE* type) const { ds::DeleteMediaType(type); }
};
using MediaTypePtr = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

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

// Visits the media types a pin offers, one at a time; each is freed after the visit.
template <typename Visit>
void ForEachMediaType(IPin* pin, Visit visit) {
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(types.GetAddressOf())) || !types) return;
  for (;;) {
    AM_MEDIA_TYPE* raw = nullptr;
    if (types->Next(1, &raw, nullptr) != S_OK || !raw) return;
    const MediaTypePtr type(raw);
    if (!visit(*type)) return;
  }
}

}  // namespace

Player::~Player() {
  source_.Reset();
  DsPlayerBase::Close();
  for (auto& attached : subtitleRenderers_) attached.renderer.Reset();
  subtitleRenderers_.clear();
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
  if (FAILED(source_.As(&file)) || !file) return E_NOINTERFACE;
  // Loaded first, joins the graph second: a source that cannot load never enters the graph.
  result = file->Load(address.c_str(), nullptr);
  if (FAILED(result)) return result;
  return graph_->AddFilter(source_.Get(), L"Source");
}

HRESULT Player::BuildStep3() { return S_OK; }
HRESULT Player::BuildStep4() { return S_OK; }
HRESULT Player::BuildStep5() { return S_OK; }

HRESULT Player::RenderStreams() {
  auto* dummy = new DsDummyRenderFilter();
  const ComPtr<IBaseFilter> render(static_cast<IBaseFilter*>(dummy));
  dummy->queryReaderOnConnect = true;
  dummy->acceptedMajorTypes = {MEDIATYPE_Stream};

  HRESULT result = graph_->AddFilter(render.Get(), L"Render");
  if (FAILED(result)) return result;

  // Both pins serve as plain pointers: their filters keep them alive.
  IPin* input = FirstInputPin(render.Get());
  ComPtr<IPin> output;
  FindPin(source_.Get(), PINDIR_OUTPUT, 0, output.GetAddressOf());
  result = graph_->ConnectDirect(output.Get(), input, nullptr);
  if (FAILED(result)) return result;
  return AttachSubtitleRenderers();
}

ComPtr<IAsyncReader> Player::GetStreamReader(int index) const {
  ComPtr<IPin> pin;
  if (FindPin(source_.Get(), PINDIR_OUTPUT, index, pin.GetAddressOf()) != S_OK) return nullptr;
  ComPtr<IAsyncReader> reader;
  if (FAILED(pin.As(&reader)) || !reader) return nullptr;
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
  ComPtr<IEnumPins> pins;
  if (FAILED(source_->EnumPins(pins.GetAddressOf())) || !pins) return result;
  for (;;) {
    ComPtr<IPin> pin;
    if (pins->Next(1, pin.GetAddressOf(), nullptr) != S_OK || !pin) break;
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
  auto* created = new CSubtitleRenderer(&result, trackName);
  if (FAILED(result)) {
    delete created;
    return result;
  }
  const ComPtr<IBaseFilter> renderer(static_cast<IBaseFilter*>(created));
  result = graph_->AddFilter(renderer.Get(), L"SubsRenderer");
  if (FAILED(result)) return result;
  result = graph_->ConnectDirect(pin, FirstInputPin(renderer.Get()), nullptr);
  if (FAILED(result)) return result;  // the renderer stays in the graph, unconnected
  ComPtr<ISubtitleRenderer> subtitles;
  if (FAILED(renderer->QueryInterface(IID_ISubtitleRenderer,
                                      reinterpret_cast<void**>(subtitles.GetAddressOf()))) ||
      !subtitles) {
    return E_UNEXPECTED;
  }
  subtitleRenderers_.push_back(AttachedRenderer{subtitles, std::move(trackName)});
  return result;
}

void Player::GetSubtitleFiles(std::vector<std::wstring>& files,
                              std::vector<SubtitleTrack>* tracks) {
  if (graph_) {
    // No reference clock: the renderers take samples as fast as the source delivers them.
    ComPtr<IMediaFilter> filter;
    if (SUCCEEDED(graph_.As(&filter)) && filter) filter->SetSyncSource(nullptr);
    ComPtr<IMediaControl> control;
    if (SUCCEEDED(graph_.As(&control)) && control) control->Run();
    ComPtr<IMediaEvent> events;
    if (SUCCEEDED(graph_->QueryInterface(IID_IMediaEvent,
                                         reinterpret_cast<void**>(events.GetAddressOf()))) &&
        events) {
      long code = 0;
      events->WaitForCompletion(1000, &code);
    }
  }
  for (const auto& attached : subtitleRenderers_) {
    BSTR path = nullptr;
    const HRESULT found = attached.renderer->GetFilePath(&path);
    const std::wstring file = path ? std::wstring(path, SysStringLen(path)) : std::wstring();
    SysFreeString(path);
    if (SUCCEEDED(found)) files.push_back(file);
    if (tracks) {
      // A file that exists but cannot be handed out counts by GetFilePath's own failure.
      const HRESULT written = SUCCEEDED(found) ? S_OK : attached.renderer->GetWriteResult();
      tracks->push_back(SubtitleTrack{attached.trackName, file,
                                      written == S_OK && FAILED(found) ? found : written});
    }
  }
}

}  // namespace kavo
