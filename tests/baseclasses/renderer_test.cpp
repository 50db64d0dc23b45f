// The renderer base class and its position pass-through, driven by a push source in the platform's
// filter graph manager, which must count it as a renderer and see its completion.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/baseclasses/probe_filters.h"
#include "tests/doubles/push_source/async_file_source.h"
#include "tests/doubles/push_source/push_source.h"
#include "tests/doubles/push_source/test_graph.h"

namespace kavo::test {
namespace {

using Microsoft::WRL::ComPtr;

class RendererBase : public GraphTest {
 protected:
  // A graph with one push source whose pin i feeds renderer i.
  void Build(size_t renderers) {
    graph_ = NewGraph();
    source_ = new PushSource(std::vector<PushPinType>(renderers, PushPinType{MEDIATYPE_Text}));
    ASSERT_EQ(graph_->AddFilter(source_.Get(), L"Source"), S_OK);
    for (size_t i = 0; i < renderers; ++i) {
      renderers_.emplace_back(new ProbeRenderer());
      ASSERT_EQ(graph_->AddFilter(renderers_[i].Get(), nullptr), S_OK);
      ASSERT_EQ(graph_->ConnectDirect(source_->Pin(i), renderers_[i]->GetPin(0), nullptr), S_OK);
    }
    control_ = Control(graph_.Get());
    events_ = Events(graph_.Get());
  }

  long WaitForCompletion(long timeoutMs, HRESULT expected) {
    long code = -1;
    EXPECT_EQ(events_->WaitForCompletion(timeoutMs, &code), expected);
    return code;
  }

  ComPtr<IFilterGraph2> graph_;
  ComPtr<PushSource> source_;
  std::vector<ComPtr<ProbeRenderer>> renderers_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaEvent> events_;
};

TEST_F(RendererBase, AddsPositionInterfacesThatShareItsIdentity) {
  ComPtr<ProbeRenderer> renderer(new ProbeRenderer());
  IBaseFilter* filter = renderer.Get();
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IMediaPosition> position;
  ASSERT_EQ(filter->QueryInterface(IID_IMediaSeeking, &seeking), S_OK);
  ASSERT_EQ(filter->QueryInterface(IID_IMediaPosition, &position), S_OK);
  EXPECT_EQ(RefCount(filter), 3u);
  ComPtr<IBaseFilter> back;
  ASSERT_EQ(seeking->QueryInterface(IID_IBaseFilter, &back), S_OK);
  EXPECT_EQ(back.Get(), filter);
  back.Reset();
  ComPtr<IUnknown> other;
  EXPECT_EQ(filter->QueryInterface(IID_IMemInputPin, &other), E_NOINTERFACE);
  seeking.Reset();
  position.Reset();
  EXPECT_EQ(RefCount(filter), 1u);
}

TEST_F(RendererBase, HasOnePinNamedIn) {
  ComPtr<ProbeRenderer> renderer(new ProbeRenderer());
  EXPECT_EQ(renderer->GetPinCount(), 1);
  EXPECT_EQ(renderer->GetPin(1), nullptr);
  ComPtr<IPin> pin;
  ASSERT_EQ(renderer->FindPin(L"In", &pin), S_OK);
  EXPECT_EQ(pin.Get(), renderer->GetPin(0));
}

TEST_F(RendererBase, PositionIsUnavailableWithoutAnUpstreamThatSeeks) {
  ComPtr<ProbeRenderer> renderer(new ProbeRenderer());
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IMediaPosition> position;
  ASSERT_EQ(renderer->QueryInterface(IID_IMediaSeeking, &seeking), S_OK);
  ASSERT_EQ(renderer->QueryInterface(IID_IMediaPosition, &position), S_OK);
  LONGLONG duration = 0;
  REFTIME seconds = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);
  EXPECT_EQ(position->get_Duration(&seconds), E_NOTIMPL);

