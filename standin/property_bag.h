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

// Fills every property it can and gives each its own result. With failWhenAnyFails the call
// answers E_FAIL when any of them failed, as bags do that report a partial read as a failure.
HRESULT ReadProperties(const std::vector<BagProperty>& properties, ULONG count,
                       const PROPBAG2* descriptions, VARIANT* values, HRESULT* results,
                       bool failWhenAnyFails);

}  // namespace kavo::standin
