// The player against the stand-in source filter in Wine's real filter graph manager.
#include "player/player.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "filters/dummy_render_filter.h"
#include "player/pins.h"
#include "standin_client.h"

namespace kavo {
namespace {

using Microsoft::WRL::ComPtr;
using test::CanonicalAddress;
using test::Catalog;
using test::CatalogVideo;
using test::PatternBytes;
using test::StandIn;

// The graph a filter has joined, or null.
ComPtr<IFilterGraph> GraphOf(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (!filter || FAILED(filter->QueryFilterInfo(&info))) return nullptr;
  ComPtr<IFilterGraph> graph;
  graph.Attach(info.pGraph);  // mingw's Attach adds a reference: drop the one QueryFilterInfo gave
  if (info.pGraph) info.pGraph->Release();
  return graph;
}

ComPtr<IBaseFilter> FilterNamed(IFilterGraph* graph, const wchar_t* name) {
  ComPtr<IBaseFilter> filter;
  if (graph) graph->FindFilterByName(name, filter.GetAddressOf());
  return filter;
}

std::string ReadAll(IAsyncReader* reader) {
  LONGLONG total = 0;
  LONGLONG available = 0;
  reader->Length(&total, &available);
  std::string bytes(static_cast<size_t>(total), '\0');
  if (total &&
      FAILED(reader->SyncRead(0, static_cast<LONG>(total), reinterpret_cast<BYTE*>(&bytes[0]))))
    return {};
  return bytes;
}

// A player that supplies none of the steps a concrete player must supply.
class BarePlayer : public DsPlayerBase {
 public:
  int prepared = 0;

 protected:
  HRESULT PrepareBuild(const std::wstring& address) override {
    ++prepared;
    return DsPlayerBase::PrepareBuild(address);
  }
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::EnsureStandInRegistered());
    StandIn::Reset();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    container_ = PatternBytes(100000, 1);
    audio_ = PatternBytes(30000, 2);
    ASSERT_TRUE(catalog_.Add(CatalogVideo("clip").Container(container_).Audio(audio_)));
    ASSERT_TRUE(catalog_.Add(CatalogVideo("mute").Container(container_)));
  }
  void TearDown() override {
    EXPECT_EQ(StandIn::LiveObjects(), 0) << "stand-in objects outlived the player";
    CoUninitialize();
  }

  PlayerHandle Opened(const std::string& id, HRESULT expected = S_OK) {
    PlayerHandle player(new Player());
    EXPECT_EQ(player->Open(CanonicalAddress(id)), expected);
    return player;
  }

  Catalog catalog_;
  std::string container_, audio_;
};

TEST_F(PlayerTest, BuildsSourceAndRenderWithTheMainPinConnected) {
  const PlayerHandle player = Opened("clip");
  const ComPtr<IBaseFilter> source = player->GetSourceFilter();
  const ComPtr<IFilterGraph> graph = GraphOf(source.Get());
  ASSERT_TRUE(graph);
  EXPECT_EQ(FilterNamed(graph.Get(), L"Source"), source);
  const ComPtr<IBaseFilter> render = FilterNamed(graph.Get(), L"Render");
  ASSERT_TRUE(render);

  ComPtr<IPin> output, peer;
  ASSERT_EQ(FindPin(source.Get(), PINDIR_OUTPUT, 0, output.GetAddressOf()), S_OK);
  ASSERT_EQ(output->ConnectedTo(peer.GetAddressOf()), S_OK);
  PIN_INFO info{};
  ASSERT_EQ(peer->QueryPinInfo(&info), S_OK);
  EXPECT_STREQ(info.achName, L"Input");
  EXPECT_EQ(info.pFilter, render.Get());
  if (info.pFilter) info.pFilter->Release();

  // The audio pin stays unconnected.
  ComPtr<IPin> second, none;
  ASSERT_EQ(FindPin(source.Get(), PINDIR_OUTPUT, 1, second.GetAddressOf()), S_OK);
  EXPECT_EQ(second->ConnectedTo(none.GetAddressOf()), VFW_E_NOT_CONNECTED);
}

TEST_F(PlayerTest, ReadersDeliverTheCatalogFilesExactly) {
  const PlayerHandle player = Opened("clip");
  const ComPtr<IAsyncReader> main = player->GetStreamReader(0);
  const ComPtr<IAsyncReader> audio = player->GetStreamReader(1);
  ASSERT_TRUE(main);
  ASSERT_TRUE(audio);
  EXPECT_EQ(ReadAll(main.Get()), container_);
  EXPECT_EQ(ReadAll(audio.Get()), audio_);
  EXPECT_TRUE(player->HasSecondStream());
  EXPECT_FALSE(player->GetStreamReader(2));
}

