// The subtitle waiter when the graph's events fail it: no event queue at all, or a queue whose
// reads fail while its handle stays set. Test doubles stand in for the queue and the renderers;
// the host's log is the recording core library's.
#include "host/late_subtitles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "core_recorder.h"
#include "host_test_support.h"

namespace kavo {
namespace {

using Microsoft::WRL::ComPtr;
using test::CoreRecorder;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A renderer whose stream has ended with `path` (S_OK) or is still running (VFW_E_NOT_FOUND).
class FakeRenderer final : public ISubtitleRenderer {
 public:
  FakeRenderer(const wchar_t* path, HRESULT written) : path_(path), written_(written) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_ISubtitleRenderer) return E_NOINTERFACE;
    *out = static_cast<ISubtitleRenderer*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
  STDMETHODIMP GetFilePath(BSTR* path) override {
    if (written_ != S_OK) return VFW_E_NOT_FOUND;
    *path = SysAllocString(path_);
    return S_OK;
  }
  STDMETHODIMP GetWriteResult() override { return written_; }

  std::atomic<long> references{0};

 private:
  const wchar_t* path_;
  HRESULT written_;
};

// An event queue whose handle is always set and whose every read fails.
class BrokenEvents final : public IMediaEvent {
 public:
  BrokenEvents() : signal_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}
  ~BrokenEvents() { CloseHandle(signal_); }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IMediaEvent) return E_NOINTERFACE;
    *out = static_cast<IMediaEvent*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
  STDMETHODIMP GetEventHandle(OAEVENT* signal) override {
    *signal = reinterpret_cast<OAEVENT>(signal_);
    return S_OK;
  }
  STDMETHODIMP GetEvent(LONG*, LONG_PTR*, LONG_PTR*, LONG) override {
    ++reads;
    return E_UNEXPECTED;
  }
  STDMETHODIMP FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return Unexpected(); }
  STDMETHODIMP WaitForCompletion(LONG, LONG*) override { return Unexpected(); }
  STDMETHODIMP CancelDefaultHandling(LONG) override { return Unexpected(); }
  STDMETHODIMP RestoreDefaultHandling(LONG) override { return Unexpected(); }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return Unexpected(); }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Unexpected(); }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return Unexpected();
  }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return Unexpected();
  }

  std::atomic<long> references{0};
  std::atomic<long> reads{0};

 private:
  static HRESULT Unexpected() {
    ADD_FAILURE() << "unexpected call";
    return E_NOTIMPL;
  }
  HANDLE signal_;
};

class LateSubtitlesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(recorder_.Load());
    recorder_.Reset(CoreRecorder::Host30Release);
  }

  std::vector<AttachedSubtitles> Attached() {
    return {{ComPtr<ISubtitleRenderer>(&written_), L"One"},
            {ComPtr<ISubtitleRenderer>(&streaming_), L"Two"}};
  }
  host::LateSubtitles::HandOver Recording() {
    return [this](const SubtitleTrack& track) { handedOver_.push_back(track.number); };
  }
  std::vector<std::string> Messages() const {
    return test::Messages(recorder_.LogLines(), object_);
  }
  void ExpectAllReleased() {
    EXPECT_EQ(written_.references, 0);
    EXPECT_EQ(streaming_.references, 0);
  }

  CoreRecorder recorder_;
  char object_[8] = {};
  host::HostLog log_{host::kAbi30Release, object_};
  FakeRenderer written_{L"C:\\t\\one.srt", S_OK};
  FakeRenderer streaming_{L"", VFW_E_NOT_FOUND};
  std::vector<size_t> handedOver_;  // written by the waiter thread only while the test waits
};

// Without an event queue no end is ever seen: what is written goes over at once, and the log says
// the other track is lost instead of promising it for later.
TEST_F(LateSubtitlesTest, WithoutAnEventQueueWrittenTracksGoAtOnceAndTheRestAreNamedLost) {
  auto waiter =
      host::LateSubtitles::Start(PendingSubtitles(nullptr, Attached()), Recording(), log_);
  EXPECT_EQ(waiter, nullptr);
  EXPECT_THAT(handedOver_, ElementsAre(1u));
  EXPECT_THAT(Messages(), ElementsAre("warning: subtitle track 2 \"Two\" is not handed over: the "
                                      "graph has no event queue to report its end"));
  ExpectAllReleased();
}

// A queue that fails every read while its handle stays set: the waiter gives the pending track up
// once, saying why, instead of reading it again and again until the close.
TEST_F(LateSubtitlesTest, AQueueThatCannotBeReadIsNotReadInALoop) {
  BrokenEvents events;
  {
    auto waiter = host::LateSubtitles::Start(
        PendingSubtitles(ComPtr<IMediaEvent>(&events), Attached()), Recording(), log_);
    ASSERT_NE(waiter, nullptr);
    Sleep(300);
    EXPECT_LE(events.reads.load(), 4) << "the waiter spins on a queue it cannot read";
    ASSERT_TRUE(recorder_.WaitUntil([&] { return !recorder_.LogLines().empty(); }, 5000));
    EXPECT_THAT(handedOver_, ElementsAre(1u));
    EXPECT_THAT(Messages(), ElementsAre(HasSubstr(
                                "warning: subtitle track 2 \"Two\" is not handed over: the graph's "
                                "events cannot be read (0x8000FFFF")));
  }
  EXPECT_EQ(events.references, 0);
  ExpectAllReleased();
}

}  // namespace
}  // namespace kavo
