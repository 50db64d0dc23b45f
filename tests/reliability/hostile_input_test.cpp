// Inputs no well-behaved host or source filter sends: locations with invalid UTF-8 or a mebibyte
// long, slave markers in odd places and cases, every scheme in several letter cases through the
// 2.2 host's psz_access, and catalog data with tens of thousands of cues, mebibyte texts, track
// names that try to leave the temporary folder and properties that are not strings. None may
// crash the host; each has the result written next to it.
#include <gmock/gmock.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iterator>

#include "reliability_fixture.h"

namespace kavo::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

constexpr int kMetaTitle = 0;
constexpr int kMetaDescription = 6;
constexpr int kMetaDate = 8;
constexpr size_t kMebibyte = 1 << 20;

size_t CountFiles(const std::wstring& pattern) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  size_t count = 1;
  while (FindNextFileW(search, &found)) ++count;
  FindClose(search);
  return count;
}

class HostileInput : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    container_ = PatternBytes(100000, 21);
    audio_ = PatternBytes(40000, 22);
    // The short track ends the hand-over's wait for the graph at once.
    ASSERT_TRUE(catalog_.Add(CatalogVideo("clip")
                                 .Container(container_)
                                 .Audio(audio_)
                                 .Track(CatalogTrack("t", "en").Cue(0, 1, "x"))));
  }

  // Opens location as a main or slave access and tells which stream it reads.
  enum class Opened { Failed, Container, Audio, Other };
  Opened OpenAndIdentify(const std::string& location, std::unique_ptr<Access>& access) {
    access = host_->NewAccess(location);
    if (access->Open() != 0) return Opened::Failed;
    std::uint64_t size = 0;
    access->Control(6, &size);
    const std::string bytes = access->ReadToEnd(65536);
    if (bytes == container_) return Opened::Container;
    if (bytes == audio_) return Opened::Audio;
    return Opened::Other;
  }

  std::string container_, audio_;
};

// A location cut at its first bad byte would be another address: another video, or a slave that
// lost its marker. Such a location opens nothing, creates nothing and registers nothing.
TEST_P(HostileInput, LocationThatIsNotWholeUtf8FailsTheOpen) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("cl").Container(audio_)));  // what a cut id would name
  const long filtersBefore = StandIn::FiltersCreated();
  for (const char* bad :
       {"\xFF", "\x80", "\xC0\xAF", "\xE2\x82", "\xED\xA0\x80", "\xF8\x88\x80\x80\x80"}) {
    SCOPED_TRACE(testing::PrintToString(std::string(bad)));
    ExpectOpenFails(std::string("video.example/watch?") + bad + "v=clip");  // before the id
    ExpectOpenFails("video.example/watch?v=cl" + std::string(bad) + "ip");  // inside it
    ExpectOpenFails(Location("clip") + bad + "&vlc_slave=1");               // before the marker
  }
  ExpectOpenFails("\xC3");
  EXPECT_EQ(StandIn::FiltersCreated(), filtersBefore);
  ExpectOpenFails(SlaveLocation("clip"));  // no main was registered
  // Whole UTF-8 opens, whatever it holds, U+FFFD included.
  std::unique_ptr<Access> main;
  EXPECT_EQ(OpenAndIdentify(Location("clip") + "&x=\xC3\xA9\xEF\xBF\xBD", main), Opened::Container);
}

TEST_P(HostileInput, MebibyteLocationsFailOrOpenLikeShortOnes) {
  ExpectOpenFails(std::string(kMebibyte, 'a'));
  std::string accented;
  while (accented.size() < kMebibyte) accented += "\xC3\xA9";
  ExpectOpenFails(accented);
  ExpectOpenFails(Location(std::string(kMebibyte, 'v')));  // an id far too long

  // A huge extra parameter: the normalized address is short, and the slave finds the player.
  const std::string padded = Location("clip") + "&pad=" + std::string(kMebibyte, 'x');
  auto main = OpenMain(padded, true);
  EXPECT_EQ(OfferedSlave(recorder_.Calls()), SlaveAddress("clip"));
  std::unique_ptr<Access> slave;
  EXPECT_EQ(OpenAndIdentify(padded + "&vlc_slave=1", slave), Opened::Audio);
  EXPECT_EQ(main->ReadToEnd(65536), container_);
}

