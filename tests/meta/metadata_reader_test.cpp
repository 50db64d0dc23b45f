// Reading the source filter's properties into a record: the bag, the date and year it derives,
// the fallback, and that every reference and every block the bag hands out is returned.
#include "meta/metadata_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "common/text.h"
#include "fake_source_filter.h"
#include "task_memory_spy.h"

namespace kavo {
namespace {

using Microsoft::WRL::ComPtr;
using test::CountedUnknown;
using test::FakeProperty;
using test::FakeSourceFilter;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

FakeProperty Text(const wchar_t* name, const wchar_t* value, DWORD hint = 1) {
  FakeProperty property;
  property.name = name;
  property.value = value;
  property.hint = hint;
  return property;
}

FakeProperty Number(const wchar_t* name, const wchar_t* value) { return Text(name, value, 0); }

// The local date and time of a Unix timestamp, worked out through the system's own conversions
// rather than the C runtime's.
SYSTEMTIME LocalTime(std::int64_t seconds) {
  const std::uint64_t ticks = (static_cast<std::uint64_t>(seconds) + 11644473600ull) * 10000000ull;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utcTime, local;
  FileTimeToSystemTime(&utc, &utcTime);
  SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local);
  local.wMilliseconds = 0;
  return local;
}

std::string LongDate(const SYSTEMTIME& time) {
  wchar_t text[256] = {};
  GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &time, nullptr, text, 256);
  return WideToUtf8(text);
}

std::string DefaultTime(const SYSTEMTIME& time) {
  wchar_t text[256] = {};
  GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, text, 256);
  return WideToUtf8(text);
}

class MetadataReader : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    spy_ = test::TaskMemorySpy::Registered();
    ASSERT_NE(spy_, nullptr);
    spy_->Reset();
  }

  void TearDown() override {
    // Every name the bag handed out went back, and so did every reference.
    for (void* name : filter_.handedNames) EXPECT_TRUE(spy_->WasFreed(name)) << name;
    EXPECT_EQ(filter_.refs, 0);
    CoUninitialize();
  }

  // ReadFilterMetadata with a reference of its own, as the player hands it out.
  MetadataRecord Read() {
    MetadataRecord record;
    ReadFilterMetadata(ComPtr<IBaseFilter>(&filter_), record);
    return record;
  }

  FakeSourceFilter filter_;
  test::TaskMemorySpy* spy_ = nullptr;
};

TEST_F(MetadataReader, UsualBagGivesItsEntriesInKeyOrder) {
  constexpr std::int64_t kInstant = 1600000000;  // 2020-09-13 12:26:40 UTC
  filter_.properties = {Text(L"title", L"Caf\u00e9 \u2603"), Text(L"thumbnail_urls", L"a b", 2),
                        Number(L"date", L"1600000000"), Text(L"description", L"line\nline")};
  const SYSTEMTIME local = LocalTime(kInstant);

  EXPECT_THAT(Read(), ElementsAre(Pair("date", LongDate(local) + " " + DefaultTime(local)),
                                  Pair("description", "line\nline"), Pair("thumbnail_urls", "a b"),
                                  Pair("title", "Caf\xC3\xA9 \xE2\x98\x83"), Pair("year", "2020")));
  EXPECT_EQ(filter_.mediaContentQueries, 0);
}

TEST_F(MetadataReader, SignOfTheTimestampChoosesDateAndTimeOrDateAlone) {
  constexpr std::int64_t kInstant = 951782400;  // 2000-02-29 00:00:00 UTC
  const SYSTEMTIME local = LocalTime(kInstant);
  const std::string year = std::to_string(local.wYear);

  filter_.properties = {Number(L"date", L"-951782400")};
  EXPECT_THAT(Read(), ElementsAre(Pair("date", LongDate(local)), Pair("year", year)));

  // Leading white space and a plus sign are read like strtoll; digits end at the first other
  // character.
  filter_.properties = {Number(L"date", L" \t+951782400xyz")};
  EXPECT_THAT(Read(), ElementsAre(Pair("date", LongDate(local) + " " + DefaultTime(local)),
                                  Pair("year", year)));
}

TEST_F(MetadataReader, TimestampsWithoutADateGiveNeitherDateNorYear) {
  for (const wchar_t* value :
       {L"0", L"-0", L"", L"abc", L"x1600000000", L"- 5", L"99999999999999999999999",
        L"-99999999999999999999999", L"-9223372036854775808", L"100000000000000"}) {
    filter_.properties = {Number(L"date", value)};
    EXPECT_THAT(Read(), IsEmpty()) << WideToUtf8(value);
  }
  // Read, though empty: the fallback stays out.
  EXPECT_EQ(filter_.mediaContentQueries, 0);
}

TEST_F(MetadataReader, OnlyTheHintSelectsHowAPropertyIsRead) {
  filter_.properties = {Text(L"date", L"1600000000"),  // text: verbatim, no year
                        Number(L"Date", L"1600000000"), Number(L"updated", L"1600000000"),
                        Text(L"rating", L"5", 7), Text(L"empty", L"", 2)};
  EXPECT_THAT(Read(), ElementsAre(Pair("date", "1600000000"), Pair("empty", "")));
}

TEST_F(MetadataReader, RepeatedKeysKeepTheLastWriteInBagOrder) {
  filter_.properties = {Text(L"title", L"first"), Text(L"year", L"1999"),
                        Number(L"date", L"-1600000000"), Text(L"title", L"second")};
  MetadataRecord record = Read();
  EXPECT_EQ(record["title"], "second");
  EXPECT_EQ(record["year"], "2020");  // derived after the text

  filter_.properties = {Number(L"date", L"-1600000000"), Text(L"year", L"1999")};
  record = Read();
  EXPECT_EQ(record["year"], "1999");
  EXPECT_EQ(record.count("date"), 1u);
}

