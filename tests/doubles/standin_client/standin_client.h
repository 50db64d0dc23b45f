// The test side of the stand-in source filter, kavo_standin_source.dll (built beside every test
// program). It registers the DLL for the current user, reaches its process-wide knobs, and writes
// catalogs of videos from C++ data.
//
//   ASSERT_TRUE(kavo::test::EnsureStandInRegistered());
//   kavo::test::Catalog catalog;  // a fresh catalog folder, made current for this process
//   catalog.Add(kavo::test::CatalogVideo("clip1")
//                   .Container(bytes).Audio(audioBytes)
//                   .Title("A clip").Date(1600000000)
//                   .Track(kavo::test::CatalogTrack("English", "en").Cue(0, 1500, "Hello")));
//   // CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter, ...),
//   // then IFileSourceFilter::Load(kavo::test::WatchAddress("clip1").c_str(), nullptr).
//
// Anything the builders do not cover goes in verbatim with CatalogVideo::Line and
// CatalogTrack::Line (format: standin/README.md). Thread rule: the knobs are process-wide and
// thread-safe; a Catalog belongs to the test that made it, and only one should be current.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "source/source_filter.h"

namespace kavo::test {

// Loads the stand-in DLL and runs its DllRegisterServer once per process (HKCU, ThreadingModel
// "Both"); true when the class is registered. Safe from any thread.
bool EnsureStandInRegistered();

// Registers the stand-in the same way but gives its DLL back, so that from then on only COM loads
// it: for a process that watches or times those loads. Such a process may use no knob, since a
// knob keeps the DLL loaded.
bool RegisterStandInAndLetItGo();

// Takes the stand-in's registration away for its own lifetime and puts it back afterwards. The
// registry is shared: every process of the Wine prefix sees the class gone, so only a test that
// runs alone (RUN_SERIAL) may use it.
class StandInUnregistered {
 public:
  StandInUnregistered();
  ~StandInUnregistered();
  StandInUnregistered(const StandInUnregistered&) = delete;
  StandInUnregistered& operator=(const StandInUnregistered&) = delete;

  bool done() const { return done_; }  // the registration is gone

 private:
  bool done_ = false;
};

// The stand-in's process-wide knobs, for what happens before a video is known. Reset() puts
// every knob back (create succeeds, version 5, normal normalisation, nothing hidden).
class StandIn {
 public:
  enum HiddenInterface : unsigned {
    kFileSource = 1,     // IFileSourceFilter
    kSourceControl = 2,  // ISourceControl
    kPropertyBag = 4,    // IPropertyBag2
    kMediaContent = 8,   // IAMMediaContent (and IDispatch)
    kOpenProgress = 16,  // IAMOpenProgress
  };

  static void Reset();
  // The class factory's CreateInstance fails with this (S_OK: creation works again).
  static void SetCreateFailure(HRESULT result);
  // What GetVersion answers when the loaded video sets no version of its own.
  static void SetVersion(ULONG version);
  // Every NormalizeAddress returns result and a BSTR of normalized (null: a null BSTR).
  static void SetNormalizeResult(HRESULT result, const wchar_t* normalized);
  // QueryInterface refuses these on every filter, from creation on (HiddenInterface bits).
  static void SetHiddenInterfaces(unsigned hidden);
  // Filters, pins, readers and enumerators alive in the process: 0 when nothing leaked, -1 when
  // the DLL cannot be loaded.
  static long LiveObjects();
  // Filters created since the last Reset().
  static long FiltersCreated();
  // The performance counter when a subtitle pin last delivered end of stream; 0 since Reset().
  static long long LastEndOfStream();
  // Why the last Load failed, in words ("" after a successful one).
  static std::string LastLoadError();
  // Calls of AbortOperation and of a reader's BeginFlush since Reset() from threads that never
  // entered a COM apartment themselves; -1 when the DLL cannot be loaded.
  static long CallsOutsideCom();
};

// "video.example/watch?v=<id>": an address as the host passes it (no scheme).
std::wstring WatchAddress(const std::string& id);
// "https://video.example/watch?v=<id>": what NormalizeAddress answers.
std::wstring CanonicalAddress(const std::string& id);
// size bytes of a pattern that differs with seed, so misplaced reads show.
std::string PatternBytes(size_t size, unsigned seed = 1);

// A new stand-in filter, loaded with the catalog video `id`, and the reader of its output pin
// `pin` (0 Container, 1 Audio) taken directly, as the plug-in takes it; null when any step fails.
// The filter stays in `filter`, for the caller to stop or release.
Microsoft::WRL::ComPtr<IAsyncReader> LoadedStandInReader(
    const std::string& id, Microsoft::WRL::ComPtr<IBaseFilter>& filter, int pin = 0);

struct CatalogCue {
  std::int64_t startMs;
  std::int64_t stopMs;
  std::string text;  // bytes as delivered: need not be valid UTF-8
};

class CatalogTrack {
 public:
  CatalogTrack(std::string name = "", std::string language = "");
  // One cue; cues are delivered in the order given, overlapping or not.
  CatalogTrack& Cue(std::int64_t startMs, std::int64_t stopMs, std::string text);
  // Keeps the stream open after its cues until the graph stops.
  CatalogTrack& NeverEnds();
  // Any header line of the track file, verbatim ("offset = 7", "format_size = 519", "extra_type").
  CatalogTrack& Line(std::string line);

  std::string name;      // UTF-8; becomes the UTF-16 track name
  std::string language;  // bytes in the ANSI code page, at most 4
  bool neverEnds = false;
  std::vector<std::string> lines;
  std::vector<CatalogCue> cues;
};

class CatalogVideo {
 public:
  // The container defaults to PatternBytes(4096); there is no audio until Audio() is called.
  explicit CatalogVideo(std::string id);

  CatalogVideo& Container(std::string bytes);
  CatalogVideo& Audio(std::string bytes);
  // Bag properties of hint 1 (title, description, thumbnail_urls) and 0 (date); the title and
  // description also answer IAMMediaContent. Values are UTF-8.
  CatalogVideo& Title(const std::string& text);
  CatalogVideo& Description(const std::string& text);
  CatalogVideo& ThumbnailUrls(const std::string& text);
  CatalogVideo& Date(long long timestamp);
  // Any bag property, string-valued; options as in the format ("as:i4", "fails:0x80004005").
  CatalogVideo& Property(DWORD hint, const std::string& name, const std::string& value,
                         const std::string& options = "");
  // A property with a null name.
  CatalogVideo& NullNameProperty(DWORD hint, const std::string& value);
  // "fault <text>": "load = 0x80004005", "no_async_reader Audio", "container_type = video", ...
  CatalogVideo& Fault(const std::string& text);
  CatalogVideo& Track(CatalogTrack track);
  // Any video.txt line, verbatim ("version = 4", "property_bag = none", "media_title = ...").
  CatalogVideo& Line(std::string line);

  std::string id;
  std::string container;
  std::optional<std::string> audio;
  std::vector<std::string> lines;
  std::vector<CatalogTrack> tracks;
};

// A catalog folder under the temporary folder, made current by setting KAVO_STANDIN_CATALOG for
// this process; the destructor restores the variable and removes the folder.
class Catalog {
 public:
  Catalog();
  ~Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // Writes the video's folder (replacing an older one of the same id); false if a write failed.
  bool Add(const CatalogVideo& video);
  const std::wstring& Root() const { return root_; }

 private:
  std::wstring root_;
  std::optional<std::wstring> previous_;
};

// Escapes bytes for a catalog value: backslash, control bytes and edge blanks.
std::string EscapeCatalogText(const std::string& bytes);

}  // namespace kavo::test
