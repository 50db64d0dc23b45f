// Subtitle renderers on the stand-in's subtitle pins in Wine's real graph manager: which attempt
// decides the result of Open, what the graph holds afterwards, which files a wait collects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include "filters/subtitle_renderer.h"
#include "player/pins.h"
#include "player/player.h"
#include "standin_client.h"
#include "task_memory_spy.h"

namespace kavo {
namespace {

using Microsoft::WRL::ComPtr;
using test::CanonicalAddress;
using test::Catalog;
using test::CatalogTrack;
using test::CatalogVideo;
using test::StandIn;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using Clock = std::chrono::steady_clock;

// Long enough for any track here that ends; the wait ends with the last of them.
constexpr DWORD kWaitMs = 10000;

// One of the graph's subtitle renderers, with the name of the source pin it is connected to
// (empty when unconnected).
struct AttachedRenderer {
  ComPtr<IBaseFilter> filter;
  std::wstring name;
  std::wstring sourcePin;
};

ComPtr<IFilterGraph> GraphOf(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (!filter || FAILED(filter->QueryFilterInfo(&info)) || !info.pGraph) return nullptr;
  ComPtr<IFilterGraph> graph(info.pGraph);
  info.pGraph->Release();
  return graph;
}

std::wstring PeerPinName(IPin* pin) {
  ComPtr<IPin> peer;
  if (!pin || pin->ConnectedTo(peer.GetAddressOf()) != S_OK) return {};
  PIN_INFO info{};
  if (FAILED(peer->QueryPinInfo(&info))) return {};
  if (info.pFilter) info.pFilter->Release();
  return info.achName;
}

// Wine's graph manager gives a filter added under a name already taken a name of its own
// ("SubsRenderer 0001", answering VFW_S_DUPLICATE_NAME), so the renderers are found by prefix.
std::vector<AttachedRenderer> SubtitleRenderers(const Player& player) {
  std::vector<AttachedRenderer> found;
  const ComPtr<IFilterGraph> graph = GraphOf(player.GetSourceFilter().Get());
  ComPtr<IEnumFilters> filters;
  if (!graph || FAILED(graph->EnumFilters(filters.GetAddressOf()))) return found;
  for (ComPtr<IBaseFilter> filter;
       filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK;) {
    FILTER_INFO info{};
    filter->QueryFilterInfo(&info);
    if (info.pGraph) info.pGraph->Release();
    const std::wstring name = info.achName;
    if (name.rfind(L"SubsRenderer", 0) != 0) continue;
    found.push_back({filter, name, PeerPinName(FirstInputPin(filter.Get()))});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.sourcePin.empty() != b.sourcePin.empty() ? !a.sourcePin.empty()
                                                      : a.sourcePin < b.sourcePin;
  });
  return found;
}

std::vector<std::wstring> SourcePins(const std::vector<AttachedRenderer>& renderers) {
  std::vector<std::wstring> pins;
  for (const auto& renderer : renderers) pins.push_back(renderer.sourcePin);
  return pins;
}

// True for "<temporary folder>durud_subs" + decimal counter + "." + suffix.
bool IsSubtitleFile(const std::wstring& path, const std::wstring& suffix) {
  wchar_t folder[MAX_PATH * 4];
  const std::wstring prefix =
      std::wstring(folder, GetTempPathW(MAX_PATH * 4, folder)) + L"durud_subs";
  const std::wstring tail = L"." + suffix;
  if (path.size() <= prefix.size() + tail.size() || path.compare(0, prefix.size(), prefix) != 0 ||
      path.compare(path.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  const std::wstring counter =
      path.substr(prefix.size(), path.size() - prefix.size() - tail.size());
  return counter.find_first_not_of(L"-0123456789") == std::wstring::npos && !counter.empty();
}

class SubtitleAttachment : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::EnsureStandInRegistered());
    StandIn::Reset();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  }
  void TearDown() override {
    EXPECT_EQ(StandIn::LiveObjects(), 0) << "stand-in objects outlived the player";
    CoUninitialize();
  }

  PlayerHandle Opened(const CatalogVideo& video, HRESULT* result) {
    EXPECT_TRUE(catalog_.Add(video));
    PlayerHandle player(new Player());
    *result = player->Open(CanonicalAddress(video.id));
    return player;
  }

  Catalog catalog_;
};

// A pin that offers its subtitle type twice: the first offer gets a connected renderer, the second
// a renderer that joins the graph but cannot connect to the taken pin.
CatalogTrack TwiceOffered(const std::string& name) {
  return CatalogTrack(name).Cue(0, 100, name).Line("extra_type");
}

