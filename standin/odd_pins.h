// Pins that only fault injection adds: an input pin that accepts nothing (it must not shift the
// numbering of the output pins), and a pin whose QueryDirection fails without writing.
#pragma once

#include "standin/pin_base.h"

namespace kavo::standin {

class StrayInputPin final : public PinBase {
 public:
  explicit StrayInputPin(IBaseFilter& filter);
};

class UndecidedPin final : public PinBase {
 public:
  explicit UndecidedPin(IBaseFilter& filter);
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
};

}  // namespace kavo::standin
