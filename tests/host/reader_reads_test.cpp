// Reads through the plug-in's own callbacks against real readers, with the recording host stopping
// them as the hosts do: the platform's own async file reader on a real file, and the stand-in's
// reader taken directly, one table for both. The stand-in's faults then play the readers and
// networks that make reads wait.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "core_recorder.h"
#include "host_test_support.h"
#include "reader_access.h"
#include "standin_client.h"
#include "tests/doubles/push_source/async_file_source.h"

namespace kavo::test {
namespace {

using Clock = std::chrono::steady_clock;
using Microsoft::WRL::ComPtr;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

constexpr LONGLONG kStallAt = 300000;

// The platform's reader over a network that stalls: Length says the bytes from kStallAt on have
// not arrived, and a request that needs any of them is held back until a flush. All else is the
// platform's own, flush included.
class StalledReader final : public IAsyncReader {
 public:
  explicit StalledReader(IAsyncReader* inner) : inner_(inner) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IAsyncReader) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IAsyncReader*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE RequestAllocator(IMemAllocator* preferred,
                                             ALLOCATOR_PROPERTIES* properties,
                                             IMemAllocator** actual) override {
    return inner_->RequestAllocator(preferred, properties, actual);
  }
  HRESULT STDMETHODCALLTYPE Request(IMediaSample* sample, DWORD_PTR user) override {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    sample->GetTime(&start, &stop);
    std::lock_guard<std::mutex> guard(lock_);
    held_ = stop / 10000000 > kStallAt;
    return inner_->Request(sample, user);
  }
  HRESULT STDMETHODCALLTYPE WaitForNext(DWORD timeout, IMediaSample** sample,
                                        DWORD_PTR* user) override {
    {
      std::unique_lock<std::mutex> guard(lock_);
      if (!changed_.wait_for(guard, std::chrono::milliseconds(timeout),
                             [this] { return !held_; })) {
        *sample = nullptr;
        *user = 0;
        return VFW_E_TIMEOUT;
      }
    }
    return inner_->WaitForNext(timeout, sample, user);
  }
  HRESULT STDMETHODCALLTYPE SyncReadAligned(IMediaSample* sample) override {
    return inner_->SyncReadAligned(sample);
  }
  HRESULT STDMETHODCALLTYPE SyncRead(LONGLONG position, LONG length, BYTE* buffer) override {
    return inner_->SyncRead(position, length, buffer);
  }
  HRESULT STDMETHODCALLTYPE Length(LONGLONG* total, LONGLONG* available) override {
    const HRESULT result = inner_->Length(total, available);
    *available = std::min(*available, kStallAt);
    return result;
  }
  HRESULT STDMETHODCALLTYPE BeginFlush() override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      held_ = false;
    }
    changed_.notify_all();
    return inner_->BeginFlush();
  }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return inner_->EndFlush(); }

 private:
  ComPtr<IAsyncReader> inner_;
  std::atomic<ULONG> references_{0};
  std::mutex lock_;
  std::condition_variable changed_;
  bool held_ = false;
};

enum class ReaderKind { StandIn, Platform };

class ReaderReadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ASSERT_TRUE(recorder_.Load());
    recorder_.Reset(CoreRecorder::Host30Release);
    ASSERT_TRUE(EnsureStandInRegistered());
    StandIn::Reset();
  }
  void TearDown() override {
    reader_.Reset();
    filter_.Reset();
    file_.reset();
    EXPECT_EQ(StandIn::LiveObjects(), 0) << "stand-in objects leaked";
    CoUninitialize();
  }

  // A reader of `kind` over bytes_; stalled, it has no bytes from kStallAt on.
  IAsyncReader* Reader(ReaderKind kind, bool stalled) {
    if (kind == ReaderKind::StandIn) {
      CatalogVideo video("clip");
      video.Container(bytes_);
      if (stalled) video.Fault("stall_at Container = " + std::to_string(kStallAt));
      return StandInReader(video);
    }
    file_ = std::make_unique<AsyncFileSource>(bytes_);
    if (FAILED(file_->Status()) ||
        FAILED(file_->OutputPin()->QueryInterface(
            IID_IAsyncReader, reinterpret_cast<void**>(reader_.ReleaseAndGetAddressOf()))))
      return nullptr;
    if (stalled) reader_ = new StalledReader(reader_.Get());
    return reader_.Get();
  }
  IAsyncReader* StandInReader(const CatalogVideo& video) {
    if (!catalog_.Add(video)) return nullptr;
    reader_ = LoadedStandInReader(video.id, filter_);
    return reader_.Get();
  }

  // A stop of `object` after stopAfterMs, as a host of `kind` stops; a read that ignores it is
  // ended at last by the stand-in filter's stop.
  double MsAfterStop(HostKind kind, const void* object, DWORD stopAfterMs,
                     const std::function<void()>& body) {
    return test::MsAfterStop(recorder_, kind, object, stopAfterMs, body, [this] {
      if (filter_) filter_->Stop();
    });
  }

  // A 32 KiB read at `at` past a stall, stopped 200 ms in as a host of `kind` stops it: it ends
  // with no data within 100 ms of the stop.
  void ExpectAStopToEndARead(HostKind kind, ReaderAccess& access, std::uint64_t at) {
    ASSERT_EQ(access.Seek(at), 0);
    std::vector<char> buffer(32768);
    long long got = -1;
    const double ms = MsAfterStop(kind, access.Object(), 200,
                                  [&] { got = access.Read(buffer.data(), buffer.size()); });
    EXPECT_GE(ms, 0) << "the read ended before the stop";
    EXPECT_LT(ms, 100);
    EXPECT_EQ(got, 0);
  }

  const std::string bytes_ = PatternBytes((3 << 20) + 12345, 21);
  CoreRecorder recorder_;
  Catalog catalog_;
  std::unique_ptr<AsyncFileSource> file_;
  ComPtr<IBaseFilter> filter_;
  ComPtr<IAsyncReader> reader_;
};

