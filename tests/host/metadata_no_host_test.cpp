// Publication while the host's core library is not in the process: nothing reaches anyone, and the
// filter's reference still goes. Its own program, so that nothing has loaded the library before.
#include "host/metadata_publisher.h"

#include <gtest/gtest.h>

#include "tests/meta/fake_source_filter.h"

namespace kavo {
namespace {

using Microsoft::WRL::ComPtr;
using test::FakeProperty;
using test::FakeSourceFilter;

void* const kInput = reinterpret_cast<void*>(0x5100);

TEST(MetadataWithoutHost, NothingHappensAndTheReferenceIsReleased) {
  ASSERT_EQ(GetModuleHandleW(L"libvlccore.dll"), nullptr);
  FakeSourceFilter filter;
  FakeProperty title;
  title.name = L"title";
  title.value = L"t";
  filter.properties = {title};
  filter.startOffset = 500;

  PublishMetadata(host::kAbi30Release, kInput, ComPtr<IBaseFilter>(&filter));
  EXPECT_EQ(filter.refs, 0);
  EXPECT_EQ(filter.readCalls, 0);  // without an item there is nothing to read for

  const ComPtr<IBaseFilter> mine(&filter);
  ApplyStartTime(kInput, mine.Get(), L"a");
  EXPECT_EQ(filter.refs, 1);
  EXPECT_EQ(SetStartTime(kInput, 0.5f), -1);

  EXPECT_EQ(GetModuleHandleW(L"libvlccore.dll"), nullptr);
}

}  // namespace
}  // namespace kavo
