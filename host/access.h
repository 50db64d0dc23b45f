// Open and close callbacks, one pair per host ABI. The host calls them on its own threads.
#pragma once

namespace kavo::host {

int VlcOpen(void* stream);  // 3.0 development ABI (stream_t)
void VlcClose(void* stream);
int VlcOpen22(void* access);  // 2.2 (access_t)
void VlcClose22(void* access);
int VlcOpenRelease(void* stream);  // 3.0 releases (stream_t)
void VlcCloseRelease(void* stream);

}  // namespace kavo::host
