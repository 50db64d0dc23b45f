// IAsyncReader on the Container and Audio pins: lengths, SyncRead's three outcomes, concurrent
// readers, the request queue and the reader faults; and what every reader written to the
// platform's rules does, in one table for the stand-in's and the platform's own async file reader.
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "standin_fixture.h"
#include "tests/doubles/push_source/async_file_source.h"

namespace kavo::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class StandInReader : public StandInTest {
 protected:
  const std::string container_ = PatternBytes(100000, 11);
  const std::string audio_ = PatternBytes(7777, 12);
};

// Both outputs are written unconditionally, as readers written the usual way do.
TEST_F(StandInReader, LengthWritesTheFileSizeIntoBothOutputs) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("len").Container(container_).Audio(audio_));
  ASSERT_TRUE(filter);
  LONGLONG total = 0;
  LONGLONG available = 0;
  EXPECT_EQ(ReaderOf(filter.Get(), 0)->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 100000);
  EXPECT_EQ(available, 100000);
  EXPECT_EQ(ReaderOf(filter.Get(), 1)->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 7777);
  EXPECT_EQ(available, 7777);
}

// An estimate holds until a read reaches it; the whole file is served throughout.
TEST_F(StandInReader, EstimatedLengthHoldsUntilAReadReachesIt) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("estimated")
                                          .Container(container_)
                                          .Audio(audio_)
                                          .Fault("length_estimated = 500")
                                          .Fault("length_estimated Container = 1000"));
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> main = ReaderOf(filter.Get(), 0);
  LONGLONG total = 0;
  LONGLONG available = 0;
  HRESULT result = E_FAIL;
  EXPECT_EQ(Read(main.Get(), 0, 999, &result), container_.substr(0, 999));
  EXPECT_EQ(main->Length(&total, &available), VFW_S_ESTIMATED);
  EXPECT_EQ(total, 1000);
  EXPECT_EQ(available, 1000);
  EXPECT_EQ(Read(main.Get(), 990, 20000, &result), container_.substr(990, 20000));
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(main->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 100000);
  EXPECT_EQ(available, 100000);

  const ComPtr<IAsyncReader> audio = ReaderOf(filter.Get(), 1);
  EXPECT_EQ(audio->Length(&total, &available), VFW_S_ESTIMATED);
  EXPECT_EQ(total, 500);
}

enum class ReaderKind { StandIn, Platform };

class Readers : public StandInReader, public ::testing::WithParamInterface<ReaderKind> {
 protected:
  void TearDown() override {
    filter_.Reset();
    file_.reset();
    StandInReader::TearDown();
  }

  ComPtr<IAsyncReader> ReaderOver(const std::string& bytes) {
    ComPtr<IAsyncReader> reader;
    if (GetParam() == ReaderKind::StandIn) {
      filter_ = Loaded(CatalogVideo("table").Container(bytes));
      if (filter_) reader = ReaderOf(filter_.Get(), 0);
      return reader;
    }
    file_ = std::make_unique<AsyncFileSource>(bytes);
    if (SUCCEEDED(file_->Status()))
      file_->OutputPin()->QueryInterface(IID_IAsyncReader,
                                         reinterpret_cast<void**>(reader.GetAddressOf()));
    return reader;
  }

  ComPtr<IBaseFilter> filter_;
  std::unique_ptr<AsyncFileSource> file_;
};

TEST_P(Readers, SyncReadIsOkWhenEverythingCameAndFalsePastTheEnd) {
  const ComPtr<IAsyncReader> reader = ReaderOver(container_);
  ASSERT_TRUE(reader);
  LONGLONG total = 0;
  LONGLONG available = 0;
  EXPECT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 100000);
  EXPECT_EQ(available, 100000);
  HRESULT result = E_FAIL;
  EXPECT_EQ(Read(reader.Get(), 0, 4096, &result), container_.substr(0, 4096));
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(Read(reader.Get(), 99000, 1000, &result), container_.substr(99000));
  EXPECT_EQ(result, S_OK) << "a read that ends exactly at the end is complete";

  std::string past(3000, '\x5A');
  EXPECT_EQ(reader->SyncRead(98000, 3000, reinterpret_cast<BYTE*>(&past[0])), S_FALSE);
  EXPECT_EQ(past.substr(0, 2000), container_.substr(98000));
  EXPECT_EQ(past.substr(2000), std::string(1000, '\x5A')) << "nothing is written past the data";

  EXPECT_EQ(reader->SyncRead(100000, 10, reinterpret_cast<BYTE*>(&past[0])), S_FALSE);
  EXPECT_EQ(reader->SyncRead(1LL << 40, 10, reinterpret_cast<BYTE*>(&past[0])), S_FALSE);
  EXPECT_EQ(reader->SyncRead(5, 0, reinterpret_cast<BYTE*>(&past[0])), S_OK);
  EXPECT_EQ(reader->BeginFlush(), S_OK);
  EXPECT_EQ(Read(reader.Get(), 10, 100, &result), container_.substr(10, 100));
  EXPECT_EQ(result, S_OK) << "a flush does not touch SyncRead";
  EXPECT_EQ(reader->EndFlush(), S_OK);
}

