// The supplicant side of the 4-way and group-key handshakes behind
// EFI_SUPPLICANT_PROTOCOL.BuildResponsePacket: classifies each received
// EAPOL-Key frame, checks it, takes its keys and builds the answer.
#pragma once
#include "SupInstance.h"

// Statuses: EFI_SUCCESS with the response in Buffer and its length in
// *BufferSize; EFI_BUFFER_TOO_SMALL with the length needed in *BufferSize;
// EFI_INVALID_PARAMETER for a NULL Buffer or BufferSize; EFI_UNSUPPORTED
// while no AKM is configured; EFI_PROTOCOL_ERROR for a frame that is
// malformed, replayed, unauthenticated or out of turn. Only EFI_SUCCESS
// changes the record or writes to Buffer. A NULL RequestBuffer asks for an
// EAPOL-Start frame.
EFI_STATUS SupWpaBuildResponsePacket(SUP_INSTANCE *Instance, UINT8 *RequestBuffer, UINTN RequestBufferSize,
                                     UINT8 *Buffer, UINTN *BufferSize);