TEST_F(SubtitleAttachment, AFailedAttemptFollowedByASuccessfulOneStillOpens) {
  HRESULT result = E_FAIL;
  PlayerHandle player =
      Opened(CatalogVideo("v").Track(TwiceOffered("A")).Track(CatalogTrack("B").Cue(0, 100, "B")),
             &result);
  EXPECT_EQ(result, S_OK);
  {
    const auto renderers = SubtitleRenderers(*player);
    EXPECT_THAT(SourcePins(renderers), ElementsAre(L"Subtitle 1", L"Subtitle 2", L""));
  }
  // Only the connected renderers were kept: two files, in pin order.
  std::vector<std::wstring> files;
  player->GetSubtitleFiles(files, kWaitMs);
  ASSERT_THAT(files, SizeIs(2));
  EXPECT_TRUE(IsSubtitleFile(files[0], L"A.srt"));
  EXPECT_TRUE(IsSubtitleFile(files[1], L"B.srt"));
}

TEST_F(SubtitleAttachment, ASuccessfulAttemptFollowedByAFailedOneFailsOpen) {
  HRESULT result = S_OK;
  PlayerHandle player =
      Opened(CatalogVideo("v").Track(CatalogTrack("A").Cue(0, 100, "A")).Track(TwiceOffered("B")),
             &result);
  // The connection refused by the taken pin is the result, unchanged.
  EXPECT_EQ(result, VFW_E_ALREADY_CONNECTED);
  const auto renderers = SubtitleRenderers(*player);
  EXPECT_THAT(SourcePins(renderers), ElementsAre(L"Subtitle 1", L"Subtitle 2", L""));
}

TEST_F(SubtitleAttachment, ATypeWithAFormatBlockOfAnotherSizeIsSkipped) {
  HRESULT result = E_FAIL;
  PlayerHandle player =
      Opened(CatalogVideo("v")
                 .Track(CatalogTrack("Short").Cue(0, 100, "x").Line("format_size = 519"))
                 .Track(CatalogTrack("Whole").Cue(0, 100, "y")),
             &result);
  EXPECT_EQ(result, S_OK);
  EXPECT_THAT(SourcePins(SubtitleRenderers(*player)), ElementsAre(L"Subtitle 2"));
  std::vector<std::wstring> files;
  player->GetSubtitleFiles(files, kWaitMs);
  ASSERT_THAT(files, SizeIs(1));
  EXPECT_TRUE(IsSubtitleFile(files[0], L"Whole.srt"));
}

TEST_F(SubtitleAttachment, FileNamesComeFromTheTrackNameOrElseItsLanguage) {
  HRESULT result = E_FAIL;
  PlayerHandle player = Opened(CatalogVideo("v")
                                   .Track(CatalogTrack("", "eng").Cue(0, 1, "a"))
                                   .Track(CatalogTrack("", "").Cue(0, 1, "b"))
                                   .Track(CatalogTrack("Name", "de").Cue(0, 1, "c")),
                               &result);
  ASSERT_EQ(result, S_OK);
  std::vector<std::wstring> files;
  player->GetSubtitleFiles(files, kWaitMs);
  ASSERT_THAT(files, SizeIs(3));
  EXPECT_TRUE(IsSubtitleFile(files[0], L"eng.srt"));
  EXPECT_TRUE(IsSubtitleFile(files[1], L"srt"));
  EXPECT_TRUE(IsSubtitleFile(files[2], L"Name.srt"));
}

std::string FileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A pin that lists plain text before the subtitle type, and writes each cue as a whole SRT entry
// when connected with it: the renderer is connected with the type it was chosen for.
TEST_F(SubtitleAttachment, APinOfferingTextFirstIsConnectedWithTheSubtitleType) {
  HRESULT result = E_FAIL;
  PlayerHandle player =
      Opened(CatalogVideo("v")
                 .Track(CatalogTrack("T").Cue(0, 1500, "Hello").Cue(2000, 3000, "two\nlines"))
                 .Fault("subtitle_other_type_first"),
             &result);
  ASSERT_EQ(result, S_OK);
  std::vector<std::wstring> files;
  player->GetSubtitleFiles(files, kWaitMs);
  ASSERT_THAT(files, SizeIs(1));
  EXPECT_EQ(FileBytes(files[0]),
            "1\n00:00:00,000 --> 00:00:01,500\nHello\n\n"
            "2\n00:00:02,000 --> 00:00:03,000\ntwo\nlines\n\n");
}

