// The pins: their order, names, directions and media types, the subtitle format block, the
// enumerators' edge cases, and the pin faults.
#include <cstring>

#include "standin_fixture.h"

namespace kavo::test {
namespace {

std::vector<std::wstring> Names(IBaseFilter* filter) {
  std::vector<std::wstring> names;
  for (const ComPtr<IPin>& pin : Pins(filter)) names.push_back(PinName(pin.Get()));
  return names;
}

using StandInPins = StandInTest;

TEST_F(StandInPins, ContainerAudioThenOneOutputPinPerTrackInAStableOrder) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("full")
                                          .Audio("audio")
                                          .Track(CatalogTrack("English", "en"))
                                          .Track(CatalogTrack("Deutsch", "de")));
  ASSERT_TRUE(filter);
  const std::vector<std::wstring> expected = {L"Container", L"Audio", L"Subtitle 1", L"Subtitle 2"};
  EXPECT_EQ(Names(filter.Get()), expected);
  EXPECT_EQ(Names(filter.Get()), expected);
  for (const ComPtr<IPin>& pin : Pins(filter.Get())) {
    PIN_DIRECTION direction = PINDIR_INPUT;
    EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_OUTPUT);
    PIN_INFO info = {};
    ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, filter.Get());
    info.pFilter->Release();
    LPWSTR id = nullptr;
    ASSERT_EQ(pin->QueryId(&id), S_OK);
    ComPtr<IPin> found;
    EXPECT_EQ(filter->FindPin(id, &found), S_OK);
    EXPECT_EQ(found.Get(), pin.Get());
    CoTaskMemFree(id);
  }
  ComPtr<IPin> none;
  EXPECT_EQ(filter->FindPin(L"Video", &none), VFW_E_NOT_FOUND);
}

TEST_F(StandInPins, AVideoWithoutAudioOrTracksHasTheContainerPinAlone) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("bare"));
  ASSERT_TRUE(filter);
  EXPECT_EQ(Names(filter.Get()), std::vector<std::wstring>{L"Container"});
  EXPECT_FALSE(PinOf(filter.Get(), PINDIR_OUTPUT, 1));
  EXPECT_TRUE(Pins(Create().Get()).empty()) << "no pins before Load";
}

TEST_F(StandInPins, ByteStreamPinsOfferAStreamAndAReader) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("streams").Audio("a"));
  ASSERT_TRUE(filter);
  for (int index : {0, 1}) {
    const ComPtr<IPin> pin = PinOf(filter.Get(), PINDIR_OUTPUT, index);
    const std::vector<MediaTypePtr> types = MediaTypes(pin.Get());
    ASSERT_EQ(types.size(), 1u);
    EXPECT_TRUE(IsEqualGUID(types[0]->majortype, MEDIATYPE_Stream));
    EXPECT_EQ(types[0]->cbFormat, 0u);
    EXPECT_EQ(pin->QueryAccept(types[0].get()), S_OK);
    ComPtr<IAsyncReader> reader;
    ASSERT_EQ(pin.As(&reader), S_OK);
    ComPtr<IPin> back;
    EXPECT_EQ(reader.As(&back), S_OK) << "the reader answers for its pin";
    EXPECT_EQ(back.Get(), pin.Get());
  }
}

