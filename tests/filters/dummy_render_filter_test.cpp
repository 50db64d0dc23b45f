// The terminating filter, alone and connected in the platform's filter graph manager to the
// platform's file reader and to a push source.
#include "filters/dummy_render_filter.h"

#include <gtest/gtest.h>

#include <string>

#include "common/media_type.h"
#include "tests/doubles/push_source/async_file_source.h"
#include "tests/doubles/push_source/push_source.h"
#include "tests/doubles/push_source/test_graph.h"

namespace kavo {
namespace {

using Microsoft::WRL::ComPtr;
using test::AsyncFileSource;
using test::PushPinType;
using test::PushSource;
using test::RefCount;

// An output pin that counts the interfaces asked of it and its references; it offers no
// IAsyncReader unless told to.
class CountingOutputPin final : public IPin {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IAsyncReader) ++readerQueries;
    if (iid == IID_IUnknown || iid == IID_IPin) {
      *out = static_cast<IPin*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
  STDMETHODIMP_(ULONG) Release() override { return --references; }
  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  STDMETHODIMP Disconnect() override { return S_OK; }
  STDMETHODIMP ConnectedTo(IPin**) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
    *direction = PINDIR_OUTPUT;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  int readerQueries = 0;
  ULONG references = 1;
};

class DummyRenderFilter : public test::GraphTest {
 protected:
  // Connects the pin of a push source offering pinType; answers the connection's result.
  HRESULT ConnectPushed(DsDummyRenderFilter* dummy, const PushPinType& pinType) {
    ComPtr<IFilterGraph2> graph = NewGraph();
    ComPtr<PushSource> source(new PushSource({pinType}));
    EXPECT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
    EXPECT_EQ(graph->AddFilter(dummy, L"Render"), S_OK);
    const HRESULT hr = graph->ConnectDirect(source->Pin(0), dummy->GetPin(0), nullptr);
    EXPECT_EQ(dummy->GetPin(0)->IsConnected(), SUCCEEDED(hr));
    EXPECT_EQ(graph->RemoveFilter(dummy), S_OK);
    return hr;
  }

