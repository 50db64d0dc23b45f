// The filter, pin and enumerator base classes, through a probe filter, alone and in the platform's
// filter graph manager.
#include <gtest/gtest.h>

#include <string>

#include "common/media_type.h"
#include "tests/baseclasses/probe_filters.h"
#include "tests/doubles/push_source/async_file_source.h"
#include "tests/doubles/push_source/push_source.h"
#include "tests/doubles/push_source/test_graph.h"

namespace kavo::test {
namespace {

using Microsoft::WRL::ComPtr;

class FilterBase : public GraphTest {};

TEST_F(FilterBase, AnswersItsInterfacesAndRefusesOthers) {
  ComPtr<IBaseFilter> filter(new ProbeFilter());
  EXPECT_EQ(RefCount(filter.Get()), 1u);
  const IID expected[] = {IID_IUnknown, IID_IPersist, IID_IMediaFilter, IID_IBaseFilter,
                          IID_IAMovieSetup};
  for (const IID& iid : expected) {
    ComPtr<IUnknown> itf;
    EXPECT_EQ(filter->QueryInterface(iid, &itf), S_OK);
  }
  const IID refused[] = {IID_IPin, IID_IMediaSeeking, IID_IMediaPosition, IID_IMemInputPin,
                         IID_IQualityControl};
  for (const IID& iid : refused) {
    IUnknown* itf = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(filter->QueryInterface(iid, reinterpret_cast<void**>(&itf)), E_NOINTERFACE);
    EXPECT_EQ(itf, nullptr);
  }
  EXPECT_EQ(filter->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(RefCount(filter.Get()), 1u);
}

TEST_F(FilterBase, IsOneObjectWithOneCountDeletedAtZero) {
  int destroyed = 0;
  auto* probe = new ProbeFilter(&destroyed);
  IBaseFilter* filter = probe;
  EXPECT_EQ(filter->AddRef(), 1u);
  ComPtr<IUnknown> fromFilter;
  ComPtr<IUnknown> fromSetup;
  ComPtr<IAMovieSetup> setup;
  ASSERT_EQ(filter->QueryInterface(IID_IUnknown, &fromFilter), S_OK);
  ASSERT_EQ(filter->QueryInterface(IID_IAMovieSetup, &setup), S_OK);
  ASSERT_EQ(setup->QueryInterface(IID_IUnknown, &fromSetup), S_OK);
  EXPECT_EQ(fromFilter.Get(), fromSetup.Get());
  EXPECT_EQ(RefCount(filter), 4u);
  EXPECT_EQ(setup->Register(), S_FALSE);

  // A pin counts on its filter, yet has an identity of its own.
  IPin* pin = &probe->InputPin();
  EXPECT_EQ(pin->AddRef(), 5u);
  ComPtr<IUnknown> pinIdentity;
  ASSERT_EQ(pin->QueryInterface(IID_IUnknown, &pinIdentity), S_OK);
  EXPECT_NE(pinIdentity.Get(), fromFilter.Get());
  pinIdentity.Reset();
  EXPECT_EQ(pin->Release(), 4u);

  fromFilter.Reset();
  fromSetup.Reset();
  setup.Reset();
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(filter->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
}

TEST_F(FilterBase, PinAnswersItsInterfaces) {
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  IPin* pin = &filter->InputPin();
  const IID expected[] = {IID_IUnknown, IID_IPin, IID_IQualityControl, IID_IMemInputPin};
  for (const IID& iid : expected) {
    ComPtr<IUnknown> itf;
    EXPECT_EQ(pin->QueryInterface(iid, &itf), S_OK);
  }
  ComPtr<IUnknown> itf;
  EXPECT_EQ(pin->QueryInterface(IID_IBaseFilter, &itf), E_NOINTERFACE);
  EXPECT_EQ(pin->QueryInterface(IID_IAsyncReader, &itf), E_NOINTERFACE);
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(filter.Get())), 1u);
}

TEST_F(FilterBase, PinDescribesItself) {
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  IPin* pin = &filter->InputPin();
  PIN_INFO info;
  ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.pFilter, static_cast<IBaseFilter*>(filter.Get()));
  EXPECT_EQ(std::wstring(info.achName), L"Probe In");
  EXPECT_EQ(info.dir, PINDIR_INPUT);
  EXPECT_EQ(RefCount(info.pFilter), 2u);
  info.pFilter->Release();

