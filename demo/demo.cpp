// kavo_demo: plays one catalog video through the plug-in as each host ABI would, and prints what
// the host received: the module, the stream with its checksum, metadata, start time, the audio
// slave and the subtitle files. Every item is checked against the catalog; any difference makes
// the exit code 1 (2: the setup itself is broken).
//
//   kavo_demo.exe [address]     default: https://video.example/watch?v=kavo-demo&t=2s
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "crc32.h"
#include "expected_video.h"
#include "host_session.h"
#include "host_test_support.h"
#include "standin_client.h"

using namespace kavo::demo;
using kavo::test::HostKind;

namespace {

const char kDefaultAddress[] = "https://video.example/watch?v=kavo-demo&t=2s";
constexpr int kMetaTitle = 0, kMetaDescription = 6, kMetaDate = 8, kMetaArtwork = 16;

void Say(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void Item(const std::string& label, const std::string& text) {
  std::string line = "  " + label;
  line.resize(14, ' ');
  Say(line + text);
}

// On one line: a line break shows as "\n".
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

// The value of query parameter `name` ("v", "t"), or empty.
std::string Parameter(const std::string& address, const std::string& name) {
  for (size_t at = address.find_first_of("?&#"); at != std::string::npos;
       at = address.find_first_of("?&#", at + 1)) {
    if (address.compare(at + 1, name.size() + 1, name + "=") != 0) continue;
    const size_t start = at + 2 + name.size();
    return address.substr(start, address.find_first_of("&#", start) - start);
  }
  return {};
}

// "90", "90s", "2m", "1h2m3s" in milliseconds; 0 for none.
long long StartMs(const std::string& text) {
  long long total = 0, number = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      number = number * 10 + (c - '0');
    } else {
      total += number * (c == 'h' ? 3600000 : c == 'm' ? 60000 : 1000);
      number = 0;
    }
  }
  return total + number * 1000;
}

std::string Bytes(std::uint64_t count) { return std::to_string(count) + " bytes"; }

// Collects the differences between what one host received and what the catalog holds.
class Check {
 public:
  void Expect(bool same, const std::string& what) {
    if (same) return;
    Item("DIFFERS", what);
    ++differences_;
  }
  int differences() const { return differences_; }

 private:
  int differences_ = 0;
};

const std::string* MetaOf(const HostSession& session, int type, int& count) {
  const std::string* value = nullptr;
  count = 0;
  for (const auto& [metaType, text] : session.meta) {
    if (metaType != type) continue;
    value = &text;
    ++count;
  }
  return value;
}

void ShowMeta(const HostSession& session, Check& check, const char* label, int type,
              const std::optional<std::string>& expected) {
  int count = 0;
  const std::string* value = MetaOf(session, type, count);
  if (value) Item(label, OneLine(*value));
  check.Expect(count == (expected ? 1 : 0) && (!value || *value == *expected),
               std::string(label) + " should be " + (expected ? OneLine(*expected) : "absent"));
}

