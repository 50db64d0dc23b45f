#include "player/pins.h"

#include <wrl/client.h>

namespace kavo {

using Microsoft::WRL::ComPtr;

HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, int index, IPin** pin) {
  if (!filter || !pin) return E_POINTER;
  *pin = nullptr;
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.GetAddressOf())) || !pins) return E_FAIL;
  for (;;) {
    ComPtr<IPin> candidate;
    if (pins->Next(1, candidate.GetAddressOf(), nullptr) != S_OK || !candidate) return E_FAIL;
    // A value that is neither direction: a pin that cannot tell its direction never matches.
    auto candidateDirection = static_cast<PIN_DIRECTION>(3);
    candidate->QueryDirection(&candidateDirection);
    if (candidateDirection != direction) continue;
    if (index == 0) {
      *pin = candidate.Detach();
      return S_OK;
    }
    --index;
  }
}

IPin* FirstInputPin(IBaseFilter* filter) {
  ComPtr<IPin> pin;
  if (FindPin(filter, PINDIR_INPUT, 0, pin.GetAddressOf()) != S_OK) return nullptr;
  return pin.Get();  // weak: the filter holds the pin
}

}  // namespace kavo
