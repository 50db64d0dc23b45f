#include "host/access.h"

#include <memory>
#include <string>

#include "common/bstr.h"
#include "common/query.h"
#include "common/text.h"
#include "host/access_state.h"
#include "host/hand_over.h"
#include "host/host_object.h"
#include "host/host_stop.h"
#include "host/loaded_modules.h"
#include "host/open_cancel.h"
#include "host/player_registry.h"
#include "host/stream_callbacks.h"
#include "source/source_filter.h"

namespace kavo::host {

namespace {

using Microsoft::WRL::ComPtr;

const wchar_t kSlaveMarker[] = L"vlc_slave=1";

// Balances one successful CoInitializeEx unless the open succeeds and hands the apartment to its
// close.
class ApartmentScope {
 public:
  ApartmentScope() : result_(EnterApartment()) {}
  ~ApartmentScope() {
    if (SUCCEEDED(result_) && !kept_) CoUninitialize();
  }
  ApartmentScope(const ApartmentScope&) = delete;
  ApartmentScope& operator=(const ApartmentScope&) = delete;

  bool entered() const { return SUCCEEDED(result_); }
  void KeepForClose() { kept_ = true; }

 private:
  HRESULT result_;
  bool kept_ = false;
};

// Asks a short-lived instance of the source filter for the address's canonical form. Only S_OK
// with a non-empty answer counts: an empty key would join unrelated videos in the registry.
// hostLocation is the address as the host gave it, for the log.
bool NormalizeAddress(const std::wstring& location, const char* hostLocation,
                      std::wstring& normalized, HostLog& log) {
  ComPtr<IBaseFilter> filter;
  const HRESULT created = CreateSourceFilter(filter.GetAddressOf());
  if (FAILED(created)) {
    log.Error([&] {
      return "cannot create the source filter " + GuidString(CLSID_KavoSourceFilter) + " (" +
             DescribeResult(created) +
             "): it is not installed or not registered, and it must be registered";
    });
    return false;
  }
  ComPtr<ISourceControl> control;
  if (FAILED(Query(filter.Get(), IID_ISourceControl, control))) {
    log.Error([&] {
      return "the registered source filter " + GuidString(CLSID_KavoSourceFilter) +
             " lacks its control interface: it is not the filter this module needs";
    });
    return false;
  }
  Bstr answer;
  const HRESULT result = control->NormalizeAddress(location.c_str(), 0, answer.Receive());
  if (result == S_OK) normalized = answer.Text();  // up to the first NUL
  if (result == S_OK && !normalized.empty()) return true;
  log.Debug([&] {
    return std::string("the source filter declines \"") + hostLocation + "\" (" +
           HresultHex(result) + "): other modules will try it";
  });
  return false;
}

void LogSize(AccessState& state) {
  state.log.Debug([&] {
    return std::string(state.streamName) + " stream size: " + std::to_string(state.size) +
           (state.sizeKind == AccessState::Size::Estimated ? " bytes (estimated)" : " bytes");
  });
}

int OpenAccess(const HostAbi& abi, void* object) {
  HostObject host(abi, object);
  const char* const hostLocation = host.Get<const char*>(abi.location);
  const char* const givenLocation = hostLocation ? hostLocation : "";
  auto state = std::make_unique<AccessState>(abi, object);
  HostLog& log = state->log;
  // A location cut at a bad byte would be another address: another video, or a slave marker lost.
  std::wstring location;
  if (!Utf8ToWideStrict(givenLocation, location)) {
    log.Debug([&] {
      return std::string("the address \"") + givenLocation +
             "\" is not valid UTF-8: not opened, other modules will try it";
    });
    return VLC_EGENERIC;
  }
  const bool slave = FindMarker(location, kSlaveMarker) != std::wstring::npos;

  ApartmentScope apartment;
  if (!apartment.entered()) return VLC_EGENERIC;

  std::wstring normalized;
  if (!NormalizeAddress(location, givenLocation, normalized, log)) return VLC_EGENERIC;
  log.Debug([&] { return "normalized address: " + WideToUtf8(normalized); });

  // A slave is a source of its main's own input: it joins the player registered for that input.
  void* const parentInput = host.Get<void*>(abi.input);
  PlayerHandle player;
  if (slave) {
    player = Registry().JoinPlayer(normalized, parentInput);
    if (!player) {
      log.Error([] { return "no open video for this audio stream: its video was closed"; });
      return VLC_EGENERIC;
    }
  } else {
    LoadGraphManager();
    player.reset(new Player());
    OpenCancel cancel(abi, object);
    player->WatchLoad(&cancel);
    const HRESULT opened = player->Open(normalized);
    player->WatchLoad(nullptr);
    // A stop seen before the Load, during it or while the graph was built ends the open for good,
    // whatever the filter made of it: the host then tries the address with no other module.
    if (cancel.cancelled() || HostStop(abi, object).Requested()) {
      log.Debug(
          [] { return "the open was cancelled while the video loaded: the host stopped it"; });
      return VLC_ETIMEOUT;
    }
    if (FAILED(opened)) {
      log.Error([&] {
        return "the video did not load (" + DescribeResult(opened) +
               "): the source filter could not load it or connect its main stream";
      });
      return VLC_EGENERIC;
    }
  }

  state->streamName = slave ? "audio" : "main";
  if (!slave) Registry().RegisterPlayer(normalized, player, parentInput);
  const ComPtr<IAsyncReader> reader = player->GetStreamReader(slave ? 1 : 0);
  if (!reader) {
    log.Error([&] {
      return std::string("the source filter offers no reader on its ") + state->streamName +
             " stream";
    });
    Registry().ReleasePlayer(player);
    return VLC_EGENERIC;
  }

  state->player = player;
  state->reader = reader;
  UpdateSize(*state);
  if (state->sizeKind != AccessState::Size::Unknown) LogSize(*state);

  const StreamCallbacks callbacks = StreamCallbacksFor(abi);
  AccessState* const kept = state.release();  // the close deletes it
  host.Set<void*>(abi.sys, kept);
  host.Set(abi.read, callbacks.read);
  host.Set<void*>(abi.block, nullptr);
  if (host.Has(abi.readdir)) host.Set<void*>(abi.readdir, nullptr);
  host.Set(abi.seek, callbacks.seek);
  host.Set(abi.control, callbacks.control);
  if (host.Has(abi.infoPosition)) host.Set<std::int64_t>(abi.infoPosition, 0);
  if (host.Has(abi.infoEof)) host.Set<bool>(abi.infoEof, false);
  apartment.KeepForClose();

  if (!slave && parentInput) {
    // The access works from here on: whatever goes wrong in the hand-over only leaves out its
    // own contribution.
    try {
      kept->lateSubtitles = HandOverMainInput(host, parentInput, player, location, normalized, log);
    } catch (const std::exception&) {
    }
  }
  // A source may start its work only once its graph runs: asked again after the hand-over, which
  // starts the graph (or has the subtitle waiter start it), and again by the first read that
  // reaches the size; a slave joins a running graph.
  if (kept->sizeKind == AccessState::Size::Unknown) {
    UpdateSize(*kept);
    if (kept->sizeKind == AccessState::Size::Unknown)
      NoteSizeUnknown(*kept);
    else
      LogSize(*kept);
  }
  return VLC_SUCCESS;
}

void CloseAccess(const HostAbi& abi, void* object) {
  HostObject host(abi, object);
  auto* state = host.Get<AccessState*>(abi.sys);
  state->log.Close();            // nothing is logged from any thread once the close begins
  state->lateSubtitles.reset();  // stops the waiter before the player its tracks belong to
  Registry().ReleasePlayer(state->player);
  state->reader.Reset();
  state->player.reset();  // the last handle takes the player and its graph with it
  delete state;
  CoUninitialize();
}

// No exception may reach the host: running out of memory fails the open like any other error.
int GuardedOpen(const HostAbi& abi, void* object) {
  try {
    return OpenAccess(abi, object);
  } catch (const std::exception&) {
    return VLC_EGENERIC;
  }
}

}  // namespace

int VlcOpen(void* stream) { return GuardedOpen(kAbi30Dev, stream); }
void VlcClose(void* stream) { CloseAccess(kAbi30Dev, stream); }
int VlcOpen22(void* access) { return GuardedOpen(kAbi22, access); }
void VlcClose22(void* access) { CloseAccess(kAbi22, access); }
int VlcOpenRelease(void* stream) { return GuardedOpen(kAbi30Release, stream); }
void VlcCloseRelease(void* stream) { CloseAccess(kAbi30Release, stream); }

}  // namespace kavo::host
