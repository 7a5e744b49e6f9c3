// The key MIC of an EAPOL-Key frame: computed over the whole frame with its
// MIC field zeroed, by the primitive the frame's descriptor version names.
#pragma once
#include <uefi/Uefi.h>

constexpr UINTN SUP_KCK_LEN = 16;
// Longest received frame whose MIC is checked (the size of the work copy).
constexpr UINTN SUP_MIC_WORK_BUFFER_SIZE = 2048;

// Computes the MIC of an outgoing frame of FrameLength bytes (at least the
// fixed EAPOL-Key fields) and writes it into its MIC field. Versions 1 (HMAC-
// MD5), 2 (HMAC-SHA1, first 16 bytes), 0 and 3 (AES-128-CMAC); any other
// version leaves the field zero.
VOID SupComputeKeyMic(UINT8 *Frame, UINTN FrameLength, UINT8 Version, const UINT8 *Kck);

// TRUE when the MIC field of a received frame is right. Version 0 counts as
// 3; versions 4-7 and frames longer than the work buffer fail.
BOOLEAN SupVerifyKeyMic(const UINT8 *Frame, UINTN FrameLength, const UINT8 *Kck);
