#include "standin/subtitle_pin.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <system_error>

#include "standin/controls.h"

namespace kavo::standin {
namespace {

using Microsoft::WRL::ComPtr;

std::vector<MediaType> SubtitleTypes(const SubtitleTrack& track, bool extraType, bool textFirst) {
  std::vector<MediaType> types;
  if (textFirst) types.push_back(MediaType::Text());
  types.push_back(MediaType::Subtitle(track));
  if (extraType) types.push_back(types.back());
  return types;
}

// "hh:mm:ss,mmm"; a negative time shows as the origin.
std::string SrtTime(std::int64_t ms) {
  ms = std::max<std::int64_t>(ms, 0);
  const auto digits = [](std::int64_t value, size_t width) {
    std::string text = std::to_string(value);
    return std::string(text.size() < width ? width - text.size() : 0, '0') + text;
  };
  return digits(ms / 3600000, 2) + ":" + digits(ms / 60000 % 60, 2) + ":" +
         digits(ms / 1000 % 60, 2) + "," + digits(ms % 1000, 3);
}

// What one sample carries: the cue's text, or as text samples its whole SRT entry.
std::string Payload(const Cue& cue, size_t number, bool asText) {
  if (!asText) return cue.text;
  return std::to_string(number) + "\n" + SrtTime(cue.startMs) + " --> " + SrtTime(cue.stopMs) +
         "\n" + cue.text + "\n\n";
}

LONG LargestPayload(const SubtitleTrack& track, bool asText) {
  size_t largest = 1;
  for (size_t i = 0; i < track.cues.size(); ++i) {
    largest = std::max(largest, Payload(track.cues[i], i + 1, asText).size());
  }
  return static_cast<LONG>(std::min<size_t>(largest, 0x7FFFFFFF));
}

}  // namespace

SubtitlePin::SubtitlePin(IBaseFilter& filter, std::wstring name, const SubtitleTrack& track,
                         bool extraType, bool textFirst)
    : PinBase(filter, std::move(name), PINDIR_OUTPUT, SubtitleTypes(track, extraType, textFirst)),
      track_(track) {}

SubtitlePin::~SubtitlePin() { StopStreaming(); }

HRESULT SubtitlePin::SetUpAllocator(IMemInputPin* input, IMemAllocator* allocator, bool asText) {
  const LONG largest = LargestPayload(track_, asText);
  ALLOCATOR_PROPERTIES needs = {};
  input->GetAllocatorRequirements(&needs);
  ALLOCATOR_PROPERTIES wanted = {};
  wanted.cBuffers = std::max<LONG>(needs.cBuffers, 2);
  wanted.cbBuffer = std::max(needs.cbBuffer, largest);
  wanted.cbAlign = std::max<LONG>(needs.cbAlign, 1);
  wanted.cbPrefix = needs.cbPrefix;
  ALLOCATOR_PROPERTIES granted = {};
  const HRESULT set = allocator->SetProperties(&wanted, &granted);
  if (FAILED(set)) return set;
  if (granted.cbBuffer < largest) return VFW_E_SIZENOTSET;
  return input->NotifyAllocator(allocator, FALSE);
}

HRESULT SubtitlePin::CompleteConnect(IPin* peer) {
  ComPtr<IMemInputPin> input;
  const HRESULT queried =
      peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(input.GetAddressOf()));
  if (FAILED(queried)) return VFW_E_NO_TRANSPORT;
  AM_MEDIA_TYPE type = {};
  HRESULT result = ConnectionMediaType(&type);
  if (FAILED(result)) return result;
  const bool asText = IsEqualGUID(type.majortype, MEDIATYPE_Text);
  FreeMediaType(type);
  // The input pin's own allocator first, as push sources do; ours when it has none or refuses.
  ComPtr<IMemAllocator> allocator;
  result = input->GetAllocator(allocator.GetAddressOf());
  if (SUCCEEDED(result)) result = SetUpAllocator(input.Get(), allocator.Get(), asText);
  if (FAILED(result)) {
    allocator.Reset();
    result =
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                         reinterpret_cast<void**>(allocator.GetAddressOf()));
    if (FAILED(result)) return result;
    result = SetUpAllocator(input.Get(), allocator.Get(), asText);
    if (FAILED(result)) return result;
  }
  std::lock_guard<std::mutex> guard(lock_);
  peer_ = peer;
  input_ = input;
  allocator_ = allocator;
  asText_ = asText;
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
    thread_ = std::thread(&SubtitlePin::Stream, this, peer_, input_, allocator_, asText_,
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
                         ComPtr<IMemAllocator> allocator, bool asText,
                         std::chrono::steady_clock::time_point started) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  peer->NewSegment(0, MAXLONGLONG, 1.0);
  // A slow network: nothing arrives before the delay has passed.
  bool delivered = !StopRequestedBefore(started + std::chrono::milliseconds(track_.delayMs));
  size_t number = 0;
  for (const Cue& cue : track_.cues) {
    const bool first = number++ == 0;
    ComPtr<IMediaSample> sample;
    if (!delivered || StopRequested() ||
        FAILED(allocator->GetBuffer(sample.GetAddressOf(), nullptr, nullptr, 0))) {
      delivered = false;
      break;
    }
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const std::string payload = Payload(cue, number, asText);
    const LONG length = std::min<LONG>(sample->GetSize(), static_cast<LONG>(payload.size()));
    if (data && length > 0) std::memcpy(data, payload.data(), static_cast<size_t>(length));
    REFERENCE_TIME start = cue.startMs * 10000;
    REFERENCE_TIME stop = cue.stopMs * 10000;
    sample->SetTime(&start, &stop);
    sample->SetActualDataLength(length);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(first ? TRUE : FALSE);
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
