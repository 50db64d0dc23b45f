// A fault at every call the plug-in makes to the source filter, one at a time: creation, each
// interface, the normalisation's answers, Load, each pin, Length, SyncRead, the property reads and
// the subtitle delivery. A fault before the point of no return fails the open and leaves the host
// object, the COM apartment and the stand-in's objects as they were; a fault after it costs only
// its own contribution.
#include <gmock/gmock.h>

#include <chrono>

#include "reliability_fixture.h"

namespace kavo::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

constexpr int kMetaTitle = 0;

class FaultInjection : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    container_ = PatternBytes(300000, 11);
    audio_ = PatternBytes(90000, 12);
    ASSERT_TRUE(catalog_.Add(CatalogVideo("clip").Container(container_).Audio(audio_)));
  }

  // A video like "clip" with one fault line and a short subtitle track.
  void AddFaulty(const std::string& id, const std::string& fault) {
    ASSERT_TRUE(catalog_.Add(CatalogVideo(id)
                                 .Container(container_)
                                 .Audio(audio_)
                                 .Fault(fault)
                                 .Track(CatalogTrack("t", "en").Cue(0, 1, "x"))));
  }

  std::string Slice(size_t at, size_t count) const { return container_.substr(at, count); }

  std::string container_, audio_;
};

TEST_P(FaultInjection, CreationAndInterfaceFaultsFailTheOpen) {
  for (HRESULT failure : {E_OUTOFMEMORY, REGDB_E_CLASSNOTREG, E_FAIL}) {
    StandIn::Reset();
    StandIn::SetCreateFailure(failure);
    ExpectOpenFails(Location("clip"));
    ExpectOpenFails(SlaveLocation("clip"));
    EXPECT_EQ(StandIn::FiltersCreated(), 0);
  }
  // No control interface: the address cannot be normalised.
  StandIn::Reset();
  StandIn::SetHiddenInterfaces(StandIn::kSourceControl);
  ExpectOpenFails(Location("clip"));
  EXPECT_EQ(StandIn::FiltersCreated(), 1);
  // No file source interface: the player's filter cannot load the video.
  StandIn::Reset();
  StandIn::SetHiddenInterfaces(StandIn::kFileSource);
  ExpectOpenFails(Location("clip"));
  EXPECT_EQ(StandIn::FiltersCreated(), 2);
}

TEST_P(FaultInjection, MetadataInterfacesMissingCostOnlyTheMetadata) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("meta")
                               .Container(container_)
                               .Audio(audio_)
                               .Title("T")
                               .Track(CatalogTrack("t", "en").Cue(0, 1, "x"))));
  StandIn::SetHiddenInterfaces(StandIn::kPropertyBag | StandIn::kMediaContent);
  auto main = OpenMain(Location("meta") + "&t=7", true);
  const auto calls = recorder_.Calls();
  EXPECT_THAT(MetaValues(calls, kMetaTitle), IsEmpty());
  EXPECT_TRUE(StartTimeSet(calls));
  EXPECT_EQ(OfferedSlave(calls), SlaveAddress("meta"));
  EXPECT_EQ(main->ReadToEnd(65536), container_);
}

TEST_P(FaultInjection, NormalizeAnswersOtherThanAnAddressFailTheOpen) {
  const std::wstring canonical = CanonicalAddress("clip");
  const struct {
    HRESULT result;
    const wchar_t* normalized;
  } answers[] = {
      {S_FALSE, canonical.c_str()},                  // declined, though with an address
      {static_cast<HRESULT>(2), canonical.c_str()},  // another success code
      {E_FAIL, canonical.c_str()},
      {E_OUTOFMEMORY, nullptr},
      {S_OK, nullptr},  // success without an address
      {S_OK, L""},
      {S_OK, L"https://video.example/watch?v=absent"},  // nothing to load there
  };
  for (const auto& answer : answers) {
    StandIn::SetNormalizeResult(answer.result, answer.normalized);
    ExpectOpenFails(Location("clip"));
    ExpectOpenFails(SlaveLocation("clip"));
  }
}

