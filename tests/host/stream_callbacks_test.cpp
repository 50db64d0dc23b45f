// Read, seek and control against a scripted reader, through the host object of each ABI.
#include "host/stream_callbacks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <vfwmsgs.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "host/access_state.h"
#include "host/host_object.h"

namespace kavo::host {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

// A reader whose SyncRead, requests and Length a test scripts. Its requests keep the platform's
// rules: none before RequestAllocator, each at the alignment agreed there, no reference taken on
// the sample, and the caller's own pointer handed back.
class ScriptedReader final : public IAsyncReader {
 public:
  std::function<HRESULT(LONGLONG position, LONG length, BYTE* buffer)> syncRead;
  std::function<HRESULT(IMediaSample* request)> fill;
  std::vector<std::pair<LONGLONG, LONG>> requests;  // SyncRead's
  std::vector<std::pair<LONGLONG, LONG>> queued;    // Request's, as taken
  LONGLONG total = 0;
  LONGLONG available = -1;  // Length's second output; below 0: the total
  HRESULT lengthResult = S_OK;
  int lengthCalls = 0;
  LONG align = 1;  // the reader's own alignment
  int allocatorCalls = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IAsyncReader) {
      *out = static_cast<IAsyncReader*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  // Without `fill` the reader takes no requests, and reads come through SyncRead.
  HRESULT STDMETHODCALLTYPE RequestAllocator(IMemAllocator* preferred,
                                             ALLOCATOR_PROPERTIES* properties,
                                             IMemAllocator** actual) override {
    ++allocatorCalls;
    if (!fill) return E_NOTIMPL;
    if (!preferred) return E_POINTER;
    if (properties->cbAlign % align != 0) properties->cbAlign = align;
    ALLOCATOR_PROPERTIES granted = {};
    const HRESULT set = preferred->SetProperties(properties, &granted);
    if (FAILED(set)) return set;
    agreed_ = granted.cbAlign;
    preferred->AddRef();
    *actual = preferred;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Request(IMediaSample* sample, DWORD_PTR) override {
    if (!fill) return E_NOTIMPL;
    if (agreed_ == 0) return VFW_E_NO_ALLOCATOR;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    BYTE* data = nullptr;
    if (FAILED(sample->GetTime(&start, &stop)) || FAILED(sample->GetPointer(&data)))
      return E_UNEXPECTED;
    if ((start / 10000000) % agreed_ != 0 || (stop / 10000000) % agreed_ != 0 ||
        reinterpret_cast<std::uintptr_t>(data) % agreed_ != 0)
      return VFW_E_BADALIGN;
    queued.emplace_back(start / 10000000, static_cast<LONG>((stop - start) / 10000000));
    queued_ = sample;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE WaitForNext(DWORD, IMediaSample** sample, DWORD_PTR* user) override {
    *sample = queued_;
    *user = 0;
    queued_ = nullptr;
    return *sample ? fill(*sample) : VFW_E_WRONG_STATE;
  }
  HRESULT STDMETHODCALLTYPE SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SyncRead(LONGLONG position, LONG length, BYTE* buffer) override {
    requests.emplace_back(position, length);
    return syncRead(position, length, buffer);
  }
  HRESULT STDMETHODCALLTYPE Length(LONGLONG* totalOut, LONGLONG* availableOut) override {
    ++lengthCalls;
    if (FAILED(lengthResult)) return lengthResult;
    *totalOut = total;  // both, as readers written the usual way do
    *availableOut = available < 0 ? total : available;
    return lengthResult;
  }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }

  ULONG references() const { return references_; }

 private:
  ULONG references_ = 1;
  LONG agreed_ = 0;                 // the alignment agreed in RequestAllocator; 0: not asked yet
  IMediaSample* queued_ = nullptr;  // weak: the caller's
};

class StreamCallbacks : public ::testing::TestWithParam<const HostAbi*> {
 protected:
  void SetUp() override {
    object_.assign(256, 0);
    state_.reader = &reader_;
    host().Set<void*>(abi().sys, &state_);
    if (host().Has(abi().infoEof)) host().Set<bool>(abi().infoEof, true);
    callbacks_ = StreamCallbacksFor(abi());
  }
  void TearDown() override { state_.reader.Reset(); }

  const HostAbi& abi() const { return *GetParam(); }
  HostObject host() { return HostObject(abi(), object_.data()); }

  void GiveSize(std::int64_t size) {
    state_.size = size;
    state_.sizeKind = AccessState::Size::Final;
  }
  std::int64_t Position() {
    return host().Has(abi().infoPosition) ? host().Get<std::int64_t>(abi().infoPosition)
                                          : state_.position;
  }
  void SetPosition(std::int64_t position) {
    if (host().Has(abi().infoPosition))
      host().Set<std::int64_t>(abi().infoPosition, position);
    else
      state_.position = position;
  }
  // The end-of-stream flag lives on the 2.2 host object only.
  void ExpectEof(bool expected) {
    if (host().Has(abi().infoEof)) {
      EXPECT_EQ(host().Get<bool>(abi().infoEof), expected);
    }
  }

  long long Read(void* buffer, size_t length) {
    return callbacks_.read(object_.data(), buffer, length);
  }
  int Control(int query, ...) {
    va_list args;
    va_start(args, query);
    const int result = callbacks_.control(object_.data(), query, args);
    va_end(args);
    return result;
  }

  std::vector<unsigned char> object_;
  ScriptedReader reader_;
  AccessState state_;
  host::StreamCallbacks callbacks_{};
};

TEST_P(StreamCallbacks, FullReadAdvancesByTheLength) {
  GiveSize(100);
  reader_.syncRead = [](LONGLONG position, LONG length, BYTE* buffer) {
    for (LONG i = 0; i < length; ++i) buffer[i] = static_cast<BYTE>(position + i);
    return S_OK;
  };
  unsigned char buffer[10] = {};
  SetPosition(40);
  EXPECT_EQ(Read(buffer, 10), 10);
  EXPECT_EQ(buffer[0], 40);
  EXPECT_EQ(buffer[9], 49);
  EXPECT_EQ(Position(), 50);
  ExpectEof(false);
}

TEST_P(StreamCallbacks, ReadAtTheSizeAsksTheReaderNothing) {
  GiveSize(100);
  SetPosition(100);
  char buffer[4];
  EXPECT_EQ(Read(buffer, 4), 0);
  EXPECT_TRUE(reader_.requests.empty());
  ExpectEof(false);
}

// A source that knows its size only once its graph runs: a read at 0 asks again, and until then
// the reader itself says where the stream ends.
TEST_P(StreamCallbacks, UnknownSizeIsAskedAgainAndReadsGoOn) {
  UpdateSize(state_);  // a total of 0 is no size
  EXPECT_EQ(state_.sizeKind, AccessState::Size::Unknown);
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_OK; };
  char buffer[4];
  EXPECT_EQ(Read(buffer, 4), 4);
  EXPECT_EQ(reader_.lengthCalls, 2);
  EXPECT_EQ(callbacks_.seek(object_.data(), 12345), 0);
  EXPECT_EQ(Position(), 12345);
  reader_.total = 100;
  EXPECT_EQ(Read(buffer, 4), 0);  // known now, and past it
  EXPECT_EQ(state_.sizeKind, AccessState::Size::Final);
}

TEST_P(StreamCallbacks, SeekClampsToTheSizeAndClearsEndOfStream) {
  GiveSize(100);
  EXPECT_EQ(callbacks_.seek(object_.data(), 30), 0);
  EXPECT_EQ(Position(), 30);
  EXPECT_EQ(callbacks_.seek(object_.data(), 1000), 0);
  EXPECT_EQ(Position(), 100);
  // Beyond 2^63: still the size, never a negative position.
  EXPECT_EQ(callbacks_.seek(object_.data(), ~std::uint64_t{0}), 0);
  EXPECT_EQ(Position(), 100);
  ExpectEof(false);
  char buffer[4];
  EXPECT_EQ(Read(buffer, 4), 0);
  EXPECT_TRUE(reader_.requests.empty());
}

TEST_P(StreamCallbacks, ShortAnswerPastTheSizeDeliversTheRest) {
  GiveSize(100);
  SetPosition(90);
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_FALSE; };
  char buffer[32];
  EXPECT_EQ(Read(buffer, 32), 10);
  EXPECT_EQ(Position(), 100);
  ExpectEof(false);
}

