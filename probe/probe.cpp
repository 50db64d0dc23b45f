// kavo_probe: does for one address what the plug-in does when the player opens it, without a
// player, and says what it found at each step. It tells a user whether a problem lies in the
// source filter (not registered, address declined, video not loaded, streams missing or
// unreadable), in the plug-in, or in the player.
//
//   kavo_probe.exe <address>          for example: kavo_probe.exe https://video.example/watch?v=ID
//
// Exit codes: 0 everything found, 1 usage, 2 source filter missing, 3 address declined, 4 graph not
// built (the video did not load), 5 no reader on the main stream, 6 main stream unreadable.
#include <windows.h>

#include <dshow.h>
#include <shellapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/bstr.h"
#include "common/query.h"
#include "common/text.h"
#include "meta/metadata_reader.h"
#include "player/player.h"
#include "source/source_filter.h"

using Microsoft::WRL::ComPtr;
using namespace kavo;

namespace {

enum Status {
  kFound = 0,
  kUsage = 1,
  kNoSourceFilter = 2,
  kDeclined = 3,
  kNotLoaded = 4,
  kNoReader = 5,
  kUnreadable = 6
};

// How much of each end of a stream the probe reads, as the player's first reads would.
constexpr LONG kProbeRead = 65536;
// How long the probe waits for the subtitle tracks to end, each a download of its own, so that it
// can list them; the plug-in's own open waits for none.
constexpr DWORD kSubtitleWaitMs = 10000;

void Say(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// A value on one line: line breaks show as "\n".
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text)
    line += c == '\n' ? std::string("\\n") : c == '\r' ? std::string() : std::string(1, c);
  return line;
}

// The address without its scheme, as the player hands it to the plug-in.
std::wstring HostLocation(const std::wstring& address) {
  const auto scheme = address.find(L"://");
  return scheme == std::wstring::npos ? address : address.substr(scheme + 3);
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// The plug-in beside the probe, if there is one: can this machine load it, and does it serve the
// three host ABIs? Loading it runs nothing of the player's.
void CheckPlugin() {
  const std::wstring path = OwnFolder() + L"libkavo_plugin.dll";
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    Say("plug-in:    libkavo_plugin.dll is not beside the probe (not checked)");
    return;
  }
  const HMODULE plugin = LoadLibraryW(path.c_str());
  if (!plugin) {
    Say("plug-in:    libkavo_plugin.dll beside the probe cannot be loaded (error " +
        std::to_string(GetLastError()) + "): a damaged copy, or not a 64-bit Windows DLL");
    return;
  }
  std::string served;
  const char* const entries[][2] = {{"vlc_entry__2_2_0b", "VLC 2.2"},
                                    {"vlc_entry__3_0_0f", "VLC 3.0.x"},
                                    {"vlc_entry__3_0_0d", "VLC 3.0 development builds"}};
  for (const auto& entry : entries) {
    if (GetProcAddress(plugin, entry[0]))
      served += std::string(served.empty() ? "" : ", ") + entry[1];
  }
  Say("plug-in:    libkavo_plugin.dll loads; serves " + (served.empty() ? "no host" : served));
}

struct StreamCheck {
  HRESULT length = E_FAIL;
  long long total = 0;
  HRESULT head = E_FAIL;  // a read at the start
  HRESULT tail = E_FAIL;  // a read that ends at the end
  bool readable() const {
    return SUCCEEDED(length) && total > 0 && head == S_OK && SUCCEEDED(tail);
  }
};

// Length, then one read at each end of the stream with SyncRead, the reader's plainest call: it
// tells whether the stream can be read at all, which every reader must serve, whatever it makes of
// the queued requests the plug-in reads with.
StreamCheck CheckStream(IAsyncReader* reader) {
  StreamCheck check;
  LONGLONG available = 0;  // readers written the usual way write it whether asked or not
  check.length = reader->Length(&check.total, &available);
  if (FAILED(check.length) || check.total <= 0) return check;
  std::vector<BYTE> buffer(kProbeRead);
  const LONG headCount = static_cast<LONG>(std::min<long long>(kProbeRead, check.total));
  check.head = reader->SyncRead(0, headCount, buffer.data());
  check.tail = reader->SyncRead(check.total - headCount, headCount, buffer.data());
  return check;
}

std::string Describe(const StreamCheck& check) {
  if (FAILED(check.length)) return "its length cannot be read (" + HresultHex(check.length) + ")";
  if (check.total <= 0) return "it reports no length";
  std::string text = std::to_string(check.total) + " bytes";
  if (check.head != S_OK)
    return text + ", its first bytes cannot be read (" + HresultHex(check.head) + ")";
  if (FAILED(check.tail))
    return text + ", its last bytes cannot be read (" + HresultHex(check.tail) + ")";
  return text + ", readable";
}

// "1\n00:00:00,000 --> 00:00:01,500\nHello" becomes "00:00:00,000 --> 00:00:01,500 Hello".
std::string FirstCue(const std::string& content) {
  const auto end = content.find("\n\n");
  std::string cue = content.substr(0, end == std::string::npos ? content.size() : end);
  const auto numberEnd = cue.find('\n');
  if (numberEnd != std::string::npos) cue = cue.substr(numberEnd + 1);
  const auto timesEnd = cue.find('\n');
  if (timesEnd != std::string::npos) cue[timesEnd] = ' ';
  return OneLine(cue);
}

