#include "PtkDerivation.h"

#include <Library/BaseMemoryLib.h>

#include "crypto/Kdf.h"

namespace {

constexpr CHAR8 PairwiseLabel[] = "Pairwise key expansion";
constexpr UINTN PairwiseLabelLength = sizeof(PairwiseLabel) - 1;  // 22, without the terminator
constexpr UINTN AddressLength = 6;
constexpr UINTN NonceLength = 32;
constexpr UINTN PmkLength = 32;
constexpr UINTN DataLength = 2 * AddressLength + 2 * NonceLength;  // 76
constexpr UINTN PrfBlock = 20;
constexpr UINTN PrfOutput = (SUP_PTK_LEN + PrfBlock - 1) / PrfBlock * PrfBlock;  // 80: whole PRF blocks

// Appends the smaller of A and B (compared as unsigned byte strings), then
// the larger; equal strings put A first.
UINT8 *AppendOrdered(UINT8 *Out, const UINT8 *A, const UINT8 *B, UINTN Length) {
  bool AFirst = CompareMem(A, B, Length) <= 0;
  CopyMem(Out, AFirst ? A : B, Length);
  CopyMem(Out + Length, AFirst ? B : A, Length);
  return Out + 2 * Length;
}

}  // namespace

VOID SupDerivePtk(SUP_PTK_HASH Hash, const UINT8 *Pmk, const UINT8 *AuthenticatorAddress,
                  const UINT8 *SupplicantAddress, const UINT8 *ANonce, const UINT8 *SNonce, UINT8 *Ptk) {
  UINT8 Data[DataLength];
  UINT8 *Next = AppendOrdered(Data, AuthenticatorAddress, SupplicantAddress, AddressLength);
  AppendOrdered(Next, ANonce, SNonce, NonceLength);

  ZeroMem(Ptk, SUP_PTK_LEN);
  if (Hash == SUP_PTK_HASH::Sha256) {
    kdf_sha256(Pmk, PmkLength, PairwiseLabel, Data, sizeof(Data), Ptk, SUP_PTK_SHA256_LEN);
  } else {
    UINT8 Output[PrfOutput];
    prf_sha1(Pmk, PmkLength, PairwiseLabel, PairwiseLabelLength, Data, sizeof(Data), Output, SUP_PTK_LEN);
    CopyMem(Ptk, Output, SUP_PTK_LEN);
    SecureZeroMem(Output, sizeof(Output));
  }
}
