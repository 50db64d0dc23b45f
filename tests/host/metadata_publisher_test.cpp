// Publication into the host's input item and the start time, as the recording core library sees
// them under each host ABI.
#include "host/metadata_publisher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "core_recorder.h"
#include "meta/metadata_reader.h"
#include "tests/meta/fake_source_filter.h"

namespace kavo {
namespace {

using Microsoft::WRL::ComPtr;
using test::CoreRecorder;
using test::FakeProperty;
using test::FakeSourceFilter;
using ::testing::ElementsAre;
using ::testing::StartsWith;

void* const kInput = reinterpret_cast<void*>(0x5100);
void* const kNotTheMeta = reinterpret_cast<void*>(0xBAD0);

FakeProperty Text(const wchar_t* name, const wchar_t* value, DWORD hint = 1) {
  FakeProperty property;
  property.name = name;
  property.value = value;
  property.hint = hint;
  return property;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// An input item as far as the plug-in reads it: p_meta where the ABI keeps it, and a decoy where
// the other ABIs and architectures do (x86: 60 and 64, x86-64: 104 and 112). The recorder stores
// each field's string in the record, as the host does.
struct FakeItem {
  alignas(8) unsigned char bytes[256] = {};
  alignas(8) unsigned char meta[256] = {};

  void LayOut(const host::HostAbi& abi, bool withRecord) {
    for (std::ptrdiff_t offset : {60, 64, 104, 112}) Put(offset, kNotTheMeta);
    Put(abi.item.meta, withRecord ? meta : nullptr);
  }
  void Put(std::ptrdiff_t offset, void* pointer) {
    std::memcpy(bytes + offset, &pointer, sizeof pointer);
  }
};

struct AbiCase {
  const host::HostAbi* abi;
  CoreRecorder::Shape shape;
};
const AbiCase kAbis[] = {{&host::kAbi22, CoreRecorder::Host22},
                         {&host::kAbi30Dev, CoreRecorder::Host30Development},
                         {&host::kAbi30Release, CoreRecorder::Host30Release}};

class MetadataPublisher : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(recorder_.Load()); }
  void TearDown() override { EXPECT_EQ(filter_.refs, 0); }

  std::vector<std::string> Publish(const AbiCase& abi, bool withRecord = true) {
    item_ = FakeItem();
    item_.LayOut(*abi.abi, withRecord);
    recorder_.Reset(abi.shape, item_.bytes);
    PublishMetadata(*abi.abi, kInput, ComPtr<IBaseFilter>(&filter_));
    EXPECT_EQ(filter_.refs, 0);
    return recorder_.Calls();
  }

  std::string GetItem() const { return "input_GetItem " + CoreRecorder::Pointer(kInput); }
  std::string SetMeta(int type, const std::string& value) const {
    return "input_item_SetMeta " + CoreRecorder::Pointer(item_.bytes) + " " + std::to_string(type) +
           " " + Quoted(value);
  }
  // An extra on the item's record; one added while the item's lock was free would show.
  std::string Extra(const std::string& key, const std::string& value,
                    const void* meta = nullptr) const {
    return "vlc_meta_AddExtra " + CoreRecorder::Pointer(meta ? meta : item_.meta) + " " +
           Quoted(key) + " " + Quoted(value);
  }

