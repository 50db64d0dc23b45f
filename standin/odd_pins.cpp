#include "standin/odd_pins.h"

namespace kavo::standin {

StrayInputPin::StrayInputPin(IBaseFilter& filter) : PinBase(filter, L"In", PINDIR_INPUT, {}) {}

UndecidedPin::UndecidedPin(IBaseFilter& filter)
    : PinBase(filter, L"Undecided", PINDIR_OUTPUT, {}) {}

STDMETHODIMP UndecidedPin::QueryDirection(PIN_DIRECTION*) { return E_NOTIMPL; }

}  // namespace kavo::standin
