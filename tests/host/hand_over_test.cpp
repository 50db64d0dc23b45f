// The main input hand-over as each host receives it: metadata, start time, audio slave and subtitle
// files, recorded by the stand-in core library, from the stand-in source filter in Wine's real
// graph manager. Child runs of this program show what becomes of handed-out files when the library
// unloads, and when the process ends with a graph still running. Own program, own main.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

#include "child_process.h"
#include "core_recorder.h"
#include "host_emulator.h"
#include "host_test_support.h"
#include "standin_client.h"

namespace kavo::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::SizeIs;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
using Clock = std::chrono::steady_clock;

// What the host would pass: the recorder only prints the input's address, and reads p_meta out of
// the item where the host ABI keeps it.
HostInput hostInput;

const wchar_t kChildSwitch[] = L"--hand-over-child";
const char kChildVideo[] = "kid";
// The files a child waits for before it reports: its video's tracks that end (a child that closes
// its access has one more).
constexpr size_t kKeptChildFiles = 2;
constexpr size_t kClosedChildFiles = 3;

enum ChildResult {
  kChildDone = 0,
  kChildBadArguments = 2,
  kChildSetUpFailed = 3,
  kChildOpenFailed = 4,
  kChildLostFiles = 5,
  kChildNoLateTrack = 6,
};

// --- Files and file URIs, written here independently of the plug-in's own helpers ---

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  CloseHandle(file);
  return ok;
}

std::wstring FolderOf(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring FileNameOf(const std::wstring& path) {
  return path.substr(path.find_last_of(L"\\/") + 1);
}

// True for "durud_subs" + decimal counter + "." + suffix.
bool IsSubtitleFileName(const std::wstring& name, const std::wstring& suffix) {
  const std::wstring prefix = L"durud_subs";
  const std::wstring tail = L"." + suffix;
  if (name.size() <= prefix.size() + tail.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  std::wstring counter = name.substr(prefix.size(), name.size() - prefix.size() - tail.size());
  if (!counter.empty() && counter[0] == L'-') counter.erase(0, 1);
  return !counter.empty() && counter.find_first_not_of(L"0123456789") == std::wstring::npos;
}

// A file:/// URI back to a Windows path; empty when the URI is not a local file URI made only of
// unreserved characters, "/", the drive's ":" and %XX escapes.
std::wstring PathOfFileUri(const std::string& uri) {
  const std::string scheme = "file:///";
  if (uri.compare(0, scheme.size(), scheme) != 0) return {};
  std::string bytes;
  for (size_t i = scheme.size(); i < uri.size(); ++i) {
    const char c = uri[i];
    if (c == '%' && i + 2 < uri.size() && isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
        isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
      bytes += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else if (isalnum(static_cast<unsigned char>(c)) || std::strchr("-._~/", c) ||
               (c == ':' && i == scheme.size() + 1)) {
      bytes += c == '/' ? '\\' : c;
    } else {
      return {};
    }
  }
  return Wide(bytes);
}

// --- What each host is told ---

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ControlPrefix() {
  return "input_Control " + CoreRecorder::Pointer(hostInput.input) + " ";
}

std::string SlaveCall(HostKind kind, const std::string& address) {
  switch (kind) {
    case HostKind::V22:
      return ControlPrefix() + "35 " + Quoted(address);
    case HostKind::V30Development:
      return ControlPrefix() + "38 1 " + Quoted(address) + " 1";
    default:
      return ControlPrefix() + "36 1 " + Quoted(address) + " 1 0 0";
  }
}

// `text` is the UTF-8 path (2.2, development 3.0) or the file URI (3.0 releases).
std::string SubtitleCall(HostKind kind, const std::string& text) {
  switch (kind) {
    case HostKind::V22:
      return ControlPrefix() + "36 " + Quoted(text) + " 1";
    case HostKind::V30Development:
      return ControlPrefix() + "39 " + Quoted(text) + " 1";
    default:
      return ControlPrefix() + "36 0 " + Quoted(text) + " 0 0 1";
  }
}

bool IsSlaveLine(const std::string& line) {
  return line.rfind("input_Control ", 0) == 0 && line.find("vlc_slave=1") != std::string::npos;
}

struct OfferedSubtitle {
  std::string line;   // the recorded call
  std::string text;   // what it carried: path or URI
  std::wstring path;  // the file it names; empty when the text does not decode
};

std::vector<OfferedSubtitle> OfferedSubtitles(HostKind kind,
                                              const std::vector<std::string>& calls) {
  std::vector<OfferedSubtitle> offered;
  for (const auto& line : calls) {
    if (line.rfind("input_Control ", 0) != 0 || IsSlaveLine(line)) continue;
    const auto first = line.find('"');
    const auto last = line.rfind('"');
    OfferedSubtitle subtitle{line, {}, {}};
    if (first != std::string::npos && last > first) {
      subtitle.text = line.substr(first + 1, last - first - 1);
      subtitle.path =
          kind == HostKind::V30Release ? PathOfFileUri(subtitle.text) : Wide(subtitle.text);
    }
    offered.push_back(subtitle);
  }
  return offered;
}

// --- The stand-in's date, worked out through the system's own conversions ---

SYSTEMTIME LocalTime(std::int64_t seconds) {
  const std::uint64_t ticks = (static_cast<std::uint64_t>(seconds) + 11644473600ull) * 10000000ull;
  const FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utcTime, local;
  FileTimeToSystemTime(&utc, &utcTime);
  SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local);
  local.wMilliseconds = 0;
  return local;
}

std::string LongDateAndTime(const SYSTEMTIME& time) {
  wchar_t date[256] = {};
  wchar_t clock[256] = {};
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &time, nullptr, date, 256);
  GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, clock, 256);
  return Utf8(date) + " " + Utf8(clock);
}