// Request takes no reference on the sample, and WaitForNext hands back the caller's own pointer
// without one: the caller keeps its reference throughout.
TEST_P(Readers, RequestsComeBackAsTheCallersOwnSampleWithNoReference) {
  const ComPtr<IAsyncReader> reader = ReaderOver(container_);
  ASSERT_TRUE(reader);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, reinterpret_cast<void**>(allocator.GetAddressOf())),
            S_OK);
  ALLOCATOR_PROPERTIES wanted = {1, 4096, 1, 0};
  ComPtr<IMemAllocator> agreed;
  ASSERT_EQ(reader->RequestAllocator(allocator.Get(), &wanted, &agreed), S_OK);
  EXPECT_EQ(agreed.Get(), allocator.Get()) << "the caller's allocator, as asked";
  ASSERT_EQ(agreed->Commit(), S_OK);
  ComPtr<IMediaSample> sample;
  ASSERT_EQ(agreed->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  const auto references = [&] {
    sample->AddRef();
    return sample->Release();
  };
  REFERENCE_TIME start = 10 * 10000000LL;
  REFERENCE_TIME stop = 60 * 10000000LL;
  sample->SetTime(&start, &stop);
  EXPECT_EQ(reader->Request(sample.Get(), 77), S_OK);
  EXPECT_EQ(references(), 1u);
  IMediaSample* done = nullptr;
  DWORD_PTR user = 0;
  EXPECT_EQ(reader->WaitForNext(1000, &done, &user), S_OK);
  EXPECT_EQ(done, sample.Get());
  EXPECT_EQ(user, 77u);
  EXPECT_EQ(references(), 1u);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), sample->GetActualDataLength()),
            container_.substr(10, 50));
  sample.Reset();
  agreed->Decommit();
}

// At the end of the file a request ends with it, its length and stop time shortened; one that
// starts there is refused.
TEST_P(Readers, ARequestPastTheEndEndsWithTheFile) {
  const ComPtr<IAsyncReader> reader = ReaderOver(container_);
  ASSERT_TRUE(reader);
  HRESULT result = E_FAIL;
  REFERENCE_TIME stop = 0;
  EXPECT_EQ(Requested(reader.Get(), 99900, 4096, &result, &stop), container_.substr(99900));
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(stop, 100000 * 10000000LL);
  EXPECT_EQ(Requested(reader.Get(), 100000, 4096, &result), "");
  EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_HANDLE_EOF));
}

INSTANTIATE_TEST_SUITE_P(Kinds, Readers,
                         ::testing::Values(ReaderKind::StandIn, ReaderKind::Platform),
                         [](const auto& info) {
                           return info.param == ReaderKind::StandIn ? "StandIn" : "Platform";
                         });

TEST_F(StandInReader, SyncReadRefusesWhatNoFileHas) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("sync").Container(container_));
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> reader = ReaderOf(filter.Get(), 0);
  BYTE bytes[10];
  EXPECT_TRUE(FAILED(reader->SyncRead(-1, 10, bytes)));
  EXPECT_TRUE(FAILED(reader->SyncRead(0, -10, bytes)));
  EXPECT_TRUE(FAILED(reader->SyncRead(0, 10, nullptr)));
}

TEST_F(StandInReader, AnEmptyFileReadsAsEmpty) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("empty").Container(""));
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> reader = ReaderOf(filter.Get(), 0);
  LONGLONG total = -1;
  LONGLONG available = -1;
  EXPECT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 0);
  HRESULT result = S_OK;
  Read(reader.Get(), 0, 1, &result);
  EXPECT_EQ(result, S_FALSE);
}