TEST_F(PlayerTest, WithoutAudioFileThereIsNoSecondStream) {
  const PlayerHandle player = Opened("mute");
  EXPECT_FALSE(player->HasSecondStream());
  EXPECT_FALSE(player->GetStreamReader(1));
  EXPECT_TRUE(player->GetStreamReader(0));
}

TEST_F(PlayerTest, SecondOpenIsUnexpectedAndKeepsTheApartmentBalanced) {
  const PlayerHandle player = Opened("clip");
  EXPECT_EQ(player->Open(CanonicalAddress("clip")), E_UNEXPECTED);
  // The open's own bracket was balanced both times: one uninitialize leaves this thread clean.
  CoUninitialize();
  const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_EQ(result, S_OK);
  if (SUCCEEDED(result)) CoUninitialize();
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
}

TEST_F(PlayerTest, OpenOnAThreadWithoutComStillBalancesItsBracket) {
  std::thread([&] {
    {
      const PlayerHandle player = Opened("clip");
      EXPECT_TRUE(player->GetStreamReader(0));
    }
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(result, S_OK);
    if (SUCCEEDED(result)) CoUninitialize();
  }).join();
}

TEST_F(PlayerTest, SourceWithoutFileSourceNeverJoinsTheGraph) {
  StandIn::SetHiddenInterfaces(StandIn::kFileSource);
  const PlayerHandle player = Opened("clip", E_NOINTERFACE);
  ASSERT_TRUE(player->GetSourceFilter());
  EXPECT_FALSE(GraphOf(player->GetSourceFilter().Get()));
}

TEST_F(PlayerTest, FailedLoadIsReturnedAndTheSourceStaysOut) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("broken").Fault("load = 0x80070002")));
  const PlayerHandle player = Opened("broken", HRESULT(0x80070002));
  EXPECT_FALSE(GraphOf(player->GetSourceFilter().Get()));
}

TEST_F(PlayerTest, UncreatableSourceFailsWithItsCode) {
  StandIn::SetCreateFailure(E_ACCESSDENIED);
  const PlayerHandle player = Opened("clip", E_ACCESSDENIED);
  EXPECT_FALSE(player->GetSourceFilter());
}

TEST_F(PlayerTest, ADerivedPlayerMustSupplyTheSourceStep) {
  BarePlayer player;
  EXPECT_EQ(player.Open(CanonicalAddress("clip")), E_NOTIMPL);
  EXPECT_EQ(player.prepared, 1);
}

TEST_F(PlayerTest, MainPinWithoutStreamTypeIsRefusedByTheRenderer) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("video").Fault("container_type = video")));
  PlayerHandle player(new Player());
  EXPECT_TRUE(FAILED(player->Open(CanonicalAddress("video"))));
  // Half built: the source joined, the connection failed. Destruction releases all of it.
  EXPECT_TRUE(GraphOf(player->GetSourceFilter().Get()));
  player.reset();
  EXPECT_EQ(StandIn::LiveObjects(), 0);
}

TEST_F(PlayerTest, MainPinWithoutReaderStillBuildsButHandsOutNoReader) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("noreader").Fault("no_async_reader Container")));
  const PlayerHandle player = Opened("noreader");
  EXPECT_FALSE(player->GetStreamReader(0));
}

TEST_F(PlayerTest, PinNumberingIgnoresInputPinsAndPinsWithoutDirection) {
  ASSERT_TRUE(catalog_.Add(CatalogVideo("odd")
                               .Container(container_)
                               .Audio(audio_)
                               .Fault("input_pin_first")
                               .Fault("query_direction")));
  const PlayerHandle player = Opened("odd");
  EXPECT_EQ(ReadAll(player->GetStreamReader(0).Get()), container_);
  EXPECT_EQ(ReadAll(player->GetStreamReader(1).Get()), audio_);
}

TEST_F(PlayerTest, StreamTypeOfferedThirdStillMakesASecondStream) {
  ASSERT_TRUE(catalog_.Add(
      CatalogVideo("third").Container(container_).Audio(audio_).Fault("audio_stream_third")));
  EXPECT_TRUE(Opened("third")->HasSecondStream());
}