// --- The catalog every test draws on ---

const long long kTimestamp = 1600000000;  // 2020 in every time zone
const char kTitle[] =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE2\x98\x83 \xF0\x9F\x8E\xAC title";
const char kDescription[] = "Line one\nline two \xE2\x80\x94 caf\xC3\xA9";
const char kThumbnails[] = "https://img.example/a.jpg https://img.example/b.jpg";

CatalogTrack EnglishTrack() {
  // Out of order, one before the origin, one over two lines.
  return CatalogTrack("English (CC)", "en")
      .Cue(5000, 6000, "third")
      .Cue(-500, 1000, "fr\xC3\xBCh")
      .Cue(1000, 4000, "Second\nline");
}
const char kEnglishSrt[] =
    "1\n00:00:00,000 --> 00:00:01,000\nfr\xC3\xBCh\n\n"
    "2\n00:00:01,000 --> 00:00:04,000\nSecond\nline\n\n"
    "3\n00:00:05,000 --> 00:00:06,000\nthird\n\n";

CatalogTrack GermanTrack() {
  return CatalogTrack("Deutsch", "de")
      .Cue(3723004, 3723504,
           "Stra\xC3\x9F"
           "e");
}
const char kGermanSrt[] =
    "1\n01:02:03,004 --> 01:02:03,504\nStra\xC3\x9F"
    "e\n\n";

CatalogTrack EndlessTrack() { return CatalogTrack("Endless", "xx").Cue(0, 500, "on").NeverEnds(); }

// A track whose data arrive delayMs after the graph left the stopped state.
CatalogTrack LateTrack(int delayMs) {
  return CatalogTrack("Late", "la")
      .Cue(0, 10, "late")
      .Line("delay_ms = " + std::to_string(delayMs));
}
const char kLateSrt[] = "1\n00:00:00,000 --> 00:00:00,010\nlate\n\n";

CatalogVideo FullVideo(const std::string& id) {
  return CatalogVideo(id)
      .Audio(PatternBytes(5000, 3))
      .Title(kTitle)
      .Description(kDescription)
      .ThumbnailUrls(kThumbnails)
      .Date(kTimestamp)
      .Track(EnglishTrack())
      .Track(GermanTrack());
}

std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }

LONGLONG Counter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double Milliseconds(LONGLONG counts) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return counts * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// --- Child runs ---

std::vector<std::wstring> ReportLines(const std::wstring& report) {
  std::vector<std::wstring> lines;
  const std::string bytes = FileBytes(report);
  if (bytes == "<missing>") return lines;
  size_t start = 0;
  for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(Wide(bytes.substr(start, end - start)));
  }
  return lines;
}