TEST_P(HostileInput, OnlyTheExactMarkerMakesASlave) {
  std::unique_ptr<Access> main, access;
  ASSERT_EQ(OpenAndIdentify(Location("clip"), main), Opened::Container);
  for (const char* tail : {"&vlc_slave=1", "&vlc_slave=11", "#vlc_slave=1", "&x=vlc_slave=1",
                           "&vlc_slave=1&vlc_slave=1"}) {
    EXPECT_EQ(OpenAndIdentify(Location("clip") + tail, access), Opened::Audio) << tail;
  }
  // Main opens of their own. Each registers its own player, and its close leaves the first
  // main's registration: its slave still finds a player.
  for (const char* tail : {"&vlc_slave=", "&vlc_slave=0", "&VLC_SLAVE=1", "&Vlc_Slave=1",
                           "&vlc_slave 1", "&vlc-slave=1"}) {
    EXPECT_EQ(OpenAndIdentify(Location("clip") + tail, access), Opened::Container) << tail;
  }
  access.reset();
  EXPECT_EQ(OpenAndIdentify(Location("clip") + "&vlc_slave=1", access), Opened::Audio);
  access.reset();
  main.reset();
  ExpectOpenFails(Location("clip") + "&vlc_slave=1");
  // At the start the marker still makes a slave, but of an address the filter declines.
  ExpectOpenFails("vlc_slave=1" + Location("clip"));
  ExpectOpenFails("vlc_slave=1");
}

TEST_P(HostileInput, EverySchemeInEveryCaseGivesTheSlaveAScheme) {
  const char* const schemes[] = {"http",    "HTTP",    "Http",   "https",  "HTTPS",
                                 "hTTpS",   "yshttp",  "YSHTTP", "ysHttp", "yshttps",
                                 "YSHTTPS", "YsHtTpS", "",       "ftp",    nullptr};
  for (const char* scheme : schemes) {
    const std::string shown = scheme ? "\"" + std::string(scheme) + "\"" : "null";
    SCOPED_TRACE("psz_access " + shown);
    recorder_.Reset(ShapeOf(kind()), input_.item);
    auto main = host_->NewAccess(Location("clip"), input_.input, scheme);
    ASSERT_EQ(main->Open(), 0);
    // Only the 2.2 host tells the plug-in its scheme; the 3.0 hosts always get "yshttps".
    std::string lower = scheme ? scheme : "";
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool secure = !scheme || lower == "https" || lower == "yshttps";
    const std::string expected = is22() && !secure ? "yshttp" : "yshttps";
    const std::string offered = OfferedSlave(recorder_.Calls());
    EXPECT_EQ(offered, SlaveAddress("clip", expected));
    std::unique_ptr<Access> slave;
    EXPECT_EQ(OpenAndIdentify(offered.substr(offered.find("://") + 3), slave), Opened::Audio);
  }
}

TEST_P(HostileInput, TwentyThousandCuesAndAMebibyteCueArriveWhole) {
  CatalogTrack many("Many", "en");
  for (int i = 0; i < 20000; ++i) many.Cue(i * 10LL, i * 10LL + 5, "cue " + std::to_string(i));
  std::string huge(kMebibyte, 'h');
  huge[kMebibyte / 2] = '\n';
  ASSERT_TRUE(catalog_.Add(CatalogVideo("big")
                               .Container(container_)
                               .Title(std::string(kMebibyte, 't'))
                               .Description(std::string(kMebibyte / 2, 'd'))
                               .Track(many)
                               .Track(CatalogTrack("Huge", "en").Cue(0, 1000, huge))));
  const std::wstring manyFiles = TempFolder() + L"durud_subs*.Many.srt";
  const size_t manyBefore = CountFiles(manyFiles);
  const auto started = std::chrono::steady_clock::now();
  auto main = OpenMain(Location("big"), true);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const auto calls = recorder_.Calls();
  EXPECT_THAT(MetaValues(calls, kMetaTitle), ElementsAre(std::string(kMebibyte, 't')));
  EXPECT_THAT(MetaValues(calls, kMetaDescription), ElementsAre(std::string(kMebibyte / 2, 'd')));
  EXPECT_LT(seconds, 5.0);
  // The open waits for neither track; twenty thousand samples take Wine about a second. Both are
  // offered, whole.
  ASSERT_TRUE(recorder_.WaitUntil(
      [&] { return OfferedSubtitlePaths(recorder_.Calls()).size() >= 2; }, 30000))
      << OfferedSubtitlePaths(recorder_.Calls()).size() << " offered";
  const auto paths = OfferedSubtitlePaths(recorder_.Calls());
  ASSERT_THAT(paths, SizeIs(2));
  const bool manyFirst = paths[0].find(L".Many.srt") != std::wstring::npos;
  const std::string manyText = FileBytes(paths[manyFirst ? 0 : 1]);
  EXPECT_EQ(std::count(manyText.begin(), manyText.end(), '\n'), 20000 * 4);
  EXPECT_NE(manyText.find("\n20000\n00:03:19,990 --> 00:03:19,995\ncue 19999\n\n"),
            std::string::npos);
  EXPECT_EQ(FileBytes(paths[manyFirst ? 1 : 0]),
            "1\n00:00:00,000 --> 00:00:01,000\n" + huge + "\n\n");
  EXPECT_EQ(main->ReadToEnd(65536), container_);
  // Handed out, the file is kept after the close.
  main->Close();
  EXPECT_EQ(CountFiles(manyFiles), manyBefore + 1);
}

