#include "standin/stream_pin.h"

#include <vfwmsgs.h>

namespace kavo::standin {

StreamPin::StreamPin(IBaseFilter& filter, std::wstring name, std::vector<MediaType> types,
                     FileHandle file, std::uint64_t size, const ReaderFaults& faults)
    : PinBase(filter, std::move(name), PINDIR_OUTPUT, std::move(types)),
      hasReader_(!faults.noReader),
      reader_(*this, std::move(file), size, faults) {}

StreamPin::~StreamPin() = default;

STDMETHODIMP StreamPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) {
  readerAsked_ = false;
  return PinBase::Connect(receiver, wanted);
}

HRESULT StreamPin::QueryOther(REFIID riid, void** object) {
  if (!IsEqualIID(riid, IID_IAsyncReader) || !hasReader_) return E_NOINTERFACE;
  readerAsked_ = true;
  *object = static_cast<IAsyncReader*>(&reader_);
  reader_.AddRef();
  return S_OK;
}

// A peer that never asked for the reader would pull nothing through the connection.
HRESULT StreamPin::CompleteConnect(IPin*) {
  return hasReader_ && !readerAsked_ ? VFW_E_NO_TRANSPORT : S_OK;
}

}  // namespace kavo::standin
