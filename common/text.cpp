#include "common/text.h"

#include <objbase.h>

#include <boost/lexical_cast.hpp>
#include <cstdio>
#include <memory>

namespace kavo {

namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

struct LocalBuffer {
  void operator()(wchar_t* buffer) const { LocalFree(buffer); }
};

// The platform's conversion of count bytes; empty when it fails.
std::wstring Convert(const char* bytes, size_t count, UINT codePage) {
  if (count == 0) return {};
  const int length = static_cast<int>(count);
  SetLastError(0);
  const int needed = MultiByteToWideChar(codePage, 0, bytes, length, nullptr, 0);
  if (GetLastError() != 0 || needed == 0) return {};
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(codePage, 0, bytes, length, &wide[0], needed);
  if (GetLastError() != 0) return {};
  return wide;
}

// Length of the well-formed UTF-8 sequence at bytes[at], or 0 when none starts there: no
// overlong forms, no surrogates, nothing above U+10FFFF, no sequence cut short.
size_t SequenceLength(const std::string& bytes, size_t at) {
  const auto byte = [&](size_t i) -> unsigned {
    return at + i < bytes.size() ? static_cast<unsigned char>(bytes[at + i]) : 0;
  };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// Decodes well-formed runs through the platform. A byte that starts no well-formed sequence
// becomes U+FFFD when replacing, and fails the conversion otherwise.
bool DecodeUtf8(const std::string& bytes, bool replace, std::wstring& wide) {
  std::wstring decoded;
  size_t run = 0;
  const auto flush = [&](size_t end) {
    if (end == run) return true;
    const std::wstring part = Convert(bytes.data() + run, end - run, CP_UTF8);
    decoded += part;
    return !part.empty();
  };
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = SequenceLength(bytes, at);
    if (length > 0) {
      at += length;
      continue;
    }
    if (!replace || !flush(at)) return false;
    decoded += kReplacementCharacter;
    run = ++at;
  }
  if (!flush(bytes.size())) return false;
  wide = std::move(decoded);
  return true;
}

}  // namespace

std::wstring MultiByteToWide(const std::string& bytes, UINT codePage) {
  std::wstring wide = Convert(bytes.data(), bytes.size(), codePage);
  // Flags 0 turn undecodable input into U+FFFD; the text ends where the first one stands.
  const auto bad = wide.find(kReplacementCharacter);
  if (bad != std::wstring::npos) wide.resize(bad);
  return wide;
}

std::wstring Utf8ToWide(const std::string& bytes) { return MultiByteToWide(bytes, CP_UTF8); }

bool Utf8ToWideStrict(const std::string& bytes, std::wstring& wide) {
  return DecodeUtf8(bytes, false, wide);
}

std::wstring Utf8ToWideReplacing(const std::string& bytes) {
  std::wstring wide;
  DecodeUtf8(bytes, true, wide);
  return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
  const int length = static_cast<int>(wide.size());
  SetLastError(0);
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  // An empty input lands here too: the platform rejects a zero length.
  if (GetLastError() != 0 || needed == 0) return {};
  std::string bytes(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &bytes[0], needed, nullptr, nullptr);
  if (GetLastError() != 0) return {};
  return bytes;
}

std::string DecimalString(int value) { return boost::lexical_cast<std::string>(value); }

std::wstring DecimalWideString(int value) { return boost::lexical_cast<std::wstring>(value); }

std::wstring::size_type FindMarker(const std::wstring& text, const std::wstring& pattern) {
  return text.find(pattern);
}

std::string HresultHex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

std::string SystemMessage(HRESULT result) {
  // DirectShow's codes are explained by the graph manager's library, not by the system.
  const HMODULE quartz = GetModuleHandleW(L"quartz.dll");
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                      FORMAT_MESSAGE_IGNORE_INSERTS | (quartz ? FORMAT_MESSAGE_FROM_HMODULE : 0);
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(flags, quartz, static_cast<DWORD>(result), 0,
                                      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalBuffer> owned(buffer);
  std::wstring text(buffer ? buffer : L"", buffer ? length : 0);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  return WideToUtf8(text);
}

std::string GuidString(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return WideToUtf8(text);
}

}  // namespace kavo
