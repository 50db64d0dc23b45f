// The subtitle renderer fed by a push source in the platform's filter graph manager: cues from
// samples, the SRT file written at end of stream, the path handed out, and the file's lifetime.
#include "filters/subtitle_renderer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/doubles/push_source/push_source.h"
#include "tests/doubles/push_source/test_graph.h"

namespace kavo {
namespace {

using Microsoft::WRL::ComPtr;
using test::PushPinType;
using test::PushSource;
using test::RefCount;

std::wstring TempFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, folder);
  return folder;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileBytes(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes(1 << 16, '\0');
  DWORD read = 0;
  ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

// The subtitle files in the temporary folder whose names end in "." + suffix.
std::vector<std::wstring> FilesEndingIn(const std::wstring& suffix) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW data;
  const std::wstring folder = TempFolder();
  const HANDLE search = FindFirstFileW((folder + L"durud_subs*." + suffix).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    found.push_back(folder + data.cFileName);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return found;
}

// A track name no earlier run has used, so that leftovers never match.
std::wstring FreshName(const wchar_t* stem) {
  static int serial = 0;
  return stem + std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++serial);
}

class SubtitleRenderer : public test::GraphTest {
 protected:
  // A push source whose pin i feeds a renderer for track names[i]; the graph is left running.
  void Build(const std::vector<std::wstring>& names) {
    graph_ = NewGraph();
    source_ = new PushSource(std::vector<PushPinType>(names.size(), PushPinType(MEDIATYPE_Text)));
    ASSERT_EQ(graph_->AddFilter(source_.Get(), L"Source"), S_OK);
    for (size_t i = 0; i < names.size(); ++i) {
      HRESULT result = S_OK;
      renderers_.emplace_back(new CSubtitleRenderer(&result, names[i], CMediaType(MEDIATYPE_Text)));
      ASSERT_EQ(result, S_OK);
      // The graph renames the second and later ones (VFW_S_DUPLICATE_NAME).
      ASSERT_TRUE(SUCCEEDED(graph_->AddFilter(renderers_[i].Get(), L"SubsRenderer")));
      ASSERT_EQ(graph_->ConnectDirect(source_->Pin(i), renderers_[i]->GetPin(0), nullptr), S_OK);
    }
    ASSERT_EQ(Control(graph_.Get())->Run(), S_OK);
  }

  void Deliver(const std::string& text, REFERENCE_TIME start, REFERENCE_TIME stop) {
    EXPECT_EQ(source_->Deliver(0, text, start, stop), S_OK);
  }

  // Ends stream 0, then takes the end back so that more samples may follow.
  void EndAndRestart() {
    ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);
    ASSERT_EQ(source_->DeliverBeginFlush(0), S_OK);
    ASSERT_EQ(source_->DeliverEndFlush(0), S_OK);
  }

  static HRESULT FilePath(CSubtitleRenderer* renderer, std::wstring* path) {
    BSTR value = nullptr;
    const HRESULT hr = renderer->GetFilePath(&value);
    if (value) path->assign(value, SysStringLen(value));
    SysFreeString(value);
    return hr;
  }

  // Stops the graph and lets go of it, its source and its renderers.
  void ReleaseGraph() {
    if (graph_.Get()) Control(graph_.Get())->Stop();
    renderers_.clear();
    source_.Reset();
    graph_.Reset();
  }

  void TearDown() override {
    ReleaseGraph();
    GraphTest::TearDown();
  }

  ComPtr<IFilterGraph2> graph_;
  ComPtr<PushSource> source_;
  std::vector<ComPtr<CSubtitleRenderer>> renderers_;
};