// Only the reader knows how many bytes came: an estimate that was too high must not turn the rest
// of the host's buffer into media.
TEST_P(StreamCallbacks, ShortAnswerDeliversWhatTheReaderCounted) {
  reader_.total = 1000;
  reader_.lengthResult = VFW_S_ESTIMATED;
  UpdateSize(state_);
  SetPosition(990);
  reader_.fill = [](IMediaSample* request) {
    request->SetActualDataLength(4);
    return S_FALSE;
  };
  char buffer[32];
  EXPECT_EQ(Read(buffer, 32), 4);
  EXPECT_EQ(Position(), 994);
  // Through SyncRead only a final size says how much came: the reader is asked again.
  reader_.fill = nullptr;
  state_.request.requests = RequestSlot::Requests::Refused;
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_FALSE; };
  reader_.lengthResult = S_OK;
  reader_.total = 1001;
  EXPECT_EQ(Read(buffer, 32), 7);
  EXPECT_EQ(Position(), 1001);
}

// Requests are agreed once, on an allocator of the access's own, and made only where position,
// count and buffer meet the alignment agreed; the rest goes through SyncRead. The access keeps its
// own reference on its sample: the reader took none and handed none back.
TEST_P(StreamCallbacks, RequestsOnlyWhereTheAgreedAlignmentIsMet) {
  GiveSize(1000);
  reader_.align = 4;
  reader_.fill = [](IMediaSample* request) {
    request->SetActualDataLength(request->GetSize());
    return S_OK;
  };
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_OK; };
  alignas(16) unsigned char buffer[64];
  SetPosition(8);
  EXPECT_EQ(Read(buffer, 16), 16);
  EXPECT_EQ(Read(buffer, 15), 15);  // the count
  EXPECT_EQ(Read(buffer, 16), 16);  // the position
  SetPosition(40);
  EXPECT_EQ(Read(buffer + 1, 16), 16);  // the buffer
  EXPECT_EQ(Read(buffer, 8), 8);
  EXPECT_EQ(reader_.allocatorCalls, 1);
  EXPECT_THAT(reader_.queued, ElementsAre(Pair(8, 16), Pair(56, 8)));
  EXPECT_THAT(reader_.requests, ElementsAre(Pair(24, 15), Pair(39, 16), Pair(40, 16)));
  ds::CMediaSample* const sample = state_.request.sample.Get();
  ASSERT_NE(sample, nullptr);
  sample->AddRef();
  EXPECT_EQ(sample->Release(), 1u);
}

