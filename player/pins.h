// Pin lookup on a filter by direction and index among the pins of that direction, and the walks
// over a filter's pins and a pin's media types that it rests on.
#pragma once

#include <dshow.h>
#include <wrl/client.h>

#include <vector>

#include "common/media_type.h"

namespace kavo {

// How often a walk starts over when its enumerator falls out of step with what it enumerates
// (VFW_E_ENUM_OUT_OF_SYNC: a source may add pins after its Load).
constexpr int kEnumerationAttempts = 4;

// Every pin of the filter, in EnumPins order. An enumerator that falls out of step is reset and
// the walk starts over, up to kEnumerationAttempts walks; any other failure ends the walk with
// the pins found so far. S_OK once a walk reached the end; else VFW_E_ENUM_OUT_OF_SYNC or the
// failure that ended it (E_POINTER without a filter).
HRESULT ListPins(IBaseFilter* filter, std::vector<Microsoft::WRL::ComPtr<IPin>>& pins);

// Every media type the pin offers, in its order, under the same rules as ListPins.
HRESULT ListMediaTypes(IPin* pin, std::vector<MediaTypePtr>& types);

// The pin of `direction` with this zero-based index among that direction's pins, in EnumPins
// order. On S_OK *pin holds a counted reference. E_POINTER without filter or out-parameter,
// E_FAIL when there is no such pin or the filter cannot enumerate.
HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, int index, IPin** pin);

// The filter's first input pin as a plain pointer: no reference is held, the filter keeps its
// pins alive for as long as it lives.
IPin* FirstInputPin(IBaseFilter* filter);

}  // namespace kavo
