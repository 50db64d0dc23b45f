#include "common/text.h"

#include <gtest/gtest.h>

#include <climits>

namespace kavo {
namespace {

TEST(Utf8ToWide, DecodesValidText) {
  EXPECT_EQ(Utf8ToWide("\xC3\xA9"), std::wstring(1, wchar_t(0x00E9)));
  EXPECT_EQ(Utf8ToWide("plain ascii"), L"plain ascii");
  // U+1F600 as a surrogate pair.
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), std::wstring({wchar_t(0xD83D), wchar_t(0xDE00)}));
}

TEST(Utf8ToWide, EmptyInEmptyOut) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(MultiByteToWide("", CP_ACP), L"");
}

TEST(Utf8ToWide, StopsBeforeTheFirstUndecodableSequence) {
  EXPECT_EQ(Utf8ToWide("ab\xFF"
                       "cd"),
            L"ab");
  EXPECT_EQ(Utf8ToWide("\xFF"
                       "abc"),
            L"");
  // A truncated multi-byte sequence at the end.
  EXPECT_EQ(Utf8ToWide("ab\xC3"), L"ab");
  // Overlong encoding of '/'.
  EXPECT_EQ(Utf8ToWide("x\xC0\xAFy"), L"x");
}

TEST(Utf8ToWide, ItsOwnReplacementCharacterCutsTheText) {
  EXPECT_EQ(Utf8ToWide("before\xEF\xBF\xBD"
                       "after"),
            L"before");
}

TEST(Utf8ToWide, EmbeddedNulIsKept) {
  const std::string bytes("a\0b", 3);
  EXPECT_EQ(Utf8ToWide(bytes), std::wstring(L"a\0b", 3));
}

// Each class of byte that is not part of well-formed UTF-8: the strict form refuses the whole
// text, the replacing form puts U+FFFD for each such byte and keeps everything else.
TEST(Utf8ToWide, StrictRefusesAndReplacingMarksEachBadByte) {
  const wchar_t bad = 0xFFFD;
  const struct {
    const char* bytes;
    std::wstring replaced;
  } cases[] = {
      {"ab\xFF!", {L'a', L'b', bad, L'!'}},
      {"\x80x", {bad, L'x'}},                           // a lone continuation byte
      {"x\xC0\xAFy", {L'x', bad, bad, L'y'}},           // overlong '/'
      {"\xE2\x82x", {bad, bad, L'x'}},                  // cut short before another character
      {"ab\xF0\x9F\x98", {L'a', L'b', bad, bad, bad}},  // cut short by the end
      {"\xED\xA0\x80", {bad, bad, bad}},                // a surrogate
      {"\xF4\x90\x80\x80", {bad, bad, bad, bad}},       // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", {bad, bad, bad, bad, bad}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.bytes)));
    std::wstring wide = L"untouched";
    EXPECT_FALSE(Utf8ToWideStrict(c.bytes, wide));
    EXPECT_EQ(wide, L"untouched");
    EXPECT_EQ(Utf8ToWideReplacing(c.bytes), c.replaced);
  }
}

// Well-formed text comes through whole, its own U+FFFD and NUL characters included.
TEST(Utf8ToWide, StrictAndReplacingKeepWellFormedTextWhole) {
  const std::string text = std::string("caf\xC3\xA9 \xEF\xBF\xBD\0 \xF0\x9F\x98\x80", 15);
  const std::wstring expected = {L'c', L'a', L'f', 0xE9, L' ', 0xFFFD, 0, L' ', 0xD83D, 0xDE00};
  std::wstring wide;
  EXPECT_TRUE(Utf8ToWideStrict(text, wide));
  EXPECT_EQ(wide, expected);
  EXPECT_EQ(Utf8ToWideReplacing(text), expected);
  EXPECT_TRUE(Utf8ToWideStrict("", wide));
  EXPECT_EQ(wide, L"");
  EXPECT_EQ(Utf8ToWideReplacing(""), L"");
}

TEST(MultiByteToWide, UsesTheGivenCodePage) {
  // 0xE9 is e-acute in Windows-1252; as UTF-8 it is a broken sequence.
  EXPECT_EQ(MultiByteToWide("caf\xE9", 1252), std::wstring(L"caf") + wchar_t(0x00E9));
  EXPECT_EQ(MultiByteToWide("caf\xE9", CP_UTF8), L"caf");
}

TEST(WideToUtf8, EncodesText) {
  EXPECT_EQ(WideToUtf8(L""), "");
  EXPECT_EQ(WideToUtf8(std::wstring(1, wchar_t(0x00E9))), "\xC3\xA9");
  EXPECT_EQ(WideToUtf8(L"abc"), "abc");
}

TEST(WideToUtf8, RoundTripsTextOutsideTheBasicPlane) {
  const std::string text = "\xF0\x9F\x8E\xAC clip \xE6\x97\xA5\xE6\x9C\xAC \xF0\x90\x8D\x88";
  EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text);
  const std::wstring wide = {wchar_t(0xD83C), wchar_t(0xDFAC), L'!', wchar_t(0x20AC)};
  EXPECT_EQ(Utf8ToWide(WideToUtf8(wide)), wide);
}

TEST(DecimalRendering, PlainDigitsWithOptionalMinus) {
  EXPECT_EQ(DecimalString(0), "0");
  EXPECT_EQ(DecimalString(1), "1");
  EXPECT_EQ(DecimalString(-5), "-5");
  EXPECT_EQ(DecimalString(1234567), "1234567");
  EXPECT_EQ(DecimalString(INT_MIN), "-2147483648");
  EXPECT_EQ(DecimalString(INT_MAX), "2147483647");
  EXPECT_EQ(DecimalWideString(0), L"0");
  EXPECT_EQ(DecimalWideString(-5), L"-5");
  EXPECT_EQ(DecimalWideString(1234567), L"1234567");
  EXPECT_EQ(DecimalWideString(INT_MIN), L"-2147483648");
}

TEST(FindMarker, ExactCaseSensitiveFirstOccurrence) {
  const std::wstring marker = L"vlc_slave=1";
  EXPECT_EQ(FindMarker(L"host/watch?v=x&vlc_slave=1", marker), 15u);
  EXPECT_EQ(FindMarker(L"a?q=vlc_slave=1x&vlc_slave=1", marker), 4u);
  EXPECT_EQ(FindMarker(L"a?VLC_SLAVE=1", marker), std::wstring::npos);
  EXPECT_EQ(FindMarker(L"vlc_slave=", marker), std::wstring::npos);
  EXPECT_EQ(FindMarker(L"anything", L""), 0u);
}

}  // namespace
}  // namespace kavo