// A source whose pins change while they are walked (its first enumerator falls out of step after
// the stray input pin): every walk starts over, and every track is found.
TEST_F(SubtitleAttachment, EveryTrackIsFoundWhenAPinWalkFallsOutOfStep) {
  HRESULT result = E_FAIL;
  PlayerHandle player = Opened(CatalogVideo("v")
                                   .Track(CatalogTrack("A").Cue(0, 1, "a"))
                                   .Track(CatalogTrack("B").Cue(0, 1, "b"))
                                   .Fault("input_pin_first")
                                   .Fault("enum_out_of_sync_once"),
                               &result);
  ASSERT_EQ(result, S_OK);
  EXPECT_THAT(SourcePins(SubtitleRenderers(*player)), ElementsAre(L"Subtitle 1", L"Subtitle 2"));
}

// Each renderer hands its path over as a string the player must free. The platform keeps freed
// strings for reuse, so the allocator sees them go only once that cache is off.
TEST_F(SubtitleAttachment, EveryPathStringGoesBack) {
  test::TaskMemorySpy* const spy = test::TaskMemorySpy::Registered();
  ASSERT_NE(spy, nullptr);
  // The string cache's switch (as OANOCACHE is at start-up): exported by the automation library
  // but declared by no header, and missing from mingw's 32-bit import library, so looked up.
  using SetOaNoCacheFunction = void(WINAPI*)();
  const auto setOaNoCache = reinterpret_cast<SetOaNoCacheFunction>(
      GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache"));
  ASSERT_NE(setOaNoCache, nullptr);
  setOaNoCache();
  HRESULT result = E_FAIL;
  PlayerHandle player = Opened(CatalogVideo("v")
                                   .Track(CatalogTrack("One").Cue(0, 1, "a"))
                                   .Track(CatalogTrack("Two").Cue(0, 1, "b")),
                               &result);
  ASSERT_EQ(result, S_OK);
  spy->Reset();
  std::vector<std::wstring> files;
  player->GetSubtitleFiles(files, kWaitMs);
  ASSERT_THAT(files, SizeIs(2));
  for (const auto& path : files) EXPECT_FALSE(spy->OutstandingBlockHolds(path));
}

// The wait a caller asks for is bounded: a stream that has not ended by then has no file, its
// renderer says so, and it comes back as pending.
TEST_F(SubtitleAttachment, AStreamThatNeverEndsIsLeftOutAfterTheWait) {
  HRESULT result = E_FAIL;
  PlayerHandle player = Opened(CatalogVideo("v")
                                   .Track(CatalogTrack("Ends").Cue(0, 100, "a"))
                                   .Track(CatalogTrack("Endless").Cue(0, 100, "b").NeverEnds()),
                               &result);
  ASSERT_EQ(result, S_OK);
  std::vector<std::wstring> files;
  const auto start = Clock::now();
  const PendingSubtitles pending = player->GetSubtitleFiles(files, 1000);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GT(seconds, 0.5);
  EXPECT_LT(seconds, 5.0);
  ASSERT_THAT(files, SizeIs(1));
  EXPECT_TRUE(IsSubtitleFile(files[0], L"Ends.srt"));
  EXPECT_EQ(pending.size(), 1u) << "the endless track is left to a waiter";

  const auto renderers = SubtitleRenderers(*player);
  ASSERT_THAT(SourcePins(renderers), ElementsAre(L"Subtitle 1", L"Subtitle 2"));
  ComPtr<ISubtitleRenderer> endless;
  ASSERT_EQ(renderers[1].filter->QueryInterface(IID_ISubtitleRenderer,
                                                reinterpret_cast<void**>(endless.GetAddressOf())),
            S_OK);
  BSTR path = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(endless->GetFilePath(&path), VFW_E_NOT_FOUND);
  EXPECT_EQ(path, nullptr);
}

// Without a connected subtitle renderer nothing is waited for, yet the graph runs: a source filter
// may start its work only once the graph has left the stopped state.
TEST_F(SubtitleAttachment, WithoutSubtitlePinsTheGraphRunsAndNothingIsWaitedFor) {
  HRESULT result = E_FAIL;
  PlayerHandle player = Opened(CatalogVideo("v"), &result);
  ASSERT_EQ(result, S_OK);
  EXPECT_THAT(SubtitleRenderers(*player), IsEmpty());
  std::vector<std::wstring> files;
  const auto start = Clock::now();
  const PendingSubtitles pending = player->GetSubtitleFiles(files, kWaitMs);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 0.5);
  EXPECT_THAT(files, IsEmpty());
  EXPECT_TRUE(pending.empty());
  ComPtr<IMediaControl> control;
  ASSERT_EQ(GraphOf(player->GetSourceFilter().Get()).As(&control), S_OK);
  OAFilterState state = State_Stopped;
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
}

}  // namespace
}  // namespace kavo
