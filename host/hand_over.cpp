#include "host/hand_over.h"

#include <cctype>
#include <string>

#include "common/text.h"
#include "host/core_functions.h"
#include "host/metadata_publisher.h"

namespace kavo::host {

namespace {

constexpr int kSlaveTypeSubtitle = 0;
constexpr int kSlaveTypeAudio = 1;

void AddAudioSlave(const HostAbi& abi, void* input, const std::string& address) {
  CoreFunction& site = InputControlSite(abi, ControlSite::AudioSlave);
  switch (abi.slaveShape) {
    case SlaveCallShape::AddressOnly:
      InputControl(site, input, abi.addSlaveQuery, address.c_str());
      break;
    case SlaveCallShape::TypeAddressForced:
      InputControl(site, input, abi.addSlaveQuery, kSlaveTypeAudio, address.c_str(), 1);
      break;
    case SlaveCallShape::AddSlaveFiveArgs:
      // forced, no notification, no extension check: the address names no file.
      InputControl(site, input, abi.addSlaveQuery, kSlaveTypeAudio, address.c_str(), 1, 0, 0);
      break;
  }
}

void AddSubtitleFile(const HostAbi& abi, void* input, const std::wstring& path) {
  CoreFunction& site = InputControlSite(abi, ControlSite::SubtitleFile);
  switch (abi.subtitleShape) {
    case SubtitleCallShape::PathCheckExtension:
      InputControl(site, input, abi.addSubtitleQuery, WideToUtf8(path).c_str(), 1);
      break;
    case SubtitleCallShape::AddSlaveFiveArgs:
      // Release hosts take subtitles as slaves, by URI; not forced, no notification.
      InputControl(site, input, abi.addSubtitleQuery, kSlaveTypeSubtitle, FileUri(path).c_str(), 0,
                   0, 1);
      break;
  }
}

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string SlaveAddress(const std::string& scheme, const std::wstring& normalizedAddress) {
  return scheme + "://" + WideToUtf8(normalizedAddress) + "&vlc_slave=1";
}

std::string SlaveScheme22(const char* accessScheme) {
  if (!accessScheme) return "yshttps";
  std::string scheme(accessScheme);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme == "yshttps" || scheme == "https" ? "yshttps" : "yshttp";
}

std::string FileUri(const std::wstring& path) {
  std::string utf8 = WideToUtf8(path);
  for (char& c : utf8) {
    if (c == '\\') c = '/';
  }
  // "C:/dir" becomes file:///C:/dir; a network path "//server/share" becomes file://server/share.
  const bool network = utf8.compare(0, 2, "//") == 0;
  std::string uri = network ? "file:" : "file:///";
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const bool driveColon = !network && i == 1 && c == ':';
    if (Unreserved(c) || c == '/' || driveColon) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

namespace {

// Hands one ended track over, or says why it has nothing to hand over.
void HandOverTrack(const HostAbi& abi, void* input, const SubtitleTrack& track, HostLog& log) {
  if (track.state == S_OK) {
    AddSubtitleFile(abi, input, track.path);
    log.Debug([&] { return TrackLabel(track) + " handed over: " + WideToUtf8(track.path); });
  } else if (track.state == S_FALSE) {
    log.Debug([&] { return TrackLabel(track) + " has no cues: nothing to hand over"; });
  } else {
    log.Warning([&] {
      return TrackLabel(track) + ": its file could not be written (" + DescribeResult(track.state) +
             ")";
    });
  }
}

}  // namespace

std::unique_ptr<LateSubtitles> HandOverMainInput(const HostObject& object, void* input,
                                                 const PlayerHandle& player,
                                                 const std::wstring& location,
                                                 const std::wstring& normalizedAddress,
                                                 HostLog& log) {
  const HostAbi& abi = object.abi();
  PublishMetadata(abi, input, player->GetSourceFilter());
  const ULONG startMs = ApplyStartTime(input, player->GetSourceFilter().Get(), location);
  if (startMs) log.Debug([&] { return "start time applied: " + std::to_string(startMs) + " ms"; });

  if (player->HasSecondStream()) {
    const std::string scheme = abi.slaveSchemeFromAccess
                                   ? SlaveScheme22(object.Get<const char*>(abi.accessScheme))
                                   : "yshttps";
    const std::string address = SlaveAddress(scheme, normalizedAddress);
    AddAudioSlave(abi, input, address);
    log.Debug([&] { return "audio slave offered: " + address; });
  }

  // Subtitle tracks are downloads of their own: the open does not wait for them, nor for the graph
  // to start; the waiter starts it and hands each track over as it ends.
  return LateSubtitles::Start(
      player->PrepareRun(),
      [&abi, input, &log](const SubtitleTrack& track) { HandOverTrack(abi, input, track, log); },
      log);
}

}  // namespace kavo::host
