// The stand-in inside Wine's filter graph manager: the container pin's connection, the pushed
// subtitle streams, and clean stops.
#include "standin_fixture.h"
#include "test_sink.h"

namespace kavo::test {
namespace {

struct Expected {
  std::int64_t startMs;
  std::int64_t stopMs;
  std::string text;
};

class StandInGraph : public StandInTest {
 protected:
  ComPtr<IFilterGraph2> NewGraph() {
    ComPtr<IFilterGraph2> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IFilterGraph2,
                               reinterpret_cast<void**>(graph.GetAddressOf())),
              S_OK);
    return graph;
  }

  // A sink in the graph, connected to the source's output pin of that index.
  TestSink* Attach(IFilterGraph2* graph, IBaseFilter* source, int outputIndex,
                   TestSink::Options options, HRESULT* connected = nullptr) {
    auto* sink = new TestSink(options);
    ComPtr<IBaseFilter> holder(sink);
    EXPECT_TRUE(
        SUCCEEDED(graph->AddFilter(sink, L"Sink")));  // VFW_S_DUPLICATE_NAME from the second on
    const HRESULT result = graph->ConnectDirect(PinOf(source, PINDIR_OUTPUT, outputIndex).Get(),
                                                sink->InputPin(), nullptr);
    if (connected) {
      *connected = result;
    } else {
      EXPECT_EQ(result, S_OK);
    }
    return sink;  // the graph keeps it alive
  }

  static void ExpectSamples(TestSink* sink, const std::vector<Expected>& expected) {
    const std::vector<ReceivedSample> samples = sink->Samples();
    ASSERT_EQ(samples.size(), expected.size());
    for (size_t i = 0; i < samples.size(); ++i) {
      EXPECT_EQ(samples[i].timeResult, S_OK) << i;
      EXPECT_EQ(samples[i].start, expected[i].startMs * 10000) << i;
      EXPECT_EQ(samples[i].stop, expected[i].stopMs * 10000) << i;
      EXPECT_EQ(samples[i].bytes, expected[i].text) << i;
    }
  }
};

TEST_F(StandInGraph, TheContainerPinConnectsDirectlyToAStreamInputAndStaysReadable) {
  const std::string container = PatternBytes(50000, 3);
  ComPtr<IBaseFilter> source =
      Loaded(CatalogVideo("connect").Container(container).Audio("audio bytes"));
  ASSERT_TRUE(source);
  ComPtr<IFilterGraph2> graph = NewGraph();
  ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
  TestSink* sink = Attach(graph.Get(), source.Get(), 0, {});
  EXPECT_TRUE(sink->SawAsyncReader())
      << "a pulling input pin finds the reader during the connection";

  const ComPtr<IPin> pin = PinOf(source.Get(), PINDIR_OUTPUT, 0);
  ComPtr<IPin> peer;
  ASSERT_EQ(pin->ConnectedTo(&peer), S_OK);
  EXPECT_EQ(peer.Get(), sink->InputPin());
  AM_MEDIA_TYPE type = {};
  ASSERT_EQ(pin->ConnectionMediaType(&type), S_OK);
  EXPECT_TRUE(IsEqualGUID(type.majortype, MEDIATYPE_Stream));
  EXPECT_EQ(pin->Connect(sink->InputPin(), nullptr), VFW_E_ALREADY_CONNECTED);

  FILTER_INFO info = {};
  ASSERT_EQ(source->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::wstring(info.achName), L"Source");
  EXPECT_TRUE(info.pGraph);
  info.pGraph->Release();

  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  HRESULT result = E_FAIL;
  EXPECT_EQ(Read(ReaderOf(source.Get(), 0).Get(), 1234, 4000, &result),
            container.substr(1234, 4000));
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(Read(ReaderOf(source.Get(), 1).Get(), 0, 11, &result), "audio bytes")
      << "the audio pin stays unconnected";
  EXPECT_TRUE(SUCCEEDED(control->Stop()));
  EXPECT_EQ(Read(ReaderOf(source.Get(), 0).Get(), 0, 10, &result), container.substr(0, 10));
}

