// Hands the source filter's metadata and start offset to the host's input through the late-bound
// host functions. A host function that is missing only drops the calls that need it. Runs on the
// host's input thread inside the open callback; takes the input item's own lock around the extras
// where the ABI's item layout is known. Nothing here throws.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <string>

#include "host/vlc_abi.h"

namespace kavo {

// Reads the filter's metadata and sets title, description, year and artwork address on the
// input's item; then every other key becomes an extra on the item's meta record (skipped while the
// item has none, and under an ABI without a known item lock unless the record proves itself by
// the field just set). Consumes the reference it is given (pass a copy to keep yours, or std::move
// it) and releases it before returning on every path.
void PublishMetadata(const host::HostAbi& abi, void* input,
                     Microsoft::WRL::ComPtr<IBaseFilter> filter) noexcept;

// Sets the input's "start-time" variable; the host's result, or -1 when it cannot be reached.
int SetStartTime(void* input, float seconds) noexcept;

// Sets "start-time" from the start offset when there is one. address is the access's location as
// the host gave it, not the normalized address. The caller keeps its reference to the filter.
// The offset in milliseconds when the host took it, else 0.
ULONG ApplyStartTime(void* input, IBaseFilter* filter, const std::wstring& address) noexcept;

}  // namespace kavo