TEST_F(StandInPins, SubtitlePinsOfferTheSubtitleTypeWithA520ByteBlock) {
  ComPtr<IBaseFilter> filter =
      Loaded(CatalogVideo("subs")
                 .Track(CatalogTrack("English (CC)", "eng").Line("offset = 77"))
                 .Track(CatalogTrack("", "engl")));
  ASSERT_TRUE(filter);
  const std::vector<MediaTypePtr> first = MediaTypes(PinOf(filter.Get(), PINDIR_OUTPUT, 1).Get());
  ASSERT_EQ(first.size(), 1u);
  const AM_MEDIA_TYPE& type = *first[0];
  EXPECT_TRUE(IsEqualGUID(type.majortype, kMediaTypeSubtitle));
  EXPECT_TRUE(IsEqualGUID(type.subtype, kMediaSubtypeUtf8));
  EXPECT_TRUE(IsEqualGUID(type.formattype, kFormatSubtitleInfo));
  ASSERT_EQ(type.cbFormat, 520u);
  DWORD offset = 0;
  std::memcpy(&offset, type.pbFormat, 4);
  EXPECT_EQ(offset, 77u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(type.pbFormat + 4), 4),
            std::string("eng\0", 4));
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(type.pbFormat + 8)), L"English (CC)");

  const std::vector<MediaTypePtr> second = MediaTypes(PinOf(filter.Get(), PINDIR_OUTPUT, 2).Get());
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(second[0]->pbFormat + 4), 4), "engl")
      << "all four language bytes used, no terminator";
  EXPECT_EQ(reinterpret_cast<const wchar_t*>(second[0]->pbFormat + 8)[0], L'\0');
}

TEST_F(StandInPins, TrackNamesAreCutTo255UnitsAndOddBlockSizesCanBeAskedFor) {
  const std::string longName(300, 'n');
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("odd")
                                          .Track(CatalogTrack(longName, "en"))
                                          .Track(CatalogTrack("short").Line("format_size = 519")));
  ASSERT_TRUE(filter);
  const std::vector<MediaTypePtr> first = MediaTypes(PinOf(filter.Get(), PINDIR_OUTPUT, 1).Get());
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(first[0]->pbFormat + 8)),
            std::wstring(255, L'n'));
  const std::vector<MediaTypePtr> second = MediaTypes(PinOf(filter.Get(), PINDIR_OUTPUT, 2).Get());
  EXPECT_EQ(second[0]->cbFormat, 519u);
}

TEST_F(StandInPins, AnInputPinAndAnUndecidedPinComeFirstWhenAsked) {
  ComPtr<IBaseFilter> filter =
      Loaded(CatalogVideo("odd-pins").Audio("a").Fault("input_pin_first").Fault("query_direction"));
  ASSERT_TRUE(filter);
  const std::vector<std::wstring> expected = {L"In", L"Undecided", L"Container", L"Audio"};
  EXPECT_EQ(Names(filter.Get()), expected);
  const std::vector<ComPtr<IPin>> pins = Pins(filter.Get());
  PIN_DIRECTION direction = static_cast<PIN_DIRECTION>(3);
  EXPECT_EQ(pins[0]->QueryDirection(&direction), S_OK);
  EXPECT_EQ(direction, PINDIR_INPUT);
  direction = static_cast<PIN_DIRECTION>(3);
  EXPECT_TRUE(FAILED(pins[1]->QueryDirection(&direction)));
  EXPECT_EQ(direction, static_cast<PIN_DIRECTION>(3)) << "a failing QueryDirection writes nothing";
  EXPECT_EQ(PinName(PinOf(filter.Get(), PINDIR_OUTPUT, 0).Get()), L"Container");
  EXPECT_EQ(PinName(PinOf(filter.Get(), PINDIR_OUTPUT, 1).Get()), L"Audio");
  EXPECT_EQ(pins[0]->ReceiveConnection(pins[2].Get(), MediaTypes(pins[2].Get())[0].get()),
            VFW_E_TYPE_NOT_ACCEPTED);
}

TEST_F(StandInPins, MediaTypeFaults) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("types")
                                          .Audio("a")
                                          .Track(CatalogTrack("t"))
                                          .Fault("container_type = video")
                                          .Fault("audio_stream_third")
                                          .Fault("extra_subtitle_type"));
  ASSERT_TRUE(filter);
  const std::vector<MediaTypePtr> container =
      MediaTypes(PinOf(filter.Get(), PINDIR_OUTPUT, 0).Get());
  ASSERT_EQ(container.size(), 1u);
  EXPECT_TRUE(IsEqualGUID(container[0]->majortype, MEDIATYPE_Video));
  const std::vector<MediaTypePtr> audio = MediaTypes(PinOf(filter.Get(), PINDIR_OUTPUT, 1).Get());
  ASSERT_EQ(audio.size(), 3u);
  EXPECT_FALSE(IsEqualGUID(audio[0]->majortype, MEDIATYPE_Stream));
  EXPECT_FALSE(IsEqualGUID(audio[1]->majortype, MEDIATYPE_Stream));
  EXPECT_TRUE(IsEqualGUID(audio[2]->majortype, MEDIATYPE_Stream));
  const std::vector<MediaTypePtr> subtitle =
      MediaTypes(PinOf(filter.Get(), PINDIR_OUTPUT, 2).Get());
  ASSERT_EQ(subtitle.size(), 2u);
  EXPECT_EQ(std::memcmp(subtitle[0]->pbFormat, subtitle[1]->pbFormat, 520), 0);
}

