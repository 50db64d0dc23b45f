// The catalog's text conventions: lines, blanks, tokens, numbers and the escapes that let a
// line carry any byte or UTF-16 unit. Pure functions, thread-safe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavo::standin {

bool ReadWholeFile(const std::wstring& path, std::string& contents);
// Lines without their CR LF or LF ends.
std::vector<std::string> Lines(const std::string& text);
std::string Trim(std::string_view text);
std::vector<std::string> Tokens(std::string_view text);
std::string Lowered(std::string text);

// Undo \n \r \t \\ \0 \xNN; everything else passes as bytes.
bool DecodeBytes(std::string_view text, std::string& bytes, std::string& error);
// The same plus \uXXXX (one UTF-16 unit, lone surrogates and NUL included); the rest is UTF-8.
bool DecodeWide(std::string_view text, std::wstring& units, std::string& error);

// Decimal, or hexadecimal with 0x; no sign.
bool ParseUnsigned(const std::string& text, std::uint64_t& value);
bool ParseSigned(const std::string& text, std::int64_t& value);
// A 32-bit value written as above, taken as an HRESULT.
bool ParseHresult(const std::string& text, HRESULT& result);

}  // namespace kavo::standin
