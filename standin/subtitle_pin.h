// An output pin that pushes one subtitle track. Once the filter leaves the stopped state (and,
// for a delayed track, its delay has passed), a streaming thread delivers every cue, in catalog
// order, as one sample to the connected input pin, then end of stream (or, for a track that never
// ends, waits for the stop). A pin that also offers MEDIATYPE_Text, and is connected with it,
// writes each cue as an SRT entry (number, times, text), as text pins of real sources do.
// Thread rule: the filter starts and stops streaming under its state lock; the streaming thread
// touches only copies of the connection taken when it starts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "standin/catalog.h"
#include "standin/pin_base.h"

namespace kavo::standin {

class SubtitlePin final : public PinBase {
 public:
  // track belongs to the filter's video, which outlives the filter's pins.
  // textFirst: MEDIATYPE_Text is offered before the subtitle type.
  SubtitlePin(IBaseFilter& filter, std::wstring name, const SubtitleTrack& track, bool extraType,
              bool textFirst);
  ~SubtitlePin() override;

  // From stopped to paused or running; nothing happens for an unconnected pin.
  HRESULT StartStreaming();
  // Back to stopped: the allocator is decommitted first, so a GetBuffer that waits returns.
  void StopStreaming();

 protected:
  HRESULT CompleteConnect(IPin* peer) override;
  void BreakConnect() override;

 private:
  void Stream(Microsoft::WRL::ComPtr<IPin> peer, Microsoft::WRL::ComPtr<IMemInputPin> input,
              Microsoft::WRL::ComPtr<IMemAllocator> allocator, bool asText,
              std::chrono::steady_clock::time_point started);
  bool StopRequested();
  // Waits until `until`; true when the stop came first.
  bool StopRequestedBefore(std::chrono::steady_clock::time_point until);
  HRESULT SetUpAllocator(IMemInputPin* input, IMemAllocator* allocator, bool asText);

  const SubtitleTrack& track_;
  std::mutex lock_;
  std::condition_variable stopSignal_;
  bool stopRequested_ = false;
  Microsoft::WRL::ComPtr<IPin> peer_;
  Microsoft::WRL::ComPtr<IMemInputPin> input_;
  Microsoft::WRL::ComPtr<IMemAllocator> allocator_;
  bool asText_ = false;  // connected with MEDIATYPE_Text
  std::thread thread_;
};

}  // namespace kavo::standin