int ShowHost(const HostSession& session, const ExpectedVideo& video, const std::string& scheme,
             long long startMs) {
  Check check;
  const kavo::test::HostLayout& layout = kavo::test::LayoutOf(session.kind);
  Say(std::string("== ") + HostTitle(session.kind) + " (" + layout.entry + ")");
  const ModuleDescription& module = session.module;
  std::string schemes;
  for (const std::string& shortcut : module.shortcuts) schemes += " " + shortcut;
  Item("module",
       module.name + " \"" + module.description + "\": " + module.capability + ", score " +
           std::to_string(module.score) + ", schemes" + schemes +
           (module.openName.empty() ? "" : ", " + module.openName + "/" + module.closeName));
  bool claimsScheme = false;
  for (const std::string& shortcut : module.shortcuts) claimsScheme |= shortcut == scheme;
  check.Expect(module.described && module.capability == "access" && claimsScheme,
               "the module should describe an access for \"" + scheme + "\"");
  if (session.openResult != 0) {
    check.Expect(false, "the open failed (" + std::to_string(session.openResult) + ")");
    return check.differences();
  }

  Item("stream", Bytes(session.size) + ", read " + Bytes(session.bytes.size()) +
                     " in 32 KiB reads, CRC-32 " + Crc32Text(Crc32(session.bytes)));
  check.Expect(session.size == video.container.size() && session.bytes == video.container,
               "the stream should be " + video.containerFile + ": " +
                   Bytes(video.container.size()) + ", CRC-32 " + Crc32Text(Crc32(video.container)));
  const bool seekSame =
      !session.seekBytes.empty() &&
      video.container.compare(session.seekOffset, session.seekBytes.size(), session.seekBytes) == 0;
  Item("seek", "to " + std::to_string(session.seekOffset) + ", then " +
                   Bytes(session.seekBytes.size()) + (seekSame ? " as in the file" : ""));
  check.Expect(seekSame, "the bytes after the seek should be the file's");

  ShowMeta(session, check, "title", kMetaTitle, video.title);
  ShowMeta(session, check, "description", kMetaDescription, video.description);
  ShowMeta(session, check, "artwork", kMetaArtwork, video.thumbnailUrls);
  std::optional<std::string> year;
  if (video.date) {
    const std::time_t when = static_cast<std::time_t>(*video.date);
    if (const std::tm* local = std::localtime(&when)) year = std::to_string(local->tm_year + 1900);
  }
  ShowMeta(session, check, "year", kMetaDate, year);
  for (const auto& [key, value] : session.extras) Item("extra", key + " = " + OneLine(value));
  const bool dateExtraOnly = session.extras.size() == (video.date ? 1u : 0u) &&
                             (session.extras.empty() || session.extras[0].first == "date");
  check.Expect(dateExtraOnly, video.date ? "one extra, the date, expected" : "no extras expected");

  if (session.startTime) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g s", *session.startTime);
    Item("start time", seconds);
  }
  check.Expect(startMs ? session.startTime && std::fabs(*session.startTime * 1000 - startMs) < 1
                       : !session.startTime,
               "start time should be " + (startMs ? std::to_string(startMs) + " ms" : "absent"));

  if (session.slave) {
    const SlaveOffer& slave = *session.slave;
    Item("audio slave", slave.address + " (query " + std::to_string(slave.query) + ")");
    Item("", "opened " + std::to_string(slave.openResult) + ", " + Bytes(slave.size) + ", read " +
                 Bytes(slave.bytes.size()) + ", CRC-32 " + Crc32Text(Crc32(slave.bytes)));
  }
  check.Expect(video.audioFile.has_value() == session.slave.has_value(),
               video.audioFile ? "an audio slave should be offered" : "no audio slave expected");
  if (session.slave && video.audioFile) {
    const SlaveOffer& slave = *session.slave;
    check.Expect(slave.address.find("v=" + video.id) != std::string::npos,
                 "the slave address should name the video");
    check.Expect(
        slave.openResult == 0 && slave.size == video.audio.size() && slave.bytes == video.audio,
        "the slave should read " + *video.audioFile + ": " + Bytes(video.audio.size()) +
            ", CRC-32 " + Crc32Text(Crc32(video.audio)));
  }

  check.Expect(session.subtitles.size() == video.tracks.size(),
               std::to_string(video.tracks.size()) + " subtitle files expected, got " +
                   std::to_string(session.subtitles.size()));
  for (size_t i = 0; i < session.subtitles.size(); ++i) {
    const SubtitleOffer& offer = session.subtitles[i];
    const std::wstring name = offer.path.substr(offer.path.find_last_of(L"\\/") + 1);
    const std::string& bytes = offer.bytes;
    // "1\n00:00:00,000 --> 00:00:01,200\nText\n\n2\n...": the first cue without its number.
    std::string firstCue = bytes.substr(0, bytes.find("\n\n"));
    firstCue = firstCue.substr(firstCue.find('\n') + 1);
    const size_t timesEnd = firstCue.find('\n');
    if (timesEnd != std::string::npos) firstCue[timesEnd] = ' ';
    size_t cues = 0;
    for (size_t at = bytes.find(" --> "); at != std::string::npos; at = bytes.find(" --> ", at + 1))
      ++cues;
    Item(i == 0 ? "subtitles" : "",
         kavo::test::Utf8(name) + " (query " + std::to_string(offer.query) + "), " +
             (offer.readable ? std::to_string(cues) + " cues, first " + OneLine(firstCue)
                             : std::string("unreadable")));
    // Each track is offered as its download ends, so files come in the order the tracks end: the
    // file's name says which track it is.
    const std::string utf8Name = kavo::test::Utf8(name);
    const auto named = [&](const ExpectedTrack& track) {
      const std::string suffix = "." + track.Label() + ".srt";
      return utf8Name.rfind("durud_subs", 0) == 0 && utf8Name.size() > suffix.size() &&
             utf8Name.compare(utf8Name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    const auto track = std::find_if(video.tracks.begin(), video.tracks.end(), named);
    check.Expect(
        track != video.tracks.end() &&
            std::count_if(session.subtitles.begin(), session.subtitles.end(),
                          [&](const SubtitleOffer& other) { return other.path == offer.path; }) ==
                1,
        "file " + std::to_string(i + 1) + " should be named durud_subs<n>.<track>.srt, once");
    if (track == video.tracks.end()) continue;
    check.Expect(offer.readable && bytes == track->SrtText(),
                 "file " + std::to_string(i + 1) + " should hold the " +
                     std::to_string(track->cues.size()) + " cues of " + track->file);
  }
  for (const std::string& call : session.unexplained) check.Expect(false, "unexpected: " + call);
  check.Expect(session.liveObjectsAfterClose == 0,
               "closing should release every source filter object, " +
                   std::to_string(session.liveObjectsAfterClose) + " left");
  Item("result", check.differences() ? std::to_string(check.differences()) + " difference(s)"
                                     : "as in the catalog; closed, nothing left");
  return check.differences();
}

int Run(const std::string& address) {
  const auto schemeEnd = address.find("://");
  if (schemeEnd == std::string::npos) {
    Say("the address needs a scheme: " + address);
    return 2;
  }
  const std::string scheme = address.substr(0, schemeEnd);
  const std::string location = address.substr(schemeEnd + 3);
  const std::string id = Parameter(address, "v");
  const long long startMs = StartMs(Parameter(address, "t"));

  if (!kavo::test::EnsureStandInRegistered()) {
    Say("the stand-in source filter (kavo_standin_source.dll) cannot be registered");
    return 2;
  }
  const std::wstring root = CatalogRoot();
  ExpectedVideo video;
  std::string error;
  if (!ReadExpectedVideo(root, id, video, error)) {
    Say("catalog " + kavo::test::Utf8(root) + ": " + error);
    return 2;
  }
  Say("address:    " + address);
  std::string catalogLine = "catalog:    " + video.containerFile + " " +
                            Bytes(video.container.size()) + " (CRC-32 " +
                            Crc32Text(Crc32(video.container)) + ")";
  if (video.audioFile) {
    catalogLine += ", " + *video.audioFile + " " + Bytes(video.audio.size()) + " (CRC-32 " +
                   Crc32Text(Crc32(video.audio)) + ")";
  }
  Say(catalogLine + ", " + std::to_string(video.tracks.size()) + " subtitle track(s)");

  int differences = 0;
  for (HostKind kind : {HostKind::V22, HostKind::V30Development, HostKind::V30Release}) {
    differences += ShowHost(PlayThroughHost(kind, scheme, location, video.tracks.size()), video,
                            scheme, startMs);
  }
  Say(differences ? std::to_string(differences) + " difference(s) from the catalog"
                  : "all three hosts received exactly what the catalog holds");
  return differences ? 1 : 0;
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  const std::string address =
      arguments && count > 1 ? kavo::test::Utf8(arguments[1]) : std::string(kDefaultAddress);
  LocalFree(arguments);
  try {
    const int status = Run(address);
    std::fflush(stdout);
    return status;
  } catch (const std::exception& failure) {
    Say(std::string("demo failed: ") + failure.what());
    return 2;
  }
}