// The main and the slave access read their pins from different host threads without any lock.
TEST_F(StandInReader, ConcurrentReadersOnBothPinsGetExactBytes) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("busy").Container(container_).Audio(audio_));
  ASSERT_TRUE(filter);
  IAsyncReader* readers[2] = {ReaderOf(filter.Get(), 0).Detach(),
                              ReaderOf(filter.Get(), 1).Detach()};
  const std::string* sources[2] = {&container_, &audio_};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(t);
      const int which = t % 2;
      const std::string& expected = *sources[which];
      for (int i = 0; i < 400; ++i) {
        const LONGLONG position = random() % (expected.size() + 100);
        const LONG length = static_cast<LONG>(random() % 5000);
        HRESULT result = E_FAIL;
        const std::string bytes = Read(readers[which], position, length, &result);
        const size_t from = std::min<size_t>(position, expected.size());
        const std::string wanted = expected.substr(from, length);
        const bool complete = wanted.size() == static_cast<size_t>(length);
        if (result != (complete ? S_OK : S_FALSE) || bytes.substr(0, wanted.size()) != wanted)
          ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, 0);
  readers[0]->Release();
  readers[1]->Release();
}

TEST_F(StandInReader, InjectedReadFaults) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("readfaults")
                                          .Container(container_)
                                          .Audio(audio_)
                                          .Fault("syncread_fail_at Container = 5000")
                                          .Fault("syncread_short_at Audio = 1000")
                                          .Fault("length_fails Audio"));
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> main = ReaderOf(filter.Get(), 0);
  HRESULT result = S_OK;
  EXPECT_EQ(Read(main.Get(), 0, 5000, &result), container_.substr(0, 5000));
  EXPECT_EQ(result, S_OK);
  Read(main.Get(), 4999, 2, &result);
  EXPECT_EQ(result, E_FAIL);
  Read(main.Get(), 5001, 100, &result);
  EXPECT_EQ(result, S_OK);

  const ComPtr<IAsyncReader> audio = ReaderOf(filter.Get(), 1);
  EXPECT_EQ(Read(audio.Get(), 900, 200, &result).substr(0, 100), audio_.substr(900, 100));
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(Requested(audio.Get(), 900, 200, &result), "");
  EXPECT_EQ(result, E_FAIL) << "a request cut short before the end";
  EXPECT_EQ(Requested(audio.Get(), 800, 200, &result), audio_.substr(800, 200));
  LONGLONG total = 42;
  LONGLONG available = 42;
  EXPECT_TRUE(FAILED(audio->Length(&total, &available)));
  EXPECT_EQ(total, 42) << "a failing Length writes nothing";
  EXPECT_EQ(available, 42);
  EXPECT_EQ(main->Length(&total, &available), S_OK);
}

// Requests keep the platform's rules, failing cleanly where a platform reader would abort: none
// before RequestAllocator, no more at once than the buffers agreed there, each at the alignment
// agreed there.
TEST_F(StandInReader, RequestsNeedTheAgreedAllocatorAndAlignment) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("queue").Container(container_));
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> reader = ReaderOf(filter.Get(), 0);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, reinterpret_cast<void**>(allocator.GetAddressOf())),
            S_OK);
  ALLOCATOR_PROPERTIES wanted = {3, 4096, 16, 0};
  ALLOCATOR_PROPERTIES granted = {};
  ASSERT_EQ(allocator->SetProperties(&wanted, &granted), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> samples[3];
  for (ComPtr<IMediaSample>& sample : samples) {
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME start = 32 * 10000000LL;
    REFERENCE_TIME stop = 64 * 10000000LL;
    sample->SetTime(&start, &stop);
  }
  EXPECT_EQ(reader->Request(samples[0].Get(), 0), VFW_E_NO_ALLOCATOR);
  ComPtr<IMemAllocator> agreed;
  wanted.cBuffers = 2;
  ASSERT_EQ(reader->RequestAllocator(nullptr, &wanted, &agreed), S_OK);
  EXPECT_EQ(wanted.cbAlign, 16) << "what was granted";
  REFERENCE_TIME start = 40 * 10000000LL;
  REFERENCE_TIME stop = 64 * 10000000LL;
  samples[2]->SetTime(&start, &stop);
  EXPECT_EQ(reader->Request(samples[2].Get(), 2), VFW_E_BADALIGN);
  EXPECT_EQ(reader->SyncReadAligned(samples[2].Get()), VFW_E_BADALIGN);
  EXPECT_EQ(reader->Request(samples[0].Get(), 0), S_OK);
  EXPECT_EQ(reader->Request(samples[1].Get(), 1), S_OK);
  EXPECT_EQ(reader->Request(samples[2].Get(), 2), VFW_E_NO_ALLOCATOR) << "two buffers agreed";
  IMediaSample* done = nullptr;
  DWORD_PTR user = 9;
  EXPECT_EQ(reader->WaitForNext(0, &done, &user), S_OK);
  EXPECT_EQ(done, samples[0].Get());
  EXPECT_EQ(reader->BeginFlush(), S_OK);
  EXPECT_EQ(reader->WaitForNext(INFINITE, &done, &user), S_OK) << "done before the flush";
  EXPECT_EQ(user, 1u);
  EXPECT_EQ(reader->WaitForNext(INFINITE, &done, &user), VFW_E_WRONG_STATE);
  EXPECT_EQ(done, nullptr);
  EXPECT_EQ(reader->Request(samples[0].Get(), 0), VFW_E_WRONG_STATE);
  EXPECT_EQ(reader->EndFlush(), S_OK);
  for (ComPtr<IMediaSample>& sample : samples) sample.Reset();
  allocator->Decommit();
}

