// What the stand-in's tests share: a COM apartment per test, a current catalog, a check that no
// stand-in object outlives the test, and small helpers over pins and media types.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <dshow.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include "common/media_type.h"
#include "standin_client.h"

namespace kavo::test {

using Microsoft::WRL::ComPtr;

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new filter, not loaded.
  ComPtr<IBaseFilter> Create();
  // Adds the video to the catalog and loads a new filter with its watch address.
  ComPtr<IBaseFilter> Loaded(const CatalogVideo& video);

  Catalog catalog_;
};

std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter);
// The index-th pin of that direction, as the plug-in counts pins.
ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction, int index);
std::wstring PinName(IPin* pin);
std::vector<MediaTypePtr> MediaTypes(IPin* pin);
ComPtr<IAsyncReader> ReaderOf(IBaseFilter* filter, int outputIndex);
std::string Read(IAsyncReader* reader, LONGLONG position, LONG length, HRESULT* result = nullptr);
// One request as the platform's parsers make it: a memory allocator agreed with RequestAllocator,
// a sample of it stamped with the range, Request, WaitForNext. The bytes the sample came back
// with; its stop time in *stop.
std::string Requested(IAsyncReader* reader, LONGLONG position, LONG length,
                      HRESULT* result = nullptr, REFERENCE_TIME* stop = nullptr);

}  // namespace kavo::test
