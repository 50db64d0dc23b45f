// The filter that terminates the source filter's main output pin, so that the pin is connected
// and the graph can be paused and run while the player pulls the bytes itself. It accepts the
// configured major types, keeps nothing it receives and tells the graph nothing.
// Thread rule: configured before it joins a graph; afterwards every call comes from the graph's
// thread under the filter lock, and samples, if any ever come, are dropped without a lock.
#pragma once

#include <dshow.h>

#include <vector>

#include "baseclasses/base_filter.h"
#include "baseclasses/base_input_pin.h"
#include "common/critical_section.h"

namespace kavo {

// {B82F2F64-5640-4081-9042-D54269102637}
inline constexpr GUID CLSID_DsDummyRenderFilter = {
    0xb82f2f64, 0x5640, 0x4081, {0x90, 0x42, 0xd5, 0x42, 0x69, 0x10, 0x26, 0x37}};

class DsDummyRenderFilter final : public ds::CBaseFilter {
 public:
  class DsRenderInputPin final : public ds::CBaseInputPin {
   public:
    DsRenderInputPin(DsDummyRenderFilter* owner, CCritSec* lock);
    ~DsRenderInputPin() override;

    // S_OK when the major type is one of the owner's acceptedMajorTypes; subtype and format are
    // never looked at.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
    // Asks the upstream pin for IAsyncReader when the owner says so, and keeps nothing; the
    // connection stands whatever the answer.
    HRESULT CompleteConnect(IPin* receivePin) override;

   private:
    DsDummyRenderFilter* const owner_;  // weak: the pin lives inside its owner
  };

  // Born at reference count zero; the creator takes the first reference.
  DsDummyRenderFilter();
  ~DsDummyRenderFilter() override;

  int GetPinCount() override;
  // The one pin, whatever n is.
  ds::CBasePin* GetPin(int n) override;

 private:
  CCritSec filterLock_;
  DsRenderInputPin inputPin_;

 public:
  // Set by the creator before the filter joins a graph.
  std::vector<GUID> acceptedMajorTypes;
  bool queryReaderOnConnect;
};

}  // namespace kavo
