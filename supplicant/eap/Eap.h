// The EAP side of EFI_SUPPLICANT_PROTOCOL.BuildResponsePacket: the peer end
// of RFC 3748 over EAPOL with EAP-TLS (RFC 5216) as its one method.
//
// A driver built with NORV_ENTERPRISE links the EAP layer (sup_eap); one
// built without it links EapPersonal.cpp instead, which hands EAP frames back
// to the key handshake. The frame calls only the three functions below, so
// the same frame objects serve both.
#pragma once
#include "SupInstance.h"

// For an EAPOL frame of packet type EAP-Packet. Statuses:
//  - EFI_SUCCESS: the response frame (a whole EAPOL frame) is in Buffer and
//    its length in *BufferSize; for EAP-Success and EAP-Failure, which are
//    not answered, *BufferSize is 0 and nothing is written.
//  - EFI_BUFFER_TOO_SMALL: the response needs *BufferSize bytes; nothing is
//    written. The response stays pending: the same request again (same EAP
//    identifier) gets it, as does any retransmission of the request.
//  - EFI_PROTOCOL_ERROR: the frame is malformed, out of turn or hostile
//    (lengths that disagree, a TLS message over 64 KiB, EAP-Success before
//    the TLS handshake finished), or the TLS handshake failed on our side
//    (server certificate not from the configured CA or not valid now,
//    unusable client credentials). Keys never change on this status.
//  - EFI_OUT_OF_RESOURCES: the pool is exhausted.
//  - EFI_INVALID_PARAMETER for a NULL Buffer or BufferSize; EFI_UNSUPPORTED
//    while no AKM is configured.
EFI_STATUS SupEapBuildResponsePacket(SUP_INSTANCE *Instance, UINT8 *RequestBuffer, UINTN RequestBufferSize,
                                     UINT8 *Buffer, UINTN *BufferSize);

// True when the driver is built with EAP: the 802.1X AKMs are accepted and
// listed only then.
bool SupEapEnterprise();

// Ends whatever EAP-TLS exchange the child holds, clearing its secrets. Safe
// to call at any time; the child's record itself stays.
VOID SupEapRelease(SUP_INSTANCE *Instance);