// A reader that tells how far its bytes have come is asked for those alone, or for a first chunk
// where none has come yet; the host asks again for the rest. One that tells nothing is asked for
// the whole count.
TEST_P(StreamCallbacks, ReadsAskForWhatHasArrived) {
  reader_.total = 1 << 20;
  reader_.available = 1000;
  UpdateSize(state_);
  reader_.fill = [](IMediaSample* request) {
    request->SetActualDataLength(request->GetSize());
    return S_OK;
  };
  std::vector<char> buffer(1 << 20);
  SetPosition(200);
  EXPECT_EQ(Read(buffer.data(), buffer.size()), 800);
  EXPECT_EQ(Read(buffer.data(), buffer.size()), kFirstChunk);
  EXPECT_THAT(reader_.queued, ElementsAre(Pair(200, 800), Pair(1000, kFirstChunk)));
  state_.request.requests = RequestSlot::Requests::Refused;
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_OK; };
  reader_.available = 70000;
  EXPECT_EQ(Read(buffer.data(), buffer.size()), 70000 - 1000 - kFirstChunk);
  reader_.available = -1;  // as much as the total
  EXPECT_EQ(Read(buffer.data(), 4096), 4096);
  EXPECT_THAT(reader_.requests,
              ElementsAre(Pair(1000 + kFirstChunk, 70000 - 1000 - kFirstChunk), Pair(70000, 4096)));
}