TEST_P(HostileInput, TrackNamesCannotLeaveTheTemporaryFolder) {
  const char* const names[] = {"../up",  "..\\..\\up2", "C:\\kavo-evil", "\\\\server\\share\\x",
                               "a/b\\c", "a:b",         "con",           "x*?|<>\""};
  CatalogVideo video("names");
  video.Container(container_);
  for (const char* name : names) video.Track(CatalogTrack(name, "en").Cue(0, 1, name));
  ASSERT_TRUE(catalog_.Add(video));
  auto main = OpenMain(Location("names"), true);
  // Each track that ends, written or not, says so in the log.
  EXPECT_TRUE(recorder_.WaitUntil(
      [&] {
        const auto lines = recorder_.LogLines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                 return line.find(": subtitle track ") != std::string::npos;
               }) >= static_cast<std::ptrdiff_t>(std::size(names));
      },
      10000));
  const auto paths = OfferedSubtitlePaths(recorder_.Calls());
  EXPECT_THAT(paths, ::testing::Not(IsEmpty()));
  for (const std::wstring& path : paths) {
    const std::wstring folder = path.substr(0, path.find_last_of(L"\\/") + 1);
    const std::wstring name = path.substr(folder.size());
    EXPECT_EQ(folder, TempFolder()) << Utf8(path);
    EXPECT_EQ(name.rfind(L"durud_subs", 0), 0u) << Utf8(path);
    EXPECT_TRUE(FileExists(path)) << Utf8(path);
  }
  EXPECT_FALSE(FileExists(L"C:\\kavo-evil.srt"));
  EXPECT_FALSE(FileExists(TempFolder() + L"..\\up.srt"));
  EXPECT_EQ(main->ReadToEnd(65536), container_);
}

TEST_P(HostileInput, PropertiesThatAreNotStringsAreLeftOut) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("typed")
                               .Container(container_)
                               .Property(1, "title", "42", "as:i4")
                               .Property(1, "description", "", "as:null")
                               .Property(1, "count", "7", "as:i8")
                               .Property(1, "nothing", "", "as:empty")
                               .Property(0, "date", "1688212800", "as:i8")
                               .NullNameProperty(1, "nameless")
                               .Property(5, "other hint", "not published")
                               .Track(CatalogTrack("t", "en").Cue(0, 1, "x"))));
  auto main = OpenMain(Location("typed"), true);
  const auto calls = recorder_.Calls();
  EXPECT_THAT(MetaValues(calls, kMetaTitle), IsEmpty());
  EXPECT_THAT(MetaValues(calls, kMetaDescription), ElementsAre(""));  // a null string is empty
  EXPECT_THAT(MetaValues(calls, kMetaDate), IsEmpty());
  for (const std::string& line : calls) {
    EXPECT_EQ(line.find("\"7\""), std::string::npos) << line;
    EXPECT_EQ(line.find("not published"), std::string::npos) << line;
  }
  // The nameless text property becomes an extra with an empty key.
  EXPECT_THAT(calls, Contains(::testing::EndsWith("\"\" \"nameless\"")));

  // Dates that are no number, or out of any calendar, give no year.
  for (const char* date : {"soon", "99999999999999999999", "0"}) {
    ASSERT_TRUE(catalog_.Add(CatalogVideo("dated")
                                 .Container(container_)
                                 .Property(0, "date", date)
                                 .Track(CatalogTrack("t", "en").Cue(0, 1, "x"))));
    auto dated = OpenMain(Location("dated"), true);
    EXPECT_THAT(MetaValues(recorder_.Calls(), kMetaDate), IsEmpty()) << date;
  }
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostileInput, EveryHost(), HostName);

}  // namespace
}  // namespace kavo::test
