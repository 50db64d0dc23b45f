// The contract's ids against their canonical text, written here independently of the header: a
// digit changed or transposed on either side fails.
#include "source/source_filter.h"

#include <gtest/gtest.h>

namespace kavo::test {
namespace {

TEST(SourceFilterContract, EachIdMatchesItsCanonicalText) {
  const struct {
    const GUID& id;
    const wchar_t* text;
  } rows[] = {
      {CLSID_KavoSourceFilter, L"{55C39876-FF76-4AB0-AAB0-0A46D535A26B}"},
      {IID_ISourceControl, L"{FF762ACC-13EC-463A-A29C-FD4B0CD3E019}"},
      {kMediaTypeSubtitle, L"{E487EB08-6B26-4BE9-9DD3-993434D313FD}"},
      {kMediaSubtypeUtf8, L"{87C0B230-03A8-4FDF-8010-B27A5848200D}"},
      {kFormatSubtitleInfo, L"{A33D2F7D-96BC-4337-B23B-A8B9FBC295E9}"},
      {kIidMediaContent, L"{FA2AA8F4-8B62-11D0-A520-000000000000}"},
  };
  for (const auto& row : rows) {
    CLSID parsed = {};
    ASSERT_EQ(CLSIDFromString(row.text, &parsed), S_OK) << row.text;
    EXPECT_TRUE(IsEqualGUID(row.id, parsed)) << row.text;
  }
  EXPECT_TRUE(IsEqualGUID(__uuidof(ISourceControl), IID_ISourceControl));
}

TEST(SourceFilterContract, ClassKeyNamesTheClassAsWindowsWritesIt) {
  wchar_t text[39] = {};
  ASSERT_EQ(StringFromGUID2(CLSID_KavoSourceFilter, text, 39), 39);
  EXPECT_STREQ(kSourceFilterClsidText.text, text);
  EXPECT_EQ(SourceFilterClassKey(), std::wstring(L"CLSID\\") + text);
}

}  // namespace
}  // namespace kavo::test
