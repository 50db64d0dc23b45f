// What the opens load into the host's process, seen from a process that, like a player's, holds
// neither the source filter's DLL nor the graph manager's before its first open, and opens every
// input on a thread of its own. Each case needs such a process: ctest gives each one its own. The
// stand-in's knobs would keep its DLL loaded, so none is used here.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core_recorder.h"
#include "host_emulator.h"
#include "host_test_support.h"
#include "standin_client.h"

namespace kavo::test {
namespace {

const wchar_t kStandIn[] = L"kavo_standin_source.dll";
const wchar_t kGraphManager[] = L"quartz.dll";
const char kDeclined[] = "radio.example/stream.mp3";

bool Loaded(const wchar_t* dll) { return GetModuleHandleW(dll) != nullptr; }

size_t ThreadCount() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  size_t count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

std::string VideoLocation() {
  const std::wstring wide = WatchAddress("kept");
  return std::string(wide.begin(), wide.end());
}

class LoadedModules : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Loaded(kStandIn) || Loaded(kGraphManager)) << "loaded before the first open";
    ASSERT_TRUE(RegisterStandInAndLetItGo());
    ASSERT_FALSE(Loaded(kStandIn));
    ASSERT_TRUE(recorder_.Load());
    recorder_.Reset(CoreRecorder::Host30Release);
    ASSERT_TRUE(catalog_.Add(CatalogVideo("kept").Audio(PatternBytes(1000, 2))));
  }

  // One open (and its close, when it succeeds) on a thread of its own; the open's answer.
  int OpenOnNewThread(const HostEmulator& host, const std::string& location) {
    int opened = 1;
    OnHostThread([&] {
      auto access = host.NewAccess(location);
      opened = access->Open();
    });
    return opened;
  }

  CoreRecorder recorder_;
  Catalog catalog_;
};

// Declined addresses cost no graph manager, and each open's apartment, which COM frees the DLLs of
// when it ends, leaves the source filter's DLL loaded; the plug-in's unload gives it back and
// leaves no thread behind.
TEST_F(LoadedModules, SourceFilterStaysFromItsFirstUseUntilThePluginUnloads) {
  const size_t threadsBefore = ThreadCount();
  HostEmulator host(HostKind::V30Release);
  ASSERT_TRUE(host.Load());
  EXPECT_EQ(OpenOnNewThread(host, kDeclined), -1);
  EXPECT_FALSE(Loaded(kGraphManager)) << "a declined address loaded the graph manager";
  EXPECT_TRUE(Loaded(kStandIn)) << "the source filter's DLL went with the open's apartment";
  EXPECT_EQ(OpenOnNewThread(host, kDeclined), -1);
  EXPECT_EQ(OpenOnNewThread(host, VideoLocation()), 0);
  EXPECT_TRUE(Loaded(kStandIn));

  const HMODULE plugin = GetModuleHandleW(L"libkavo_plugin.dll");
  ASSERT_NE(plugin, nullptr);
  while (FreeLibrary(plugin) && GetModuleHandleW(L"libkavo_plugin.dll")) {
  }
  EXPECT_FALSE(Loaded(L"libkavo_plugin.dll"));
  EXPECT_FALSE(Loaded(kStandIn)) << "the plug-in's unload left the source filter's DLL loaded";
  EXPECT_EQ(ThreadCount(), threadsBefore) << "threads outlived the plug-in";
}

// Inputs opening at once in a fresh process, declined and accepted side by side, while the first
// of them load the source filter's DLL and the graph manager's and COM starts: none may hang.
TEST_F(LoadedModules, FirstOpensAtOnceNeverHang) {
  HostEmulator host(HostKind::V30Release);
  ASSERT_TRUE(host.Load());
  const HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE allDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  constexpr int kThreads = 6;
  std::vector<int> opened(kThreads, 1);
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      WaitForSingleObject(go, INFINITE);
      opened[i] = host.NewAccess(i % 2 ? std::string(kDeclined) : VideoLocation())->Open();
      if (++done == kThreads) SetEvent(allDone);
    });
  }
  SetEvent(go);
  if (WaitForSingleObject(allDone, 60000) == WAIT_TIMEOUT) {
    ADD_FAILURE() << "opens that started at once hang";
    TerminateProcess(GetCurrentProcess(), 3);  // the hung threads hold the loader's lock
  }
  for (auto& thread : threads) thread.join();
  CloseHandle(allDone);
  CloseHandle(go);
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(opened[i], i % 2 ? -1 : 0) << "open " << i;
}

}  // namespace
}  // namespace kavo::test