class ReaderReads : public ReaderReadsTest, public ::testing::WithParamInterface<ReaderKind> {};
using StandInReads = ReaderReadsTest;

TEST_P(ReaderReads, BytesAreTheFilesInEverySizeAndAfterSeeks) {
  IAsyncReader* reader = Reader(GetParam(), false);
  ASSERT_TRUE(reader);
  for (const HostKind kind : {HostKind::V22, HostKind::V30Release}) {
    SCOPED_TRACE(NameOf(kind));
    ReaderAccess access(kind, reader);
    EXPECT_EQ(access.Size(), bytes_.size());
    EXPECT_TRUE(access.ReadToEnd(16 << 20) == bytes_) << "16 MiB host reads";
    ASSERT_EQ(access.Seek(0), 0);
    EXPECT_TRUE(access.ReadToEnd(4093) == bytes_) << "odd host reads";
    std::mt19937 random(7);
    std::vector<char> buffer(300000);
    for (int i = 0; i < 40; ++i) {
      const size_t at = random() % (bytes_.size() + 10);
      const size_t want = 1 + random() % buffer.size();
      ASSERT_EQ(access.Seek(at), 0);
      const size_t expected = at < bytes_.size() ? std::min(want, bytes_.size() - at) : 0;
      ASSERT_EQ(access.Read(buffer.data(), want), static_cast<long long>(expected)) << at;
      ASSERT_TRUE(std::string(buffer.data(), expected) == bytes_.substr(at, expected)) << at;
    }
  }
}