  // The platform's file reader connects but offers no seeking on its pin.
  AsyncFileSource file("bytes");
  ASSERT_EQ(file.Status(), S_OK);
  ComPtr<IFilterGraph2> graph = NewGraph();
  ASSERT_EQ(graph->AddFilter(file.Filter(), L"File"), S_OK);
  ASSERT_EQ(graph->AddFilter(renderer.Get(), L"Renderer"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(file.OutputPin(), renderer->GetPin(0), nullptr), S_OK);
  EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);
}

TEST_F(RendererBase, PassesPositionCallsUpstream) {
  Build(1);
  PushPinSeeking& upstream = source_->Seeking(0);
  upstream.duration = 45000000;
  ComPtr<IMediaSeeking> seeking;
  ComPtr<IMediaPosition> position;
  ASSERT_EQ(renderers_[0]->QueryInterface(IID_IMediaSeeking, &seeking), S_OK);
  ASSERT_EQ(renderers_[0]->QueryInterface(IID_IMediaPosition, &position), S_OK);

  LONGLONG duration = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 45000000);
  LONGLONG current = 20000000;
  EXPECT_EQ(seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                                  AM_SEEKING_NoPositioning),
            S_OK);
  EXPECT_EQ(upstream.current, 20000000);

  REFTIME seconds = 0;
  EXPECT_EQ(position->get_Duration(&seconds), S_OK);
  EXPECT_DOUBLE_EQ(seconds, 4.5);
  EXPECT_EQ(position->put_CurrentPosition(1.5), S_OK);
  EXPECT_EQ(upstream.current, 15000000);
  EXPECT_EQ(position->put_StopTime(3.0), S_OK);
  EXPECT_EQ(upstream.stop, 30000000);
  LONG can = -1;
  EXPECT_EQ(position->CanSeekForward(&can), S_OK);
  EXPECT_EQ(can, OATRUE);
  EXPECT_EQ(position->CanSeekBackward(&can), S_OK);
  EXPECT_EQ(can, OAFALSE);

  // The graph manager seeks through its renderers.
  ComPtr<IMediaSeeking> graphSeeking;
  ASSERT_EQ(graph_->QueryInterface(IID_IMediaSeeking, &graphSeeking), S_OK);
  EXPECT_EQ(graphSeeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 45000000);
}

TEST_F(RendererBase, RendersEachSampleAtOnceUnderBothLocks) {
  Build(1);
  ProbeRenderer& renderer = *renderers_[0].Get();
  ASSERT_EQ(control_->Pause(), S_OK);
  EXPECT_EQ(source_->Deliver(0, "paused", 0, 10), S_OK);
  EXPECT_EQ(renderer.rendered, 1);
  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(source_->Deliver(0, "running", 10, 20), S_OK);
  // No sample is held: a second delivery through the one-buffer allocator succeeds at once.
  EXPECT_EQ(source_->Deliver(0, "again", 20, 30), S_OK);
  EXPECT_EQ(renderer.rendered, 3);

  std::thread streaming([&] { EXPECT_EQ(source_->Deliver(0, "thread", 30, 40), S_OK); });
  streaming.join();
  EXPECT_EQ(renderer.rendered, 4);
  EXPECT_FALSE(renderer.lockMissed);
  ASSERT_EQ(control_->Stop(), S_OK);
}

TEST_F(RendererBase, EndOfStreamCompletesTheGraphAndRefusesLaterSamples) {
  Build(1);
  ProbeRenderer& renderer = *renderers_[0].Get();
  ASSERT_EQ(control_->Run(), S_OK);
  std::thread streaming([&] { EXPECT_EQ(source_->DeliverEndOfStream(0), S_OK); });
  EXPECT_EQ(WaitForCompletion(5000, S_OK), EC_COMPLETE);
  streaming.join();
  EXPECT_EQ(renderer.ends, 1);
  EXPECT_FALSE(renderer.lockMissed);
  EXPECT_EQ(source_->Deliver(0, "late", 0, 1), E_UNEXPECTED);
  EXPECT_EQ(renderer.rendered, 0);

  // A flush takes the end back.
  ASSERT_EQ(source_->DeliverBeginFlush(0), S_OK);
  ASSERT_EQ(source_->DeliverEndFlush(0), S_OK);
  EXPECT_FALSE(renderer.IsEndOfStream());
  EXPECT_EQ(source_->Deliver(0, "after flush", 0, 1), S_OK);
  EXPECT_EQ(renderer.rendered, 1);
}