  LPWSTR id = nullptr;
  ASSERT_EQ(pin->QueryId(&id), S_OK);
  EXPECT_EQ(std::wstring(id), L"Probe In");
  CoTaskMemFree(id);

  ComPtr<IPin> found;
  EXPECT_EQ(filter->FindPin(L"Probe In", &found), S_OK);
  EXPECT_EQ(found.Get(), pin);
  EXPECT_EQ(filter->FindPin(L"probe in", &found), VFW_E_NOT_FOUND);
  EXPECT_EQ(found.Get(), nullptr);

  AM_MEDIA_TYPE type = {};
  EXPECT_EQ(pin->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pin->ConnectedTo(&found), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(pin->QueryInternalConnections(nullptr, nullptr), E_NOTIMPL);
  EXPECT_EQ(filter->QueryVendorInfo(nullptr), E_NOTIMPL);
  // An input pin never starts a connection.
  EXPECT_EQ(pin->Connect(pin, nullptr), E_UNEXPECTED);
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(filter.Get())), 1u);
}

TEST_F(FilterBase, QueryAcceptAnswersOnlyOkOrFalse) {
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  ProbeFilter::Pin& pin = filter->InputPin();
  const CMediaType video(MEDIATYPE_Video);
  EXPECT_EQ(pin.QueryAccept(&video), S_OK);
  pin.checkResult = E_INVALIDARG;
  EXPECT_EQ(pin.QueryAccept(&video), S_FALSE);
}

