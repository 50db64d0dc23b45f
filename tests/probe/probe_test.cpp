// kavo_probe.exe run as a user would run it, as a child process against a stand-in catalog: what
// it prints for a good video, and the exit code that names each kind of failure.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "child_process.h"
#include "standin_client.h"

namespace kavo::test {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// Runs the probe with `arguments` (already quoted); the environment, and so the current catalog,
// is this process's.
ChildRun RunProbe(const std::wstring& arguments) {
  return RunChild(BesideOwnProgram(L"kavo_probe.exe"), arguments, 60000);
}

std::wstring Quoted(const std::string& address) {
  return L"\"" + std::wstring(address.begin(), address.end()) + L"\"";
}

std::string Watch(const std::string& id) { return "https://video.example/watch?v=" + id; }

class Probe : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(EnsureStandInRegistered()); }
  Catalog catalog_;
};

TEST_F(Probe, GoodVideoShowsStreamsMetadataStartTimeAndSubtitles) {
  ASSERT_TRUE(catalog_.Add(
      CatalogVideo("good")
          .Container(PatternBytes(200000, 1))
          .Audio(PatternBytes(70000, 2))
          .Title("Gr\xC3\xBC\xC3\x9F"
                 "e")
          .Description("one\ntwo")
          .Date(1688212800)
          .Track(CatalogTrack("English", "en").Cue(0, 1500, "Hello").Cue(2000, 3000, "Bye"))
          .Track(CatalogTrack("", "de").Cue(500, 900, "Hallo"))));
  const ChildRun run = RunProbe(Quoted(Watch("good") + "&t=1m30s"));
  EXPECT_EQ(run.exitCode, 0u) << run;
  EXPECT_THAT(
      run.output,
      AllOf(HasSubstr("plug-in:    libkavo_plugin.dll loads; serves VLC 2.2, VLC 3.0.x, "
                      "VLC 3.0 development builds\n"),
            HasSubstr("normalized: https://video.example/watch?v=good\n"),
            HasSubstr("stream 0:   container, 200000 bytes, readable\n"),
            HasSubstr("stream 1:   separate audio, 70000 bytes, readable\n"),
            HasSubstr("  title = Gr\xC3\xBC\xC3\x9F"
                      "e\n"),
            HasSubstr("  description = one\\ntwo\n"),  // one line per entry
            HasSubstr("  year = 2023\n"), HasSubstr("start time: 90000 ms\n"),
            HasSubstr("subtitles:  2 file(s)"), HasSubstr(".English.srt (76 bytes)\n"),
            HasSubstr("    first cue: 00:00:00,000 --> 00:00:01,500 Hello\n"), HasSubstr(".de.srt"),
            HasSubstr("    first cue: 00:00:00,500 --> 00:00:00,900 Hallo\n"),
            HasSubstr("result:     the plug-in can open this address\n")));
}

TEST_F(Probe, VideoWithoutAudioOrExtrasStillPasses) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("plain")));
  const ChildRun run = RunProbe(Quoted("yshttp://vid.example/plain"));
  EXPECT_EQ(run.exitCode, 0u) << run;
  EXPECT_THAT(run.output,
              AllOf(HasSubstr("stream 0:   container, 4096 bytes, readable\n"),
                    HasSubstr("stream 1:   none"), HasSubstr("metadata:   0 entries\n"),
                    HasSubstr("start time: none\n"), HasSubstr("subtitles:  0 file(s)")));
}

TEST_F(Probe, EachFailureHasItsOwnExitCode) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("broken").Fault("load = 0x80070005")));
  ASSERT_TRUE(catalog_.Add(CatalogVideo("noreader").Fault("no_async_reader Container")));
  ASSERT_TRUE(catalog_.Add(CatalogVideo("badread").Fault("syncread_fail_at Container = 0")));
  ASSERT_TRUE(catalog_.Add(CatalogVideo("nolength").Fault("length_fails Container")));
  ASSERT_TRUE(catalog_.Add(
      CatalogVideo("badaudio").Audio(PatternBytes(5000)).Fault("syncread_fail_at Audio = 0")));

  ChildRun run = RunProbe(Quoted("https://example.org/some/page"));
  EXPECT_EQ(run.exitCode, 3u) << run;
  EXPECT_THAT(run.output, AllOf(HasSubstr("declines this address (0x00000001)"),
                                Not(HasSubstr("normalized:"))));

  run = RunProbe(Quoted(Watch("absent")));
  EXPECT_EQ(run.exitCode, 4u) << run;
  EXPECT_THAT(run.output, HasSubstr("the graph cannot be built (0x"));

  run = RunProbe(Quoted(Watch("broken")));
  EXPECT_EQ(run.exitCode, 4u) << run;
  EXPECT_THAT(run.output, HasSubstr("the graph cannot be built (0x80070005)"));

  run = RunProbe(Quoted(Watch("noreader")));
  EXPECT_EQ(run.exitCode, 5u) << run;
  EXPECT_THAT(run.output, HasSubstr("no reader on its main stream"));

  run = RunProbe(Quoted(Watch("badread")));
  EXPECT_EQ(run.exitCode, 6u) << run;
  EXPECT_THAT(run.output, AllOf(HasSubstr("stream 0:   container, 4096 bytes, its first bytes "
                                          "cannot be read (0x80004005)\n"),
                                HasSubstr("the main stream cannot be read")));

  run = RunProbe(Quoted(Watch("nolength")));
  EXPECT_EQ(run.exitCode, 6u) << run;
  EXPECT_THAT(run.output,
              HasSubstr("stream 0:   container, its length cannot be read (0x80004005)"));

  // A broken audio stream is reported, but the video itself still plays.
  run = RunProbe(Quoted(Watch("badaudio")));
  EXPECT_EQ(run.exitCode, 0u) << run;
  EXPECT_THAT(run.output, HasSubstr("stream 1:   separate audio, 5000 bytes, its first bytes "
                                    "cannot be read (0x80004005)\n"));
}

TEST_F(Probe, WrongArgumentsPrintUsage) {
  for (const std::wstring& arguments : {std::wstring(), std::wstring(L"a b")}) {
    const ChildRun run = RunProbe(arguments);
    EXPECT_EQ(run.exitCode, 1u) << run;
    EXPECT_EQ(run.output, "usage: kavo_probe <video page address>\n");
  }
}

}  // namespace
}  // namespace kavo::test
