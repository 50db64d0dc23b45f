#include "player/pins.h"

#include <vfwmsgs.h>

#include <utility>

namespace kavo {

using Microsoft::WRL::ComPtr;

namespace {

HRESULT NextItem(IEnumPins* pins, ComPtr<IPin>& pin) {
  return pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr);
}

HRESULT NextItem(IEnumMediaTypes* types, MediaTypePtr& type) {
  AM_MEDIA_TYPE* raw = nullptr;
  const HRESULT result = types->Next(1, &raw, nullptr);
  type.reset(raw);
  return result;
}

// Walks the enumerator to its end into `items`. A walk that falls out of step starts over from a
// Reset with the list emptied, so nothing is taken twice.
template <typename Enumerator, typename Item>
HRESULT Collect(Enumerator* enumerator, std::vector<Item>& items) {
  HRESULT result = VFW_E_ENUM_OUT_OF_SYNC;
  for (int walk = 0; walk < kEnumerationAttempts && result == VFW_E_ENUM_OUT_OF_SYNC; ++walk) {
    if (walk > 0) {
      const HRESULT reset = enumerator->Reset();
      if (FAILED(reset)) return reset;
    }
    items.clear();
    for (;;) {
      Item item;
      result = NextItem(enumerator, item);
      if (result != S_OK || !item) break;
      items.push_back(std::move(item));
    }
  }
  return SUCCEEDED(result) ? S_OK : result;
}

}  // namespace

HRESULT ListPins(IBaseFilter* filter, std::vector<ComPtr<IPin>>& pins) {
  pins.clear();
  if (!filter) return E_POINTER;
  ComPtr<IEnumPins> enumerator;
  const HRESULT made = filter->EnumPins(enumerator.GetAddressOf());
  if (FAILED(made)) return made;
  return enumerator ? Collect(enumerator.Get(), pins) : E_POINTER;
}

HRESULT ListMediaTypes(IPin* pin, std::vector<MediaTypePtr>& types) {
  types.clear();
  if (!pin) return E_POINTER;
  ComPtr<IEnumMediaTypes> enumerator;
  const HRESULT made = pin->EnumMediaTypes(enumerator.GetAddressOf());
  if (FAILED(made)) return made;
  return enumerator ? Collect(enumerator.Get(), types) : E_POINTER;
}

HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, int index, IPin** pin) {
  if (!filter || !pin) return E_POINTER;
  *pin = nullptr;
  std::vector<ComPtr<IPin>> pins;
  ListPins(filter, pins);
  for (const ComPtr<IPin>& candidate : pins) {
    // A value that is neither direction: a pin that cannot tell its direction never matches.
    auto candidateDirection = static_cast<PIN_DIRECTION>(3);
    candidate->QueryDirection(&candidateDirection);
    if (candidateDirection != direction) continue;
    if (index-- == 0) {
      *pin = candidate.Get();
      (*pin)->AddRef();
      return S_OK;
    }
  }
  return E_FAIL;
}

IPin* FirstInputPin(IBaseFilter* filter) {
  ComPtr<IPin> pin;
  if (FindPin(filter, PINDIR_INPUT, 0, pin.GetAddressOf()) != S_OK) return nullptr;
  return pin.Get();  // weak: the filter holds the pin
}

}  // namespace kavo