// The child's part: opens the catalog's kChildVideo as a main input of host `kind`, writes the
// paths of the subtitle files it was offered into `report` (UTF-8, one a line) once its tracks that
// end have come, closes the access or leaves it open with its graph running, and returns from main.
int HandOverChild(HostKind kind, bool closeAccess, const std::wstring& report) {
  CoreRecorder recorder;
  HostEmulator host(kind);
  if (!EnsureStandInRegistered() || !recorder.Load() || !host.Load()) return kChildSetUpFailed;
  hostInput.LayOut(host.layout());
  recorder.Reset(ShapeOf(kind), hostInput.item);
  auto access = host.NewAccess(Narrow(WatchAddress(kChildVideo)), hostInput.input);
  if (access->Open() != 0) return kChildOpenFailed;
  const size_t files = closeAccess ? kClosedChildFiles : kKeptChildFiles;
  if (!recorder.WaitUntil([&] { return OfferedSubtitles(kind, recorder.Calls()).size() >= files; },
                          10000))
    return kChildNoLateTrack;
  std::string lines;
  std::vector<std::wstring> paths;
  for (const auto& offered : OfferedSubtitles(kind, recorder.Calls())) {
    lines += Utf8(offered.path) + "\n";
    paths.push_back(offered.path);
  }
  if (!WriteBytes(report, lines)) return kChildSetUpFailed;
  if (closeAccess) {
    access->Close();
    for (const auto& path : paths) {
      if (!FileExists(path)) return kChildLostFiles;
    }
  } else {
    static_cast<void>(access.release());  // the host never closes it: the process just ends
  }
  return kChildDone;
}

// --- The tests ---

class HandOver : public ::testing::TestWithParam<HostKind> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(EnsureStandInRegistered());
    StandIn::Reset();
    ASSERT_TRUE(recorder_.Load());
    host_ = std::make_unique<HostEmulator>(GetParam());
    ASSERT_TRUE(host_->Load());
    hostInput = HostInput();
    hostInput.LayOut(host_->layout());
    recorder_.Reset(ShapeOf(GetParam()), hostInput.item);
  }
  void TearDown() override { EXPECT_EQ(StandIn::LiveObjects(), 0) << "stand-in objects leaked"; }

  HostKind kind() const { return GetParam(); }

  // Opens `location` as a main input with a parent input and, since the open waits for no
  // subtitle track, waits until the log has told of `tracks` tracks; returns the calls the host
  // saw. `messages` gets what the host's log heard, as Messages() gives it.
  std::vector<std::string> OpenMain(const std::string& location, size_t tracks,
                                    const char* scheme = "yshttps", double* seconds = nullptr,
                                    std::vector<std::string>* messages = nullptr) {
    recorder_.Reset(ShapeOf(kind()), hostInput.item);
    auto access = host_->NewAccess(location, hostInput.input, scheme);
    const auto start = Clock::now();
    EXPECT_EQ(access->Open(), 0) << location;
    if (seconds) *seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_TRUE(recorder_.WaitUntil([&] { return TracksTold() >= tracks; }, 10000))
        << TracksTold() << " of " << tracks << " tracks told";
    std::vector<std::string> calls = recorder_.Calls();
    access->Close();
    if (messages) *messages = Messages(recorder_.LogLines(), access->Object());
    return calls;
  }

  // The log lines about one subtitle track each.
  size_t TracksTold() const {
    const auto lines = recorder_.LogLines();
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
      return l.find(": subtitle track ") != std::string::npos;
    }));
  }

  // The offered subtitles, each checked to name an existing file in `folder` whose name ends in
  // "." + one of the suffixes, each suffix offered once; the paths come back in the suffixes'
  // order. Tracks that end at about the same time may come in either order; `inOrder` asks for
  // the suffixes' order.
  std::vector<std::wstring> ExpectSubtitleFiles(const std::vector<std::string>& calls,
                                                const std::wstring& folder,
                                                const std::vector<std::wstring>& suffixes,
                                                bool inOrder = false) {
    std::vector<std::wstring> paths;
    const auto offered = OfferedSubtitles(kind(), calls);
    EXPECT_THAT(offered, SizeIs(suffixes.size()));
    for (const OfferedSubtitle& subtitle : offered) {
      EXPECT_FALSE(subtitle.path.empty()) << subtitle.line;
      EXPECT_EQ(subtitle.line, SubtitleCall(kind(), subtitle.text));
      EXPECT_EQ(FolderOf(subtitle.path), folder) << subtitle.line;
      EXPECT_TRUE(FileExists(subtitle.path)) << subtitle.line;
    }
    for (size_t i = 0; i < suffixes.size(); ++i) {
      std::vector<size_t> named;
      for (size_t at = 0; at < offered.size(); ++at) {
        if (IsSubtitleFileName(FileNameOf(offered[at].path), suffixes[i])) named.push_back(at);
      }
      EXPECT_THAT(named, SizeIs(1)) << Utf8(suffixes[i]);
      if (named.size() != 1) continue;
      if (inOrder) {
        EXPECT_EQ(named[0], i) << Utf8(suffixes[i]);
      }
      paths.push_back(offered[named[0]].path);
    }
    return paths;
  }

  CoreRecorder recorder_;
  std::unique_ptr<HostEmulator> host_;
  Catalog catalog_;
};