// A position whose time no sample can hold (times 10^7 past 64 bits) is read with SyncRead.
TEST_P(StreamCallbacks, PositionsPastASamplesTimesAreReadWithSyncRead) {
  GiveSize(kLargestSize);
  reader_.fill = [](IMediaSample* request) {
    request->SetActualDataLength(request->GetSize());
    return S_OK;
  };
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_OK; };
  char buffer[16];
  const LONGLONG distant = ds::CMediaSample::kLargestTimedOffset - 8;
  SetPosition(distant);
  EXPECT_EQ(Read(buffer, 16), 16);
  EXPECT_THAT(reader_.requests, ElementsAre(Pair(distant, 16)));
  EXPECT_THAT(reader_.queued, IsEmpty());
}

// Up to and including a request that ends exactly at the size.
TEST_P(StreamCallbacks, ShortAnswerWithinTheSizeDeliversNothing) {
  GiveSize(100);
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_FALSE; };
  for (const std::int64_t position : {10, 68}) {
    SetPosition(position);
    char buffer[32];
    EXPECT_EQ(Read(buffer, 32), 0) << position;
    EXPECT_EQ(Position(), position);
    ExpectEof(true);
  }
}

TEST_P(StreamCallbacks, ReaderFailureDeliversNothingAndKeepsThePosition) {
  GiveSize(100);
  SetPosition(10);
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return E_FAIL; };
  char buffer[32];
  EXPECT_EQ(Read(buffer, 32), 0);
  EXPECT_EQ(Position(), 10);
  ExpectEof(false);
}

TEST_P(StreamCallbacks, HugeReadIsServedInPartWithoutSkippingData) {
  const std::int64_t size = std::int64_t{1} << 40;
  GiveSize(size);
  SetPosition(5);
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_OK; };
  // Never dereferenced: the scripted reader writes nothing.
  auto* buffer = reinterpret_cast<void*>(0x1000);
  // The largest request a host can make beyond LONG_MAX: 2^32 + 7 on x86-64 (it would truncate
  // to 7 as a 32-bit count), the whole of size_t on x86.
  const size_t huge =
      sizeof(size_t) == 8 ? static_cast<size_t>((std::uint64_t{1} << 32) + 7) : SIZE_MAX;
  EXPECT_EQ(Read(buffer, huge), LONG_MAX);
  ASSERT_EQ(reader_.requests.size(), 1u);
  EXPECT_EQ(reader_.requests[0].first, 5);
  EXPECT_EQ(reader_.requests[0].second, LONG_MAX);
  EXPECT_EQ(Position(), 5 + std::int64_t{LONG_MAX});
  EXPECT_EQ(Read(buffer, size_t{1} << 31), LONG_MAX);
  EXPECT_EQ(Position(), 5 + 2 * std::int64_t{LONG_MAX});
}

// Whatever total the reader answers, no position plus the largest count can overflow.
TEST_P(StreamCallbacks, SizesOutOfRangeAreHeldWithinTheLargestSize) {
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_OK; };
  auto* buffer = reinterpret_cast<void*>(0x1000);  // never dereferenced
  reader_.total = -1;
  UpdateSize(state_);
  EXPECT_EQ(state_.sizeKind, AccessState::Size::Unknown);
  for (const LONGLONG total : {LONGLONG{INT64_MAX}, LONGLONG{INT64_MAX - 10}}) {
    SCOPED_TRACE(total);
    reader_.total = total;
    state_.size = 0;
    UpdateSize(state_);
    const std::int64_t size = kLargestSize;
    EXPECT_EQ(state_.size, size);
    EXPECT_EQ(callbacks_.seek(object_.data(), ~std::uint64_t{0}), 0);
    EXPECT_EQ(Position(), size);
    EXPECT_EQ(Read(buffer, 32768), 0);
    // Whatever the reader says it read, nothing past a final size is the stream's.
    callbacks_.seek(object_.data(), static_cast<std::uint64_t>(size - 1));
    EXPECT_EQ(Read(buffer, ~size_t{0}), 1);
    EXPECT_EQ(Position(), size);
  }
}