// Bytes past a stall never come: a read of them waits until a stop or the filter's end wakes it
// with VFW_E_WRONG_STATE, and what came before the stall is served throughout. A flush does not
// end it, as it ends no platform reader's SyncRead.
TEST_F(StandInReader, AStalledReadEndsOnStopOrReleaseButNotOnFlush) {
  for (const char* wakeUp : {"stop", "release"}) {
    SCOPED_TRACE(wakeUp);
    ComPtr<IBaseFilter> filter =
        Loaded(CatalogVideo("stall").Container(container_).Fault("stall_at Container = 5000"));
    ASSERT_TRUE(filter);
    ComPtr<IAsyncReader> reader = ReaderOf(filter.Get(), 0);
    HRESULT result = E_FAIL;
    const Clock::time_point started = Clock::now();
    EXPECT_EQ(Read(reader.Get(), 0, 5000, &result), container_.substr(0, 5000));
    EXPECT_EQ(result, S_OK);
    EXPECT_LT(Clock::now() - started, milliseconds(50));

    std::atomic<HRESULT> stalled{E_PENDING};
    IAsyncReader* raw = reader.Get();
    std::thread waiter([&] {
      BYTE bytes[20];
      stalled = raw->SyncRead(4990, 20, bytes);
    });
    Sleep(50);
    EXPECT_EQ(stalled, E_PENDING);
    EXPECT_EQ(Read(reader.Get(), 4000, 1000, &result), container_.substr(4000, 1000));
    reader->BeginFlush();
    Sleep(50);
    EXPECT_EQ(stalled, E_PENDING) << "a flush ended SyncRead";
    reader->EndFlush();
    if (std::string(wakeUp) == "stop") {
      filter->Stop();
    } else {
      reader.Reset();
      filter.Reset();
    }
    waiter.join();
    EXPECT_EQ(stalled, VFW_E_WRONG_STATE);
    if (reader) {
      EXPECT_EQ(Read(reader.Get(), 0, 5000, &result), container_.substr(0, 5000));
    }
  }
}