TEST_F(FilterBase, PinEnumeratorEdgeCases) {
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  IBaseFilter* base = filter.Get();
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(base->EnumPins(&pins), S_OK);
  // The enumerator keeps the filter alive.
  EXPECT_EQ(RefCount(base), 2u);

  IPin* got[2] = {};
  ULONG fetched = 9;
  EXPECT_EQ(pins->Next(1, nullptr, &fetched), E_POINTER);
  EXPECT_EQ(pins->Next(2, got, nullptr), E_INVALIDARG);
  EXPECT_EQ(pins->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(got[0], &filter->InputPin());
  EXPECT_EQ(RefCount(base), 3u);
  got[0]->Release();
  EXPECT_EQ(pins->Next(1, got, nullptr), S_FALSE);

  EXPECT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Skip(2), S_FALSE);
  EXPECT_EQ(pins->Skip(1), S_OK);
  EXPECT_EQ(pins->Skip(1), S_FALSE);
  EXPECT_EQ(pins->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  EXPECT_EQ(pins->Reset(), S_OK);
  ComPtr<IEnumPins> clone;
  ASSERT_EQ(pins->Clone(&clone), S_OK);
  EXPECT_EQ(clone->Next(1, got, nullptr), S_OK);
  got[0]->Release();
  EXPECT_EQ(clone->Next(1, got, nullptr), S_FALSE);
  EXPECT_EQ(pins->Next(1, got, nullptr), S_OK);
  got[0]->Release();

  filter->IncrementPinVersion();
  EXPECT_EQ(pins->Next(1, got, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(pins->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(clone.Get(), nullptr);
  EXPECT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Next(1, got, nullptr), S_OK);
  got[0]->Release();

  pins.Reset();
  EXPECT_EQ(RefCount(base), 1u);
}

TEST_F(FilterBase, MediaTypeEnumeratorHandsOutOwnedCopies) {
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  ProbeFilter::Pin& pin = filter->InputPin();
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(pin.EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* got[3] = {};
  ULONG fetched = 9;
  EXPECT_EQ(types->Next(1, got, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(types->Next(2, got, nullptr), E_INVALIDARG);
  EXPECT_EQ(types->Skip(1), S_FALSE);

  pin.offered = {MEDIATYPE_Video, MEDIATYPE_Audio};
  ASSERT_EQ(pin.EnumMediaTypes(&types), S_OK);
  EXPECT_EQ(types->Next(3, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(got[0]->majortype, MEDIATYPE_Video);
  EXPECT_EQ(got[1]->majortype, MEDIATYPE_Audio);
  DeleteMediaType(got[0]);
  DeleteMediaType(got[1]);
  EXPECT_EQ(types->Reset(), S_OK);
  EXPECT_EQ(types->Skip(3), S_FALSE);
  EXPECT_EQ(types->Skip(2), S_OK);
  EXPECT_EQ(types->Next(1, got, nullptr), S_FALSE);
  types.Reset();
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(filter.Get())), 1u);
}

TEST_F(FilterBase, MediaTypeCopiesOwnTheirFormatBlock) {
  CMediaType source(MEDIATYPE_Video);
  source.cbFormat = 4;
  source.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(4));
  std::copy_n("abc", 4, source.pbFormat);
  CMediaType copy;
  ASSERT_EQ(copy.Set(source), S_OK);
  EXPECT_NE(copy.pbFormat, source.pbFormat);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(copy.pbFormat)), "abc");
  CMediaType moved(std::move(copy));
  EXPECT_EQ(copy.pbFormat, nullptr);
  EXPECT_EQ(moved.cbFormat, 4u);
  AM_MEDIA_TYPE* created = CreateMediaType(&moved);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->majortype, MEDIATYPE_Video);
  DeleteMediaType(created);
}

TEST_F(FilterBase, ReceiveConnectionRollsBackEveryFailure) {
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  ProbeFilter::Pin& pin = filter->InputPin();
  ComPtr<PushSource> source(new PushSource({PushPinType(MEDIATYPE_Video)}));
  IPin* output = source->Pin(0);
  const CMediaType video(MEDIATYPE_Video);

  pin.completeResult = E_ACCESSDENIED;
  EXPECT_EQ(pin.ReceiveConnection(output, &video), E_ACCESSDENIED);
  EXPECT_FALSE(pin.IsConnected());
  EXPECT_EQ(pin.breaks, 1);
  pin.completeResult = S_OK;

  pin.checkResult = S_FALSE;
  EXPECT_EQ(pin.ReceiveConnection(output, &video), VFW_E_TYPE_NOT_ACCEPTED);
  pin.checkResult = E_FAIL;
  EXPECT_EQ(pin.ReceiveConnection(output, &video), VFW_E_TYPE_NOT_ACCEPTED);
  pin.checkResult = E_OUTOFMEMORY;
  EXPECT_EQ(pin.ReceiveConnection(output, &video), E_OUTOFMEMORY);
  pin.checkResult = S_OK;
  EXPECT_EQ(pin.breaks, 4);
  EXPECT_EQ(pin.completes, 1);

  // Two input pins cannot connect to each other.
  ComPtr<ProbeFilter> other(new ProbeFilter());
  EXPECT_EQ(pin.ReceiveConnection(&other->InputPin(), &video), VFW_E_INVALID_DIRECTION);
  EXPECT_EQ(pin.ReceiveConnection(nullptr, &video), E_POINTER);
  EXPECT_EQ(pin.ReceiveConnection(output, nullptr), E_POINTER);

  EXPECT_EQ(pin.ReceiveConnection(output, &video), S_OK);
  EXPECT_EQ(pin.ReceiveConnection(output, &video), VFW_E_ALREADY_CONNECTED);
  ComPtr<IPin> peer;
  EXPECT_EQ(pin.ConnectedTo(&peer), S_OK);
  EXPECT_EQ(peer.Get(), output);
  EXPECT_EQ(pin.Disconnect(), S_OK);
  EXPECT_EQ(pin.Disconnect(), S_FALSE);
}

TEST_F(FilterBase, ConnectsInTheGraphAndKeepsOnlyWeakLinksToIt) {
  ComPtr<IFilterGraph2> graph = NewGraph();
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  ComPtr<PushSource> source(new PushSource({PushPinType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24)}));
  const ULONG graphCount = RefCount(graph.Get());
  ASSERT_EQ(graph->AddFilter(filter.Get(), L"Probe"), S_OK);
  ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
  EXPECT_EQ(RefCount(graph.Get()), graphCount);

  FILTER_INFO info;
  ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::wstring(info.achName), L"Probe");
  ASSERT_NE(info.pGraph, nullptr);
  EXPECT_EQ(RefCount(graph.Get()), graphCount + 1);
  info.pGraph->Release();

  IPin* input = &filter->InputPin();
  ASSERT_EQ(graph->ConnectDirect(source->Pin(0), input, nullptr), S_OK);
  AM_MEDIA_TYPE type;
  ASSERT_EQ(input->ConnectionMediaType(&type), S_OK);
  EXPECT_EQ(type.subtype, MEDIASUBTYPE_RGB24);
  FreeMediaType(type);

  ComPtr<IMediaControl> control = Control(graph.Get());
  ASSERT_EQ(control->Pause(), S_OK);
  EXPECT_EQ(input->Disconnect(), VFW_E_NOT_STOPPED);
  EXPECT_EQ(control->Stop(), S_OK);
  EXPECT_EQ(graph->RemoveFilter(filter.Get()), S_OK);
  EXPECT_FALSE(filter->InputPin().IsConnected());
  ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(filter.Get())), 1u);
}

