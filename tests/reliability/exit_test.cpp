// A host process that ends with several accesses still open: main accesses of three videos under
// three host ABIs, each opened on a thread of its own with a parent input (so their graphs run),
// one with a subtitle track that never ends, two audio slaves, and threads still reading when
// the process exits. A child run of this program does that; the parent checks that it ends
// within a few seconds, cleanly, and that no subtitle file it was handed is left behind. Own
// program, own main.
#include <windows.h>

#include <gmock/gmock.h>
#include <shellapi.h>

#include <atomic>
#include <cwchar>
#include <fstream>
#include <sstream>

#include "child_process.h"
#include "reliability_fixture.h"

namespace kavo::test {
namespace {

const wchar_t kChildSwitch[] = L"--exit-with-open-accesses";
constexpr ULONGLONG kExitBudgetMs = 5000;

enum ChildResult {
  kChildDone = 0,
  kChildBadArguments = 2,
  kChildSetUpFailed = 3,
  kChildOpenFailed = 4
};

struct Video {
  const char* id;
  HostKind kind;
  bool slave;
};
const Video kVideos[] = {{"exitA", HostKind::V22, false},
                         {"exitB", HostKind::V30Development, true},
                         {"exitC", HostKind::V30Release, true}};

CatalogVideo ExitVideo(const Video& video) {
  CatalogVideo catalogVideo(video.id);
  catalogVideo.Container(PatternBytes(500000, 41)).Title(video.id);
  catalogVideo.Track(CatalogTrack("Ends", "en").Cue(0, 1000, "bye"));
  if (video.slave) catalogVideo.Audio(PatternBytes(200000, 42));
  // The 2.2 video keeps a streaming thread delivering until its graph stops, which never happens.
  if (video.kind == HostKind::V22) {
    catalogVideo.Track(CatalogTrack("Endless", "xx").Cue(0, 500, "on").NeverEnds());
  }
  return catalogVideo;
}

// Opens one video's main access (and its slave) on this thread, then keeps the accesses busy:
// reading in a loop, or parked, until the process ends under it. Nothing here is ever closed.
struct HostThread {
  const Video* video = nullptr;
  HostInput input;
  std::unique_ptr<HostEmulator> host;
  std::vector<std::wstring> offered;
  HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> ok{false};
};

void RunHostThread(HostThread& state, CoreRecorder& recorder, HANDLE turn) {
  WaitForSingleObject(turn, INFINITE);  // the recorder reads one host's shape at a time
  recorder.Reset(ShapeOf(state.video->kind), state.input.item);
  auto* main = state.host->NewAccess(Location(state.video->id), state.input.input).release();
  Access* slave = nullptr;
  bool ok = main->Open() == 0;
  // The open waits for no subtitle track: the one that ends comes after it.
  recorder.WaitUntil([&] { return !OfferedSubtitlePaths(recorder.Calls()).empty(); }, 10000);
  const auto calls = recorder.Calls();
  state.offered = OfferedSubtitlePaths(calls);
  if (ok && state.video->slave) {
    const std::string address = OfferedSlave(calls);
    slave = state.host->NewAccess(address.substr(address.find("://") + 3)).release();
    ok = slave->Open() == 0;
  }
  state.ok = ok && !state.offered.empty();
  SetEvent(state.opened);
  if (!ok) return;
  if (state.video->kind == HostKind::V30Development) {
    Sleep(INFINITE);  // an input thread parked with its accesses open
  }
  Access* busy = slave ? slave : main;
  std::vector<char> buffer(32768);
  for (;;) {
    busy->Seek(0);
    while (busy->Read(buffer.data(), buffer.size()) > 0) {
    }
  }
}

// Writes the offered paths, one per line, then "exiting <tick>", and returns from main with every
// access open and every host thread still running.
int ExitChild(const std::wstring& report) {
  if (!EnsureStandInRegistered()) return kChildSetUpFailed;
  auto* recorder = new CoreRecorder;
  if (!recorder->Load()) return kChildSetUpFailed;
  std::vector<HostThread*> states;
  for (const Video& video : kVideos) {
    auto* state = new HostThread;
    state->video = &video;
    state->host = std::make_unique<HostEmulator>(video.kind);
    if (!state->host->Load()) return kChildSetUpFailed;
    state->input.LayOut(state->host->layout());
    states.push_back(state);
  }
  for (HostThread* state : states) {
    const HANDLE turn = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    std::thread(RunHostThread, std::ref(*state), std::ref(*recorder), turn).detach();
    WaitForSingleObject(state->opened, 60000);
    if (!state->ok) return kChildOpenFailed;
  }
  Sleep(200);  // the reading threads are inside their reads

  std::ofstream out(report.c_str(), std::ios::binary | std::ios::trunc);
  for (const HostThread* state : states) {
    for (const std::wstring& path : state->offered) {
      if (!FileExists(path)) return kChildOpenFailed;
      out << Utf8(path) << "\n";
    }
  }
  out << "exiting " << GetTickCount64() << "\n";
  out.close();
  return out ? kChildDone : kChildSetUpFailed;
}

TEST(ProcessExit, OpenAccessesOfSeveralVideosAndSlavesEndWithTheProcess) {
  ASSERT_TRUE(EnsureStandInRegistered());
  Catalog catalog;  // the child inherits it through the environment
  for (const Video& video : kVideos) ASSERT_TRUE(catalog.Add(ExitVideo(video)));
  const std::wstring report =
      TempFolder() + L"kavo_exit_report_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  DeleteFileW(report.c_str());

  const ChildRun run =
      RunChild(OwnProgram(), std::wstring(kChildSwitch) + L" \"" + report + L"\"", 60000);
  ASSERT_TRUE(run.ended) << run;
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(kChildDone)) << run;

  std::ifstream in(report.c_str(), std::ios::binary);
  std::vector<std::wstring> paths;
  ULONGLONG exiting = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("exiting ", 0) == 0) {
      exiting = std::stoull(line.substr(8));
    } else {
      paths.push_back(Wide(line));
    }
  }
  in.close();
  DeleteFileW(report.c_str());
  ASSERT_GT(exiting, 0u) << "the child wrote no report";
  const ULONGLONG exitMs = run.endTick - exiting;
  std::cout << "exit: " << exitMs << " ms from returning from main to the process's end"
            << std::endl;
  ::testing::Test::RecordProperty("exit_ms", static_cast<int>(exitMs));
  EXPECT_LT(exitMs, kExitBudgetMs);
  // One file per video, each waited for before the report; the never-ending track is never
  // offered.
  EXPECT_EQ(paths.size(), 3u);
  for (const std::wstring& path : paths) {
    EXPECT_FALSE(FileExists(path)) << Utf8(path) << " outlived the process";
  }
}

}  // namespace
}  // namespace kavo::test

int main(int argc, char** argv) {
  using namespace kavo::test;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide && count >= 2 && std::wcscmp(wide[1], kChildSwitch) == 0) {
    const std::wstring report = count == 3 ? std::wstring(wide[2]) : std::wstring();
    LocalFree(wide);
    return report.empty() ? kChildBadArguments : ExitChild(report);
  }
  LocalFree(wide);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
