// What a main open costs. For 0, 1 and 4 subtitle tracks whose streams end at once: the open of a
// 3.0 release host's main access with a parent input (which runs the graph and starts the subtitle
// waiter, waiting for no track), next to building the graph and the graph's own delivery of the
// same streams in a player run directly. Then, for a track whose data come well after the open,
// the time from its end of stream to the host call that offers it, and the time to turn 10 000
// cues into an SRT file, how soon a stop ends a read or an open that waits on a network that
// stalled, and how soon the first read of a clip arriving at 2 Mbit/s returns. The last line reads
// "open ms: <0 tracks> <1 track> <4 tracks>" (medians).
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/text.h"
#include "core_recorder.h"
#include "filters/srt_writer.h"
#include "filters/subtitle_renderer.h"
#include "filters/temp_files.h"
#include "host_emulator.h"
#include "host_test_support.h"
#include "player/player.h"
#include "standin_client.h"

using namespace kavo::test;
using Microsoft::WRL::ComPtr;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 5;
constexpr int kTrackCounts[] = {0, 1, 4};
constexpr int kCueCount = 10000;
constexpr int kLateDelayMs = 1200;
const char kLateVideo[] = "late";
const char kStalledVideo[] = "stalled";
const char kLoadingVideo[] = "loading";
const char kSlowVideo[] = "slow";
constexpr int kSlowClipBytes = 1 << 20;  // 4.2 s at 2 Mbit/s
constexpr int kStallAt = 2048;

char fakeInput[64];
alignas(8) char fakeMeta[256];  // the item's meta record: its fields' strings first

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double CounterMs(LONGLONG counts) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return counts * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string VideoId(int tracks) { return "t" + std::to_string(tracks); }

CatalogVideo VideoWith(int tracks) {
  CatalogVideo video(VideoId(tracks));
  video.Audio(PatternBytes(1000, 2));
  for (int i = 0; i < tracks; ++i) {
    video.Track(CatalogTrack("Track " + std::to_string(i), "en").Cue(0, 1000, "only cue"));
  }
  return video;
}

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

// One main open and close through the host emulator; the open's duration in ms, or -1.
double TimedOpen(const HostEmulator& host, CoreRecorder& recorder, const std::string& location) {
  alignas(8) unsigned char item[256] = {};
  void* meta = fakeMeta;
  std::memcpy(item + host.layout().itemMeta, &meta, sizeof meta);
  recorder.Reset(CoreRecorder::Host30Release, item);
  auto access = host.NewAccess(location, fakeInput);
  const auto start = Clock::now();
  const int result = access->Open();
  const double ms = Ms(Clock::now() - start);
  if (result != 0) return -1;
  access->Close();
  return ms;
}

// A main open of the late video, held open until its track has been offered: the time from the
// track's end of stream at the source to the host call, in ms, or -1.
double LateDelivery(const HostEmulator& host, CoreRecorder& recorder) {
  alignas(8) unsigned char item[256] = {};
  void* meta = fakeMeta;
  std::memcpy(item + host.layout().itemMeta, &meta, sizeof meta);
  recorder.Reset(CoreRecorder::Host30Release, item);
  StandIn::Reset();
  auto access = host.NewAccess(Narrow(WatchAddress(kLateVideo)), fakeInput);
  if (access->Open() != 0) return -1;
  const bool offered = recorder.WaitForCalls(recorder.Calls().size() + 1, 10000);
  access->Close();
  const LONGLONG ended = StandIn::LastEndOfStream();
  if (!offered || !ended) return -1;
  return CounterMs(recorder.CallTimes().back() - ended);
}

struct Delivery {
  double buildMs = 0;     // Player::Open
  double runMs = 0;       // IMediaControl::Run returning
  double completeMs = 0;  // WaitForCompletion returning, counted from before Run
  HRESULT waited = E_FAIL;
  long code = 0;
  size_t renderers = 0;
  size_t files = 0;
};