// Requests for bytes not yet arrived stay queued until they come (a timeout leaves them queued)
// and complete in the order their bytes arrive; a flush hands them back unread, or, under
// flush_waits, only returns once they have their bytes.
TEST_F(StandInReader, QueuedRequestsCompleteAsTheirBytesArrive) {
  // The allocator is set up before the Load, so that its setup does not eat into the arrival.
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, reinterpret_cast<void**>(allocator.GetAddressOf())),
            S_OK);
  ALLOCATOR_PROPERTIES wanted = {4, 8192, 1, 0};
  ALLOCATOR_PROPERTIES granted = {};
  ASSERT_EQ(allocator->SetProperties(&wanted, &granted), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  // [60000, 64096) and [30000, 34096) of Container, [0, 200) of Audio, [90000, 94096) of Container
  ComPtr<IMediaSample> samples[4];
  const LONGLONG ranges[4][2] = {{60000, 64096}, {30000, 34096}, {0, 200}, {90000, 94096}};
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(allocator->GetBuffer(&samples[i], nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME start = ranges[i][0] * 10000000LL;
    REFERENCE_TIME stop = ranges[i][1] * 10000000LL;
    samples[i]->SetTime(&start, &stop);
  }
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("arriving")
                                          .Container(container_)
                                          .Audio(audio_)
                                          .Fault("rate_kbps Container = 8000")
                                          .Fault("flush_waits Container")
                                          .Fault("stall_at Audio = 100"));
  const Clock::time_point loaded = Clock::now();
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> main = ReaderOf(filter.Get(), 0);
  const ComPtr<IAsyncReader> audio = ReaderOf(filter.Get(), 1);
  ComPtr<IMemAllocator> agreed;
  ASSERT_EQ(main->RequestAllocator(nullptr, &wanted, &agreed), S_OK);
  ASSERT_EQ(audio->RequestAllocator(nullptr, &wanted, &agreed), S_OK);
  IMediaSample* done = nullptr;
  DWORD_PTR user = 0;
  EXPECT_EQ(main->Request(samples[0].Get(), 0), S_OK);
  EXPECT_EQ(main->Request(samples[1].Get(), 1), S_OK);
  EXPECT_EQ(main->WaitForNext(0, &done, &user), VFW_E_TIMEOUT);
  EXPECT_EQ(done, nullptr);
  for (DWORD_PTR expected : {1u, 0u}) {
    ASSERT_EQ(main->WaitForNext(1000, &done, &user), S_OK);
    EXPECT_EQ(user, expected) << "the request whose bytes arrive first completes first";
    BYTE* data = nullptr;
    done->GetPointer(&data);
    EXPECT_TRUE(std::string(reinterpret_cast<char*>(data), done->GetActualDataLength()) ==
                container_.substr(ranges[expected][0], 4096));
  }
  EXPECT_GE(Clock::now() - loaded, milliseconds(60)) << "1000 bytes a millisecond";
  EXPECT_EQ(main->Request(samples[3].Get(), 3), S_OK);
  EXPECT_EQ(main->BeginFlush(), S_OK);
  EXPECT_GE(Clock::now() - loaded, milliseconds(90)) << "flush_waits: returned before the bytes";
  EXPECT_EQ(main->WaitForNext(INFINITE, &done, &user), S_OK);
  EXPECT_EQ(done, samples[3].Get());
  EXPECT_EQ(done ? done->GetActualDataLength() : 0, 4096);
  EXPECT_EQ(main->EndFlush(), S_OK);

  EXPECT_EQ(audio->Request(samples[2].Get(), 7), S_OK);
  EXPECT_EQ(audio->WaitForNext(20, &done, &user), VFW_E_TIMEOUT);
  EXPECT_EQ(audio->BeginFlush(), S_OK);
  EXPECT_EQ(audio->WaitForNext(INFINITE, &done, &user), VFW_E_WRONG_STATE);
  EXPECT_EQ(done, samples[2].Get()) << "a flush hands the queued sample back";
  EXPECT_EQ(user, 7u);
  EXPECT_EQ(audio->WaitForNext(INFINITE, &done, &user), VFW_E_WRONG_STATE);
  EXPECT_EQ(done, nullptr);
  EXPECT_EQ(audio->EndFlush(), S_OK);
  allocator->Decommit();
}

// Bytes come at the rate from the Load on, never past a stall; Length's available follows them.
TEST_F(StandInReader, AtARateReadsWaitForTheirBytesAndAvailableGrows) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("rate")
                                          .Container(container_)
                                          .Fault("rate_kbps Container = 800")
                                          .Fault("stall_at Container = 15000"));
  const Clock::time_point loaded = Clock::now();
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> reader = ReaderOf(filter.Get(), 0);
  LONGLONG total = 0;
  LONGLONG available = 0;
  EXPECT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 100000);
  EXPECT_LT(available, 5000);
  HRESULT result = E_FAIL;
  EXPECT_EQ(Read(reader.Get(), 10000, 1000, &result), container_.substr(10000, 1000));
  EXPECT_EQ(result, S_OK);
  const auto waited = Clock::now() - loaded;
  EXPECT_GE(waited, milliseconds(100)) << "100 bytes a millisecond";
  EXPECT_LT(waited, milliseconds(300));
  EXPECT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_GE(available, 11000);
  Sleep(200);
  EXPECT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_EQ(available, 15000) << "nothing arrives past the stall";
  EXPECT_EQ(total, 100000);
}

}  // namespace
}  // namespace kavo::test
