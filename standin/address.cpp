#include "standin/address.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace kavo::standin {
namespace {

using View = std::wstring_view;

wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

bool EqualsIgnoringCase(View a, View b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsIdCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'_' || c == L'-';
}

bool IsValidId(View id) {
  if (id.empty() || id.size() > 64) return false;
  for (wchar_t c : id) {
    if (!IsIdCharacter(c)) return false;
  }
  return true;
}

struct Parts {
  View host;
  View path;
  View query;
  View fragment;
};

// Splits off an optional scheme; false when there is one we do not serve.
bool StripScheme(View& address) {
  const size_t marker = address.find(L"://");
  if (marker == View::npos) return true;
  const View scheme = address.substr(0, marker);
  if (scheme.find_first_of(L"/?#") != View::npos) return true;  // "://" inside the query
  for (View known : {View(L"http"), View(L"https"), View(L"yshttp"), View(L"yshttps")}) {
    if (EqualsIgnoringCase(scheme, known)) {
      address.remove_prefix(marker + 3);
      return true;
    }
  }
  return false;
}

Parts Split(View rest) {
  Parts parts;
  const size_t hash = rest.find(L'#');
  if (hash != View::npos) {
    parts.fragment = rest.substr(hash + 1);
    rest = rest.substr(0, hash);
  }
  const size_t question = rest.find(L'?');
  if (question != View::npos) {
    parts.query = rest.substr(question + 1);
    rest = rest.substr(0, question);
  }
  const size_t slash = rest.find(L'/');
  parts.host = rest.substr(0, slash);
  if (slash != View::npos) parts.path = rest.substr(slash);
  return parts;
}

std::vector<std::pair<View, View>> Parameters(View text) {
  std::vector<std::pair<View, View>> parameters;
  while (!text.empty()) {
    const size_t amp = text.find(L'&');
    const View item = text.substr(0, amp);
    const size_t equals = item.find(L'=');
    if (equals != View::npos)
      parameters.emplace_back(item.substr(0, equals), item.substr(equals + 1));
    if (amp == View::npos) break;
    text.remove_prefix(amp + 1);
  }
  return parameters;
}

std::optional<View> FirstParameter(View query, View name) {
  for (const auto& [key, value] : Parameters(query)) {
    if (key == name) return value;
  }
  return std::nullopt;
}

bool IsWatchHost(View host) {
  for (View known :
       {View(L"video.example"), View(L"www.video.example"), View(L"m.video.example")}) {
    if (EqualsIgnoringCase(host, known)) return true;
  }
  return false;
}

// Seconds of "90", "90s" or "1h2m3s" (each unit optional, in that order); nothing if unreadable.
std::optional<std::uint64_t> ParseSeconds(View text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t total = 0;
  std::uint64_t number = 0;
  size_t digits = 0;
  const wchar_t units[] = {L'h', L'm', L's'};
  const std::uint64_t scale[] = {3600, 60, 1};
  size_t nextUnit = 0;
  for (wchar_t c : text) {
    if (c >= L'0' && c <= L'9') {
      if (++digits > 12) return std::nullopt;
      number = number * 10 + std::uint64_t(c - L'0');
      continue;
    }
    if (digits == 0) return std::nullopt;
    size_t unit = nextUnit;
    while (unit < 3 && units[unit] != Lower(c)) ++unit;
    if (unit == 3) return std::nullopt;
    total += number * scale[unit];
    nextUnit = unit + 1;
    number = 0;
    digits = 0;
  }
  if (digits > 0) {
    if (nextUnit != 0) return std::nullopt;  // "1m30" is neither plain seconds nor units
    total = number;
  }
  return total;
}

}  // namespace

std::optional<std::wstring> VideoIdOf(const std::wstring& address) {
  View rest(address);
  if (!StripScheme(rest)) return std::nullopt;
  const Parts parts = Split(rest);
  if (IsWatchHost(parts.host)) {
    if (parts.path != L"/watch") return std::nullopt;
    const std::optional<View> id = FirstParameter(parts.query, L"v");
    if (!id || !IsValidId(*id)) return std::nullopt;
    return std::wstring(*id);
  }
  if (EqualsIgnoringCase(parts.host, L"vid.example")) {
    if (parts.path.empty()) return std::nullopt;
    const View id = parts.path.substr(1);
    if (!IsValidId(id)) return std::nullopt;
    return std::wstring(id);
  }
  return std::nullopt;
}

std::wstring CanonicalAddress(const std::wstring& id) {
  return L"https://video.example/watch?v=" + id;
}

unsigned long StartOffsetMs(const std::wstring& address) {
  const Parts parts = Split(View(address));
  for (View part : {parts.query, parts.fragment}) {
    for (const auto& [key, value] : Parameters(part)) {
      if (key != L"t" && key != L"start") continue;
      const std::optional<std::uint64_t> seconds = ParseSeconds(value);
      if (!seconds || *seconds > 0xFFFFFFFFull / 1000) return 0;
      return static_cast<unsigned long>(*seconds * 1000);
    }
  }
  return 0;
}

}  // namespace kavo::standin