// The graph's part alone: a player built directly, run without a clock as the hand-over runs it,
// and, with tracks, WaitForCompletion for up to a second; then every renderer asked for its file.
Delivery DeliverDirectly(const std::string& id, bool wait) {
  Delivery delivery;
  kavo::PlayerHandle player(new kavo::Player());
  const auto building = Clock::now();
  if (FAILED(player->Open(CanonicalAddress(id)))) return delivery;
  delivery.buildMs = Ms(Clock::now() - building);
  FILTER_INFO info{};
  player->GetSourceFilter()->QueryFilterInfo(&info);
  ComPtr<IFilterGraph> graph(info.pGraph);
  if (info.pGraph) info.pGraph->Release();
  ComPtr<IMediaFilter> filter;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEvent> events;
  if (!graph || FAILED(graph.As(&filter)) || FAILED(graph.As(&control)) ||
      FAILED(
          graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.GetAddressOf()))))
    return delivery;
  filter->SetSyncSource(nullptr);
  const auto start = Clock::now();
  control->Run();
  delivery.runMs = Ms(Clock::now() - start);
  if (wait) delivery.waited = events->WaitForCompletion(1000, &delivery.code);
  delivery.completeMs = Ms(Clock::now() - start);

  ComPtr<IEnumFilters> filters;
  graph->EnumFilters(filters.GetAddressOf());
  for (ComPtr<IBaseFilter> each;
       filters->Next(1, each.ReleaseAndGetAddressOf(), nullptr) == S_OK;) {
    ComPtr<kavo::ISubtitleRenderer> renderer;
    if (FAILED(each->QueryInterface(kavo::IID_ISubtitleRenderer,
                                    reinterpret_cast<void**>(renderer.GetAddressOf()))))
      continue;
    ++delivery.renderers;
    BSTR path = nullptr;
    if (SUCCEEDED(renderer->GetFilePath(&path))) ++delivery.files;
    SysFreeString(path);
  }
  return delivery;
}

const char* WaitResult(HRESULT result) {
  if (result == S_OK) return "S_OK";
  if (result == E_ABORT) return "E_ABORT (time-out)";
  return "failed";
}

// Best of kRuns, in ms.
template <typename Work>
double Best(Work work) {
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    work();
    best = std::min(best, Ms(Clock::now() - start));
  }
  return best;
}

// A 3.0 release host reading the start of a clip that arrives at 2 Mbit/s through reads of
// 16 MiB, as recent 3.0 releases' prefetch asks: from the first read's call to its return, in
// ms (median of kRuns opens), and the bytes it returned (the last run's), or -1.
std::pair<double, long long> FirstByteOverASlowNetwork(const HostEmulator& host) {
  std::vector<double> runs;
  std::vector<char> buffer(16 << 20);
  long long got = -1;
  for (int run = 0; run < kRuns; ++run) {
    auto access = host.NewAccess(Narrow(WatchAddress(kSlowVideo)));
    if (access->Open() != 0) return {-1, -1};
    const auto start = Clock::now();
    got = access->Read(buffer.data(), buffer.size());
    runs.push_back(Ms(Clock::now() - start));
    access->Close();
    if (got <= 0) return {-1, -1};
  }
  return {Median(runs), got};
}

