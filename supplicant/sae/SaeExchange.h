// The SAE exchange as the supplicant protocol exposes it: GetData and SetData
// of EfiSupplicantSaeCommit (21) and EfiSupplicantSaeConfirm (22). The
// dispatch in SupProtocol has already checked the common arguments and that
// Data has room for the body.
#pragma once
#include "../SupInstance.h"
#include "CommitConfirm.h"

// Results of SetData(EfiSupplicantSaeCommit) besides EFI_SUCCESS: plain
// values without the error bit, so EFI_ERROR does not flag them; callers
// compare with 0.
constexpr EFI_STATUS SAE_COMMIT_BAD_GROUP = 7;      // too short for the group, or not group 19
constexpr EFI_STATUS SAE_COMMIT_BAD_SCALAR = 8;     // short, 0, 1 or not below r
constexpr EFI_STATUS SAE_COMMIT_BAD_ELEMENT = 9;    // short, not on the curve, infinity, or our own commit
constexpr EFI_STATUS SAE_COMMIT_NO_SECRET = 10;     // the shared point is at infinity or cannot be computed
constexpr EFI_STATUS SAE_COMMIT_KEYS_FAILED = 11;   // keyseed, scalar sum or KDF failed
// Hash to element (data type 23 at 1): the status code before the body is
// not 126, or the own commit is of the other method.
constexpr EFI_STATUS SAE_COMMIT_WRONG_METHOD = 12;
// Hash to element: an element after the peer's element runs past the body,
// names another password identifier, or rejects group 19.
constexpr EFI_STATUS SAE_COMMIT_BAD_H2E_ELEMENT = 13;

// GetData(21): builds a new own commit (SaeOwnCommitSize bytes: 98 plus any
// token or hash-to-element elements); a new exchange. Fails with
// EFI_UNSUPPORTED, writing nothing, when any step of it fails.
EFI_STATUS SaeBuildOwnCommit(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize);
// SetData(21): the peer's commit; derives SaeKck and SaePmk. Under hash to
// element Data starts with the Authentication frame's status code
// (little-endian), then the commit body.
EFI_STATUS SaeProcessPeerCommit(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize);
// GetData(22): the own confirm (34 bytes); hands SaePmk to the 4-way
// handshake. EFI_PROTOCOL_ERROR before a peer commit was accepted for the
// current own commit.
EFI_STATUS SaeBuildOwnConfirm(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize);
// SetData(22): EFI_SUCCESS when the peer's confirm matches, else
// EFI_BUFFER_TOO_SMALL; EFI_PROTOCOL_ERROR before a peer commit was accepted.
EFI_STATUS SaeVerifyPeerConfirm(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize);