// The read waits for bytes past a stall until the host stops it; the flush that ends it leaves
// the reader as it was for the next read.
TEST_P(ReaderReads, AStopWhileWaitingEndsTheReadAndTheReaderReadsOn) {
  IAsyncReader* reader = Reader(GetParam(), true);
  ASSERT_TRUE(reader);
  for (const HostKind kind : {HostKind::V22, HostKind::V30Release}) {
    SCOPED_TRACE(NameOf(kind));
    recorder_.Reset(ShapeOf(kind));
    ReaderAccess access(kind, reader);
    ExpectAStopToEndARead(kind, access, kStallAt + 1000);
    std::vector<char> buffer(5000);
    ASSERT_EQ(access.Seek(1000), 0);
    ASSERT_EQ(access.Read(buffer.data(), 5000), 5000);
    EXPECT_TRUE(std::string(buffer.data(), 5000) == bytes_.substr(1000, 5000));
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderReads,
                         ::testing::Values(ReaderKind::StandIn, ReaderKind::Platform),
                         [](const auto& info) {
                           return info.param == ReaderKind::StandIn ? "StandIn" : "Platform";
                         });

// A reader whose BeginFlush waits for the request it holds, as the platform's async reader classes
// do: the host's stop, which 3.0 calls under a lock of its own, returns at once, and the read
// returns only once the reader has let go of the host's buffer.
TEST_F(StandInReads, ABlockingFlushHoldsUpNeitherTheHostsStopNorItsBuffer) {
  IAsyncReader* reader =
      StandInReader(CatalogVideo("slowflush")
                        .Container(bytes_)
                        .Fault("stall_at Container = " + std::to_string(kStallAt))
                        .Fault("flush_waits Container"));
  ASSERT_TRUE(reader);
  ReaderAccess access(HostKind::V30Release, reader);
  ASSERT_EQ(access.Seek(kStallAt), 0);
  void* const context = recorder_.NewInterrupt();
  std::atomic<bool> returned{false};
  long long got = -1;
  std::vector<char> buffer(32768);
  std::thread reading([&] {
    recorder_.SetInterrupt(context);
    got = access.Read(buffer.data(), buffer.size());
    returned = true;
    recorder_.SetInterrupt(nullptr);
  });
  Sleep(200);
  std::atomic<bool> stopped{false};
  const Clock::time_point start = Clock::now();
  std::thread stopping([&] {
    recorder_.KillInterrupt(context);
    stopped = true;
  });
  while (!stopped && MsSince(start) < 1000) Sleep(1);
  EXPECT_LT(MsSince(start), 100) << "the host's stop waited for the reader's flush";
  Sleep(200);
  EXPECT_FALSE(returned) << "the read returned while the reader held the host's buffer";
  filter_->Stop();  // the stalled request fails at last, and with it the flush ends
  stopping.join();
  reading.join();
  EXPECT_EQ(got, 0);
  recorder_.DestroyInterrupt(context);
}

// A reader that takes no requests is read with SyncRead, which no flush ends: it is asked only for
// bytes that have arrived, and the wait for the rest ends within one poll of the stop.
TEST_F(StandInReads, AStopEndsASyncReadWaitingPastAStall) {
  IAsyncReader* reader =
      StandInReader(CatalogVideo("norequests")
                        .Container(bytes_)
                        .Fault("stall_at Container = " + std::to_string(kStallAt))
                        .Fault("request_fails Container = 0x80004001"));
  ASSERT_TRUE(reader);
  for (const HostKind kind : {HostKind::V22, HostKind::V30Release}) {
    SCOPED_TRACE(NameOf(kind));
    recorder_.Reset(ShapeOf(kind));
    ReaderAccess access(kind, reader);
    ExpectAStopToEndARead(kind, access, kStallAt + 10);
  }
}

// VLC's prefetch asks for up to 16 MiB a read: at 2 Mbit/s it gets what has arrived, at once.
TEST_F(StandInReads, A16MiBReadOverASlowNetworkReturnsWhatHasArrived) {
  const std::string clip = PatternBytes((1 << 20) + 4321, 5);  // 4 s at 2 Mbit/s
  IAsyncReader* reader =
      StandInReader(CatalogVideo("slow").Container(clip).Fault("rate_kbps Container = 2000"));
  ASSERT_TRUE(reader);
  ReaderAccess access(HostKind::V30Release, reader);
  Sleep(50);  // some 12 KB have arrived
  std::vector<char> buffer(16 << 20);
  const Clock::time_point start = Clock::now();
  const long long got = access.Read(buffer.data(), buffer.size());
  EXPECT_LT(MsSince(start), 300);
  ASSERT_GT(got, 0);
  EXPECT_LT(got, static_cast<long long>(clip.size()));
  EXPECT_TRUE(std::string(buffer.data(), static_cast<size_t>(got)) ==
              clip.substr(0, static_cast<size_t>(got)));
}

// 3.0 also raises an interruption without killing it, to wake a wait it does not end: the read
// waits on for its bytes, through requests and through SyncRead alike.
TEST_F(StandInReads, AWakeUpWithoutAKillIsNoStop) {
  for (const bool requests : {true, false}) {
    SCOPED_TRACE(requests ? "requests" : "SyncRead");
    CatalogVideo video("raised");
    video.Container(bytes_).Fault("rate_kbps Container = 2000");
    if (!requests) video.Fault("request_fails Container = 0x80004005");
    IAsyncReader* reader = StandInReader(video);
    ASSERT_TRUE(reader);
    ReaderAccess access(HostKind::V30Release, reader);
    ASSERT_EQ(access.Seek(100000), 0);  // there some 400 ms after the Load
    void* const context = recorder_.NewInterrupt();
    long long got = -1;
    std::vector<char> buffer(1000);
    std::thread reading([&] {
      recorder_.SetInterrupt(context);
      got = access.Read(buffer.data(), buffer.size());
      recorder_.SetInterrupt(nullptr);
    });
    Sleep(100);
    recorder_.RaiseInterrupt(context);
    reading.join();
    recorder_.DestroyInterrupt(context);
    ASSERT_GT(got, 0);
    EXPECT_TRUE(std::string(buffer.data(), static_cast<size_t>(got)) ==
                bytes_.substr(100000, static_cast<size_t>(got)));
    filter_.Reset();
    reader_.Reset();
  }
}

}  // namespace
}  // namespace kavo::test
