// Video page addresses as the stand-in understands them. The canonical form is
// "https://video.example/watch?v=<id>"; accepted are the schemes http, https, yshttp and yshttps
// in any letter case or none at all, the hosts video.example, www.video.example and
// m.video.example with path /watch and a v= query parameter anywhere among the others, and short
// links vid.example/<id>. An id is 1 to 64 of [A-Za-z0-9_-]. Pure functions, thread-safe.
#pragma once

#include <optional>
#include <string>

namespace kavo::standin {

std::optional<std::wstring> VideoIdOf(const std::wstring& address);
std::wstring CanonicalAddress(const std::wstring& id);

// The address's t= or start= parameter in milliseconds: "90", "90s", "1h2m3s", "2m", ...;
// 0 when it is absent, unreadable or beyond 32 bits.
unsigned long StartOffsetMs(const std::wstring& address);

}  // namespace kavo::standin
