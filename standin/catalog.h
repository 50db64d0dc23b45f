// The catalog on disk: one folder per video id under a root, each with a video.txt that names the
// media files, the properties, the subtitle tracks and the faults to inject (format in README.md).
// Reading is a pure function of the files; the result is immutable and shared by a filter's pins.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavo::standin {

struct Cue {
  std::int64_t startMs = 0;
  std::int64_t stopMs = 0;
  std::string text;  // UTF-8 bytes as delivered, not necessarily valid
};

struct SubtitleTrack {
  std::wstring name;
  std::string language;  // bytes in the ANSI code page, at most 4
  DWORD offset = 0;
  DWORD formatSize = 520;
  bool extraType = false;     // offers its media type twice
  bool neverEnds = false;     // stays open after its cues until the graph stops
  std::uint32_t delayMs = 0;  // nothing is delivered before this long after leaving stopped
  std::vector<Cue> cues;
};

enum class ValueKind { String, NullString, Int32, Int64, Empty };

struct BagProperty {
  DWORD hint = 1;
  bool nullName = false;
  std::wstring name;
  ValueKind kind = ValueKind::String;
  std::wstring text;
  std::int64_t number = 0;
  HRESULT result = S_OK;  // per-property result of Read
};

// Faults of one reader pin (Container or Audio).
struct ReaderFaults {
  bool noReader = false;
  bool lengthFails = false;
  std::optional<std::uint64_t> failAt;           // a read covering this byte fails
  std::optional<std::uint64_t> shortAt;          // the bytes break off here, short of the size
  std::optional<std::uint64_t> estimatedLength;  // Length's estimate until a read reaches it
  std::optional<std::uint64_t> stallAt;          // bytes from here on never arrive
  std::uint64_t bytesPerSecond = 0;              // arrival rate from Load on; 0: all at once
  std::optional<HRESULT> requestFails;           // what every Request answers
  bool flushWaits = false;  // BeginFlush waits for every queued request's bytes
  bool needsRun = false;    // reads wait until the filter runs
};

struct Faults {
  HRESULT load = S_OK;
  unsigned hidden = 0;  // HiddenInterface bits
  ReaderFaults container;
  ReaderFaults audio;
  GUID containerMajor{};  // GUID_NULL: MEDIATYPE_Stream
  GUID audioMajor{};
  bool audioStreamThird = false;
  bool queryDirectionPin = false;
  bool inputPinFirst = false;
  bool extraSubtitleType = false;    // every subtitle pin offers its media type twice
  bool subtitleTextFirst = false;    // every subtitle pin offers MEDIATYPE_Text first
  bool enumOutOfSyncOnce = false;    // the first pin enumerator falls out of step once
  bool propertyReadPartial = false;  // Read answers E_FAIL when any property failed
  HRESULT propertyCount = S_OK;
  HRESULT propertyInfo = S_OK;
  HRESULT propertyRead = S_OK;
};

struct Video {
  std::wstring id;
  std::wstring containerPath;
  std::optional<std::wstring> audioPath;
  std::vector<BagProperty> properties;
  std::optional<std::wstring> mediaTitle;
  std::optional<std::wstring> mediaDescription;
  std::optional<ULONG> version;
  std::uint32_t loadMs = 0;   // how long Load takes after reading the catalog
  std::uint32_t pauseMs = 0;  // how long a change to paused or running stays unfinished
  std::uint32_t abortMs = 0;  // how long AbortOperation takes to return during that time
  std::vector<SubtitleTrack> tracks;
  Faults faults;
};

// KAVO_STANDIN_CATALOG if set, else the folder "catalog" beside this DLL.
std::wstring CatalogRoot();

// Reads <root>\<id>\video.txt and its track files. On failure returns the HRESULT and says why
// in error (UTF-8).
HRESULT ReadVideo(const std::wstring& root, const std::wstring& id, Video& video,
                  std::string& error);

}  // namespace kavo::standin