TEST_F(MetadataReader, FailedPropertiesAndUnusableValuesAreSkipped) {
  CountedUnknown object;
  FakeProperty failed = Text(L"title", L"bad");
  failed.result = E_FAIL;
  FakeProperty notText = Text(L"description", L"");
  notText.type = VT_UNKNOWN;
  notText.object = &object;
  FakeProperty nullName = Text(L"", L"anonymous");
  nullName.nullName = true;
  FakeProperty nullValue = Text(L"thumbnail_urls", L"");
  nullValue.nullValue = true;
  filter_.properties = {failed, notText, nullName, nullValue};
  filter_.title = L"content";
  filter_.description = L"content";

  // The failed title comes from the other interface; the description, read as no text, does not.
  EXPECT_THAT(Read(), ElementsAre(Pair("", "anonymous"), Pair("thumbnail_urls", ""),
                                  Pair("title", "content")));
  EXPECT_EQ(object.refs, 0);  // the value that was not a string was cleared all the same
  EXPECT_EQ(filter_.mediaContentQueries, 1);
}

TEST_F(MetadataReader, BagCountsAsReadWhenOnePropertyWas) {
  MetadataRecord record;
  EXPECT_FALSE(ReadPropertyBagMetadata(nullptr, record));

  filter_.properties = {Text(L"rating", L"5", 9)};
  EXPECT_TRUE(ReadPropertyBagMetadata(&filter_, record));
  EXPECT_THAT(record, IsEmpty());

  FakeProperty failed = Text(L"title", L"x");
  failed.result = E_FAIL;
  filter_.properties = {failed, failed};
  EXPECT_FALSE(ReadPropertyBagMetadata(&filter_, record));
  EXPECT_THAT(record, IsEmpty());
}

TEST_F(MetadataReader, FallbackStandsInForWhatTheBagDidNotGive) {
  filter_.title = L"T\u00e9";
  filter_.description = L"D";
  FakeProperty failed = Text(L"title", L"bag");
  failed.result = E_FAIL;
  const MetadataRecord expected = {{"description", "D"}, {"title", "T\xC3\xA9"}};

  filter_.hasBag = false;
  EXPECT_EQ(Read(), expected);
  filter_.hasBag = true;

  filter_.properties = {};  // an empty bag
  EXPECT_EQ(Read(), expected);

  filter_.properties = {failed};  // every property failed
  EXPECT_EQ(Read(), expected);

  filter_.properties = {Text(L"title", L"bag")};
  filter_.countResult = E_FAIL;
  EXPECT_EQ(Read(), expected);
  filter_.countResult = S_OK;

  filter_.infoResult = E_FAIL;
  EXPECT_EQ(Read(), expected);
  filter_.infoResult = S_OK;

  filter_.returnedOverride = 0;
  EXPECT_EQ(Read(), expected);
  filter_.returnedOverride = ~0u;

  // A Read that fails as a whole still delivered each property whose own result says so, and
  // the values it handed out are cleared.
  CountedUnknown object;
  FakeProperty unknown = Text(L"x", L"");
  unknown.type = VT_UNKNOWN;
  unknown.object = &object;
  filter_.properties = {Text(L"title", L"bag"), unknown};
  filter_.readResult = E_FAIL;
  EXPECT_EQ(Read(), (MetadataRecord{{"title", "bag"}}));
  EXPECT_EQ(object.refs, 0);
  filter_.readResult = S_OK;

  // One that stops at a failure leaves the rest unwritten: each is asked for again on its own, and
  // the other interface gives only the description the bag could not.
  FakeProperty failedDescription = Text(L"description", L"bag");
  failedDescription.result = E_FAIL;
  filter_.properties = {failedDescription, Text(L"x", L"after"), Text(L"title", L"bag")};
  filter_.readStopsAtFailure = true;
  EXPECT_EQ(Read(), (MetadataRecord{{"description", "D"}, {"title", "bag"}, {"x", "after"}}));
  filter_.readStopsAtFailure = false;

  filter_.properties = {Text(L"title", L"bag")};
  EXPECT_EQ(Read(), (MetadataRecord{{"title", "bag"}}));
  EXPECT_EQ(filter_.mediaContentQueries, 7);
}

TEST_F(MetadataReader, FallbackWritesEmptyValuesAndSkipsFailedGetters) {
  filter_.hasBag = false;
  filter_.nullTitle = true;
  filter_.description = L"";
  EXPECT_EQ(Read(), (MetadataRecord{{"description", ""}, {"title", ""}}));

  filter_.titleResult = E_FAIL;
  EXPECT_EQ(Read(), (MetadataRecord{{"description", ""}}));
  filter_.descriptionResult = E_FAIL;
  filter_.titleResult = S_FALSE;
  filter_.nullTitle = false;
  filter_.title = L"t";
  EXPECT_EQ(Read(), (MetadataRecord{{"title", "t"}}));

  filter_.hasMediaContent = false;
  EXPECT_THAT(Read(), IsEmpty());
}

TEST_F(MetadataReader, ConsumesTheReferenceItIsGiven) {
  MetadataRecord record;
  ReadFilterMetadata(nullptr, record);
  EXPECT_THAT(record, IsEmpty());

  filter_.properties = {Text(L"title", L"t")};
  ComPtr<IBaseFilter> mine(&filter_);
  ReadFilterMetadata(mine, record);
  EXPECT_EQ(filter_.refs, 1);
  ReadFilterMetadata(std::move(mine), record);
  EXPECT_EQ(mine, nullptr);
  EXPECT_EQ(filter_.refs, 0);
  EXPECT_EQ(record["title"], "t");
}

}  // namespace
}  // namespace kavo
