// SetData / GetData of the SAE settings beyond the password: the PWE method
// (23), the password identifier (24), the anti-clogging token (25) and the
// rejected groups (26); the cached PT of hash-to-element; the length of the
// own commit these make. The dispatch in SupProtocol has already checked
// the common arguments and, for GetData, that Data has room.
#pragma once
#include "../SupInstance.h"

// 23: one byte, 0 hunting-and-pecking or 1 hash-to-element; anything else is
// EFI_INVALID_PARAMETER.
EFI_STATUS SaeSetPweMethod(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize);
EFI_STATUS SaeGetPweMethod(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize);

// 24: the identifier's octets, 1 to 254 after one trailing NUL is dropped;
// size 0 clears it. Longer: EFI_INVALID_PARAMETER.
EFI_STATUS SaeSetPasswordIdentifier(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize);
EFI_STATUS SaeGetPasswordIdentifier(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize);

// 25: the body of the access point's status-76 answer after its group
// field, as received: the token itself under hunting-and-pecking, the
// Anti-Clogging Token Container element under hash-to-element (read with
// the method set at the time). Tokens of 1 to 254 octets; size 0 clears.
// A malformed container or a longer token: EFI_INVALID_PARAMETER.
// GetData gives the token itself.
EFI_STATUS SaeSetAntiCloggingToken(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize);
EFI_STATUS SaeGetAntiCloggingToken(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize);

// 26: little-endian UINT16 group numbers, 1 to 32 of them; size 0 clears.
// An odd size, too many groups, group 0 or group 19 (the group SAE runs):
// EFI_INVALID_PARAMETER.
EFI_STATUS SaeSetRejectedGroups(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize);
EFI_STATUS SaeGetRejectedGroups(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize);

// Drops the token (the connection manager turned to another access point).
VOID SaeForgetAntiCloggingToken(SUP_INSTANCE *Instance);

// Sizes GetData reports for 24, 25, 26 and 21.
UINTN SaePasswordIdentifierSize(const SUP_INSTANCE *Instance);
UINTN SaeAntiCloggingTokenSize(const SUP_INSTANCE *Instance);
UINTN SaeRejectedGroupsSize(const SUP_INSTANCE *Instance);
UINTN SaeOwnCommitSize(const SUP_INSTANCE *Instance);

// Clears the cached PT securely when the SSID, password or identifier no
// longer are the ones it was derived from. Run after any of them changes.
VOID SaeForgetStalePt(SUP_INSTANCE *Instance);
// The PT of the current SSID, password and identifier: from the cache, or
// derived once and cached. NULL when it cannot be derived (no password).
const UINT8 *SaeCurrentPt(SUP_INSTANCE *Instance);
// How many PT derivations the driver has run (a diagnostic: tests use it to
// prove the cache is used).
UINT64 SaePtDerivationCount();