TEST_F(RendererBase, EndOfStreamWhilePausedCompletesAtRun) {
  Build(1);
  ASSERT_EQ(control_->Pause(), S_OK);
  EXPECT_EQ(source_->DeliverEndOfStream(0), S_OK);
  EXPECT_TRUE(renderers_[0]->IsEndOfStream());
  // Pausing may have queued other events (the graph picks a clock), but no completion.
  long code = 0;
  LONG_PTR first = 0;
  LONG_PTR second = 0;
  while (events_->GetEvent(&code, &first, &second, 0) == S_OK) {
    EXPECT_NE(code, EC_COMPLETE);
    events_->FreeEventParams(code, first, second);
  }
  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(WaitForCompletion(5000, S_OK), EC_COMPLETE);
}

TEST_F(RendererBase, StopForgetsTheEndOfStream) {
  Build(1);
  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(source_->DeliverEndOfStream(0), S_OK);
  EXPECT_EQ(WaitForCompletion(5000, S_OK), EC_COMPLETE);
  ASSERT_EQ(control_->Stop(), S_OK);
  EXPECT_FALSE(renderers_[0]->IsEndOfStream());
  ASSERT_EQ(control_->Run(), S_OK);
  // Wine's graph never resets its completion signal, so WaitForCompletion would answer S_OK from
  // now on; but it drops queued completions at Run, so a new one would show in the queue.
  long code = 0;
  LONG_PTR first = 0;
  LONG_PTR second = 0;
  while (events_->GetEvent(&code, &first, &second, 0) == S_OK) EXPECT_NE(code, EC_COMPLETE);
}

// Wine's graph manager counts as renderers the filters with IMediaPosition (or seeking in media
// time) and no output pin, and completes once each of them has sent EC_COMPLETE.
TEST_F(RendererBase, GraphCompletesOnlyWhenEveryRendererEnded) {
  Build(3);
  // A plain filter has no position interfaces: the graph does not wait for it.
  ComPtr<ProbeFilter> plain(new ProbeFilter());
  ComPtr<PushSource> other(new PushSource({PushPinType(MEDIATYPE_Video)}));
  ASSERT_EQ(graph_->AddFilter(plain.Get(), L"Plain"), S_OK);
  ASSERT_EQ(graph_->AddFilter(other.Get(), L"Other"), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(other->Pin(0), &plain->InputPin(), nullptr), S_OK);

  ASSERT_EQ(control_->Run(), S_OK);
  EXPECT_EQ(source_->DeliverEndOfStream(0), S_OK);
  WaitForCompletion(100, E_ABORT);
  std::vector<std::thread> streaming;
  for (size_t pin = 1; pin < 3; ++pin) {
    streaming.emplace_back([this, pin] { EXPECT_EQ(source_->DeliverEndOfStream(pin), S_OK); });
  }
  EXPECT_EQ(WaitForCompletion(5000, S_OK), EC_COMPLETE);
  for (auto& thread : streaming) thread.join();
  ASSERT_EQ(control_->Stop(), S_OK);
}

TEST_F(RendererBase, UnconnectedRendererCompletesAtRun) {
  ComPtr<IFilterGraph2> graph = NewGraph();
  ComPtr<ProbeRenderer> renderer(new ProbeRenderer());
  ASSERT_EQ(graph->AddFilter(renderer.Get(), L"Alone"), S_OK);
  ASSERT_EQ(Control(graph.Get())->Run(), S_OK);
  long code = 0;
  EXPECT_EQ(Events(graph.Get())->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  ASSERT_EQ(Control(graph.Get())->Stop(), S_OK);
}

}  // namespace
}  // namespace kavo::test