TEST_F(SubtitleRenderer, AnswersItsOwnInterfaceBesideTheRenderers) {
  HRESULT result = S_OK;
  ComPtr<IBaseFilter> filter(new CSubtitleRenderer(&result, L"en", CMediaType(MEDIATYPE_Text)));
  EXPECT_EQ(RefCount(filter.Get()), 1u);
  const IID expected[] = {IID_IUnknown,       IID_IPersist,         IID_IMediaFilter,
                          IID_IBaseFilter,    IID_IAMovieSetup,     IID_IMediaSeeking,
                          IID_IMediaPosition, IID_ISubtitleRenderer};
  for (const IID& iid : expected) {
    ComPtr<IUnknown> itf;
    EXPECT_EQ(filter->QueryInterface(iid, &itf), S_OK);
  }
  ComPtr<IUnknown> refused;
  EXPECT_EQ(filter->QueryInterface(IID_IPin, &refused), E_NOINTERFACE);
  ComPtr<ISubtitleRenderer> subtitles;
  ASSERT_EQ(filter.As(&subtitles), S_OK);
  ComPtr<IBaseFilter> back;
  ASSERT_EQ(subtitles->QueryInterface(IID_IBaseFilter, &back), S_OK);
  EXPECT_EQ(back.Get(), filter.Get());
  EXPECT_EQ(RefCount(filter.Get()), 3u);
  back.Reset();
  subtitles.Reset();
  CLSID clsid;
  ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_SubtitleRenderer);
  EXPECT_EQ(RefCount(filter.Get()), 1u);
}

TEST_F(SubtitleRenderer, MakesOneCuePerReadableSample) {
  Build({FreshName(L"cues")});
  Deliver("hello", 12345678, 45678901);
  Deliver("before", -15000, 0);
  Deliver("instant", 30000000, 30000000);
  Deliver("", 40000000, 50000000);
  EXPECT_EQ(source_->Deliver(0, "untimed", nullptr, nullptr), S_OK);
  // A start without a stop is still a time: the platform answers with a stop just after it.
  const REFERENCE_TIME start = 20000000;
  EXPECT_EQ(source_->Deliver(0, "no stop", &start, nullptr), S_OK);
  Deliver("caf\xC3\xA9", 0, 10000);
  // Each byte that is not UTF-8 stands for itself; the rest of the cue stays.
  Deliver("a\xFF b\xE2\x82 c", 0, 10000);

  const std::vector<SrtCue> cues = renderers_[0]->Cues();
  ASSERT_EQ(cues.size(), 6u);
  EXPECT_EQ(cues[0].start_ms, 1234);
  EXPECT_EQ(cues[0].duration_ms, 3333);
  EXPECT_EQ(cues[0].text, L"hello");
  EXPECT_EQ(cues[1].start_ms, -1);
  EXPECT_EQ(cues[1].duration_ms, 1);
  EXPECT_EQ(cues[2].duration_ms, 0);
  EXPECT_EQ(cues[3].start_ms, 2000);
  EXPECT_EQ(cues[3].duration_ms, 0);
  EXPECT_EQ(cues[4].text, std::wstring(L"caf") + wchar_t(0x00E9));
  EXPECT_EQ(cues[5].text, std::wstring({L'a', 0xFFFD, L' ', L'b', 0xFFFD, 0xFFFD, L' ', L'c'}));
}

TEST_F(SubtitleRenderer, WritesTheCuesSortedByStartAsUtf8WithLineFeeds) {
  const std::wstring name = FreshName(L"sorted");
  Build({name});
  Deliver("five", 50000000, 55000000);
  Deliver("one", 10000000, 15000000);
  Deliver("three \xE2\x82\xAC", 30000000, 35000000);
  ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);

  std::wstring path;
  ASSERT_EQ(FilePath(renderers_[0].Get(), &path), S_OK);
  EXPECT_EQ(ReadFileBytes(path),
            "1\n00:00:01,000 --> 00:00:01,500\none\n\n"
            "2\n00:00:03,000 --> 00:00:03,500\nthree \xE2\x82\xAC\n\n"
            "3\n00:00:05,000 --> 00:00:05,500\nfive\n\n");
  const std::vector<SrtCue> cues = renderers_[0]->Cues();
  ASSERT_EQ(cues.size(), 3u);
  EXPECT_EQ(cues[0].text, L"five");
  EXPECT_EQ(cues[1].text, L"one");

  // Straight in the temporary folder, named after the track.
  EXPECT_EQ(ParentFolder(path), TempFolder());
  const std::wstring fileName = path.substr(TempFolder().size());
  EXPECT_EQ(fileName.rfind(L"durud_subs", 0), 0u);
  EXPECT_EQ(fileName.substr(fileName.size() - name.size() - 5), L"." + name + L".srt");
}

