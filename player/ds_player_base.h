// Owns one DirectShow filter graph and builds it for an address in a fixed sequence of
// overridable steps. Built and used on one thread inside a single-threaded COM apartment; players
// are shared between accesses through player handles, whose counts are atomic.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <boost/enable_shared_from_this.hpp>
#include <string>

namespace kavo {

class DsPlayerBase : public boost::enable_shared_from_this<DsPlayerBase> {
 public:
  DsPlayerBase() = default;
  DsPlayerBase(const DsPlayerBase&) = delete;
  DsPlayerBase& operator=(const DsPlayerBase&) = delete;
  virtual ~DsPlayerBase();

  // Releases the graph; a derived player releases its own filters first.
  virtual void Close();

  // Builds the graph: CreateGraph, then the eight build steps in order, stopping at the first
  // failure, whose HRESULT is returned unchanged. Called once per player.
  HRESULT Open(const std::wstring& address);

 protected:
  // Build steps in the order Open calls them. A step whose base answer is E_NOTIMPL must be
  // supplied by a concrete player.
  virtual HRESULT PrepareBuild(const std::wstring& address);
  virtual HRESULT AddSource(const std::wstring& address);
  virtual HRESULT BuildStep3();
  virtual HRESULT BuildStep4();
  virtual HRESULT BuildStep5();
  virtual HRESULT PrepareRender();
  virtual HRESULT RenderStreams();
  virtual HRESULT FinishBuild();

  HRESULT CreateGraph();

  Microsoft::WRL::ComPtr<IFilterGraph2> graph_;
};

}  // namespace kavo