TEST_P(HandOver, MainOpenHandsEverythingOverInOrder) {
  ASSERT_TRUE(catalog_.Add(FullVideo("full")));
  // Another host name, parameters around the id and a start time: the slave still gets the
  // normalized address, the start time comes from what the user gave.
  const std::vector<std::string> calls =
      OpenMain("m.video.example/watch?feature=share&v=full&t=1m30s", 2);

  const std::string input = CoreRecorder::Pointer(hostInput.input);
  const std::string item = CoreRecorder::Pointer(hostInput.item);
  const std::string slave = "yshttps://" + Narrow(CanonicalAddress("full")) + "&vlc_slave=1";
  // 1m30s reaches the host as 90000 in single precision times 0.001f in single precision.
  ASSERT_THAT(calls, SizeIs(10)) << ::testing::PrintToString(calls);
  EXPECT_THAT(std::vector<std::string>(calls.begin(), calls.begin() + 8),
              ElementsAre("input_GetItem " + input,
                          "input_item_SetMeta " + item + " 6 " + Quoted(kDescription),
                          "input_item_SetMeta " + item + " 16 " + Quoted(kThumbnails),
                          "input_item_SetMeta " + item + " 0 " + Quoted(kTitle),
                          "input_item_SetMeta " + item + " 8 \"2020\"",
                          "vlc_meta_AddExtra " + CoreRecorder::Pointer(hostInput.meta) +
                              " \"date\" " + Quoted(LongDateAndTime(LocalTime(kTimestamp))),
                          "var_SetChecked " + input + " \"start-time\" 80 90.0000076",
                          SlaveCall(kind(), slave)));

  // One subtitle per track in track order, each file holding exactly its SRT text.
  const auto paths =
      ExpectSubtitleFiles(calls, TempFolder(), {L"English (CC).srt", L"Deutsch.srt"});
  ASSERT_THAT(paths, SizeIs(2));
  EXPECT_EQ(FileBytes(paths[0]), kEnglishSrt);
  EXPECT_EQ(FileBytes(paths[1]), kGermanSrt);
}

// Each step in the host's log, in the order it happened; a track name is only ever text to it.
TEST_P(HandOver, HostLogTellsWhatWasHandedOverInOrder) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("logged")
                               .Container(PatternBytes(70000, 5))
                               .Audio(PatternBytes(5000, 3))
                               .Track(EnglishTrack())
                               .Track(CatalogTrack("%n%s", "xx").Cue(0, 1, "x"))));
  std::vector<std::string> messages;
  const auto calls =
      OpenMain(Narrow(WatchAddress("logged")) + "&t=1m30s", 2, "yshttps", nullptr, &messages);
  const auto paths = ExpectSubtitleFiles(calls, TempFolder(), {L"English (CC).srt", L"%n%s.srt"});
  ASSERT_THAT(paths, SizeIs(2));
  ASSERT_THAT(messages, SizeIs(6));
  const std::string canonical = Narrow(CanonicalAddress("logged"));
  EXPECT_THAT(
      std::vector<std::string>(messages.begin(), messages.begin() + 4),
      ElementsAre("debug: normalized address: " + canonical, "debug: main stream size: 70000 bytes",
                  "debug: start time applied: 90000 ms",
                  "debug: audio slave offered: yshttps://" + canonical + "&vlc_slave=1"));
  // Each track as it ends, after the open's own lines.
  EXPECT_THAT(std::vector<std::string>(messages.begin() + 4, messages.end()),
              UnorderedElementsAre(
                  "debug: subtitle track 1 \"English (CC)\" handed over: " + Utf8(paths[0]),
                  "debug: subtitle track 2 \"%n%s\" handed over: " + Utf8(paths[1])));
}

