// The SubRip text, byte for byte.
#include "filters/srt_writer.h"

#include <gtest/gtest.h>

namespace kavo {
namespace {

TEST(SrtWriter, EmptyListGivesEmptyText) { EXPECT_EQ(BuildSrtText({}), L""); }

TEST(SrtWriter, SingleCue) {
  EXPECT_EQ(BuildSrtText({{0, 500, L"Hello"}}), L"1\n00:00:00,000 --> 00:00:00,500\nHello\n\n");
}

TEST(SrtWriter, TimestampFields) {
  EXPECT_EQ(FormatSrtTime(0), L"00:00:00,000");
  EXPECT_EQ(FormatSrtTime(3723004), L"01:02:03,004");  // 1 h 2 min 3 s 4 ms
  EXPECT_EQ(FormatSrtTime(59999), L"00:00:59,999");
  EXPECT_EQ(FormatSrtTime(36000000 - 1), L"09:59:59,999");
  EXPECT_EQ(FormatSrtTime(360000000), L"100:00:00,000");
  EXPECT_EQ(FormatSrtTime(INT64_MAX), L"2147483647:12:55,807");
}

TEST(SrtWriter, CuesInTheOrderGivenNumberedFromOne) {
  // Overlapping, out of order and with equal starts: written exactly as given.
  const std::vector<SrtCue> cues = {{2000, 1000, L"b"}, {1000, 5000, L"a"}, {1000, 100, L"c"}};
  EXPECT_EQ(BuildSrtText(cues),
            L"1\n00:00:02,000 --> 00:00:03,000\nb\n\n"
            L"2\n00:00:01,000 --> 00:00:06,000\na\n\n"
            L"3\n00:00:01,000 --> 00:00:01,100\nc\n\n");
}

TEST(SrtWriter, TextIsWrittenVerbatim) {
  const std::vector<SrtCue> cues = {
      {0, 1, L"line one\nline two"}, {1, 1, L""}, {2, 1, L" <i>\u00e9</i>\r "}};
  EXPECT_EQ(BuildSrtText(cues),
            L"1\n00:00:00,000 --> 00:00:00,001\nline one\nline two\n\n"
            L"2\n00:00:00,001 --> 00:00:00,002\n\n\n"
            L"3\n00:00:00,002 --> 00:00:00,003\n <i>\u00e9</i>\r \n\n");
}

TEST(SrtWriter, NegativeTimesAreWrittenAsZero) {
  std::vector<SrtCue> cues = {{-1500, 2000, L"x"}, {-3000, 1000, L"y"}, {1000, -5000, L"z"}};
  EXPECT_EQ(BuildSrtText(cues),
            L"1\n00:00:00,000 --> 00:00:00,500\nx\n\n"
            L"2\n00:00:00,000 --> 00:00:00,000\ny\n\n"
            L"3\n00:00:01,000 --> 00:00:00,000\nz\n\n");
  EXPECT_EQ(cues[0].start_ms, -1500);  // the cues themselves are left alone
}

TEST(SrtWriter, EndDoesNotOverflow) {
  EXPECT_EQ(BuildSrtText({{INT64_MAX - 1, 10, L"x"}}),
            L"1\n2147483647:12:55,806 --> 2147483647:12:55,807\nx\n\n");
}

}  // namespace
}  // namespace kavo