TEST_F(PlayerTest, FindPinArguments) {
  const PlayerHandle player = Opened("clip");
  const ComPtr<IBaseFilter> source = player->GetSourceFilter();
  IPin* pin = reinterpret_cast<IPin*>(0x1);
  EXPECT_EQ(FindPin(nullptr, PINDIR_OUTPUT, 0, &pin), E_POINTER);
  EXPECT_EQ(FindPin(source.Get(), PINDIR_OUTPUT, 0, nullptr), E_POINTER);
  EXPECT_EQ(FindPin(source.Get(), PINDIR_OUTPUT, 7, &pin), E_FAIL);
  EXPECT_EQ(pin, nullptr);
  EXPECT_EQ(FindPin(source.Get(), PINDIR_INPUT, 0, &pin), E_FAIL);
  EXPECT_EQ(FirstInputPin(source.Get()), nullptr);
}

TEST_F(PlayerTest, GraphPausesRunsAndStopsWithTheRendererConnected) {
  const PlayerHandle player = Opened("clip");
  const ComPtr<IFilterGraph> graph = GraphOf(player->GetSourceFilter().Get());
  const ComPtr<IBaseFilter> render = FilterNamed(graph.Get(), L"Render");
  ComPtr<IMediaControl> control;
  ASSERT_EQ(graph.As(&control), S_OK);
  EXPECT_TRUE(SUCCEEDED(control->Pause()));
  EXPECT_TRUE(SUCCEEDED(control->Run()));
  FILTER_STATE state = State_Stopped;
  EXPECT_EQ(render->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  // A pull-mode source never hands the renderer's pin an allocator: its deactivation says so,
  // and the renderer is stopped all the same.
  EXPECT_EQ(render->Stop(), VFW_E_NO_ALLOCATOR);
  EXPECT_EQ(render->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  control->Stop();
}

// A reader pin completes a connection only for a peer that asked it for its reader while
// connecting, as the platform's async reader pins do: the player's renderer must ask.
TEST_F(PlayerTest, TheMainPinConnectsOnlyForARendererThatAsksForItsReader) {
  for (const bool asks : {false, true}) {
    ComPtr<IBaseFilter> source;
    ASSERT_EQ(CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                               reinterpret_cast<void**>(source.GetAddressOf())),
              S_OK);
    ComPtr<IFileSourceFilter> file;
    ASSERT_EQ(source.As(&file), S_OK);
    ASSERT_EQ(file->Load(CanonicalAddress("clip").c_str(), nullptr), S_OK);
    ComPtr<IFilterGraph> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IFilterGraph,
                               reinterpret_cast<void**>(graph.GetAddressOf())),
              S_OK);
    ComPtr<DsDummyRenderFilter> render(new DsDummyRenderFilter());
    render->acceptedMajorTypes = {MEDIATYPE_Stream};
    render->queryReaderOnConnect = asks;
    ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(render.Get(), L"Render"), S_OK);
    ComPtr<IPin> output;
    ASSERT_EQ(FindPin(source.Get(), PINDIR_OUTPUT, 0, output.GetAddressOf()), S_OK);
    EXPECT_EQ(graph->ConnectDirect(output.Get(), FirstInputPin(render.Get()), nullptr),
              asks ? S_OK : VFW_E_NO_TRANSPORT);
    ComPtr<IPin> peer;
    EXPECT_EQ(output->ConnectedTo(peer.GetAddressOf()), asks ? S_OK : VFW_E_NOT_CONNECTED);
    EXPECT_EQ(render->GetPin(0)->IsConnected(), asks);
  }
}

// The host's own threads call the filter without entering COM: while a player lives they are in
// the process's multithreaded apartment all the same.
TEST_F(PlayerTest, APlayerKeepsTheMultithreadedApartmentForThreadsOutsideCom) {
  const auto apartment = [] {
    HRESULT result = E_FAIL;
    std::thread([&] {
      APTTYPE type;
      APTTYPEQUALIFIER qualifier;
      result = CoGetApartmentType(&type, &qualifier);
      if (SUCCEEDED(result) && (type != APTTYPE_MTA || qualifier != APTTYPEQUALIFIER_IMPLICIT_MTA))
        result = E_UNEXPECTED;
    }).join();
    return result;
  };
  ASSERT_EQ(apartment(), CO_E_NOTINITIALIZED) << "another multithreaded apartment is up";
  auto player = std::make_unique<Player>();
  EXPECT_EQ(apartment(), S_OK);
  player.reset();
  EXPECT_EQ(apartment(), CO_E_NOTINITIALIZED);
}

TEST_F(PlayerTest, CloseReleasesTheSourceAndTheGraph) {
  const PlayerHandle player = Opened("clip");
  player->Close();
  EXPECT_FALSE(player->GetSourceFilter());
  EXPECT_EQ(StandIn::LiveObjects(), 0);
}

}  // namespace
}  // namespace kavo