// A temporary folder with blanks and letters outside ASCII: the 2.2 and development hosts get it
// as UTF-8, release hosts as a percent-encoded URI that decodes back to the very path.
TEST_P(HandOver, SubtitleFilesInAFolderWithBlanksAndAccents) {
  ASSERT_TRUE(catalog_.Add(FullVideo("full")));
  const std::wstring folder = TempFolder() + L"dir \u00FC \u00E9 " +
                              std::to_wstring(GetCurrentProcessId()) + L"." +
                              std::to_wstring(GetTickCount()) + L"\\";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  wchar_t oldTmp[MAX_PATH * 4] = {}, oldTemp[MAX_PATH * 4] = {};
  GetEnvironmentVariableW(L"TMP", oldTmp, MAX_PATH * 4);
  GetEnvironmentVariableW(L"TEMP", oldTemp, MAX_PATH * 4);
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
  ASSERT_EQ(TempFolder(), folder);

  const std::vector<std::string> calls = OpenMain(Narrow(WatchAddress("full")), 2);
  SetEnvironmentVariableW(L"TMP", oldTmp[0] ? oldTmp : nullptr);
  SetEnvironmentVariableW(L"TEMP", oldTemp[0] ? oldTemp : nullptr);

  const auto paths = ExpectSubtitleFiles(calls, folder, {L"English (CC).srt", L"Deutsch.srt"});
  ASSERT_THAT(paths, SizeIs(2));
  EXPECT_EQ(FileBytes(paths[0]), kEnglishSrt);
  EXPECT_EQ(FileBytes(paths[1]), kGermanSrt);
  const auto offered = OfferedSubtitles(kind(), calls);
  const auto english = std::find_if(offered.begin(), offered.end(),
                                    [&](const OfferedSubtitle& o) { return o.path == paths[0]; });
  ASSERT_NE(english, offered.end());
  if (kind() == HostKind::V30Release) {
    // Exactly the escapes a URI needs: blank, the letters' UTF-8 bytes, the parentheses.
    EXPECT_NE(english->text.find("/dir%20%C3%BC%20%C3%A9%20"), std::string::npos) << english->text;
    EXPECT_NE(english->text.find(".English%20%28CC%29.srt"), std::string::npos) << english->text;
  } else {
    EXPECT_EQ(english->text, Utf8(paths[0]));
  }
  // The folder is the test's own, and these files are held until the library unloads: take them
  // out of the way now (the later removal of a missing file does nothing).
  for (const auto& path : paths) DeleteFileW(path.c_str());
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
}

TEST_P(HandOver, SlaveSchemeFollowsTheAccessNameOnlyUnder22) {
  ASSERT_TRUE(catalog_.Add(
      CatalogVideo("sch").Audio(PatternBytes(100)).Track(CatalogTrack("", "en").Cue(0, 10, "x"))));
  const std::string address = "://" + Narrow(CanonicalAddress("sch")) + "&vlc_slave=1";
  const struct {
    const char* access;
    const char* scheme;
  } cases[] = {{nullptr, "yshttps"}, {"HTTPS", "yshttps"}, {"YsHttpS", "yshttps"},
               {"http", "yshttp"},   {"YSHTTP", "yshttp"}, {"rtsp", "yshttp"}};
  for (const auto& c : cases) {
    const auto calls = OpenMain(Narrow(WatchAddress("sch")) + "&x=1", 0, c.access);
    // 3.0 hosts have no access name to go by: always the secure scheme.
    const std::string scheme = kind() == HostKind::V22 ? c.scheme : "yshttps";
    std::vector<std::string> slaves;
    for (const auto& line : calls) {
      if (IsSlaveLine(line)) slaves.push_back(line);
    }
    EXPECT_THAT(slaves, ElementsAre(SlaveCall(kind(), scheme + address)))
        << (c.access ? c.access : "NULL");
  }
}

