// An output pin that offers one file as a byte stream (the Container and Audio pins). It is
// never pushed from; its bytes are pulled through the IAsyncReader it lends out, connected or
// not. Like the platform's async reader pins it completes a connection only when the peer asked
// it for that reader while connecting (VFW_E_NO_TRANSPORT otherwise). Thread rule: that of
// PinBase and AsyncFileReader.
#pragma once

#include <atomic>

#include "standin/async_file_reader.h"
#include "standin/pin_base.h"

namespace kavo::standin {

class StreamPin final : public PinBase {
 public:
  StreamPin(IBaseFilter& filter, std::wstring name, std::vector<MediaType> types, FileHandle file,
            std::uint64_t size, const ReaderFaults& faults);
  ~StreamPin() override;

  // The filter stopped: waiting reads and queued requests fail.
  void InterruptReads() { reader_.Interrupt(); }
  // Whether the filter runs, for a pin that serves reads only then.
  void SetRunning(bool running) { reader_.SetRunning(running); }

  STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) override;

 protected:
  HRESULT QueryOther(REFIID riid, void** object) override;
  HRESULT CompleteConnect(IPin* peer) override;

 private:
  const bool hasReader_;
  std::atomic<bool> readerAsked_{false};  // since the connection began
  AsyncFileReader reader_;
};

}  // namespace kavo::standin
