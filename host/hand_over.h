// The last stage of a successful main open: everything else the video has goes to the host's
// parent input. Runs on the open callback's thread; nothing here fails the open.
#pragma once

#include <memory>
#include <string>

#include "host/host_log.h"
#include "host/host_object.h"
#include "host/late_subtitles.h"
#include "player/player.h"

namespace kavo::host {

// Returns the waiter that hands the subtitle tracks over as they end, if there are any; the access
// keeps it until its close.
std::unique_ptr<LateSubtitles> HandOverMainInput(const HostObject& object, void* input,
                                                 const PlayerHandle& player,
                                                 const std::wstring& location,
                                                 const std::wstring& normalizedAddress,
                                                 HostLog& log);

// The address the host is given for the audio stream: scheme "://" address "&vlc_slave=1".
std::string SlaveAddress(const std::string& scheme, const std::wstring& normalizedAddress);

// 2.2 picks the slave's scheme from the main access's own: "yshttps" for a secure scheme or
// none, "yshttp" otherwise.
std::string SlaveScheme22(const char* accessScheme);

// A file:/// URI for a local Windows path, percent-encoded as a URI requires.
std::string FileUri(const std::wstring& path);

}  // namespace kavo::host
