#include "host/access.h"

#include <new>

#include "common/bstr.h"
#include "common/query.h"
#include "common/text.h"
#include "host/access_state.h"
#include "host/hand_over.h"
#include "host/host_object.h"
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
  ApartmentScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
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
bool NormalizeAddress(const std::wstring& location, std::wstring& normalized) {
  ComPtr<IBaseFilter> filter;
  if (FAILED(CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                              reinterpret_cast<void**>(filter.GetAddressOf()))))
    return false;
  ComPtr<ISourceControl> control;
  if (FAILED(Query(filter.Get(), IID_ISourceControl, control))) return false;
  Bstr answer;
  const HRESULT result = control->NormalizeAddress(location.c_str(), 0, answer.Receive());
  if (result == S_OK) normalized = answer.Text();  // up to the first NUL
  return result == S_OK && !normalized.empty();
}

// Wine deadlocks on its loader lock when one thread loads the graph manager's DLL (with the DLLs
// it pulls in) for the first time while another thread enters its first COM apartment: two
// inputs opening at once hang for good. Loading it once, before any open enters an apartment,
// with concurrent first opens waiting here, takes that race away. On Windows it costs one load.
// Only the system folder is searched, so a quartz.dll beside a portable player is never loaded;
// where that flag is unknown (Windows 7 without its loader update) nothing is preloaded.
void LoadGraphManagerOnce() {
  static const HMODULE graphManager =
      LoadLibraryExW(L"quartz.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  static_cast<void>(graphManager);
}

int OpenAccess(const HostAbi& abi, void* object) {
  LoadGraphManagerOnce();
  HostObject host(abi, object);
  const char* hostLocation = host.Get<const char*>(abi.location);
  // A location cut at a bad byte would be another address: another video, or a slave marker lost.
  std::wstring location;
  if (!Utf8ToWideStrict(hostLocation ? hostLocation : "", location)) return VLC_EGENERIC;
  const bool slave = FindMarker(location, kSlaveMarker) != std::wstring::npos;

  ApartmentScope apartment;
  if (!apartment.entered()) return VLC_EGENERIC;

  std::wstring normalized;
  if (!NormalizeAddress(location, normalized)) return VLC_EGENERIC;

  PlayerHandle player;
  if (slave) {
    player = Registry().LookupPlayer(normalized);
    if (!player) return VLC_EGENERIC;
  } else {
    player.reset(new Player());
    if (FAILED(player->Open(normalized))) return VLC_EGENERIC;
  }

  Registry().RegisterPlayer(normalized, player);
  const ComPtr<IAsyncReader> reader = player->GetStreamReader(slave ? 1 : 0);
  if (!reader) {
    Registry().ReleasePlayer(player);
    return VLC_EGENERIC;
  }

  auto* state = new (std::nothrow) AccessState();
  if (!state) {
    Registry().ReleasePlayer(player);
    return VLC_EGENERIC;
  }
  state->player = player;
  state->reader = reader;
  UpdateSize(*state);

  const StreamCallbacks callbacks = StreamCallbacksFor(abi);
  host.Set<void*>(abi.sys, state);
  host.Set(abi.read, callbacks.read);
  host.Set<void*>(abi.block, nullptr);
  if (host.Has(abi.readdir)) host.Set<void*>(abi.readdir, nullptr);
  host.Set(abi.seek, callbacks.seek);
  host.Set(abi.control, callbacks.control);
  if (host.Has(abi.infoPosition)) host.Set<std::int64_t>(abi.infoPosition, 0);
  if (host.Has(abi.infoEof)) host.Set<bool>(abi.infoEof, false);
  apartment.KeepForClose();

  void* input = host.Get<void*>(abi.input);
  if (!slave && input) {
    // The access works from here on: whatever goes wrong in the hand-over only leaves out its
    // own contribution.
    try {
      state->lateSubtitles = HandOverMainInput(host, input, player, location, normalized);
    } catch (const std::exception&) {
    }
  }
  return VLC_SUCCESS;
}

void CloseAccess(const HostAbi& abi, void* object) {
  HostObject host(abi, object);
  auto* state = host.Get<AccessState*>(abi.sys);
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
