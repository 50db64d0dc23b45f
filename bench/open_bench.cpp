// What asking the plug-in about an address costs a 3.0 release host, which opens every input on a
// thread of its own: an address the source filter declines, the first in the process and later
// ones, and the main open of a video (with a parent input, as the host gives it), the first and
// later ones. Like a player's process, this one holds neither the source filter's DLL nor the graph
// manager's before its first open, and no COM apartment of its own; COM's own start in the process
// (under Wine the first apartment starts the display driver) is timed apart, before the first open,
// as a player's interface has started it long before. The last line reads
// "decline ms: <first> <later> open ms: <later>" (later: medians).
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core_recorder.h"
#include "host_emulator.h"
#include "host_test_support.h"
#include "standin_client.h"

using namespace kavo::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRuns = 9;
const char kDeclined[] = "radio.example/stream.mp3";
const char kVideo[] = "bench";

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One open (and, when it succeeds, its close) on a new thread; the open's duration in ms, or -1
// when it did not answer `expected`.
double TimedOpen(const HostEmulator& host, CoreRecorder& recorder, const std::string& location,
                 int expected) {
  HostInput input;
  input.LayOut(host.layout());
  double ms = -1;
  OnHostThread([&] {
    recorder.Reset(CoreRecorder::Host30Release, input.item);
    auto access = host.NewAccess(location, input.input);
    const auto start = Clock::now();
    const int result = access->Open();
    const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (result == 0) access->Close();
    if (result == expected) ms = took;
  });
  return ms;
}

// The first open, then kRuns more; false when one of them answered otherwise.
bool Measure(const char* what, const HostEmulator& host, CoreRecorder& recorder,
             const std::string& location, int expected, double& first, double& later) {
  first = TimedOpen(host, recorder, location, expected);
  std::vector<double> runs;
  for (int run = 0; run < kRuns; ++run)
    runs.push_back(TimedOpen(host, recorder, location, expected));
  if (first < 0 || *std::min_element(runs.begin(), runs.end()) < 0) {
    std::printf("%s: an open did not answer %d\n", what, expected);
    return false;
  }
  later = Median(runs);
  std::printf("  %s: first %.1f ms, later median %.1f ms, best %.1f ms (", what, first, later,
              *std::min_element(runs.begin(), runs.end()));
  for (double ms : runs) std::printf(" %.1f", ms);
  std::puts(" )");
  return true;
}

}  // namespace

int main() {
  if (!RegisterStandInAndLetItGo()) {
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
  if (!catalog.Add(CatalogVideo(kVideo).Audio(PatternBytes(1000, 2)))) {
    std::puts("cannot write the catalog");
    return 1;
  }
  const std::wstring wide = WatchAddress(kVideo);
  const std::string video(wide.begin(), wide.end());
  std::printf("3.0 release host, each open on a new thread, %d later runs\n", kRuns);
  std::printf("  before the first open: source filter %s, graph manager %s\n",
              GetModuleHandleW(L"kavo_standin_source.dll") ? "loaded" : "not loaded",
              GetModuleHandleW(L"quartz.dll") ? "loaded" : "not loaded");
  // What any open pays before it asks anything: an apartment entered and left on a new thread.
  std::vector<double> apartments;
  for (int run = 0; run <= kRuns; ++run) {
    OnHostThread([&] {
      const auto start = Clock::now();
      if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) CoUninitialize();
      apartments.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    });
  }
  std::printf(
      "  an apartment entered and left on a new thread: first (COM's start) %.1f ms, "
      "later median %.1f ms\n",
      apartments.front(), Median({apartments.begin() + 1, apartments.end()}));
  double firstDecline = 0, laterDecline = 0, firstOpen = 0, laterOpen = 0;
  if (!Measure("declined address", host, recorder, kDeclined, -1, firstDecline, laterDecline) ||
      !Measure("main open of a video", host, recorder, video, 0, firstOpen, laterOpen))
    return 1;
  std::printf("decline ms: %.1f %.1f open ms: %.1f\n", firstDecline, laterDecline, laterOpen);
  return 0;
}