TEST_P(HandOver, NoAudioNoSlaveAndNoTracksNoSubtitle) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("mute").Title("t").Track(GermanTrack())));
  ASSERT_TRUE(catalog_.Add(CatalogVideo("bare").Title("t").Audio(PatternBytes(100))));
  const std::string item = CoreRecorder::Pointer(hostInput.item);
  const std::string getItem = "input_GetItem " + CoreRecorder::Pointer(hostInput.input);
  const std::string title = "input_item_SetMeta " + item + " 0 \"t\"";

  const auto mute = OpenMain(Narrow(WatchAddress("mute")), 1);
  ASSERT_THAT(mute, SizeIs(3));
  EXPECT_EQ(mute[0], getItem);
  EXPECT_EQ(mute[1], title);
  EXPECT_EQ(FileBytes(ExpectSubtitleFiles(mute, TempFolder(), {L"Deutsch.srt"}).at(0)), kGermanSrt);

  EXPECT_THAT(OpenMain(Narrow(WatchAddress("bare")), 0),
              ElementsAre(getItem, title,
                          SlaveCall(kind(), "yshttps://" + Narrow(CanonicalAddress("bare")) +
                                                "&vlc_slave=1")));
}

// The open waits for no subtitle track: one that never ends costs the open nothing and is never
// offered, while the tracks that end are offered, one under a name Windows would refuse made safe.
TEST_P(HandOver, NeverEndingTrackDoesNotHoldTheOpen) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("stuck")
                               .Track(GermanTrack())
                               .Track(EndlessTrack())
                               .Track(CatalogTrack("what?").Cue(0, 500, "eh"))));
  double seconds = 0;
  std::vector<std::string> messages;
  const auto calls = OpenMain(Narrow(WatchAddress("stuck")), 2, "yshttps", &seconds, &messages);
  EXPECT_LT(seconds, 0.5) << "the open waited for a track";
  const auto paths = ExpectSubtitleFiles(calls, TempFolder(), {L"Deutsch.srt", L"what_.srt"});
  ASSERT_THAT(paths, SizeIs(2));
  EXPECT_EQ(FileBytes(paths[0]), kGermanSrt);
  EXPECT_THAT(messages, Not(Contains(HasSubstr("\"Endless\""))));
}

// A track whose data come seconds after the open is offered by the same host call as soon as its
// file is written, after the track that ended at once, each with a debug line.
TEST_P(HandOver, LateTrackIsHandedOverWhenItsFileIsWritten) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("late").Track(GermanTrack()).Track(LateTrack(2000))));
  auto access = host_->NewAccess(Narrow(WatchAddress("late")), hostInput.input);
  const auto start = Clock::now();
  ASSERT_EQ(access->Open(), 0);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const LONGLONG opened = Counter();
  EXPECT_LT(seconds, 0.5) << "the open waited for a track";

  ASSERT_TRUE(recorder_.WaitUntil(
      [&] { return OfferedSubtitles(kind(), recorder_.Calls()).size() >= 2; }, 10000))
      << "the late track never came";
  const auto paths =
      ExpectSubtitleFiles(recorder_.Calls(), TempFolder(), {L"Deutsch.srt", L"Late.srt"}, true);
  ASSERT_THAT(paths, SizeIs(2));
  EXPECT_EQ(FileBytes(paths[0]), kGermanSrt);
  EXPECT_EQ(FileBytes(paths[1]), kLateSrt);
  EXPECT_GT(Milliseconds(recorder_.CallTimes().back() - opened), 1000.0);
  ASSERT_TRUE(recorder_.WaitUntil([&] { return TracksTold() >= 2; }, 10000));
  EXPECT_THAT(Messages(recorder_.LogLines(), access->Object()),
              Contains("debug: subtitle track 2 \"Late\" handed over: " + Utf8(paths[1])));
  access->Close();
  EXPECT_THAT(OfferedSubtitles(kind(), recorder_.Calls()), SizeIs(2)) << "a track came twice";
}

