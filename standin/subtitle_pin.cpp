#include "standin/subtitle_pin.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "standin/controls.h"

namespace kavo::standin {
namespace {

using Microsoft::WRL::ComPtr;

std::vector<MediaType> SubtitleTypes(const SubtitleTrack& track, bool extraType) {
  std::vector<MediaType> types{MediaType::Subtitle(track)};
  if (extraType) types.push_back(types.front());
  return types;
}

LONG LargestCue(const SubtitleTrack& track) {
  size_t largest = 1;
  for (const Cue& cue : track.cues) largest = std::max(largest, cue.text.size());
  return static_cast<LONG>(std::min<size_t>(largest, 0x7FFFFFFF));
}

}  // namespace

SubtitlePin::SubtitlePin(IBaseFilter& filter, std::wstring name, const SubtitleTrack& track,
                         bool extraType)
    : PinBase(filter, std::move(name), PINDIR_OUTPUT, SubtitleTypes(track, extraType)),
      track_(track) {}

SubtitlePin::~SubtitlePin() { StopStreaming(); }

HRESULT SubtitlePin::SetUpAllocator(IMemInputPin* input, IMemAllocator* allocator) {
  ALLOCATOR_PROPERTIES needs = {};
  input->GetAllocatorRequirements(&needs);
  ALLOCATOR_PROPERTIES wanted = {};
  wanted.cBuffers = std::max<LONG>(needs.cBuffers, 2);
  wanted.cbBuffer = std::max(needs.cbBuffer, LargestCue(track_));
  wanted.cbAlign = std::max<LONG>(needs.cbAlign, 1);
  wanted.cbPrefix = needs.cbPrefix;
  ALLOCATOR_PROPERTIES granted = {};
  const HRESULT set = allocator->SetProperties(&wanted, &granted);
  if (FAILED(set)) return set;
  if (granted.cbBuffer < LargestCue(track_)) return VFW_E_SIZENOTSET;
  return input->NotifyAllocator(allocator, FALSE);
}

HRESULT SubtitlePin::CompleteConnect(IPin* peer) {
  ComPtr<IMemInputPin> input;
  const HRESULT queried =
      peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(input.GetAddressOf()));
  if (FAILED(queried)) return VFW_E_NO_TRANSPORT;
  // The input pin's own allocator first, as push sources do; ours when it has none or refuses.
  ComPtr<IMemAllocator> allocator;
  HRESULT result = input->GetAllocator(allocator.GetAddressOf());
  if (SUCCEEDED(result)) result = SetUpAllocator(input.Get(), allocator.Get());
  if (FAILED(result)) {
    allocator.Reset();
    result =
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                         reinterpret_cast<void**>(allocator.GetAddressOf()));
    if (FAILED(result)) return result;
    result = SetUpAllocator(input.Get(), allocator.Get());
    if (FAILED(result)) return result;
  }
  std::lock_guard<std::mutex> guard(lock_);
  peer_ = peer;
  input_ = input;
  allocator_ = allocator;
  return S_OK;
}

void SubtitlePin::BreakConnect() {
  StopStreaming();
  ComPtr<IPin> peer;
  ComPtr<IMemInputPin> input;
  ComPtr<IMemAllocator> allocator;
  std::lock_guard<std::mutex> guard(lock_);
  peer.Swap(peer_);
  input.Swap(input_);
  allocator.Swap(allocator_);
}

HRESULT SubtitlePin::StartStreaming() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!input_ || thread_.joinable()) return S_OK;
  const HRESULT committed = allocator_->Commit();
  if (FAILED(committed)) return committed;
  stopRequested_ = false;
  try {
    thread_ = std::thread(&SubtitlePin::Stream, this, peer_, input_, allocator_,
                          std::chrono::steady_clock::now());
  } catch (const std::system_error&) {
    allocator_->Decommit();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void SubtitlePin::StopStreaming() {
  std::thread streaming;
  ComPtr<IMemAllocator> allocator;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopRequested_ = true;
    streaming.swap(thread_);
    allocator = allocator_;
  }
  stopSignal_.notify_all();
  if (allocator) allocator->Decommit();
  if (streaming.joinable()) streaming.join();
}

bool SubtitlePin::StopRequested() {
  std::lock_guard<std::mutex> guard(lock_);
  return stopRequested_;
}

bool SubtitlePin::StopRequestedBefore(std::chrono::steady_clock::time_point until) {
  std::unique_lock<std::mutex> guard(lock_);
  return stopSignal_.wait_until(guard, until, [this] { return stopRequested_; });
}

void SubtitlePin::Stream(ComPtr<IPin> peer, ComPtr<IMemInputPin> input,
                         ComPtr<IMemAllocator> allocator,
                         std::chrono::steady_clock::time_point started) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  peer->NewSegment(0, MAXLONGLONG, 1.0);
  // A slow network: nothing arrives before the delay has passed.
  bool delivered = !StopRequestedBefore(started + std::chrono::milliseconds(track_.delayMs));
  bool first = true;
  for (const Cue& cue : track_.cues) {
    ComPtr<IMediaSample> sample;
    if (!delivered || StopRequested() ||
        FAILED(allocator->GetBuffer(sample.GetAddressOf(), nullptr, nullptr, 0))) {
      delivered = false;
      break;
    }
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = std::min<LONG>(sample->GetSize(), static_cast<LONG>(cue.text.size()));
    if (data && length > 0) std::memcpy(data, cue.text.data(), static_cast<size_t>(length));
    REFERENCE_TIME start = cue.startMs * 10000;
    REFERENCE_TIME stop = cue.stopMs * 10000;
    sample->SetTime(&start, &stop);
    sample->SetActualDataLength(length);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(first ? TRUE : FALSE);
    first = false;
    // S_FALSE means the input pin wants no more; a failure that it is stopping or broken.
    if (input->Receive(sample.Get()) != S_OK) {
      delivered = false;
      break;
    }
  }
  if (delivered && track_.neverEnds) {
    std::unique_lock<std::mutex> guard(lock_);
    stopSignal_.wait(guard, [this] { return stopRequested_; });
    delivered = false;
  }
  if (delivered && !StopRequested()) {
    NoteEndOfStream();
    peer->EndOfStream();
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace kavo::standin
