// kavo_probe: does for one address what the plug-in does when the player opens it, without a
// player, and says what it found at each step. It tells a user whether a problem lies in the
// source filter (not registered, address declined, no streams), in the plug-in, or in the player.
//
//   kavo_probe.exe <address>          for example: kavo_probe.exe https://video.example/watch?v=ID
//
// Exit codes: 0 everything found, 2 source filter missing, 3 address declined, 4 graph not built,
// 5 no container reader, 1 usage.
#include <windows.h>
#include <dshow.h>
#include <shellapi.h>
#include <wrl/client.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "meta/metadata_publisher.h"
#include "meta/metadata_reader.h"
#include "meta/text.h"
#include "player/player.h"
#include "player/source_control.h"

using Microsoft::WRL::ComPtr;
using namespace kavo;

namespace {

void Say(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

// The address without its scheme, as the player hands it to the plug-in.
std::wstring HostLocation(const std::wstring& address) {
  const auto scheme = address.find(L"://");
  return scheme == std::wstring::npos ? address : address.substr(scheme + 3);
}

long long StreamLength(IAsyncReader* reader) {
  LONGLONG total = 0;
  reader->Length(&total, nullptr);
  return total;
}

int Probe(const std::wstring& address) {
  const std::wstring location = HostLocation(address);
  Say("address:    " + WideToUtf8(address));

  ComPtr<IBaseFilter> filter;
  HRESULT result = CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                                    reinterpret_cast<void**>(filter.GetAddressOf()));
  if (FAILED(result)) {
    Say("source filter {55C39876-FF76-4AB0-AAB0-0A46D535A26B} cannot be created (" + Hex(result) +
        "): it is not installed or not registered. The plug-in cannot open any address.");
    return 2;
  }
  ComPtr<ISourceControl> control;
  filter->QueryInterface(IID_ISourceControl, reinterpret_cast<void**>(control.GetAddressOf()));
  if (!control) {
    Say("the source filter lacks its control interface: it is not the filter the plug-in needs.");
    return 2;
  }
  Say("source filter version " + std::to_string(control->GetVersion()));

  BSTR answer = nullptr;
  result = control->NormalizeAddress(location.c_str(), 0, &answer);
  const std::wstring normalized = answer ? std::wstring(answer) : std::wstring();
  SysFreeString(answer);
  if (result != S_OK || normalized.empty()) {
    Say("the source filter declines this address (" + Hex(result) +
        "): the plug-in leaves it to the player's other modules.");
    return 3;
  }
  Say("normalized: " + WideToUtf8(normalized));
  const ULONG startMs = QueryStartOffset(filter.Get(), location);
  filter.Reset();
  control.Reset();

  const PlayerHandle player(new Player());
  result = player->Open(normalized);
  if (FAILED(result)) {
    Say("the graph cannot be built (" + Hex(result) +
        "): the source filter did not load the video or its main stream cannot be connected.");
    return 4;
  }
  const ComPtr<IAsyncReader> container = player->GetStreamReader(0);
  if (!container) {
    Say("the source filter offers no reader on its main stream: nothing to play.");
    return 5;
  }
  Say("stream 0:   container, " + std::to_string(StreamLength(container.Get())) + " bytes");
  const ComPtr<IAsyncReader> audio = player->GetStreamReader(1);
  if (player->HasSecondStream() && audio)
    Say("stream 1:   separate audio, " + std::to_string(StreamLength(audio.Get())) + " bytes");
  else
    Say("stream 1:   none (audio is inside the container)");

  MetadataRecord record;
  ReadFilterMetadata(player->GetSourceFilter(), record);
  Say("metadata:   " + std::to_string(record.size()) + " entries");
  for (const auto& [key, value] : record) Say("  " + key + " = " + value);
  Say("start time: " + (startMs ? std::to_string(startMs) + " ms" : std::string("none")));

  std::vector<std::wstring> files;
  player->GetSubtitleFiles(files);
  Say("subtitles:  " + std::to_string(files.size()) + " file(s)");
  for (const auto& path : files) {
    std::ifstream file(path.c_str(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string content = text.str();
    const auto end = content.find("\n\n");
    Say("  " + WideToUtf8(path) + " (" + std::to_string(content.size()) + " bytes)");
    Say("    first cue: " + content.substr(0, end == std::string::npos ? content.size() : end));
  }
  return 0;
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!arguments || count != 2) {
    Say("usage: kavo_probe <video page address>");
    return 1;
  }
  const std::wstring address = arguments[1];
  LocalFree(arguments);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status = Probe(address);
  CoUninitialize();
  return status;
}