TEST_P(FaultInjection, TheNormalizedAddressIsWhatThePlayerLoads) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("other").Container(PatternBytes(5000, 99))));
  StandIn::SetNormalizeResult(S_OK, CanonicalAddress("other").c_str());
  auto main = OpenMain(Location("clip"));
  EXPECT_EQ(main->ReadToEnd(4096), PatternBytes(5000, 99));
}

TEST_P(FaultInjection, LoadAndMainPinFaultsFailTheOpen) {
  AddFaulty("noload", "load = 0x80070002");
  AddFaulty("nomem", "load = 0x8007000E");
  AddFaulty("noreader", "no_async_reader Container");
  AddFaulty("videopin", "container_type = video");
  AddFaulty("audiopin", "container_type = audio");
  for (const char* id : {"noload", "nomem", "noreader", "videopin", "audiopin", "absent"}) {
    ExpectOpenFails(Location(id));
  }
  EXPECT_THAT(StandIn::LastLoadError(), ::testing::Not(IsEmpty()));
}

TEST_P(FaultInjection, AudioPinFaultsCostOnlyTheSlave) {
  // A stream pin without a reader: the slave is offered, but cannot open.
  AddFaulty("noaudioreader", "no_async_reader Audio");
  auto main = OpenMain(Location("noaudioreader"), true);
  EXPECT_EQ(OfferedSlave(recorder_.Calls()), SlaveAddress("noaudioreader"));
  // The main's subtitle comes after its open: taken before the slave's open is watched.
  EXPECT_TRUE(
      recorder_.WaitUntil([&] { return !OfferedSubtitlePaths(recorder_.Calls()).empty(); }, 10000));
  ExpectOpenFails(SlaveLocation("noaudioreader"));
  EXPECT_EQ(main->ReadToEnd(65536), container_);
  main->Close();

  // A second pin that is no byte stream: no slave at all.
  AddFaulty("videoaudio", "audio_type = video");
  main = OpenMain(Location("videoaudio"), true);
  EXPECT_EQ(OfferedSlave(recorder_.Calls()), "");
  main->Close();

  // Odd pins around them change nothing: numbering counts output pins with a direction.
  for (const char* fault : {"audio_stream_third", "input_pin_first", "query_direction"}) {
    SCOPED_TRACE(fault);
    AddFaulty("odd", fault);
    main = OpenMain(Location("odd"), true);
    ASSERT_EQ(OfferedSlave(recorder_.Calls()), SlaveAddress("odd"));
    auto slave = host_->NewAccess(SlaveLocation("odd"));
    ASSERT_EQ(slave->Open(), 0);
    EXPECT_EQ(slave->ReadToEnd(65536), audio_);
    EXPECT_EQ(main->ReadToEnd(65536), container_);
    slave->Close();
    main->Close();
    EXPECT_EQ(StandIn::LiveObjects(), 0);
  }
}

// A reader that never tells its length still has bytes: the size stays unknown and the reads go
// on until the reader says its stream ended.
TEST_P(FaultInjection, FailingLengthStillReadsTheStream) {
  AddFaulty("nolength", "length_fails");
  auto main = OpenMain(Location("nolength"));
  auto slave = host_->NewAccess(SlaveLocation("nolength"));
  ASSERT_EQ(slave->Open(), 0);
  for (Access* access : {main.get(), slave.get()}) {
    const std::string& bytes = access == main.get() ? container_ : audio_;
    std::uint64_t size = 99;
    EXPECT_EQ(access->Control(6, &size), 0);
    EXPECT_EQ(size, 0u);
    char buffer[100];
    EXPECT_EQ(access->Read(buffer, sizeof buffer), 100);
    EXPECT_EQ(access->Seek(50), 0);
    EXPECT_EQ(access->Read(buffer, sizeof buffer), 100);
    EXPECT_EQ(std::string(buffer, 100), bytes.substr(50, 100));
    if (is22()) {
      EXPECT_EQ(access->InfoPosition(), 150);
    }
    EXPECT_EQ(access->Seek(bytes.size() - 10), 0);
    EXPECT_EQ(access->Read(buffer, sizeof buffer), 10);
    EXPECT_EQ(access->Read(buffer, sizeof buffer), 0);
  }
}

