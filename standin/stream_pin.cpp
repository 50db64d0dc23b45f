#include "standin/stream_pin.h"

namespace kavo::standin {

StreamPin::StreamPin(IBaseFilter& filter, std::wstring name, std::vector<MediaType> types,
                     FileHandle file, std::uint64_t size, const ReaderFaults& faults)
    : PinBase(filter, std::move(name), PINDIR_OUTPUT, std::move(types)),
      hasReader_(!faults.noReader),
      reader_(*this, std::move(file), size, faults) {}

StreamPin::~StreamPin() = default;

HRESULT StreamPin::QueryOther(REFIID riid, void** object) {
  if (!IsEqualIID(riid, IID_IAsyncReader) || !hasReader_) return E_NOINTERFACE;
  *object = static_cast<IAsyncReader*>(&reader_);
  reader_.AddRef();
  return S_OK;
}

}  // namespace kavo::standin
