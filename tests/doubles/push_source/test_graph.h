// Helpers for tests that run filters in the platform's filter graph manager: a COM apartment per
// test, a fresh graph, and the reference count of an object (as Wine's own tests read it).
#pragma once

#include <dshow.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

namespace kavo::test {

inline ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

// Each test runs in the multithreaded apartment, so that streaming threads started by the test
// may call the filters and the graph directly.
class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
  void TearDown() override { CoUninitialize(); }

  static Microsoft::WRL::ComPtr<IFilterGraph2> NewGraph() {
    Microsoft::WRL::ComPtr<IFilterGraph2> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                               &graph),
              S_OK);
    return graph;
  }

  static Microsoft::WRL::ComPtr<IMediaControl> Control(IFilterGraph2* graph) {
    Microsoft::WRL::ComPtr<IMediaControl> control;
    EXPECT_EQ(graph->QueryInterface(IID_IMediaControl, &control), S_OK);
    return control;
  }

  static Microsoft::WRL::ComPtr<IMediaEvent> Events(IFilterGraph2* graph) {
    Microsoft::WRL::ComPtr<IMediaEvent> events;
    EXPECT_EQ(graph->QueryInterface(IID_IMediaEvent, &events), S_OK);
    return events;
  }
};

}  // namespace kavo::test