TEST_F(SubtitleRenderer, WithoutCuesWritesNothing) {
  const std::wstring name = FreshName(L"empty");
  Build({name});
  Deliver("", 0, 10000);
  EXPECT_EQ(renderers_[0]->GetWriteResult(), VFW_E_NOT_FOUND);  // no end of stream yet
  ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);
  EXPECT_EQ(renderers_[0]->GetWriteResult(), S_FALSE);
  std::wstring path;
  EXPECT_EQ(FilePath(renderers_[0].Get(), &path), VFW_E_NOT_FOUND);
  EXPECT_TRUE(FilesEndingIn(name + L".srt").empty());
  EXPECT_EQ(renderers_[0]->GetFilePath(nullptr), E_POINTER);
}

TEST_F(SubtitleRenderer, HandsOutTheSamePathAndKeepsTheFileBeyondTheRenderer) {
  Build({FreshName(L"kept")});
  Deliver("line", 0, 10000);
  ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);
  const size_t kept = KeptTempPathCount();
  std::wstring first;
  std::wstring second;
  ASSERT_EQ(FilePath(renderers_[0].Get(), &first), S_OK);
  ASSERT_EQ(FilePath(renderers_[0].Get(), &second), S_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(KeptTempPathCount(), kept + 2);
  ReleaseGraph();
  EXPECT_TRUE(FileExists(first));
}

TEST_F(SubtitleRenderer, FileNotHandedOutGoesWithTheRenderer) {
  const std::wstring name = FreshName(L"gone");
  Build({name});
  Deliver("line", 0, 10000);
  ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);
  ASSERT_EQ(FilesEndingIn(name + L".srt").size(), 1u);
  ReleaseGraph();
  EXPECT_TRUE(FilesEndingIn(name + L".srt").empty());
}

TEST_F(SubtitleRenderer, LaterEndOfStreamReplacesTheFileWithAllCues) {
  const std::wstring name = FreshName(L"again");
  Build({name});
  Deliver("first", 0, 10000);
  EndAndRestart();
  const std::vector<std::wstring> before = FilesEndingIn(name + L".srt");
  ASSERT_EQ(before.size(), 1u);
  Deliver("second", 20000, 30000);
  ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);

  std::wstring path;
  ASSERT_EQ(FilePath(renderers_[0].Get(), &path), S_OK);
  EXPECT_NE(path, before[0]);
  EXPECT_FALSE(FileExists(before[0]));
  EXPECT_EQ(ReadFileBytes(path),
            "1\n00:00:00,000 --> 00:00:00,001\nfirst\n\n"
            "2\n00:00:00,002 --> 00:00:00,003\nsecond\n\n");

  // A file already handed out outlives its replacement.
  ASSERT_EQ(source_->DeliverBeginFlush(0), S_OK);
  ASSERT_EQ(source_->DeliverEndFlush(0), S_OK);
  ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);
  std::wstring third;
  ASSERT_EQ(FilePath(renderers_[0].Get(), &third), S_OK);
  EXPECT_NE(third, path);
  EXPECT_TRUE(FileExists(path));
}

// Characters Windows refuses in a name become "_", as separators do, and a name that would take the
// path to MAX_PATH is shortened before its type; a name that could be written stays as it was.
TEST_F(SubtitleRenderer, NameThatNoFileCouldHoldStillGetsItsFile) {
  const std::wstring n = FreshName(L"n");
  const std::vector<std::wstring> names = {n + L"<\"?*\">|\t\x1f", n + L"Caf\u00e9 \U0001F600",
                                           n + std::wstring(300, L'x')};
  const std::vector<std::wstring> stored = {n + L"_________.srt", names[1] + L".srt", n + L"xx"};
  Build(names);
  for (size_t pin = 0; pin < names.size(); ++pin) {
    ASSERT_EQ(source_->Deliver(pin, "line", 0, 10000), S_OK);
    ASSERT_EQ(source_->DeliverEndOfStream(pin), S_OK);
    std::wstring path;
    ASSERT_EQ(FilePath(renderers_[pin].Get(), &path), S_OK) << pin;
    EXPECT_LT(path.size(), size_t{MAX_PATH});
    EXPECT_NE(path.find(L"." + stored[pin]), std::wstring::npos) << pin;
    EXPECT_EQ(path.substr(path.size() - 4), L".srt");
  }
}

