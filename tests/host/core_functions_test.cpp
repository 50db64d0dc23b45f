// The late-bound host functions, before and after the host's core library is in the process.
// Order matters here (nothing may load libvlccore.dll before the first test), so these run as
// one test in a program of their own.
#include "host/core_functions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core_recorder.h"

namespace kavo::host {
namespace {

using test::CoreRecorder;
using ::testing::ElementsAre;

void* const kInput = reinterpret_cast<void*>(0x1000);

TEST(CoreFunctions, MissingUntilTheHostLibraryIsLoadedThenResolved) {
  ASSERT_EQ(GetModuleHandleW(L"libvlccore.dll"), nullptr);

  // Nothing loaded: every wrapper reports -1 (or no item) and the library is not loaded by them.
  EXPECT_EQ(InputGetItem(kInput), nullptr);
  EXPECT_EQ(InputItemSetMeta(kInput, 0, "t"), -1);
  EXPECT_EQ(MetaAddExtra(kInput, "k", "v"), -1);
  EXPECT_EQ(VarSetChecked(kInput, "start-time", VLC_VAR_FLOAT, VlcValue{}), -1);
  for (const HostAbi* abi : {&kAbi22, &kAbi30Dev, &kAbi30Release}) {
    EXPECT_EQ(InputControl(InputControlSite(*abi, ControlSite::AudioSlave), kInput, 35, "a"), -1);
    EXPECT_EQ(InputControl(InputControlSite(*abi, ControlSite::SubtitleFile), kInput, 36, "p", 1),
              -1);
  }
  EXPECT_EQ(GetModuleHandleW(L"libvlccore.dll"), nullptr);

  // Once the host library is in the process, the next call of each finds it.
  CoreRecorder recorder;
  ASSERT_TRUE(recorder.Load());
  char item[256] = {};
  recorder.Reset(CoreRecorder::Host22, item);

  EXPECT_EQ(InputGetItem(kInput), item);
  EXPECT_EQ(InputItemSetMeta(item, 8, "2021"), 0);
  EXPECT_EQ(MetaAddExtra(item, "date", "today"), 0);
  VlcValue seconds{};
  seconds.f_float = 0.5f;
  EXPECT_EQ(VarSetChecked(kInput, "start-time", VLC_VAR_FLOAT, seconds), 0);
  EXPECT_EQ(InputControl(InputControlSite(kAbi22, ControlSite::AudioSlave), kInput, 35,
                         "yshttp://x&vlc_slave=1"),
            0);
  EXPECT_EQ(InputControl(InputControlSite(kAbi22, ControlSite::SubtitleFile), kInput, 36,
                         "C:\\t\\a.srt", 1),
            0);

  const std::string in = CoreRecorder::Pointer(kInput);
  const std::string it = CoreRecorder::Pointer(item);
  EXPECT_THAT(recorder.Calls(),
              ElementsAre("input_GetItem " + in, "input_item_SetMeta " + it + " 8 \"2021\"",
                          "vlc_meta_AddExtra " + it + " \"date\" \"today\"",
                          "var_SetChecked " + in + " \"start-time\" 80 0.5",
                          "input_Control " + in + " 35 \"yshttp://x&vlc_slave=1\"",
                          "input_Control " + in + " 36 \"C:\\t\\a.srt\" 1"));
}

}  // namespace
}  // namespace kavo::host
