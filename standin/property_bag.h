// The video's properties as IPropertyBag2 hands them out. A request is matched to a property by
// name and by how often that name came before in the same request, so repeated names and null
// names each reach their own property, in bag order. Pure functions over immutable data.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "standin/catalog.h"

namespace kavo::standin {

HRESULT DescribeProperties(const std::vector<BagProperty>& properties, ULONG from, ULONG count,
                           PROPBAG2* descriptions, ULONG* returned);

// Fills every property it can and gives each its own result. stopAtFailure reads as Wine's own
// bag does: at the first property that fails it stops with E_FAIL, after filling those before
// it; that one and those after it get neither a value nor a result.
HRESULT ReadProperties(const std::vector<BagProperty>& properties, ULONG count,
                       const PROPBAG2* descriptions, VARIANT* values, HRESULT* results,
                       bool stopAtFailure);

}  // namespace kavo::standin
