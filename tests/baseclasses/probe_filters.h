// Filters built on the base classes for their tests: a filter with one plain input pin whose
// connection hooks are counted and can be made to fail, and a renderer that counts what it renders
// and checks which locks are held when its hooks run.
#pragma once

#include <atomic>
#include <vector>

#include "baseclasses/base_filter.h"
#include "baseclasses/base_input_pin.h"
#include "baseclasses/base_renderer.h"

namespace kavo::test {

inline constexpr GUID kProbeFilterClsid = {
    0x6d3a1f10, 0x2b4c, 0x4e5d, {0x9a, 0x8b, 0x7c, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b}};

class ProbeFilter final : public ds::CBaseFilter {
 public:
  class Pin final : public ds::CBaseInputPin {
   public:
    Pin(ProbeFilter* filter, CCritSec* lock) : CBaseInputPin(filter, lock, L"Probe In") {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override {
      ++checks;
      if (checkResult != S_OK) return checkResult;
      return type->majortype == refusedMajorType ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
    }
    HRESULT CompleteConnect(IPin* receivePin) override {
      ++completes;
      return FAILED(completeResult) ? completeResult : CBaseInputPin::CompleteConnect(receivePin);
    }
    HRESULT BreakConnect() override {
      ++breaks;
      return CBaseInputPin::BreakConnect();
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
      if (position < 0 || position >= static_cast<int>(offered.size())) return VFW_S_NO_MORE_ITEMS;
      type->majortype = offered[static_cast<size_t>(position)];
      return S_OK;
    }

    HRESULT checkResult = S_OK;
    HRESULT completeResult = S_OK;
    GUID refusedMajorType = GUID_NULL;
    std::vector<GUID> offered;
    int checks = 0;
    int completes = 0;
    int breaks = 0;
  };

  explicit ProbeFilter(int* destroyed = nullptr)
      : CBaseFilter(nullptr, &lock_, kProbeFilterClsid),
        pin_(this, &lock_),
        destroyed_(destroyed) {}
  ~ProbeFilter() override {
    if (destroyed_) ++*destroyed_;
  }

  int GetPinCount() override { return 1; }
  ds::CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  Pin& InputPin() { return pin_; }

 private:
  CCritSec lock_;
  Pin pin_;
  int* destroyed_;
};

inline constexpr GUID kProbeRendererClsid = {
    0x6d3a1f11, 0x2b4c, 0x4e5d, {0x9a, 0x8b, 0x7c, 0x6d, 0x5e, 0x4f, 0x3a, 0x2b}};

class ProbeRenderer final : public ds::CBaseRenderer {
 public:
  ProbeRenderer() : CBaseRenderer(kProbeRendererClsid, nullptr, nullptr) {}

  HRESULT CheckMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }
  HRESULT DoRenderSample(IMediaSample*) override {
    if (!BothLocksHeld()) lockMissed = true;
    ++rendered;
    return S_OK;
  }
  HRESULT EndOfStream() override {
    if (!BothLocksHeld()) lockMissed = true;
    ++ends;
    return CBaseRenderer::EndOfStream();
  }

  std::atomic<int> rendered{0};
  std::atomic<int> ends{0};
  std::atomic<bool> lockMissed{false};

 private:
  bool BothLocksHeld() const {
    return interfaceLock_.OwnedByCurrentThread() && rendererLock_.OwnedByCurrentThread();
  }
};

}  // namespace kavo::test