TEST_P(FaultInjection, FailedSyncReadReturnsNothingAndKeepsThePosition) {
  const size_t size = container_.size();
  for (size_t failAt : {size_t{0}, size / 2, size - 1}) {
    SCOPED_TRACE("failing byte " + std::to_string(failAt));
    const std::string id = "fail" + std::to_string(failAt);
    AddFaulty(id, "syncread_fail_at Container = " + std::to_string(failAt));
    auto main = OpenMain(Location(id));
    const size_t start = failAt > 1000 ? failAt - 1000 : 0;
    std::string buffer(70000, '\0');
    ASSERT_EQ(main->Seek(start), 0);
    EXPECT_EQ(main->Read(&buffer[0], buffer.size()), 0);  // covers the failing byte
    if (is22()) {
      EXPECT_EQ(main->InfoPosition(), static_cast<std::int64_t>(start));
      EXPECT_FALSE(main->InfoEof());
    }
    // The position stayed: a read that stops short of the failing byte starts where it was.
    if (failAt > start) {
      ASSERT_EQ(main->Read(&buffer[0], failAt - start), static_cast<long long>(failAt - start));
      EXPECT_EQ(buffer.substr(0, failAt - start), Slice(start, failAt - start));
    }
    // Past it, everything reads.
    if (failAt + 1 < size) {
      ASSERT_EQ(main->Seek(failAt + 1), 0);
      EXPECT_EQ(main->ReadToEnd(32768), Slice(failAt + 1, size));
    }
    ASSERT_EQ(main->Seek(0), 0);
    // Reads in pieces that end at the failing byte: the next piece fails and ends the loop.
    if (failAt > 0) {
      EXPECT_EQ(main->ReadToEnd(failAt), Slice(0, failAt));
    }
    main->Close();
  }
}

// A reader whose bytes break off before the length it reported, as a download cut short: reads
// before the break get their bytes. A request past it fails, as the platform's reader classes fail
// a request cut short before the end, and a SyncRead past it comes back short without saying
// where: either way the host gets none of the bytes the reader did not write, and the position
// stays.
TEST_P(FaultInjection, ShortReaderEndsTheStreamWhereItStops) {
  const size_t end = container_.size() / 2;
  const std::string fault = "syncread_short_at Container = " + std::to_string(end);
  AddFaulty("short", fault);
  ASSERT_TRUE(catalog_.Add(CatalogVideo("shortsync")
                               .Container(container_)
                               .Fault(fault)
                               .Fault("request_fails Container = 0x80004001")));
  for (const char* id : {"short", "shortsync"}) {
    SCOPED_TRACE(id);
    auto main = OpenMain(Location(id));
    std::string buffer(200, '\0');
    ASSERT_EQ(main->Seek(end - 100), 0);
    EXPECT_EQ(main->Read(&buffer[0], 50), 50);  // wholly before the break
    EXPECT_EQ(buffer.substr(0, 50), Slice(end - 100, 50));
    EXPECT_EQ(main->Read(&buffer[0], 100), 0);  // across it
    EXPECT_EQ(main->Read(&buffer[0], 50), 50);  // up to it, from where the position stayed
    EXPECT_EQ(buffer.substr(0, 50), Slice(end - 50, 50));
    EXPECT_EQ(main->Read(&buffer[0], 100), 0);  // at it
    if (is22()) {
      EXPECT_EQ(main->InfoPosition(), static_cast<std::int64_t>(end));
    }
    main->Close();
  }
}