TEST_F(FilterBase, StopReportsAMissingAllocatorYetStops) {
  AsyncFileSource file("0123456789");
  ASSERT_EQ(file.Status(), S_OK);
  ComPtr<IFilterGraph2> graph = NewGraph();
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  ASSERT_EQ(graph->AddFilter(file.Filter(), L"File"), S_OK);
  ASSERT_EQ(graph->AddFilter(filter.Get(), L"Probe"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(file.OutputPin(), &filter->InputPin(), nullptr), S_OK);

  ComPtr<IMediaControl> control = Control(graph.Get());
  ASSERT_EQ(control->Run(), S_OK);
  FILTER_STATE state;
  ASSERT_EQ(filter->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  // The reader pulls, so it never hands the pin an allocator.
  EXPECT_EQ(control->Stop(), VFW_E_NO_ALLOCATOR);
  ASSERT_EQ(filter->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
}

TEST_F(FilterBase, UnconnectedPinsAreNotActivated) {
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  EXPECT_EQ(filter->Run(0), S_OK);
  EXPECT_EQ(filter->Stop(), S_OK);
}

TEST_F(FilterBase, ReceiveChecksStateAndAnnouncedTypes) {
  ComPtr<IFilterGraph2> graph = NewGraph();
  ComPtr<ProbeFilter> filter(new ProbeFilter());
  ComPtr<PushSource> source(new PushSource({PushPinType(MEDIATYPE_Video)}));
  ASSERT_EQ(graph->AddFilter(filter.Get(), L"Probe"), S_OK);
  ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(source->Pin(0), &filter->InputPin(), nullptr), S_OK);
  ComPtr<IMediaControl> control = Control(graph.Get());

  // The pin made the allocator the source uses; commit it by hand to push while stopped.
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(filter->InputPin().GetAllocator(&allocator), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> sample;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(filter->InputPin().Receive(sample.Get()), VFW_E_WRONG_STATE);
  sample.Reset();
  ASSERT_EQ(allocator->Decommit(), S_OK);

  ASSERT_EQ(control->Pause(), S_OK);
  EXPECT_EQ(source->Deliver(0, "frame", 0, 1), S_OK);
  ASSERT_EQ(source->DeliverBeginFlush(0), S_OK);
  EXPECT_EQ(source->Deliver(0, "frame", 0, 1), S_FALSE);
  ASSERT_EQ(source->DeliverEndFlush(0), S_OK);

  CMediaType audio(MEDIATYPE_Audio);
  EXPECT_EQ(source->Deliver(0, "frame", nullptr, nullptr, &audio), S_OK);
  AM_MEDIA_TYPE current;
  ASSERT_EQ(filter->InputPin().ConnectionMediaType(&current), S_OK);
  EXPECT_EQ(current.majortype, MEDIATYPE_Audio);
  FreeMediaType(current);

  filter->InputPin().refusedMajorType = MEDIATYPE_Text;
  CMediaType text(MEDIATYPE_Text);
  EXPECT_EQ(source->Deliver(0, "frame", nullptr, nullptr, &text), VFW_E_INVALIDMEDIATYPE);
  EXPECT_EQ(source->Deliver(0, "frame", 0, 1), VFW_E_RUNTIME_ERROR);
  ASSERT_EQ(source->DeliverBeginFlush(0), S_OK);
  ASSERT_EQ(source->DeliverEndFlush(0), S_OK);
  EXPECT_EQ(source->Deliver(0, "frame", 0, 1), S_OK);

  ASSERT_EQ(control->Stop(), S_OK);
  ComPtr<IMemInputPin> input;
  ASSERT_EQ(filter->InputPin().QueryInterface(IID_IMemInputPin, &input), S_OK);
  EXPECT_EQ(input->ReceiveCanBlock(), S_OK);
}

}  // namespace
}  // namespace kavo::test