// A close while the waiter waits (for a track that never ends, one whose data are still on their
// way, or tracks that end just as the open returns) stops it at once: nothing reaches the host once
// the close has begun, nothing of the graph is left, and the close does not wait for a track.
TEST_P(HandOver, CloseWhileTracksAreLateStopsTheWaiterAtOnce) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("endless").Track(EndlessTrack())));
  ASSERT_TRUE(catalog_.Add(CatalogVideo("slow").Track(LateTrack(2500))));
  ASSERT_TRUE(catalog_.Add(FullVideo("instant")));
  for (const char* id : {"endless", "slow", "instant"}) {
    recorder_.Reset(ShapeOf(kind()), hostInput.item);
    auto access = host_->NewAccess(Narrow(WatchAddress(id)), hostInput.input);
    ASSERT_EQ(access->Open(), 0);
    const size_t calls = recorder_.Calls().size();
    const LONGLONG closing = Counter();
    access->Close();
    const double closeMs = Milliseconds(Counter() - closing);
    std::cout << NameOf(kind()) << ", " << id << ": close took " << closeMs << " ms" << std::endl;
    RecordProperty(std::string("close_ms_") + id, std::to_string(closeMs));
    EXPECT_LT(closeMs, 500.0) << id;
    EXPECT_EQ(StandIn::LiveObjects(), 0) << id;
    // The slow track was due about 2.5 s after the open returned.
    if (std::string(id) == "slow") {
      EXPECT_FALSE(recorder_.WaitForCalls(calls + 1, 3500));
    }
    for (const LONGLONG at : recorder_.CallTimes()) EXPECT_LT(at, closing) << id;
  }
}

// A source that buffers before it pauses and runs (pause_ms): Wine's graph runs the renderers
// later, on a worker of its own. The track still comes, and a close returns at once, also one that
// comes while the graph is still on its way to running.
TEST_P(HandOver, SlowStateChangesStillHandTheTrackOverAndCloseAtOnce) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("buffering").Track(GermanTrack()).Line("pause_ms = 300")));
  for (const bool waitForTrack : {true, false}) {
    recorder_.Reset(ShapeOf(kind()), hostInput.item);
    auto access = host_->NewAccess(Narrow(WatchAddress("buffering")), hostInput.input);
    ASSERT_EQ(access->Open(), 0);
    if (waitForTrack) {
      ASSERT_TRUE(recorder_.WaitUntil(
          [&] { return OfferedSubtitles(kind(), recorder_.Calls()).size() >= 1; }, 10000));
      const auto paths = ExpectSubtitleFiles(recorder_.Calls(), TempFolder(), {L"Deutsch.srt"});
      ASSERT_THAT(paths, SizeIs(1));
      EXPECT_EQ(FileBytes(paths[0]), kGermanSrt);
    }
    const LONGLONG closing = Counter();
    access->Close();
    EXPECT_LT(Milliseconds(Counter() - closing), 500.0) << waitForTrack;
    EXPECT_EQ(StandIn::LiveObjects(), 0);
  }
}

// A bag whose Read answers E_FAIL for one failing property, having filled the others: the title
// it gave is published, and only the description it could not deliver comes from the other
// interface.
TEST_P(HandOver, TitleOfABagThatFailsPartlyIsPublished) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("partial")
                               .Property(1, "description", "x", "fails")
                               .Title(kTitle)
                               .Line("media_title = other")
                               .Line("media_description = other text")
                               .Fault("property_read_partial")));
  const std::string item = CoreRecorder::Pointer(hostInput.item);
  EXPECT_THAT(OpenMain(Narrow(WatchAddress("partial")), 0),
              ElementsAre("input_GetItem " + CoreRecorder::Pointer(hostInput.input),
                          "input_item_SetMeta " + item + " 6 \"other text\"",
                          "input_item_SetMeta " + item + " 0 " + Quoted(kTitle)));
}

TEST_P(HandOver, TrackNamesWithSeparatorsStayInTheTemporaryFolder) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("sep")
                               .Track(CatalogTrack("../x").Cue(0, 1, "a"))
                               .Track(CatalogTrack("..\\..\\y").Cue(0, 1, "b"))));
  const auto paths = ExpectSubtitleFiles(OpenMain(Narrow(WatchAddress("sep")), 2), TempFolder(),
                                         {L".._x.srt", L".._.._y.srt"});
  ASSERT_THAT(paths, SizeIs(2));
  EXPECT_EQ(FileBytes(paths[0]), "1\n00:00:00,000 --> 00:00:00,001\na\n\n");
  EXPECT_EQ(FileBytes(paths[1]), "1\n00:00:00,000 --> 00:00:00,001\nb\n\n");
}

