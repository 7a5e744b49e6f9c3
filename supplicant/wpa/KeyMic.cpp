#include "KeyMic.h"

#include <Library/BaseMemoryLib.h>

#include "EapolKey.h"
#include "crypto/AesCmac.h"
#include "crypto/Hmac.h"

namespace {

// The MIC of Frame (whose MIC field the caller has zeroed) by one version;
// FALSE for a version without a MIC.
BOOLEAN MicByVersion(const UINT8 *Frame, UINTN FrameLength, UINT8 Version, const UINT8 *Kck,
                     UINT8 Mic[eapol::MIC_SIZE]) {
  switch (Version) {
    case eapol::VERSION_HMAC_MD5_RC4:
      return mic_hmac_md5(Frame, FrameLength, Kck, SUP_KCK_LEN, Mic) == EFI_SUCCESS;
    case eapol::VERSION_HMAC_SHA1_AES: {
      UINT8 Full[SHA1_DIGEST_SIZE];
      BOOLEAN Ok = mic_hmac_sha1(Frame, FrameLength, Kck, SUP_KCK_LEN, Full) == 0;
      CopyMem(Mic, Full, eapol::MIC_SIZE);  // HMAC-SHA1-128: the first 16 bytes
      SecureZeroMem(Full, sizeof(Full));
      return Ok;
    }
    case eapol::VERSION_AKM_DEFINED:
    case eapol::VERSION_AES_CMAC_AES: {
      UINTN Length = 0;
      mic_aes_cmac(Frame, FrameLength, Kck, SUP_KCK_LEN, Mic, &Length);
      return Length == eapol::MIC_SIZE;
    }
    default:
      return FALSE;
  }
}

// Compares without an early exit, so the time taken says nothing about how
// many leading bytes of a forged MIC were right.
BOOLEAN EqualInConstantTime(const UINT8 *A, const UINT8 *B, UINTN Length) {
  UINT8 Difference = 0;
  for (UINTN Index = 0; Index < Length; ++Index) {
    Difference |= (UINT8)(A[Index] ^ B[Index]);
  }
  return Difference == 0;
}

}  // namespace

VOID SupComputeKeyMic(UINT8 *Frame, UINTN FrameLength, UINT8 Version, const UINT8 *Kck) {
  UINT8 *Field = Frame + eapol::OFFSET_KEY_MIC;
  ZeroMem(Field, eapol::MIC_SIZE);
  UINT8 Mic[eapol::MIC_SIZE];
  if (MicByVersion(Frame, FrameLength, Version, Kck, Mic)) {
    CopyMem(Field, Mic, sizeof(Mic));
  }
}

BOOLEAN SupVerifyKeyMic(const UINT8 *Frame, UINTN FrameLength, const UINT8 *Kck) {
  if (FrameLength < eapol::FIXED_SIZE || FrameLength > SUP_MIC_WORK_BUFFER_SIZE) {
    return FALSE;
  }
  UINT8 Version = eapol::DescriptorVersion(Frame);
  if (Version == eapol::VERSION_AKM_DEFINED) {
    Version = eapol::VERSION_AES_CMAC_AES;
  }
  UINT8 Copy[SUP_MIC_WORK_BUFFER_SIZE];
  CopyMem(Copy, Frame, FrameLength);
  ZeroMem(Copy + eapol::OFFSET_KEY_MIC, eapol::MIC_SIZE);
  UINT8 Mic[eapol::MIC_SIZE];
  BOOLEAN Valid = MicByVersion(Copy, FrameLength, Version, Kck, Mic) &&
                  EqualInConstantTime(Mic, Frame + eapol::OFFSET_KEY_MIC, eapol::MIC_SIZE);
  SecureZeroMem(Mic, sizeof(Mic));
  return Valid;
}
