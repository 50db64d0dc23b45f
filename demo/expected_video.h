// What the catalog promises for one video, read on its own terms rather than through the stand-in:
// the container and audio bytes, the texts, the date and the subtitle cues, and from them the SRT
// text each track should become. Lines the demo does not check are skipped.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kavo::demo {

struct ExpectedCue {
  long long startMs;
  long long stopMs;
  std::string text;  // UTF-8
};

struct ExpectedTrack {
  std::string file;  // the track file's name in the video's folder
  std::string name;
  std::string language;
  std::vector<ExpectedCue> cues;

  // What the plug-in's file name carries after "durud_subs<n>.": the name, else the language.
  std::string Label() const;
  // The SRT text of the cues in order of start: number, times, text, blank line.
  std::string SrtText() const;
};

struct ExpectedVideo {
  std::string id;
  std::string containerFile;
  std::string container;
  std::optional<std::string> audioFile;
  std::string audio;
  std::optional<std::string> title, description, thumbnailUrls;
  std::optional<long long> date;  // seconds since 1970, UTC
  std::vector<ExpectedTrack> tracks;
};

// The catalog's root as the stand-in finds it: KAVO_STANDIN_CATALOG, else "catalog" beside this
// program (which sits beside the stand-in's DLL).
std::wstring CatalogRoot();

// Reads <root>\<id>\video.txt with its files; false with a reason in `error`.
bool ReadExpectedVideo(const std::wstring& root, const std::string& id, ExpectedVideo& video,
                       std::string& error);

// SRT time "HH:MM:SS,mmm" of a non-negative time in milliseconds.
std::string SrtTime(long long ms);

bool ReadWholeFile(const std::wstring& path, std::string& bytes);

}  // namespace kavo::demo
