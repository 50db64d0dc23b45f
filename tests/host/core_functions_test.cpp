// The late-bound host functions, before and after the host's core library is in the process, and
// an open while the source filter is not registered. Order matters here (nothing may load
// libvlccore.dll before the first two tests), and the registration is the whole Wine prefix's, so
// this program runs alone.
#include "host/core_functions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core_recorder.h"
#include "host_emulator.h"
#include "host_test_support.h"
#include "standin_client.h"

namespace kavo::host {
namespace {

using test::CoreRecorder;
using test::HostKind;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::StartsWith;

void* const kInput = reinterpret_cast<void*>(0x1000);
constexpr HostKind kHosts[] = {HostKind::V22, HostKind::V30Development, HostKind::V30Release};

// Without the host's core library an open hands nothing over and logs nothing, and works as
// before; nothing loads the library behind the host's back.
TEST(NoCoreLibrary, OpenWorksAsBefore) {
  ASSERT_EQ(GetModuleHandleW(L"libvlccore.dll"), nullptr);
  ASSERT_TRUE(test::EnsureStandInRegistered());
  test::Catalog catalog;
  const std::string container = test::PatternBytes(100000, 4);
  ASSERT_TRUE(catalog.Add(test::CatalogVideo("plain")
                              .Container(container)
                              .Audio(test::PatternBytes(3000, 5))
                              .Title("t")
                              .Track(test::CatalogTrack("English").Cue(0, 1, "x"))));
  for (const HostKind kind : kHosts) {
    test::HostEmulator host(kind);
    ASSERT_TRUE(host.Load());
    test::HostInput input;
    input.LayOut(host.layout());
    auto access = host.NewAccess("video.example/watch?v=plain&t=5s", input.input);
    ASSERT_EQ(access->Open(), 0) << test::NameOf(kind);
    EXPECT_EQ(access->ReadToEnd(8192), container);
    access->Close();
  }
  EXPECT_EQ(test::StandIn::LiveObjects(), 0);
  EXPECT_EQ(GetModuleHandleW(L"libvlccore.dll"), nullptr);
}

TEST(CoreFunctions, MissingUntilTheHostLibraryIsLoadedThenResolved) {
  ASSERT_EQ(GetModuleHandleW(L"libvlccore.dll"), nullptr);

  // Nothing loaded: every wrapper reports -1 (or no item) and the library is not loaded by them.
  EXPECT_EQ(InputGetItem(kInput), nullptr);
  EXPECT_EQ(InputItemSetMeta(kInput, 0, "t"), -1);
  EXPECT_EQ(MetaAddExtra(kInput, "k", "v"), -1);
  EXPECT_EQ(VarSetChecked(kInput, "start-time", VLC_VAR_FLOAT, VlcValue{}), -1);
  const SourcePlace place{"here.cpp", 7, "There"};
  for (const HostAbi* abi : {&kAbi22, &kAbi30Dev, &kAbi30Release}) {
    EXPECT_EQ(InputControl(InputControlSite(*abi, ControlSite::AudioSlave), kInput, 35, "a"), -1);
    EXPECT_EQ(InputControl(InputControlSite(*abi, ControlSite::SubtitleFile), kInput, 36, "p", 1),
              -1);
    EXPECT_EQ(VlcLog(abi->logShape, kInput, VLC_MSG_DBG, "M", place, "t"), -1);
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

  // The text is the argument of the format "%s", never the format, in either shape; the recorder
  // expands it as the host's loggers do.
  EXPECT_EQ(VlcLog(LogShape::Legacy, kInput, VLC_MSG_ERR, "M", place, "100% %n%s"), 0);
  EXPECT_EQ(VlcLog(LogShape::None, kInput, VLC_MSG_ERR, "M", place, "never"), -1);
  EXPECT_THAT(recorder.LogLines(), ElementsAre("error \"M\" " + in + ": 100% %n%s"));
  recorder.Reset(CoreRecorder::Host30Release);
  EXPECT_EQ(VlcLog(LogShape::WithSource, kInput, VLC_MSG_WARN, "M", place, "%s %d"), 0);
  EXPECT_EQ(VlcLog(LogShape::WithSource, kInput, VLC_MSG_DBG, "M", SourcePlace{}, "bare"), 0);
  EXPECT_THAT(recorder.LogLines(), ElementsAre("warning \"M\" " + in + ": %s %d",
                                               "debug \"M\" " + in + " (no source place): bare"));
}

// The registration is taken away for a moment; each host's log names the class and what to do.
TEST(UnregisteredSourceFilter, HostLogNamesTheClassThatMustBeRegistered) {
  CoreRecorder recorder;
  ASSERT_TRUE(recorder.Load());
  for (const HostKind kind : kHosts) {
    test::HostEmulator host(kind);
    ASSERT_TRUE(host.Load());
    recorder.Reset(test::ShapeOf(kind));
    auto access = host.NewAccess("video.example/watch?v=any");
    {
      const test::StandInUnregistered gone;
      ASSERT_TRUE(gone.done());
      EXPECT_EQ(access->Open(), -1) << test::NameOf(kind);
    }
    EXPECT_THAT(test::Messages(recorder.LogLines(), access->Object()),
                ElementsAre(AllOf(StartsWith("error: cannot create the source filter "
                                             "{55C39876-FF76-4AB0-AAB0-0A46D535A26B} (0x80040154"),
                                  EndsWith("): it is not installed or not registered, and it must "
                                           "be registered"))))
        << test::NameOf(kind);
  }
  EXPECT_EQ(test::StandIn::LiveObjects(), 0);
}

}  // namespace
}  // namespace kavo::host
