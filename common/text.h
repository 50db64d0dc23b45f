// Text crossings between the host (UTF-8) and COM, DirectShow and the file functions (UTF-16).
// A conversion never fails loudly: it yields an empty string, or, from bytes, the decodable prefix.
// All functions are reentrant.
#pragma once

#include <windows.h>

#include <string>

namespace kavo {

std::wstring MultiByteToWide(const std::string& bytes, UINT codePage);
std::wstring Utf8ToWide(const std::string& bytes);
std::string WideToUtf8(const std::wstring& wide);

// Plain decimal: optional minus sign, digits, nothing else (classic locale, no grouping).
std::string DecimalString(int value);
std::wstring DecimalWideString(int value);

// Index of the first exact, case-sensitive occurrence of pattern in text, or npos.
std::wstring::size_type FindMarker(const std::wstring& text, const std::wstring& pattern);

}  // namespace kavo
