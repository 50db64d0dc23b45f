// IAsyncReader on the Container and Audio pins: lengths, SyncRead's three outcomes, concurrent
// readers, the request queue and the reader faults.
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "standin_fixture.h"

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

TEST_F(StandInReader, SyncReadIsOkWhenEverythingCameAndFalsePastTheEnd) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("sync").Container(container_));
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> reader = ReaderOf(filter.Get(), 0);
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
  EXPECT_TRUE(FAILED(reader->SyncRead(-1, 10, reinterpret_cast<BYTE*>(&past[0]))));
  EXPECT_TRUE(FAILED(reader->SyncRead(0, -10, reinterpret_cast<BYTE*>(&past[0]))));
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
  LONGLONG total = 42;
  LONGLONG available = 42;
  EXPECT_TRUE(FAILED(audio->Length(&total, &available)));
  EXPECT_EQ(total, 42) << "a failing Length writes nothing";
  EXPECT_EQ(available, 42);
  EXPECT_EQ(main->Length(&total, &available), S_OK);
}

TEST_F(StandInReader, QueuedRequestsComeBackFilledThroughWaitForNext) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("queue").Container(container_));
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> reader = ReaderOf(filter.Get(), 0);
  ALLOCATOR_PROPERTIES wanted = {2, 4096, 1, 0};
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(reader->RequestAllocator(nullptr, &wanted, &allocator), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);

  ComPtr<IMediaSample> sample;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start = 10 * 10000000LL;
  REFERENCE_TIME stop = 60 * 10000000LL;
  sample->SetTime(&start, &stop);
  EXPECT_EQ(reader->Request(sample.Get(), 77), S_OK);
  IMediaSample* done = nullptr;
  DWORD_PTR user = 0;
  EXPECT_EQ(reader->WaitForNext(1000, &done, &user), S_OK);
  ASSERT_EQ(done, sample.Get());
  EXPECT_EQ(user, 77u);
  BYTE* data = nullptr;
  done->GetPointer(&data);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), done->GetActualDataLength()),
            container_.substr(10, 50));
  done->Release();

  EXPECT_EQ(reader->SyncReadAligned(sample.Get()), S_OK);
  EXPECT_EQ(reader->WaitForNext(0, &done, &user), VFW_E_TIMEOUT);
  EXPECT_EQ(done, nullptr);
  EXPECT_EQ(reader->BeginFlush(), S_OK);
  EXPECT_EQ(reader->WaitForNext(INFINITE, &done, &user), VFW_E_WRONG_STATE);
  EXPECT_EQ(reader->Request(sample.Get(), 1), VFW_E_WRONG_STATE);
  EXPECT_EQ(reader->EndFlush(), S_OK);
  sample.Reset();
  allocator->Decommit();
}

// Bytes past a stall never come: a read of them waits until a flush, a stop or the filter's end
// wakes it with VFW_E_WRONG_STATE, and what came before the stall is served throughout.
TEST_F(StandInReader, AStalledReadEndsOnFlushStopOrRelease) {
  for (const char* wakeUp : {"flush", "stop", "release"}) {
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
    if (std::string(wakeUp) == "flush") {
      reader->BeginFlush();
    } else if (std::string(wakeUp) == "stop") {
      filter->Stop();
    } else {
      reader.Reset();
      filter.Reset();
    }
    waiter.join();
    EXPECT_EQ(stalled, VFW_E_WRONG_STATE);
    if (reader) {
      EXPECT_EQ(Read(reader.Get(), 0, 5000, &result), container_.substr(0, 5000));
      reader->EndFlush();
    }
  }
}

// Requests for bytes not yet arrived stay queued until they come (a timeout leaves them queued)
// and complete in the order their bytes arrive; a flush hands them back unread.
TEST_F(StandInReader, QueuedRequestsCompleteAsTheirBytesArrive) {
  // The allocator is set up before the Load, so that its setup does not eat into the arrival.
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, reinterpret_cast<void**>(allocator.GetAddressOf())),
            S_OK);
  ALLOCATOR_PROPERTIES wanted = {3, 8192, 1, 0};
  ALLOCATOR_PROPERTIES granted = {};
  ASSERT_EQ(allocator->SetProperties(&wanted, &granted), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample>
      samples[3];  // [60000, 64096) and [30000, 34096) of Container, [0, 200) of Audio
  const LONGLONG ranges[3][2] = {{60000, 64096}, {30000, 34096}, {0, 200}};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(allocator->GetBuffer(&samples[i], nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME start = ranges[i][0] * 10000000LL;
    REFERENCE_TIME stop = ranges[i][1] * 10000000LL;
    samples[i]->SetTime(&start, &stop);
  }
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("arriving")
                                          .Container(container_)
                                          .Audio(audio_)
                                          .Fault("rate_kbps Container = 8000")
                                          .Fault("stall_at Audio = 100"));
  const Clock::time_point loaded = Clock::now();
  ASSERT_TRUE(filter);
  const ComPtr<IAsyncReader> main = ReaderOf(filter.Get(), 0);
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
    done->Release();
  }
  EXPECT_GE(Clock::now() - loaded, milliseconds(60)) << "1000 bytes a millisecond";

  const ComPtr<IAsyncReader> audio = ReaderOf(filter.Get(), 1);
  EXPECT_EQ(audio->Request(samples[2].Get(), 7), S_OK);
  EXPECT_EQ(audio->WaitForNext(20, &done, &user), VFW_E_TIMEOUT);
  EXPECT_EQ(audio->BeginFlush(), S_OK);
  EXPECT_EQ(audio->WaitForNext(INFINITE, &done, &user), VFW_E_WRONG_STATE);
  EXPECT_EQ(done, samples[2].Get()) << "a flush hands the queued sample back";
  EXPECT_EQ(user, 7u);
  if (done) done->Release();
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