  CoreRecorder recorder_;
  FakeSourceFilter filter_;
  FakeItem item_;
};

TEST_F(MetadataPublisher, UsualRecordFieldsThenExtrasInKeyOrderUnderEveryAbi) {
  filter_.properties = {Text(L"title", L"Caf\u00e9"),
                        Text(L"description", L"d\u00fcn\nzwei"),
                        Text(L"thumbnail_urls", L"http://a/1.jpg http://a/2.jpg"),
                        Text(L"date", L"-1600000000", 0),
                        Text(L"Title", L"not the title"),
                        Text(L"author", L"\u2603")};
  for (const AbiCase& abi : kAbis) {
    SCOPED_TRACE(abi.abi->name);
    const std::vector<std::string> calls = Publish(abi);  // extras under the item's lock
    ASSERT_EQ(calls.size(), 8u);
    // The date's text depends on the user's locale; its place and key do not.
    const std::string dateCall = calls[7];
    EXPECT_THAT(dateCall, StartsWith("vlc_meta_AddExtra " + CoreRecorder::Pointer(item_.meta) +
                                     " \"date\" \""));
    EXPECT_THAT(calls,
                ElementsAre(GetItem(), SetMeta(6, "d\xC3\xBCn\nzwei"),
                            SetMeta(16, "http://a/1.jpg http://a/2.jpg"), SetMeta(0, "Caf\xC3\xA9"),
                            SetMeta(8, "2020"), Extra("Title", "not the title"),
                            Extra("author", "\xE2\x98\x83"), dateCall));
  }
}

TEST_F(MetadataPublisher, RecordWithOnlyAYearMakesOneCall) {
  filter_.properties = {Text(L"year", L"1999")};
  EXPECT_THAT(Publish(kAbis[0]), ElementsAre(GetItem(), SetMeta(8, "1999")));
}

TEST_F(MetadataPublisher, EmptyValuesArePublishedLikeAnyOther) {
  filter_.hasBag = false;
  filter_.nullTitle = true;
  EXPECT_THAT(Publish(kAbis[2]), ElementsAre(GetItem(), SetMeta(6, ""), SetMeta(0, "")));
}

// The host's input_item_SetMeta makes the record an item lacks: the extras go there.
TEST_F(MetadataPublisher, ItemWithoutAMetaRecordGetsExtrasOnTheOneItsFieldsMade) {
  filter_.properties = {Text(L"author", L"a"), Text(L"title", L"t")};
  for (const AbiCase& abi : kAbis) {
    const std::vector<std::string> calls = Publish(abi, false);
    const void* made = *reinterpret_cast<void* const*>(item_.bytes + abi.abi->item.meta);
    EXPECT_THAT(calls, ElementsAre(GetItem(), SetMeta(0, "t"), Extra("author", "a", made)));
  }
}

// Development builds before mid-November 2016 kept p_meta at 112 on x86-64, where 104, the later
// builds' p_meta, held p_stats, a block that starts with a mutex: the extras find the record, and
// without a field just set to recognise it by, stay out.
TEST_F(MetadataPublisher, DevelopmentBuildsRecordIsFoundWhereverTheBuildKeptIt) {
  alignas(8) unsigned char stats[256] = {1};
  filter_.properties = {Text(L"title", L"t"), Text(L"author", L"a")};
  const std::ptrdiff_t early = host::kWin64 ? 112 : 60;
  item_ = FakeItem();
  item_.Put(early - std::ptrdiff_t{sizeof(void*)}, stats);
  item_.Put(early, item_.meta);
  recorder_.Reset(CoreRecorder::Host30Development, item_.bytes);
  recorder_.MoveItemMeta(early);
  PublishMetadata(host::kAbi30Dev, kInput, ComPtr<IBaseFilter>(&filter_));
  EXPECT_THAT(recorder_.Calls(), ElementsAre(GetItem(), SetMeta(0, "t"), Extra("author", "a")));

  filter_.properties = {Text(L"author", L"a")};
  EXPECT_THAT(Publish(kAbis[1]), ElementsAre(GetItem()));
}

TEST_F(MetadataPublisher, NothingToPublishWithoutAnItemOrARecord) {
  filter_.properties = {Text(L"title", L"t")};
  recorder_.Reset(CoreRecorder::Host22, nullptr);
  PublishMetadata(host::kAbi22, kInput, ComPtr<IBaseFilter>(&filter_));
  EXPECT_THAT(recorder_.Calls(), ElementsAre(GetItem()));
  EXPECT_EQ(filter_.readCalls, 0);
  EXPECT_EQ(filter_.refs, 0);

  filter_.properties = {Text(L"rating", L"5", 9)};
  EXPECT_THAT(Publish(kAbis[0]), ElementsAre(GetItem()));

  recorder_.Reset(CoreRecorder::Host22, nullptr);
  PublishMetadata(host::kAbi22, kInput, nullptr);
  EXPECT_THAT(recorder_.Calls(), ElementsAre(GetItem()));
}

TEST_F(MetadataPublisher, ConsumesTheReferenceItIsGiven) {
  item_.LayOut(host::kAbi22, true);
  recorder_.Reset(CoreRecorder::Host22, item_.bytes);
  ComPtr<IBaseFilter> mine(&filter_);
  PublishMetadata(host::kAbi22, kInput, mine);
  EXPECT_EQ(filter_.refs, 1);
  PublishMetadata(host::kAbi22, kInput, std::move(mine));
  EXPECT_EQ(mine, nullptr);
}

class StartTime : public MetadataPublisher {
 protected:
  std::vector<std::string> Apply(ULONG offset, ULONG version = 5) {
    filter_.startOffset = offset;
    filter_.version = version;
    recorder_.Reset(CoreRecorder::Host30Release, nullptr);
    const ComPtr<IBaseFilter> mine(&filter_);
    ApplyStartTime(kInput, mine.Get(), L"https://example.com/watch?v=x\u00e9");
    EXPECT_EQ(filter_.refs, 1);  // the caller's own reference is left alone
    return recorder_.Calls();
  }

  static std::string SetTime(const char* seconds) {
    return "var_SetChecked " + CoreRecorder::Pointer(kInput) + " \"start-time\" 80 " + seconds;
  }
};

TEST_F(StartTime, MillisecondsBecomeSecondsAsAFloat) {
  EXPECT_THAT(Apply(500), ElementsAre(SetTime("0.5")));
  EXPECT_EQ(filter_.startOffsetAddress, L"https://example.com/watch?v=x\u00e9");
  EXPECT_THAT(Apply(1), ElementsAre(SetTime("0.00100000005")));
  EXPECT_THAT(Apply(90061001), ElementsAre(SetTime("90061.0078")));
  EXPECT_THAT(Apply(0xFFFFFFFF, 6), ElementsAre(SetTime("4294967.5")));
  EXPECT_EQ(filter_.getStartOffsetCalls, 4);
}

TEST_F(StartTime, UntouchedWithoutAnOffset) {
  EXPECT_THAT(Apply(0), ElementsAre());
  EXPECT_EQ(filter_.getStartOffsetCalls, 1);

  EXPECT_THAT(Apply(500, 4), ElementsAre());
  EXPECT_THAT(Apply(500, 0), ElementsAre());
  EXPECT_EQ(filter_.getStartOffsetCalls, 1);

  filter_.hasSourceControl = false;
  EXPECT_THAT(Apply(500), ElementsAre());
  EXPECT_EQ(QueryStartOffset(&filter_, L"a"), 0u);
  EXPECT_EQ(filter_.getStartOffsetCalls, 1);

  EXPECT_EQ(QueryStartOffset(nullptr, L"a"), 0u);
  ApplyStartTime(kInput, nullptr, L"a");
  EXPECT_THAT(recorder_.Calls(), ElementsAre());
}

TEST_F(StartTime, SetterReportsTheHostsResult) {
  recorder_.Reset(CoreRecorder::Host22, nullptr);
  EXPECT_EQ(SetStartTime(kInput, 2.25f), 0);
  EXPECT_THAT(recorder_.Calls(), ElementsAre(SetTime("2.25")));
}

}  // namespace
}  // namespace kavo
