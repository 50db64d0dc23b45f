// Text crossings between the host (UTF-8) and COM, DirectShow and the file functions (UTF-16).
// A conversion never fails loudly: it yields an empty string, or, from bytes, the decodable prefix
// (the strict and the replacing UTF-8 forms excepted).
// All functions are reentrant.
#pragma once

#include <windows.h>

#include <string>

namespace kavo {

std::wstring MultiByteToWide(const std::string& bytes, UINT codePage);
std::wstring Utf8ToWide(const std::string& bytes);
// All of bytes as UTF-16: false, and wide left as it was, when any byte is not part of
// well-formed UTF-8.
bool Utf8ToWideStrict(const std::string& bytes, std::wstring& wide);
// bytes as UTF-16, each byte that is not part of well-formed UTF-8 replaced by U+FFFD.
std::wstring Utf8ToWideReplacing(const std::string& bytes);
std::string WideToUtf8(const std::wstring& wide);

// Plain decimal: optional minus sign, digits, nothing else (classic locale, no grouping).
std::string DecimalString(int value);
std::wstring DecimalWideString(int value);

// Index of the first exact, case-sensitive occurrence of pattern in text, or npos.
std::wstring::size_type FindMarker(const std::wstring& text, const std::wstring& pattern);

// "0x80070005": eight upper-case hex digits, as the platform's documentation writes a code.
std::string HresultHex(HRESULT result);
// The system's own words for a code (from quartz.dll's messages too, when it is loaded), without
// the line break they end in; empty when there are none.
std::string SystemMessage(HRESULT result);
// "{55C39876-FF76-4AB0-AAB0-0A46D535A26B}".
std::string GuidString(const GUID& guid);

}  // namespace kavo
