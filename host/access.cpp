#include "host/access.h"

#include "host/vlc_abi.h"

namespace kavo::host {

namespace {

// Opening videos needs the DirectShow player, which is not part of the library yet: every open
// is refused, so the host falls back to its other access modules.
int OpenAccess(const HostAbi&, void*) { return VLC_EGENERIC; }
void CloseAccess(const HostAbi&, void*) {}

}  // namespace

int VlcOpen(void* stream) { return OpenAccess(kAbi30Dev, stream); }
void VlcClose(void* stream) { CloseAccess(kAbi30Dev, stream); }
int VlcOpen22(void* access) { return OpenAccess(kAbi22, access); }
void VlcClose22(void* access) { CloseAccess(kAbi22, access); }
int VlcOpenRelease(void* stream) { return OpenAccess(kAbi30Release, stream); }
void VlcCloseRelease(void* stream) { CloseAccess(kAbi30Release, stream); }

}  // namespace kavo::host