  // Connects the platform's file reader, whose pin offers MEDIATYPE_Stream only.
  HRESULT ConnectReader(DsDummyRenderFilter* dummy) {
    AsyncFileSource file("container bytes");
    EXPECT_EQ(file.Status(), S_OK);
    ComPtr<IFilterGraph2> graph = NewGraph();
    EXPECT_EQ(graph->AddFilter(file.Filter(), L"Source"), S_OK);
    EXPECT_EQ(graph->AddFilter(dummy, L"Render"), S_OK);
    const HRESULT hr = graph->ConnectDirect(file.OutputPin(), dummy->GetPin(0), nullptr);
    EXPECT_EQ(dummy->GetPin(0)->IsConnected(), SUCCEEDED(hr));
    EXPECT_EQ(graph->RemoveFilter(dummy), S_OK);
    return hr;
  }
};

TEST_F(DummyRenderFilter, AnswersTheFilterInterfacesOnly) {
  ComPtr<IBaseFilter> filter(new DsDummyRenderFilter());
  EXPECT_EQ(RefCount(filter.Get()), 1u);
  const IID expected[] = {IID_IUnknown, IID_IPersist, IID_IMediaFilter, IID_IBaseFilter,
                          IID_IAMovieSetup};
  for (const IID& iid : expected) {
    ComPtr<IUnknown> itf;
    EXPECT_EQ(filter->QueryInterface(iid, &itf), S_OK);
  }
  // Without position interfaces the graph never waits for this filter to complete.
  const IID refused[] = {IID_IMediaSeeking, IID_IMediaPosition, IID_IAMFilterMiscFlags, IID_IPin,
                         IID_IMemInputPin};
  for (const IID& iid : refused) {
    ComPtr<IUnknown> itf;
    EXPECT_EQ(filter->QueryInterface(iid, &itf), E_NOINTERFACE);
  }
  CLSID clsid;
  ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_DsDummyRenderFilter);
  EXPECT_EQ(RefCount(filter.Get()), 1u);
}

TEST_F(DummyRenderFilter, HasOnePinNamedInputWhateverTheIndex) {
  ComPtr<DsDummyRenderFilter> filter(new DsDummyRenderFilter());
  EXPECT_EQ(filter->GetPinCount(), 1);
  EXPECT_EQ(filter->GetPin(5), filter->GetPin(0));
  EXPECT_EQ(filter->GetPin(-1), filter->GetPin(0));
  ComPtr<IPin> pin;
  ASSERT_EQ(filter->FindPin(L"Input", &pin), S_OK);
  EXPECT_EQ(pin.Get(), filter->GetPin(0));
  PIN_DIRECTION direction;
  ASSERT_EQ(pin->QueryDirection(&direction), S_OK);
  EXPECT_EQ(direction, PINDIR_INPUT);
  LPWSTR id = nullptr;
  ASSERT_EQ(pin->QueryId(&id), S_OK);
  EXPECT_EQ(std::wstring(id), L"Input");
  CoTaskMemFree(id);
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(filter->EnumPins(&pins), S_OK);
  IPin* listed[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(pins->Next(2, listed, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(listed[0], pin.Get());
  listed[0]->Release();
}

TEST_F(DummyRenderFilter, DefaultListTakesVideoAndAudioWhateverSubtypeOrFormat) {
  ComPtr<DsDummyRenderFilter> dummy(new DsDummyRenderFilter());
  PushPinType video(MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
  video.formatType = FORMAT_VideoInfo;
  video.format = {1, 2, 3};  // far too short for a VIDEOINFOHEADER: never looked at
  EXPECT_EQ(ConnectPushed(dummy.Get(), video), S_OK);
  EXPECT_EQ(ConnectPushed(dummy.Get(), PushPinType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM)), S_OK);
  EXPECT_EQ(ConnectPushed(dummy.Get(), PushPinType(MEDIATYPE_Text)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_TRUE(FAILED(ConnectReader(dummy.Get())));
  const CMediaType stream(MEDIATYPE_Stream);
  EXPECT_EQ(dummy->GetPin(0)->CheckMediaType(&stream), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(dummy.Get())), 1u);
}

TEST_F(DummyRenderFilter, StreamOnlyListTakesTheReaderAndRefusesVideo) {
  ComPtr<DsDummyRenderFilter> dummy(new DsDummyRenderFilter());
  dummy->acceptedMajorTypes = {MEDIATYPE_Stream};
  dummy->queryReaderOnConnect = true;
  EXPECT_EQ(ConnectReader(dummy.Get()), S_OK);
  EXPECT_EQ(ConnectPushed(dummy.Get(), PushPinType(MEDIATYPE_Video)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(ConnectPushed(dummy.Get(), PushPinType(MEDIATYPE_Audio)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(dummy.Get())), 1u);
}

TEST_F(DummyRenderFilter, EmptyListRefusesEverything) {
  ComPtr<DsDummyRenderFilter> dummy(new DsDummyRenderFilter());
  dummy->acceptedMajorTypes.clear();
  for (const GUID& major : {MEDIATYPE_Video, MEDIATYPE_Audio, MEDIATYPE_Stream, GUID_NULL}) {
    const CMediaType type(major);
    EXPECT_EQ(dummy->GetPin(0)->CheckMediaType(&type), VFW_E_TYPE_NOT_ACCEPTED);
  }
  EXPECT_TRUE(FAILED(ConnectReader(dummy.Get())));
}

TEST_F(DummyRenderFilter, AsksForTheReaderOnlyWhenToldAndAlwaysConnects) {
  const CMediaType stream(MEDIATYPE_Stream);
  for (const bool query : {false, true}) {
    ComPtr<DsDummyRenderFilter> dummy(new DsDummyRenderFilter());
    dummy->acceptedMajorTypes = {MEDIATYPE_Stream};
    dummy->queryReaderOnConnect = query;
    CountingOutputPin upstream;
    EXPECT_EQ(dummy->GetPin(0)->ReceiveConnection(&upstream, &stream), S_OK);
    EXPECT_EQ(upstream.readerQueries, query ? 1 : 0);
    EXPECT_TRUE(dummy->GetPin(0)->IsConnected());
    // The connection holds the one reference it needs; the reader's answer is not kept.
    EXPECT_EQ(upstream.references, 2u);
    EXPECT_EQ(dummy->GetPin(0)->Disconnect(), S_OK);
    EXPECT_EQ(upstream.references, 1u);
  }
}

TEST_F(DummyRenderFilter, DropsSamplesAndTellsTheGraphNothing) {
  ComPtr<IFilterGraph2> graph = NewGraph();
  ComPtr<DsDummyRenderFilter> dummy(new DsDummyRenderFilter());
  ComPtr<PushSource> source(new PushSource({PushPinType(MEDIATYPE_Video)}));
  ASSERT_EQ(graph->AddFilter(source.Get(), L"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(dummy.Get(), L"Render"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(source->Pin(0), dummy->GetPin(0), nullptr), S_OK);
  ComPtr<IMediaControl> control = Control(graph.Get());
  ASSERT_EQ(control->Run(), S_OK);
  // The source's allocator has one buffer: the second delivery proves the first was let go.
  EXPECT_EQ(source->Deliver(0, "frame one", 0, 10), S_OK);
  EXPECT_EQ(source->Deliver(0, "frame two", 10, 20), S_OK);
  EXPECT_EQ(source->DeliverEndOfStream(0), S_OK);

  ComPtr<IMediaEvent> events = Events(graph.Get());
  long code = 0;
  LONG_PTR first = 0;
  LONG_PTR second = 0;
  while (events->GetEvent(&code, &first, &second, 0) == S_OK) EXPECT_NE(code, EC_COMPLETE);
  EXPECT_EQ(events->WaitForCompletion(100, &code), E_ABORT);
  EXPECT_EQ(control->Stop(), S_OK);
}

TEST_F(DummyRenderFilter, StopsWithoutAnAllocatorReportingIt) {
  AsyncFileSource file("container bytes");
  ASSERT_EQ(file.Status(), S_OK);
  ComPtr<IFilterGraph2> graph = NewGraph();
  ComPtr<DsDummyRenderFilter> dummy(new DsDummyRenderFilter());
  dummy->acceptedMajorTypes = {MEDIATYPE_Stream};
  dummy->queryReaderOnConnect = true;
  ASSERT_EQ(graph->AddFilter(file.Filter(), L"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(dummy.Get(), L"Render"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(file.OutputPin(), dummy->GetPin(0), nullptr), S_OK);
  AM_MEDIA_TYPE type;
  ASSERT_EQ(dummy->GetPin(0)->ConnectionMediaType(&type), S_OK);
  EXPECT_EQ(type.majortype, MEDIATYPE_Stream);
  FreeMediaType(type);

  ComPtr<IMediaControl> control = Control(graph.Get());
  FILTER_STATE state;
  ASSERT_EQ(control->Pause(), S_OK);
  EXPECT_EQ(control->Stop(), VFW_E_NO_ALLOCATOR);
  ASSERT_EQ(dummy->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_EQ(dummy->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  EXPECT_EQ(control->Stop(), VFW_E_NO_ALLOCATOR);
  ASSERT_EQ(dummy->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
}

}  // namespace
}  // namespace kavo
