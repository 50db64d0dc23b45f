#include "expected_video.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>

#include "host_test_support.h"

namespace kavo::demo {

namespace {

struct FileCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, FileCloser>;

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

void AppendUtf8(std::string& out, unsigned codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

unsigned HexValue(const std::string& text, size_t at, size_t digits, bool& ok) {
  unsigned value = 0;
  ok = at + digits <= text.size();
  for (size_t i = 0; ok && i < digits; ++i) {
    const char c = text[at + i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    ok = digit >= 0;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

// The catalog's escapes: \n \r \t \\ \0 \xNN (a byte) and \uXXXX (a UTF-16 unit; a pair makes
// one character, a lone surrogate becomes U+FFFD).
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char kind = text[++i];
    bool ok = true;
    if (kind == 'n') {
      out += '\n';
    } else if (kind == 'r') {
      out += '\r';
    } else if (kind == 't') {
      out += '\t';
    } else if (kind == '0') {
      out += '\0';
    } else if (kind == 'x') {
      const unsigned byte = HexValue(text, i + 1, 2, ok);
      if (ok) out += static_cast<char>(byte), i += 2;
    } else if (kind == 'u') {
      unsigned unit = HexValue(text, i + 1, 4, ok);
      if (!ok) continue;
      i += 4;
      if (unit >= 0xD800 && unit < 0xDC00 && text.compare(i + 1, 2, "\\u") == 0) {
        bool lowOk = true;
        const unsigned low = HexValue(text, i + 3, 4, lowOk);
        if (lowOk && low >= 0xDC00 && low < 0xE000) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 6;
        }
      }
      AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
    } else {
      out += kind;
    }
  }
  return out;
}

// "key = value" lines, comments and blank lines skipped, values trimmed and unescaped.
std::vector<std::pair<std::string, std::string>> Entries(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    const auto equals = trimmed.find('=');
    if (equals == std::string::npos) {
      entries.emplace_back(trimmed, std::string());
    } else {
      entries.emplace_back(Trim(trimmed.substr(0, equals)),
                           Unescape(Trim(trimmed.substr(equals + 1))));
    }
  }
  return entries;
}

bool ReadTrack(const std::wstring& folder, ExpectedTrack& track, std::string& error) {
  std::string text;
  if (!ReadWholeFile(folder + L"\\" + test::Wide(track.file), text)) {
    error = "cannot read track file " + track.file;
    return false;
  }
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    long long start = 0, stop = 0;
    int consumed = 0;
    if (std::sscanf(trimmed.c_str(), "%lld %lld %n", &start, &stop, &consumed) == 2 &&
        consumed > 0) {
      track.cues.push_back(ExpectedCue{start, stop, Unescape(Trim(trimmed.substr(consumed)))});
      continue;
    }
    const auto equals = trimmed.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trim(trimmed.substr(0, equals));
    const std::string value = Unescape(Trim(trimmed.substr(equals + 1)));
    if (key == "name") track.name = value;
    if (key == "language") track.language = value;
  }
  return true;
}

}  // namespace

std::string ExpectedTrack::Label() const { return name.empty() ? language : name; }

std::string ExpectedTrack::SrtText() const {
  std::vector<ExpectedCue> sorted = cues;
  std::stable_sort(sorted.begin(), sorted.end(), [](const ExpectedCue& a, const ExpectedCue& b) {
    return a.startMs < b.startMs;
  });
  std::string text;
  int number = 0;
  for (const ExpectedCue& cue : sorted) {
    text += std::to_string(++number) + "\n" + SrtTime(std::max(0LL, cue.startMs)) + " --> " +
            SrtTime(std::max(0LL, cue.stopMs)) + "\n" + cue.text + "\n\n";
  }
  return text;
}

std::string SrtTime(long long ms) {
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return text;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  const HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  const FileHandle file(opened);
  bytes.clear();
  char chunk[1 << 16];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
    bytes.append(chunk, got);
  return true;
}

std::wstring CatalogRoot() {
  wchar_t buffer[32768];
  const DWORD length = GetEnvironmentVariableW(L"KAVO_STANDIN_CATALOG", buffer, 32768);
  if (length > 0 && length < 32768) return std::wstring(buffer, length);
  const DWORD own = GetModuleFileNameW(nullptr, buffer, 32768);
  std::wstring folder(buffer, own);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + L"catalog";
}

bool ReadExpectedVideo(const std::wstring& root, const std::string& id, ExpectedVideo& video,
                       std::string& error) {
  video = ExpectedVideo();
  video.id = id;
  const std::wstring folder = root + L"\\" + test::Wide(id);
  std::string text;
  if (!ReadWholeFile(folder + L"\\video.txt", text)) {
    error = "no video.txt for \"" + id + "\" in the catalog";
    return false;
  }
  for (const auto& [key, value] : Entries(text)) {
    if (key == "container") video.containerFile = value;
    if (key == "audio") video.audioFile = value;
    if (key == "title") video.title = value;
    if (key == "description") video.description = value;
    if (key == "thumbnail_urls") video.thumbnailUrls = value;
    if (key == "date") video.date = std::stoll(value);
    if (key == "subtitle") video.tracks.push_back(ExpectedTrack{value, "", "", {}});
  }
  if (video.containerFile.empty() ||
      !ReadWholeFile(folder + L"\\" + test::Wide(video.containerFile), video.container)) {
    error = "cannot read the container file \"" + video.containerFile + "\"";
    return false;
  }
  if (video.audioFile &&
      !ReadWholeFile(folder + L"\\" + test::Wide(*video.audioFile), video.audio)) {
    error = "cannot read the audio file \"" + *video.audioFile + "\"";
    return false;
  }
  for (ExpectedTrack& track : video.tracks) {
    if (!ReadTrack(folder, track, error)) return false;
  }
  return true;
}

}  // namespace kavo::demo
