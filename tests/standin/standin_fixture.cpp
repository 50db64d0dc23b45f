#include "standin_fixture.h"

namespace kavo::test {

void StandInTest::SetUp() {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  ASSERT_TRUE(EnsureStandInRegistered());
  StandIn::Reset();
}

void StandInTest::TearDown() {
  EXPECT_EQ(StandIn::LiveObjects(), 0) << "a filter, pin, reader or enumerator leaked";
  StandIn::Reset();
  CoUninitialize();
}

ComPtr<IBaseFilter> StandInTest::Create() {
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CoCreateInstance(CLSID_KavoSourceFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter,
                             reinterpret_cast<void**>(filter.GetAddressOf())),
            S_OK);
  return filter;
}

ComPtr<IBaseFilter> StandInTest::Loaded(const CatalogVideo& video) {
  EXPECT_TRUE(catalog_.Add(video));
  ComPtr<IBaseFilter> filter = Create();
  ComPtr<IFileSourceFilter> source;
  if (!filter || FAILED(filter.As(&source))) return nullptr;
  const HRESULT loaded = source->Load(WatchAddress(video.id).c_str(), nullptr);
  EXPECT_EQ(loaded, S_OK) << StandIn::LastLoadError();
  return SUCCEEDED(loaded) ? filter : nullptr;
}

std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> enumerator;
  if (FAILED(filter->EnumPins(&enumerator))) return pins;
  ComPtr<IPin> pin;
  while (enumerator->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) pins.push_back(pin);
  return pins;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION direction, int index) {
  for (const ComPtr<IPin>& pin : Pins(filter)) {
    PIN_DIRECTION actual = static_cast<PIN_DIRECTION>(3);
    pin->QueryDirection(&actual);
    if (actual == direction && index-- == 0) return pin;
  }
  return nullptr;
}

std::wstring PinName(IPin* pin) {
  PIN_INFO info = {};
  if (FAILED(pin->QueryPinInfo(&info))) return L"";
  if (info.pFilter) info.pFilter->Release();
  return info.achName;
}

std::vector<MediaTypePtr> MediaTypes(IPin* pin) {
  std::vector<MediaTypePtr> types;
  ComPtr<IEnumMediaTypes> enumerator;
  if (FAILED(pin->EnumMediaTypes(&enumerator))) return types;
  AM_MEDIA_TYPE* type = nullptr;
  while (enumerator->Next(1, &type, nullptr) == S_OK) types.emplace_back(type);
  return types;
}

ComPtr<IAsyncReader> ReaderOf(IBaseFilter* filter, int outputIndex) {
  ComPtr<IAsyncReader> reader;
  const ComPtr<IPin> pin = PinOf(filter, PINDIR_OUTPUT, outputIndex);
  if (pin) pin.As(&reader);
  return reader;
}

std::string Read(IAsyncReader* reader, LONGLONG position, LONG length, HRESULT* result) {
  std::string bytes(static_cast<size_t>(length), '\0');
  const HRESULT read = reader->SyncRead(position, length, reinterpret_cast<BYTE*>(&bytes[0]));
  if (result) *result = read;
  return bytes;
}

std::string Requested(IAsyncReader* reader, LONGLONG position, LONG length, HRESULT* result,
                      REFERENCE_TIME* stop) {
  HRESULT answer = E_UNEXPECTED;
  std::string bytes;
  ComPtr<IMemAllocator> allocator;
  ComPtr<IMemAllocator> agreed;
  ComPtr<IMediaSample> sample;
  ALLOCATOR_PROPERTIES wanted = {1, length, 1, 0};
  REFERENCE_TIME start = position * 10000000LL;
  REFERENCE_TIME end = (position + length) * 10000000LL;
  IMediaSample* done = nullptr;
  DWORD_PTR user = 0;
  if (SUCCEEDED(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IMemAllocator,
                                 reinterpret_cast<void**>(allocator.GetAddressOf()))) &&
      SUCCEEDED(reader->RequestAllocator(allocator.Get(), &wanted, &agreed)) &&
      SUCCEEDED(agreed->Commit()) && SUCCEEDED(agreed->GetBuffer(&sample, nullptr, nullptr, 0)) &&
      SUCCEEDED(sample->SetTime(&start, &end))) {
    answer = reader->Request(sample.Get(), 0);
    if (SUCCEEDED(answer)) answer = reader->WaitForNext(INFINITE, &done, &user);
  }
  BYTE* data = nullptr;
  if (done && SUCCEEDED(done->GetPointer(&data)))
    bytes.assign(reinterpret_cast<char*>(data), static_cast<size_t>(done->GetActualDataLength()));
  if (done && stop) done->GetTime(&start, stop);
  sample.Reset();
  if (agreed) agreed->Decommit();
  if (result) *result = answer;
  return bytes;
}

}  // namespace kavo::test
