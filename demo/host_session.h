// One host's view of a video played through the plug-in: the module the entry point described,
// then a main access opened with a parent input, read to the end and seeked, the audio slave
// opened at the address the plug-in offered, and every subtitle file it offered, read back while
// the accesses are open. Runs on the calling thread, which becomes the host's input thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host_emulator.h"

namespace kavo::demo {

struct ModuleDescription {
  bool described = false;
  std::string name, shortName, description, capability;
  int score = -1;
  std::vector<std::string> shortcuts;
  std::string openName, closeName;  // 3.0 hosts only
};

struct SlaveOffer {
  int query = -1;
  std::string address;
  int openResult = -1;
  std::uint64_t size = 0;
  std::string bytes;
};

struct SubtitleOffer {
  int query = -1;
  std::string argument;  // a path (2.2, 3.0 development) or a file URI (3.0 releases)
  std::wstring path;
  bool readable = false;
  std::string bytes;
};

struct HostSession {
  test::HostKind kind;
  ModuleDescription module;
  int openResult = -1;
  std::uint64_t size = 0;
  std::string bytes;  // read from position 0 to the end
  std::uint64_t seekOffset = 0;
  std::string seekBytes;                          // read after seeking to seekOffset
  std::vector<std::pair<int, std::string>> meta;  // meta type, value
  std::vector<std::pair<std::string, std::string>> extras;
  std::optional<double> startTime;  // seconds
  std::optional<SlaveOffer> slave;
  std::vector<SubtitleOffer> subtitles;
  std::vector<std::string> unexplained;  // core calls the session could not read
  long liveObjectsAfterClose = -1;
};

// Plays `location` (the address without its scheme) as a host of this kind would that was given
// `scheme`, waiting up to 10 s for `tracks` subtitle files to be offered: the plug-in offers each
// as its track ends, after the open. Needs the recording libvlccore.dll, libkavo_plugin.dll and the
// registered stand-in.
HostSession PlayThroughHost(test::HostKind kind, const std::string& scheme,
                            const std::string& location, size_t tracks);

// The host's own name for a kind: "VLC 2.2", "VLC 3.0 development build", "VLC 3.0.x release".
const char* HostTitle(test::HostKind kind);

}  // namespace kavo::demo