TEST_P(FaultInjection, PropertyFaultsFallBackOrLeaveTheMetadataOut) {
  const auto video = [&](const std::string& id) {
    return CatalogVideo(id)
        .Container(container_)
        .Audio(audio_)
        .Title("Bag title")
        .Line("media_title = Content title")
        .Track(CatalogTrack("t", "en").Cue(0, 1, "x"));
  };
  // A bag that cannot be read gives way to IAMMediaContent.
  for (const char* fault : {"property_count_fails", "property_info_fails", "property_read_fails",
                            "property_read_fails = 0x8007000E"}) {
    SCOPED_TRACE(fault);
    ASSERT_TRUE(catalog_.Add(video("bag").Fault(fault)));
    auto main = OpenMain(Location("bag") + "&t=3", true);
    const auto calls = recorder_.Calls();
    EXPECT_THAT(MetaValues(calls, kMetaTitle), ElementsAre("Content title"));
    EXPECT_TRUE(StartTimeSet(calls));
    EXPECT_EQ(OfferedSlave(calls), SlaveAddress("bag"));
  }
  // One property failing leaves the others.
  ASSERT_TRUE(catalog_.Add(video("one").Property(1, "broken", "x", "fails:0x80070005")));
  auto main = OpenMain(Location("one"), true);
  EXPECT_THAT(MetaValues(recorder_.Calls(), kMetaTitle), ElementsAre("Bag title"));
  main->Close();

  // Both interfaces refused after Load, and no control interface: no metadata, no start time.
  ASSERT_TRUE(catalog_.Add(
      video("none").Fault("no_property_bag").Fault("no_media_content").Fault("no_source_control")));
  main = OpenMain(Location("none") + "&t=3", true);
  auto calls = recorder_.Calls();
  EXPECT_THAT(MetaValues(calls, kMetaTitle), IsEmpty());
  EXPECT_FALSE(StartTimeSet(calls));
  EXPECT_EQ(OfferedSlave(calls), SlaveAddress("none"));
  main->Close();

  // A filter older than version 5 is not asked for a start time.
  ASSERT_TRUE(catalog_.Add(video("old").Line("version = 4")));
  main = OpenMain(Location("old") + "&t=3", true);
  EXPECT_FALSE(StartTimeSet(recorder_.Calls()));
}

TEST_P(FaultInjection, SubtitleFaultsCostOnlyTheirOwnFile) {
  ASSERT_TRUE(catalog_.Add(
      CatalogVideo("subs")
          .Container(container_)
          .Track(CatalogTrack("Good", "en").Cue(0, 1000, "fine"))
          .Track(CatalogTrack("Endless", "xx").Cue(0, 500, "on and on").NeverEnds())
          .Track(CatalogTrack("Odd", "od").Line("format_size = 519").Cue(0, 10, "skipped"))));
  const auto started = std::chrono::steady_clock::now();
  auto main = OpenMain(Location("subs"), true);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_LT(seconds, 5.0) << "the open waited for a never-ending track";
  // The open waits for no track: the good one comes after it.
  EXPECT_TRUE(
      recorder_.WaitUntil([&] { return !OfferedSubtitlePaths(recorder_.Calls()).empty(); }, 10000));
  const auto paths = OfferedSubtitlePaths(recorder_.Calls());
  ASSERT_THAT(paths, SizeIs(1));
  EXPECT_NE(paths[0].find(L".Good.srt"), std::wstring::npos);
  EXPECT_EQ(FileBytes(paths[0]), "1\n00:00:00,000 --> 00:00:01,000\nfine\n\n");
  EXPECT_EQ(main->ReadToEnd(65536), container_);
  main->Close();  // stops the graph with a streaming thread still waiting to deliver
  EXPECT_EQ(StandIn::LiveObjects(), 0);

  // A subtitle type offered twice on the last subtitle pin: the second renderer cannot connect,
  // and as the last attempt its failure fails the graph and the open.
  ASSERT_TRUE(
      catalog_.Add(CatalogVideo("twice")
                       .Container(container_)
                       .Track(CatalogTrack("Twice", "en").Line("extra_type").Cue(0, 10, "a"))));
  ExpectOpenFails(Location("twice"));
  // Followed by a good pin, it costs nothing.
  ASSERT_TRUE(
      catalog_.Add(CatalogVideo("twicethen")
                       .Container(container_)
                       .Track(CatalogTrack("Twice", "en").Line("extra_type").Cue(0, 10, "a"))
                       .Track(CatalogTrack("Then", "de").Cue(0, 10, "b"))));
  main = OpenMain(Location("twicethen"), true);
  EXPECT_TRUE(recorder_.WaitUntil(
      [&] { return OfferedSubtitlePaths(recorder_.Calls()).size() >= 2; }, 10000));
  EXPECT_THAT(OfferedSubtitlePaths(recorder_.Calls()), SizeIs(2));
}

INSTANTIATE_TEST_SUITE_P(Hosts, FaultInjection, EveryHost(), HostName);

}  // namespace
}  // namespace kavo::test
