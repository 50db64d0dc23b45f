#include "player/ds_player_base.h"

#include "common/query.h"

namespace kavo {

DsPlayerBase::~DsPlayerBase() { DsPlayerBase::Close(); }

void DsPlayerBase::Close() { graph_.Reset(); }

HRESULT DsPlayerBase::Open(const std::wstring& address) {
  // The graph's objects live in the apartment the caller entered; this bracket only makes sure
  // COM is up for the build and is balanced on every path.
  const HRESULT initialized = CoInitialize(nullptr);
  if (FAILED(initialized)) return initialized;

  const std::wstring copy(address);
  HRESULT result = CreateGraph();
  if (SUCCEEDED(result)) result = PrepareBuild(copy);
  if (SUCCEEDED(result)) result = AddSource(copy);
  using Step = HRESULT (DsPlayerBase::*)();
  for (Step step :
       {&DsPlayerBase::BuildStep3, &DsPlayerBase::BuildStep4, &DsPlayerBase::BuildStep5,
        &DsPlayerBase::PrepareRender, &DsPlayerBase::RenderStreams, &DsPlayerBase::FinishBuild}) {
    if (FAILED(result)) break;
    result = (this->*step)();
  }
  CoUninitialize();
  return result;
}

HRESULT DsPlayerBase::CreateGraph() {
  if (graph_) return E_UNEXPECTED;
  Microsoft::WRL::ComPtr<IFilterGraph> graph;
  HRESULT result = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_ALL, IID_IFilterGraph,
                                    reinterpret_cast<void**>(graph.GetAddressOf()));
  if (FAILED(result)) return result;
  result = Query(graph.Get(), IID_IFilterGraph2, graph_);
  if (FAILED(result)) return result;
  return S_OK;
}

HRESULT DsPlayerBase::PrepareBuild(const std::wstring&) { return S_OK; }
HRESULT DsPlayerBase::AddSource(const std::wstring&) { return E_NOTIMPL; }
HRESULT DsPlayerBase::BuildStep3() { return E_NOTIMPL; }
HRESULT DsPlayerBase::BuildStep4() { return E_NOTIMPL; }
HRESULT DsPlayerBase::BuildStep5() { return E_NOTIMPL; }
HRESULT DsPlayerBase::PrepareRender() { return S_OK; }
HRESULT DsPlayerBase::RenderStreams() { return E_NOTIMPL; }
HRESULT DsPlayerBase::FinishBuild() { return S_OK; }

}  // namespace kavo
