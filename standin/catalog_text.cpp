#include "standin/catalog_text.h"

#include <cerrno>
#include <cstdlib>

#include "common/text.h"

namespace kavo::standin {
namespace {

using Bytes = std::string_view;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HexValue(Bytes digits, unsigned& value) {
  value = 0;
  for (char c : digits) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    value = value * 16 + unsigned(digit);
  }
  return true;
}

// Undoes \n \r \t \\ \0 \xNN, and with wide set also \uXXXX (one UTF-16 unit, lone surrogates
// and NUL included). Everything else is UTF-8 text.
bool Decode(Bytes text, bool wide, std::string& bytes, std::wstring& units, std::string& error) {
  bytes.clear();
  units.clear();
  std::string pending;
  auto flush = [&] {
    units += Utf8ToWide(pending);
    pending.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      pending += text[i];
      continue;
    }
    if (++i == text.size()) {
      error = "a lone backslash ends the text";
      return false;
    }
    unsigned value = 0;
    switch (text[i]) {
      case 'n':
        pending += '\n';
        break;
      case 'r':
        pending += '\r';
        break;
      case 't':
        pending += '\t';
        break;
      case '\\':
        pending += '\\';
        break;
      case '0':
        pending += '\0';
        break;
      case 'x':
        if (i + 2 >= text.size() || !HexValue(text.substr(i + 1, 2), value)) {
          error = "\\x needs two hex digits";
          return false;
        }
        pending += char(value);
        i += 2;
        break;
      case 'u':
        if (!wide || i + 4 >= text.size() || !HexValue(text.substr(i + 1, 4), value)) {
          error = wide ? "\\u needs four hex digits" : "\\u is for text that becomes UTF-16";
          return false;
        }
        flush();
        units += wchar_t(value);
        i += 4;
        break;
      default:
        error = std::string("unknown escape \\") + text[i];
        return false;
    }
  }
  if (wide) {
    flush();
  } else {
    bytes = pending;
  }
  return true;
}

}  // namespace

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == Bytes::npos) return std::string();
  const size_t last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> Tokens(std::string_view text) {
  std::vector<std::string> tokens;
  size_t at = 0;
  while (true) {
    at = text.find_first_not_of(" \t", at);
    if (at == Bytes::npos) break;
    const size_t end = text.find_first_of(" \t", at);
    tokens.emplace_back(text.substr(at, end == Bytes::npos ? Bytes::npos : end - at));
    if (end == Bytes::npos) break;
    at = end;
  }
  return tokens;
}

bool ReadWholeFile(const std::wstring& path, std::string& contents) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  contents.clear();
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0) {
    contents.append(buffer, got);
  }
  CloseHandle(file);
  return ok;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = end + 1;
  }
  if (lines.size() == 1 && lines[0].empty()) lines.clear();
  return lines;
}

bool DecodeBytes(std::string_view text, std::string& bytes, std::string& error) {
  std::wstring unused;
  return Decode(text, false, bytes, unused, error);
}

bool DecodeWide(std::string_view text, std::wstring& units, std::string& error) {
  std::string unused;
  return Decode(text, true, unused, units, error);
}

bool ParseUnsigned(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0';
}

bool ParseSigned(const std::string& text, std::int64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && end && *end == '\0';
}

bool ParseHresult(const std::string& text, HRESULT& result) {
  std::uint64_t value = 0;
  if (!ParseUnsigned(text, value) || value > 0xFFFFFFFFull) return false;
  result = HRESULT(static_cast<std::uint32_t>(value));
  return true;
}

std::string Lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

}  // namespace kavo::standin