TEST_F(StandInGraph, AContainerPinOfAnotherMajorTypeIsRefused) {
  ComPtr<IBaseFilter> source = Loaded(CatalogVideo("wrongtype").Fault("container_type = video"));
  ASSERT_TRUE(source);
  ComPtr<IFilterGraph2> graph = NewGraph();
  ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
  HRESULT connected = S_OK;
  Attach(graph.Get(), source.Get(), 0, {}, &connected);
  EXPECT_TRUE(FAILED(connected));
  IPin* peer = nullptr;
  EXPECT_EQ(PinOf(source.Get(), PINDIR_OUTPUT, 0)->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

// Wine's graph manager pauses every filter first and runs them only once each one has finished
// pausing; a renderer finishes only with its first sample. So the tracks must flow from the pause.
TEST_F(StandInGraph, RunningTheGraphDeliversEveryCueThenEndOfStream) {
  const std::vector<Expected> english = {
      {0, 1500, "Hello"}, {1000, 4000, "overlapping\nsecond line"}, {500, 700, "out of order"},
      {5000, 5000, ""},   {6000, 7000, "bad \xFF\xFE utf-8 \xC3"},  {-250, 100, "before zero"},
  };
  CatalogTrack englishTrack("English", "en");
  for (const Expected& cue : english) englishTrack.Cue(cue.startMs, cue.stopMs, cue.text);
  ComPtr<IBaseFilter> source =
      Loaded(CatalogVideo("subs")
                 .Track(englishTrack)
                 .Track(CatalogTrack("Empty", "xx"))
                 .Track(CatalogTrack("French", "fr").Cue(100, 200, "Bonjour \xC3\xA0 tous")));
  ASSERT_TRUE(source);
  ComPtr<IFilterGraph2> graph = NewGraph();
  ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
  TestSink::Options subtitles;
  subtitles.acceptedMajor = kMediaTypeSubtitle;
  TestSink* first = Attach(graph.Get(), source.Get(), 1, subtitles);
  TestSink* empty = Attach(graph.Get(), source.Get(), 2, subtitles);
  subtitles.offerAllocator = false;  // the source then brings its own
  TestSink* third = Attach(graph.Get(), source.Get(), 3, subtitles);

  ComPtr<IMediaFilter> clockless;
  ASSERT_EQ(graph.As(&clockless), S_OK);
  clockless->SetSyncSource(nullptr);
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_TRUE(first->WaitForEnd(5000));
  EXPECT_TRUE(empty->WaitForEnd(5000));
  EXPECT_TRUE(third->WaitForEnd(5000));
  OAFilterState state = State_Stopped;
  EXPECT_EQ(control->GetState(5000, &state), S_OK);
  EXPECT_EQ(state, State_Running);

  ExpectSamples(first, english);
  ExpectSamples(empty, {});
  ExpectSamples(third, {{100, 200, "Bonjour \xC3\xA0 tous"}});
  EXPECT_EQ(first->EndOfStreamCount(), 1);
  EXPECT_TRUE(SUCCEEDED(control->Stop()));
}

TEST_F(StandInGraph, ATrackThatNeverEndsStaysOpenUntilTheStop) {
  ComPtr<IBaseFilter> source = Loaded(CatalogVideo("open").Track(
      CatalogTrack("Live").Cue(0, 10, "one").Cue(10, 20, "two").NeverEnds()));
  ASSERT_TRUE(source);
  ComPtr<IFilterGraph2> graph = NewGraph();
  ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
  TestSink::Options subtitles;
  subtitles.acceptedMajor = kMediaTypeSubtitle;
  TestSink* sink = Attach(graph.Get(), source.Get(), 1, subtitles);
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_TRUE(sink->WaitForSamples(2, 5000));
  EXPECT_FALSE(sink->WaitForEnd(300));
  const DWORD before = GetTickCount();
  EXPECT_TRUE(SUCCEEDED(control->Stop()));
  EXPECT_LT(GetTickCount() - before, 2000u);
  EXPECT_EQ(sink->EndOfStreamCount(), 0);
}

TEST_F(StandInGraph, StopReleasesAStreamWaitingForABuffer) {
  CatalogTrack many("Many");
  for (int i = 0; i < 20; ++i) many.Cue(i * 100, i * 100 + 50, "cue " + std::to_string(i));
  ComPtr<IBaseFilter> source = Loaded(CatalogVideo("dry").Track(many));
  ASSERT_TRUE(source);
  ComPtr<IFilterGraph2> graph = NewGraph();
  ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
  TestSink::Options hoarding;
  hoarding.acceptedMajor = kMediaTypeSubtitle;
  hoarding.keepSamples = true;
  TestSink* sink = Attach(graph.Get(), source.Get(), 1, hoarding);
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_TRUE(sink->WaitForSamples(1, 5000));
  Sleep(200);
  const size_t delivered = sink->Samples().size();
  EXPECT_LT(delivered, 20u) << "the allocator ran dry, so the stream waits in GetBuffer";
  EXPECT_TRUE(SUCCEEDED(control->Stop()));
  EXPECT_EQ(sink->EndOfStreamCount(), 0);
}

TEST_F(StandInGraph, PinsConnectAndStreamWithoutAGraphManagerToo) {
  ComPtr<IBaseFilter> source =
      Loaded(CatalogVideo("bare").Track(CatalogTrack("t").Cue(1, 2, "x").Cue(3, 4, "y")));
  ASSERT_TRUE(source);
  TestSink::Options subtitles;
  subtitles.acceptedMajor = kMediaTypeSubtitle;
  auto* raw = new TestSink(subtitles);
  ComPtr<IBaseFilter> sink(raw);
  const ComPtr<IPin> pin = PinOf(source.Get(), PINDIR_OUTPUT, 1);
  ASSERT_EQ(pin->Connect(raw->InputPin(), nullptr), S_OK);
  ASSERT_EQ(sink->Run(0), S_OK);
  ASSERT_EQ(source->Run(0), S_OK) << "straight from stopped to running";
  EXPECT_TRUE(raw->WaitForEnd(5000));
  ExpectSamples(raw, {{1, 2, "x"}, {3, 4, "y"}});
  FILTER_STATE state = State_Stopped;
  EXPECT_EQ(source->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  EXPECT_EQ(source->Stop(), S_OK);
  EXPECT_EQ(source->Pause(), S_OK);
  EXPECT_EQ(source->Run(0), S_OK);
  EXPECT_TRUE(raw->WaitForSamples(4, 5000)) << "each start from stopped delivers the track again";
  EXPECT_EQ(source->Stop(), S_OK);
  EXPECT_EQ(sink->Stop(), S_OK);
  EXPECT_EQ(pin->Disconnect(), S_OK);
  EXPECT_EQ(raw->InputPin()->Disconnect(), S_OK);
}

}  // namespace
}  // namespace kavo::test