// A reader still fetching answers VFW_S_ESTIMATED: the size follows its answers upwards as reads,
// seeks and the size query reach it, and is asked no more once final.
TEST_P(StreamCallbacks, EstimatedSizeIsAskedAgainWhenReached) {
  reader_.syncRead = [](LONGLONG, LONG, BYTE*) { return S_OK; };
  char buffer[100];
  reader_.total = 100;
  reader_.lengthResult = VFW_S_ESTIMATED;
  UpdateSize(state_);
  reader_.total = 250;
  EXPECT_EQ(Read(buffer, 100), 100);
  EXPECT_EQ(state_.size, 100) << "taken again before the size was reached";
  EXPECT_EQ(Read(buffer, 100), 100);  // at the size: taken again, and it grew
  EXPECT_EQ(Read(buffer, 100), 100);  // a reader may serve past its estimate
  EXPECT_EQ(Position(), 300);
  reader_.total = 50;  // a smaller estimate takes nothing back
  EXPECT_EQ(Read(buffer, 100), 100);
  EXPECT_EQ(state_.size, 250);
  reader_.lengthResult = E_FAIL;  // nor does a failure
  EXPECT_EQ(Read(buffer, 100), 100);
  EXPECT_EQ(state_.size, 250);

  // The host takes the offset it asked for as its position: past an estimate it is kept.
  reader_.lengthResult = VFW_S_ESTIMATED;
  reader_.total = 400;
  EXPECT_EQ(callbacks_.seek(object_.data(), 1350), 0);
  EXPECT_EQ(Position(), 1350);
  reader_.total = 500;
  std::uint64_t size = 0;
  EXPECT_EQ(Control(6, &size), 0);
  EXPECT_EQ(size, 500u);

  reader_.lengthResult = S_OK;  // final, and smaller than the estimate
  reader_.total = 450;
  EXPECT_EQ(Control(6, &size), 0);
  EXPECT_EQ(size, 450u);
  const int calls = reader_.lengthCalls;
  callbacks_.seek(object_.data(), 1000);
  EXPECT_EQ(Read(buffer, 100), 0);
  EXPECT_EQ(Control(6, &size), 0);
  EXPECT_EQ(reader_.lengthCalls, calls);
  EXPECT_EQ(Position(), 450);
}

TEST_P(StreamCallbacks, ControlAnswersTheKnownQueries) {
  GiveSize(123456789012LL);
  bool flag = false;
  EXPECT_EQ(Control(0, &flag), 0);
  EXPECT_TRUE(flag);
  EXPECT_EQ(Control(1, &flag), 0);
  EXPECT_FALSE(flag);
  flag = false;
  EXPECT_EQ(Control(2, &flag), 0);
  EXPECT_TRUE(flag);
  flag = false;
  EXPECT_EQ(Control(3, &flag), 0);
  EXPECT_TRUE(flag);
  std::uint64_t size = 0;
  EXPECT_EQ(Control(6, &size), 0);
  EXPECT_EQ(size, 123456789012ULL);
  std::int64_t delay = -1;
  EXPECT_EQ(Control(0x101, &delay), 0);
  EXPECT_EQ(delay, 1000000);  // no host to inherit the user's caching from: the host's default
  EXPECT_EQ(Control(0x200), 0);
  EXPECT_EQ(Control(4, &flag), -1);
  EXPECT_EQ(Control(5, &flag), -1);
  EXPECT_EQ(Control(0x102, &flag), -1);
}

TEST_P(StreamCallbacks, DirectoryQueryOnlyWhereItCarriesABool) {
  bool flag = true;
  if (abi().answersDirectoryQuery) {
    EXPECT_EQ(Control(7, &flag), 0);
    EXPECT_FALSE(flag);
  } else {
    // Released 3.0 hosts pass no argument: nothing may be read or written.
    EXPECT_EQ(Control(7, &flag), -1);
    EXPECT_TRUE(flag);
  }
}

INSTANTIATE_TEST_SUITE_P(Abis, StreamCallbacks,
                         ::testing::Values(&kAbi22, &kAbi30Dev, &kAbi30Release),
                         [](const auto& info) {
                           return info.param->id == 0   ? std::string("Host22")
                                  : info.param->id == 1 ? std::string("Host30Development")
                                                        : std::string("Host30Release");
                         });

}  // namespace
}  // namespace kavo::host
