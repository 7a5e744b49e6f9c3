// The EAP layer of a driver built without enterprise support: EAP frames
// reach the key handshake, which refuses them as it refuses every frame
// that is not EAPOL-Key, and no 802.1X AKM is offered.
#include "Eap.h"

#include "Handshake.h"

EFI_STATUS SupEapBuildResponsePacket(SUP_INSTANCE *Instance, UINT8 *RequestBuffer, UINTN RequestBufferSize,
                                     UINT8 *Buffer, UINTN *BufferSize) {
  return SupWpaBuildResponsePacket(Instance, RequestBuffer, RequestBufferSize, Buffer, BufferSize);
}

bool SupEapEnterprise() { return false; }

VOID SupEapRelease(SUP_INSTANCE *) {}
