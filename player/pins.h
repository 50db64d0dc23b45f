// Pin lookup on a filter by direction and index among the pins of that direction.
#pragma once

#include <dshow.h>

namespace kavo {

// The pin of `direction` with this zero-based index among that direction's pins, in EnumPins
// order. On S_OK *pin holds a counted reference. E_POINTER without filter or out-parameter,
// E_FAIL when there is no such pin or the filter cannot enumerate.
HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, int index, IPin** pin);

// The filter's first input pin as a plain pointer: no reference is held, the filter keeps its
// pins alive for as long as it lives.
IPin* FirstInputPin(IBaseFilter* filter);

}  // namespace kavo
