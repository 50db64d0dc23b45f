#include "common/text.h"

#include <boost/lexical_cast.hpp>

namespace kavo {

namespace {
constexpr wchar_t kReplacementCharacter = 0xFFFD;
}

std::wstring MultiByteToWide(const std::string& bytes, UINT codePage) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  SetLastError(0);
  const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
  if (GetLastError() != 0 || needed == 0) return {};
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), length, &wide[0], needed);
  if (GetLastError() != 0) return {};
  // Flags 0 turn undecodable input into U+FFFD; the text ends where the first one stands.
  const auto bad = wide.find(kReplacementCharacter);
  if (bad != std::wstring::npos) wide.resize(bad);
  return wide;
}

std::wstring Utf8ToWide(const std::string& bytes) { return MultiByteToWide(bytes, CP_UTF8); }

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

}  // namespace kavo