TEST_F(StandInPins, ReaderFaultsCanTargetOnePin) {
  ComPtr<IBaseFilter> filter =
      Loaded(CatalogVideo("noreader").Audio("a").Fault("no_async_reader Container"));
  ASSERT_TRUE(filter);
  EXPECT_FALSE(ReaderOf(filter.Get(), 0));
  EXPECT_TRUE(ReaderOf(filter.Get(), 1));
}

TEST_F(StandInPins, PinEnumeratorEdgeCases) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("enum").Audio("a").Track(CatalogTrack("t")));
  ASSERT_TRUE(filter);
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(filter->EnumPins(&pins), S_OK);
  IPin* batch[4] = {};
  EXPECT_EQ(pins->Next(2, batch, nullptr), E_POINTER);
  ULONG fetched = 9;
  EXPECT_EQ(pins->Next(2, batch, &fetched), S_OK);
  EXPECT_EQ(fetched, 2u);
  for (ULONG i = 0; i < fetched; ++i) batch[i]->Release();
  ComPtr<IEnumPins> clone;
  ASSERT_EQ(pins->Clone(&clone), S_OK);
  EXPECT_EQ(pins->Next(4, batch, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  batch[0]->Release();
  EXPECT_EQ(clone->Next(1, batch, nullptr), S_OK) << "a clone keeps its own position";
  EXPECT_EQ(PinName(batch[0]), L"Subtitle 1");
  batch[0]->Release();
  EXPECT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Skip(2), S_OK);
  EXPECT_EQ(pins->Skip(2), S_FALSE);
  EXPECT_EQ(pins->Next(1, batch, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
}

TEST_F(StandInPins, MediaTypeEnumeratorEdgeCases) {
  ComPtr<IBaseFilter> filter =
      Loaded(CatalogVideo("mtenum").Audio("a").Fault("audio_stream_third"));
  ASSERT_TRUE(filter);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(PinOf(filter.Get(), PINDIR_OUTPUT, 1)->EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* batch[4] = {};
  ULONG fetched = 0;
  EXPECT_EQ(types->Skip(1), S_OK);
  EXPECT_EQ(types->Next(4, batch, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  for (ULONG i = 0; i < fetched; ++i) MediaTypeDeleter()(batch[i]);
  EXPECT_EQ(types->Skip(1), S_FALSE);
  EXPECT_EQ(types->Reset(), S_OK);
  ComPtr<IEnumMediaTypes> clone;
  ASSERT_EQ(types->Clone(&clone), S_OK);
  EXPECT_EQ(clone->Next(1, batch, nullptr), S_OK);
  MediaTypeDeleter()(batch[0]);
}

TEST_F(StandInPins, AnUnconnectedPinSaysSo) {
  ComPtr<IBaseFilter> filter = Loaded(CatalogVideo("alone"));
  ASSERT_TRUE(filter);
  const ComPtr<IPin> pin = PinOf(filter.Get(), PINDIR_OUTPUT, 0);
  IPin* peer = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer, nullptr);
  AM_MEDIA_TYPE type;
  EXPECT_EQ(pin->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pin->Disconnect(), S_FALSE);
  EXPECT_EQ(pin->Connect(nullptr, nullptr), E_POINTER);
}

}  // namespace
}  // namespace kavo::test
