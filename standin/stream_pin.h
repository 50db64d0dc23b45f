// An output pin that offers one file as a byte stream (the Container and Audio pins). It is
// never pushed from; its bytes are pulled through the IAsyncReader it lends out, connected or
// not. Thread rule: that of PinBase and AsyncFileReader.
#pragma once

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

 protected:
  HRESULT QueryOther(REFIID riid, void** object) override;

 private:
  const bool hasReader_;
  AsyncFileReader reader_;
};

}  // namespace kavo::standin