// A 3.0 release host stopping an input whose network stalled: from the stop to the return of a
// read waiting for bytes that never come, and of an open whose source filter is still loading.
std::pair<double, double> StopWhileStalled(const HostEmulator& host, const CoreRecorder& recorder) {
  std::vector<double> reads, loads;
  std::vector<char> buffer(32768);
  for (int run = 0; run < kRuns; ++run) {
    auto stalled = host.NewAccess(Narrow(WatchAddress(kStalledVideo)));
    if (stalled->Open() != 0) return {-1, -1};
    stalled->Seek(kStallAt);
    reads.push_back(MsAfterStop(recorder, host.kind(), *stalled, 100,
                                [&] { stalled->Read(buffer.data(), buffer.size()); }));
    stalled->Close();
    auto loading = host.NewAccess(Narrow(WatchAddress(kLoadingVideo)));
    loads.push_back(MsAfterStop(recorder, host.kind(), *loading, 100, [&] { loading->Open(); }));
  }
  return {Median(reads), Median(loads)};
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (!EnsureStandInRegistered()) {
    std::puts("stand-in source filter not registered");
    return 1;
  }
  CoreRecorder recorder;
  HostEmulator host(HostKind::V30Release);
  if (!recorder.Load() || !host.Load()) {
    std::puts("cannot load libvlccore.dll (the recorder) or libkavo_plugin.dll");
    return 1;
  }
  Catalog catalog;
  bool cataloged = catalog.Add(CatalogVideo(kLateVideo)
                                   .Track(CatalogTrack("Late", "en")
                                              .Cue(0, 1000, "late cue")
                                              .Line("delay_ms = " + std::to_string(kLateDelayMs))));
  for (int tracks : kTrackCounts) cataloged = catalog.Add(VideoWith(tracks)) && cataloged;
  cataloged =
      catalog.Add(
          CatalogVideo(kStalledVideo).Fault("stall_at Container = " + std::to_string(kStallAt))) &&
      catalog.Add(CatalogVideo(kLoadingVideo).Line("load_ms = 10000")) &&
      catalog.Add(CatalogVideo(kSlowVideo)
                      .Container(PatternBytes(kSlowClipBytes, 4))
                      .Fault("rate_kbps Container = 2000")) &&
      cataloged;
  if (!cataloged) {
    std::puts("cannot write the catalog");
    return 1;
  }

  std::printf(
      "main open of a 3.0 release host with a parent input, %d runs each after one to warm up\n",
      kRuns);
  std::vector<double> medians;
  for (int tracks : kTrackCounts) {
    const std::wstring wide = WatchAddress(VideoId(tracks));
    const std::string location(wide.begin(), wide.end());
    TimedOpen(host, recorder, location);
    std::vector<double> runs;
    for (int run = 0; run < kRuns; ++run) runs.push_back(TimedOpen(host, recorder, location));
    if (*std::min_element(runs.begin(), runs.end()) < 0) {
      std::puts("an open failed");
      return 1;
    }
    medians.push_back(Median(runs));
    std::printf("  %d track(s): median %.1f ms (", tracks, medians.back());
    for (double ms : runs) std::printf(" %.1f", ms);
    std::puts(" )");
  }

  std::puts(
      "the graph alone: a player built and run directly, then (with tracks) "
      "WaitForCompletion(1000)");
  for (int tracks : kTrackCounts) {
    std::vector<double> build, run, complete;
    Delivery last;
    for (int pass = 0; pass < kRuns; ++pass) {
      last = DeliverDirectly(VideoId(tracks), tracks > 0);
      build.push_back(last.buildMs);
      run.push_back(last.runMs);
      complete.push_back(last.completeMs);
    }
    std::printf("  %d track(s): built in %.1f ms, Run returns after %.2f ms", tracks, Median(build),
                Median(run));
    if (tracks > 0) {
      std::printf(", WaitForCompletion after %.1f ms (medians), last %s, event %ld",
                  Median(complete), WaitResult(last.waited), last.code);
    }
    std::printf("; %zu renderer(s), %zu file(s)\n", last.renderers, last.files);
  }

  std::printf("a track %d ms late, after the open: end of stream to the host call, %d runs\n",
              kLateDelayMs, kRuns);
  std::vector<double> late;
  for (int run = 0; run < kRuns; ++run) late.push_back(LateDelivery(host, recorder));
  if (*std::min_element(late.begin(), late.end()) < 0) {
    std::puts("a late track was not offered");
    return 1;
  }
  std::printf("  median %.2f ms (", Median(late));
  for (double ms : late) std::printf(" %.2f", ms);
  std::puts(" )");

  std::vector<kavo::SrtCue> cues;
  for (int i = 0; i < kCueCount; ++i) {
    cues.push_back({static_cast<std::int64_t>(i) * 2000, 1500,
                    L"Cue " + std::to_wstring(i) + L", two lines\nof text with \u00FC and \u2603"});
  }
  std::wstring text;
  const double buildMs = Best([&] { text = kavo::BuildSrtText(cues); });
  std::string bytes;
  const double convertMs = Best([&] { bytes = kavo::WideToUtf8(text); });
  bool written = true;
  const double writeMs = Best([&] {
    const std::wstring path = kavo::MakeUniqueTempPath(L"bench.srt", L"durud_subs");
    written = written && kavo::WriteWholeFile(bytes, path);
    DeleteFileW(path.c_str());
  });
  if (!written) {
    std::puts("cannot write the SRT file");
    return 1;
  }
  std::printf(
      "srt: %d cues, %zu bytes: BuildSrtText %.2f ms, to UTF-8 %.2f ms, "
      "WriteWholeFile %.2f ms (best of %d)\n",
      kCueCount, bytes.size(), buildMs, convertMs, writeMs, kRuns);

  const auto [readStop, loadStop] = StopWhileStalled(host, recorder);
  std::printf(
      "stop while stalled, ms from the stop to the return (medians of %d): read %.1f, "
      "load %.1f\n",
      kRuns, readStop, loadStop);
  const auto [firstByteMs, firstBytes] = FirstByteOverASlowNetwork(host);
  std::printf(
      "first byte at 2 Mbit/s, 16 MiB reads of a %d KiB clip: %.1f ms from the first read's call "
      "to its return (median of %d), %lld bytes\n",
      kSlowClipBytes >> 10, firstByteMs, kRuns, firstBytes);
  std::printf("open ms: %.0f %.0f %.0f\n", medians[0], medians[1], medians[2]);
  return 0;
}