// Handed-out files outlive both accesses and the player; they go when the library unloads, which a
// child run of this program shows by returning from main.
TEST_P(HandOver, HandedOutFilesOutliveThePlayerButNotTheLibrary) {
  ASSERT_TRUE(catalog_.Add(FullVideo("full")));
  auto main = host_->NewAccess(Narrow(WatchAddress("full")), hostInput.input);
  ASSERT_EQ(main->Open(), 0);
  ASSERT_TRUE(recorder_.WaitUntil(
      [&] { return OfferedSubtitles(kind(), recorder_.Calls()).size() >= 2; }, 10000));
  const auto calls = recorder_.Calls();
  auto slave = host_->NewAccess(OfferedSlaveLocation(calls), hostInput.input);
  ASSERT_EQ(slave->Open(), 0);
  const auto paths =
      ExpectSubtitleFiles(calls, TempFolder(), {L"English (CC).srt", L"Deutsch.srt"});
  main->Close();
  slave->Close();
  EXPECT_EQ(StandIn::LiveObjects(), 0) << "the player outlived its accesses";
  for (const auto& path : paths) EXPECT_TRUE(FileExists(path)) << Utf8(path) << " went too early";
  ASSERT_THAT(paths, SizeIs(2));
  EXPECT_EQ(FileBytes(paths[0]), kEnglishSrt);
  EXPECT_EQ(FileBytes(paths[1]), kGermanSrt);

  // The child closes with a track still pending, after one that came a second after the open: its
  // file is kept like the others.
  ASSERT_TRUE(catalog_.Add(FullVideo(kChildVideo).Track(LateTrack(1200)).Track(EndlessTrack())));
  const std::wstring report =
      TempFolder() + L"hand_over_report_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  const ChildRun run =
      RunChild(OwnProgram(),
               std::wstring(kChildSwitch) + L" " + std::to_wstring(static_cast<int>(kind())) +
                   L" close \"" + report + L"\"",
               60000);
  ASSERT_TRUE(run.ended) << run;
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(kChildDone)) << run;
  const auto childPaths = ReportLines(report);
  DeleteFileW(report.c_str());
  ASSERT_THAT(childPaths, SizeIs(3));
  for (const auto& path : childPaths) {
    EXPECT_EQ(FolderOf(path), TempFolder());
    EXPECT_FALSE(FileExists(path)) << Utf8(path) << " outlived the library";
  }
}

// The host may end the process without closing an input. The process must still end at once and
// cleanly, with a graph running and a source thread still streaming, and the files go with it.
TEST_P(HandOver, ProcessExitWithTheGraphRunningEndsCleanlyAndRemovesFiles) {
  ASSERT_TRUE(catalog_.Add(FullVideo(kChildVideo).Track(EndlessTrack())));
  const std::wstring report =
      TempFolder() + L"hand_over_report_" + std::to_wstring(GetCurrentProcessId()) + L".txt";
  const ChildRun run =
      RunChild(OwnProgram(),
               std::wstring(kChildSwitch) + L" " + std::to_wstring(static_cast<int>(kind())) +
                   L" keep \"" + report + L"\"",
               60000);
  ASSERT_TRUE(run.ended) << run;
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(kChildDone)) << run;
  // Start-up, the tracks that end and the exit itself.
  EXPECT_LT(run.seconds, 15.0);
  const auto childPaths = ReportLines(report);
  DeleteFileW(report.c_str());
  ASSERT_THAT(childPaths, SizeIs(2));
  for (const auto& path : childPaths) {
    EXPECT_EQ(FolderOf(path), TempFolder());
    EXPECT_FALSE(FileExists(path)) << Utf8(path) << " outlived the process";
  }
}

INSTANTIATE_TEST_SUITE_P(Hosts, HandOver,
                         ::testing::Values(HostKind::V22, HostKind::V30Development,
                                           HostKind::V30Release),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

}  // namespace
}  // namespace kavo::test

int main(int argc, char** argv) {
  using namespace kavo::test;
  // Paths may hold characters the narrow arguments cannot carry: read the wide command line.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide && count >= 2 && std::wcscmp(wide[1], kChildSwitch) == 0) {
    int result = kChildBadArguments;
    if (count == 5) {
      const int kind = _wtoi(wide[2]);
      const bool close = std::wcscmp(wide[3], L"close") == 0;
      const std::wstring report = wide[4];
      LocalFree(wide);
      result = HandOverChild(static_cast<HostKind>(kind), close, report);
      return result;
    }
    LocalFree(wide);
    return result;
  }
  LocalFree(wide);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