TEST_F(SubtitleRenderer, SeparatorsInTheNameStayInsideTheTemporaryFolder) {
  const std::wstring stem = FreshName(L"a");
  Build({stem + L"/../b\\c"});
  Deliver("line", 0, 10000);
  ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);
  std::wstring path;
  ASSERT_EQ(FilePath(renderers_[0].Get(), &path), S_OK);
  EXPECT_EQ(ParentFolder(path), TempFolder());
  EXPECT_NE(path.find(L"." + stem + L"_.._b_c.srt"), std::wstring::npos);
  EXPECT_TRUE(FileExists(path));
}

TEST_F(SubtitleRenderer, ColonInTheNameWritesAPlainFile) {
  const std::wstring stem = FreshName(L"c");
  Build({stem + L":en"});
  Deliver("line", 0, 10000);
  ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);
  std::wstring path;
  ASSERT_EQ(FilePath(renderers_[0].Get(), &path), S_OK);
  EXPECT_EQ(ParentFolder(path), TempFolder());
  EXPECT_NE(path.find(L"." + stem + L"_en.srt"), std::wstring::npos);
  EXPECT_TRUE(FileExists(path));
}

// Tracks of one name that end at the same moment all find the same free name first.
TEST_F(SubtitleRenderer, RenderersEndingTogetherWriteDistinctFiles) {
  constexpr size_t kTracks = 8;
  Build(std::vector<std::wstring>(kTracks, FreshName(L"same")));
  for (size_t pin = 0; pin < kTracks; ++pin) {
    ASSERT_EQ(source_->Deliver(pin, "line " + std::to_string(pin), 0, 10000), S_OK);
  }
  const HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> streaming;
  for (size_t pin = 0; pin < kTracks; ++pin) {
    streaming.emplace_back([this, pin, start] {
      WaitForSingleObject(start, INFINITE);
      EXPECT_EQ(source_->DeliverEndOfStream(pin), S_OK);
    });
  }
  SetEvent(start);
  for (auto& thread : streaming) thread.join();
  CloseHandle(start);
  std::set<std::wstring> paths;
  for (size_t pin = 0; pin < kTracks; ++pin) {
    std::wstring path;
    ASSERT_EQ(FilePath(renderers_[pin].Get(), &path), S_OK) << "track " << pin;
    EXPECT_EQ(ReadFileBytes(path),
              "1\n00:00:00,000 --> 00:00:00,001\nline " + std::to_string(pin) + "\n\n");
    paths.insert(path);
  }
  EXPECT_EQ(paths.size(), kTracks);
}

TEST_F(SubtitleRenderer, GraphCompletesPromptlyWhenEveryStreamHasEnded) {
  Build({FreshName(L"done"), FreshName(L"done")});
  ComPtr<IMediaEvent> events = Events(graph_.Get());
  long code = 0;
  ASSERT_EQ(source_->DeliverEndOfStream(0), S_OK);
  EXPECT_EQ(events->WaitForCompletion(100, &code), E_ABORT);
  const auto begin = std::chrono::steady_clock::now();
  std::thread streaming([this] { EXPECT_EQ(source_->DeliverEndOfStream(1), S_OK); });
  EXPECT_EQ(events->WaitForCompletion(1000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1000));
  streaming.join();
}

TEST_F(SubtitleRenderer, FilePathIsSafeToAskWhileAnEndOfStreamReplacesIt) {
  Build({FreshName(L"race")});
  Deliver("line", 0, 10000);
  std::atomic<bool> done{false};
  std::thread streaming([&] {
    for (int round = 0; round < 20; ++round) EndAndRestart();
    done = true;
  });
  // Every path handed out is kept, so its file must exist whichever one it was.
  while (!done) {
    std::wstring path;
    const HRESULT hr = FilePath(renderers_[0].Get(), &path);
    if (hr == S_OK) {
      EXPECT_TRUE(FileExists(path));
    } else {
      EXPECT_EQ(hr, VFW_E_NOT_FOUND);
    }
  }
  streaming.join();
  std::wstring path;
  EXPECT_EQ(FilePath(renderers_[0].Get(), &path), S_OK);
}

}  // namespace
}  // namespace kavo
