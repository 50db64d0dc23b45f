// Reads the source filter's descriptive properties into a MetadataRecord: its IPropertyBag2 first,
// then IAMMediaContent's title and description, both when not one property could be read from the
// bag, else each one the bag lists but could not deliver; and its start offset.
// Runs on the host's input thread with COM initialised; no lock.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <map>
#include <string>

namespace kavo {

// UTF-8 key to UTF-8 value, walked in byte-wise key order; a key written again takes the new value.
using MetadataRecord = std::map<std::string, std::string>;

// Fills record from the filter's property bag (filter may be null): every property whose own
// result says it was read, whatever Read returned as a whole. True when at least one was read,
// whether or not it produced an entry.
bool ReadPropertyBagMetadata(IBaseFilter* filter, MetadataRecord& record);

// The bag, then the fallback for the title and description it did not give. Consumes the
// reference it is given: pass a copy to keep your own, or std::move it. Released before returning,
// also when an exception (only std::bad_alloc) leaves it.
void ReadFilterMetadata(Microsoft::WRL::ComPtr<IBaseFilter> filter, MetadataRecord& record);

// The source filter's start offset for address in milliseconds; 0 for none, for a filter without
// its control interface, and for versions before 5 (which are not asked).
ULONG QueryStartOffset(IBaseFilter* filter, const std::wstring& address) noexcept;

}  // namespace kavo