int Probe(const std::wstring& address) {
  const std::wstring location = HostLocation(address);
  Say("address:    " + WideToUtf8(address));
  CheckPlugin();

  ComPtr<IBaseFilter> filter;
  HRESULT result = CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                    reinterpret_cast<void**>(filter.GetAddressOf()));
  if (FAILED(result)) {
    Say("source filter " + GuidString(CLSID_KavoSourceFilter) + " cannot be created (" +
        HresultHex(result) +
        "): it is not installed or not registered. The plug-in cannot open any address.");
    return kNoSourceFilter;
  }
  ComPtr<ISourceControl> control;
  if (FAILED(Query(filter.Get(), IID_ISourceControl, control))) {
    Say("the source filter lacks its control interface: it is not the filter the plug-in needs.");
    return kNoSourceFilter;
  }
  Say("source:     filter version " + std::to_string(control->GetVersion()));

  Bstr answer;
  result = control->NormalizeAddress(location.c_str(), 0, answer.Receive());
  const std::wstring normalized = answer.Text();
  if (result != S_OK || normalized.empty()) {
    Say("the source filter declines this address (" + HresultHex(result) +
        "): the plug-in leaves it to the player's other modules.");
    return kDeclined;
  }
  Say("normalized: " + WideToUtf8(normalized));
  const ULONG startMs = QueryStartOffset(filter.Get(), location);
  filter.Reset();
  control.Reset();

  const PlayerHandle player(new Player());
  result = player->Open(normalized);
  if (FAILED(result)) {
    Say("the graph cannot be built (" + HresultHex(result) +
        "): the source filter did not load the video or its main stream cannot be connected.");
    return kNotLoaded;
  }
  // Started before the streams are read, as the plug-in does: a source may serve reads only while
  // it runs.
  PendingSubtitles pending = player->PrepareRun();
  pending.RunGraph();
  const ULONGLONG runDeadline = GetTickCount64() + kSubtitleWaitMs;
  player->WaitForSourceRun([runDeadline] { return GetTickCount64() >= runDeadline; });
  const ComPtr<IAsyncReader> container = player->GetStreamReader(0);
  if (!container) {
    Say("the source filter offers no reader on its main stream: nothing to play.");
    return kNoReader;
  }
  const StreamCheck main = CheckStream(container.Get());
  Say("stream 0:   container, " + Describe(main));
  const ComPtr<IAsyncReader> audio = player->GetStreamReader(1);
  if (player->HasSecondStream() && audio)
    Say("stream 1:   separate audio, " + Describe(CheckStream(audio.Get())));
  else
    Say("stream 1:   none (audio is inside the container)");

  MetadataRecord record;
  ReadFilterMetadata(player->GetSourceFilter(), record);
  Say("metadata:   " + std::to_string(record.size()) + " entries");
  for (const auto& [key, value] : record) Say("  " + key + " = " + OneLine(value));
  Say("start time: " + (startMs ? std::to_string(startMs) + " ms" : std::string("none")));

  pending.WaitForEnds(kSubtitleWaitMs);
  std::vector<SubtitleTrack> tracks;
  pending.TakeWritten(tracks);
  std::vector<std::wstring> files;
  for (const SubtitleTrack& track : tracks) {
    if (track.state == S_OK) files.push_back(track.path);
  }
  const auto streaming = std::count_if(tracks.begin(), tracks.end(), [](const SubtitleTrack& t) {
    return t.state == VFW_E_NOT_FOUND;
  });
  Say("subtitles:  " + std::to_string(files.size()) + " file(s), removed when the probe ends" +
      (streaming ? ", and " + std::to_string(streaming) + " track(s) still streaming after " +
                       std::to_string(kSubtitleWaitMs / 1000) + " s"
                 : std::string()));
  for (const auto& path : files) {
    std::ifstream file(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string content = text.str();
    Say("  " + WideToUtf8(path) + " (" + std::to_string(content.size()) + " bytes)");
    Say("    first cue: " + FirstCue(content));
  }
  if (!main.readable()) {
    Say("the main stream cannot be read: the player would open it and find nothing to play.");
    return kUnreadable;
  }
  Say("result:     the plug-in can open this address");
  return kFound;
}

// Metadata and file names are UTF-8, which a console shows as such only in its UTF-8 code page.
// The console belongs to the command prompt too: its code page is put back afterwards.
class Utf8Console {
 public:
  Utf8Console() : previous_(GetConsoleOutputCP()) {
    if (previous_) SetConsoleOutputCP(CP_UTF8);
  }
  ~Utf8Console() {
    if (previous_) SetConsoleOutputCP(previous_);
  }
  Utf8Console(const Utf8Console&) = delete;
  Utf8Console& operator=(const Utf8Console&) = delete;

 private:
  UINT previous_;  // 0 without a console
};

int Run() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count != 2) {
    Say("usage: kavo_probe <video page address>");
    LocalFree(arguments);
    return kUsage;
  }
  const std::wstring address = arguments[1];
  LocalFree(arguments);
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status = Probe(address);
  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}

}  // namespace

int main() {
  const Utf8Console console;
  return Run();
}
