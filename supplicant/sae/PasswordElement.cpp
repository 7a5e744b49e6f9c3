// The SAE password element by hunting and pecking.
//
// All 39 counters are always evaluated, each with its own blinded residue
// test, and the first successful candidate is kept through constant-time
// selection. The result is the point the first-residue rule gives; only the
// time no longer tells how many counters it took.
#include "PasswordElement.h"

#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>

#include "../Random.h"
#include "ConstantTime.h"
#include "crypto/Hmac.h"
#include "crypto/Kdf.h"

namespace {

constexpr CHAR8 HuntingAndPeckingLabel[] = "SAE Hunting and Pecking";
constexpr UINTN MAC_ADDRESS_LEN = 6;
constexpr UINTN PWD_SEED_LEN = SHA256_DIGEST_SIZE;
// A working random source gives both a residue and a non-residue within a
// few draws (each draw is either with probability 1/2); a source stuck on
// one value must not hang the caller.
constexpr UINTN QR_QNR_MAX_DRAWS = 100;

// Random and KDF output is drawn in whole bytes; bits above the prime's
// length are shifted out (none for the 256-bit prime).
void TrimToPrimeBits(UINT8 *Buffer, UINTN Length, const mbedtls_mpi *Prime) {
  UINTN Spare = static_cast<UINTN>(bignum_bits(Prime)) % 8;
  if (Spare != 0) {
    shift_right_bits(Buffer, Length, 8 - Spare);
  }
}

// The Legendre symbol (A | P) as 1, 0 or -1 in *Symbol; a failing step is
// reported as such (-1) rather than read as a non-residue. MontgomeryRR
// caches R^2 mod P across calls.
int LegendreSymbol(const mbedtls_mpi *A, const mbedtls_mpi *P, mbedtls_mpi *MontgomeryRR, int *Symbol) {
  BigNum Exponent;
  BigNum Power;
  if (bignum_sub_int(Exponent, P, 1) != 0 || bignum_shift_right(Exponent, 1) != 0 ||
      bignum_exp_mod_rr(Power, A, Exponent, P, MontgomeryRR) != 0) {
    return -1;
  }
  *Symbol = bignum_cmp_int(Power, 1) == 0 ? 1 : (bignum_cmp_int(Power, 0) == 0 ? 0 : -1);
  return 0;
}

// max(own, peer) || min(own, peer): both stations build the same key.
void AddressKey(const UINT8 *OwnAddress, const UINT8 *PeerAddress, UINT8 *Key) {
  bool OwnFirst = CompareMem(OwnAddress, PeerAddress, MAC_ADDRESS_LEN) >= 0;
  CopyMem(Key, OwnFirst ? OwnAddress : PeerAddress, MAC_ADDRESS_LEN);
  CopyMem(Key + MAC_ADDRESS_LEN, OwnFirst ? PeerAddress : OwnAddress, MAC_ADDRESS_LEN);
}

void SwapPoints(mbedtls_ecp_point *A, mbedtls_ecp_point *B) {
  mbedtls_ecp_point Held = *A;
  *A = *B;
  *B = Held;
}

// y = sqrt(x^3 + a*x + b) with the parity of bit 0 of the successful
// pwd-seed's last byte, the negation chosen without a branch.
int SolveForY(const SAE_CONTEXT *Ctx, const mbedtls_mpi *X, UINT8 Parity, mbedtls_mpi *Y) {
  const mbedtls_mpi *Prime = &Ctx->Prime;
  BigNum RightSide;
  BigNum Negated;
  if (ecc_curve_y2(Ctx->Group, Prime, X, RightSide) != 0 || bignum_sqrt_mod(Y, RightSide, Prime) != 0 ||
      bignum_sub(Negated, Prime, Y) != 0) {
    return -1;
  }
  UINT8 Flip = static_cast<UINT8>((bignum_get_bit(Y, 0) ^ Parity) & 1);
  return bignum_cond_assign(Y, Negated, Flip);
}

}  // namespace

int sae_get_qr_qnr(const mbedtls_mpi *Prime, UINTN PrimeLen, mbedtls_mpi *Qr, mbedtls_mpi *Qnr) {
  if (Prime == nullptr || PrimeLen == 0 || bignum_bits(Prime) == 0) {
    return -1;
  }
  PoolPtr<UINT8> Buffer = PoolPtr<UINT8>::Zeroed(PrimeLen);
  if (!Buffer) {
    return -1;
  }
  BigNum MontgomeryRR;
  bool HaveQr = false;
  bool HaveQnr = false;
  for (UINTN Draw = 0; Draw < QR_QNR_MAX_DRAWS && !(HaveQr && HaveQnr); ++Draw) {
    random_bytes(Buffer.Get(), PrimeLen);
    TrimToPrimeBits(Buffer.Get(), PrimeLen, Prime);
    BigNum Candidate;
    int Symbol = 0;
    if (bignum_from_bytes(Candidate, Buffer.Get(), PrimeLen) != 0) {
      break;
    }
    if (bignum_cmp(Candidate, Prime) >= 0) {
      continue;
    }
    if (LegendreSymbol(Candidate, Prime, MontgomeryRR, &Symbol) != 0) {
      break;
    }
    bool *Have = Symbol == 1 ? &HaveQr : (Symbol == -1 ? &HaveQnr : nullptr);
    if (Have == nullptr || *Have) {
      continue;
    }
    if (bignum_copy(Symbol == 1 ? Qr : Qnr, Candidate) != 0) {
      break;
    }
    *Have = true;
  }
  return HaveQr && HaveQnr ? 0 : -1;
}

int sae_is_residue_blind(SAE_CONTEXT *Ctx, ECC_GROUP * /*Group*/, const mbedtls_mpi *Qr, const mbedtls_mpi *Qnr,
                         const mbedtls_mpi *V) {
  if (Ctx == nullptr || Ctx->PrimeLen == 0) {
    return -1;
  }
  const UINTN Length = Ctx->PrimeLen;
  const mbedtls_mpi *Prime = &Ctx->Prime;
  SecurePoolPtr<UINT8> Random = SecurePoolPtr<UINT8>::Zeroed(Length);
  if (!Random) {
    return -1;
  }
  random_bytes(Random.Get(), Length);
  TrimToPrimeBits(Random.Get(), Length, Prime);
  const UINT8 Odd = Random[Length - 1] & 1;

  // num = v * r^2 * (qr or qnr) with 1 <= r <= p - 1.
  BigNum R;
  BigNum PrimeMinusOne;
  BigNum Num;
  BigNum Multiplier;
  if (bignum_from_bytes(R, Random.Get(), Length) != 0 || bignum_sub_int(PrimeMinusOne, Prime, 1) != 0 ||
      bignum_mod(R, R, PrimeMinusOne) != 0 || bignum_add_int(R, R, 1) != 0 ||
      bignum_mul_mod(Num, V, R, Prime) != 0 || bignum_mul_mod(Num, Num, R, Prime) != 0 ||
      bignum_copy(Multiplier, Qnr) != 0 || bignum_cond_assign(Multiplier, Qr, Odd) != 0 ||
      bignum_mul_mod(Num, Num, Multiplier, Prime) != 0) {
    return -1;
  }
  int Symbol = 0;
  if (LegendreSymbol(Num, Prime, &Ctx->PrimeRR, &Symbol) != 0) {
    return -1;
  }
  // A residue v stays a residue times qr and becomes a non-residue times qnr.
  const INT32 Expected = 2 * static_cast<INT32>(Odd) - 1;
  return sae_ct::IsEqual(Symbol, Expected);
}

int sae_derive_pwe(SAE_CONTEXT *Ctx, const UINT8 *OwnAddress, const UINT8 *PeerAddress, const UINT8 *Password,
                   UINTN PasswordLength) {
  if (Ctx == nullptr || Ctx->Group == nullptr || Ctx->PrimeLen == 0) {
    return -1;
  }
  const UINTN Length = Ctx->PrimeLen;
  const mbedtls_mpi *Prime = &Ctx->Prime;
  SecurePoolPtr<UINT8> PwdSeed = SecurePoolPtr<UINT8>::Zeroed(PWD_SEED_LEN);
  SecurePoolPtr<UINT8> PwdValue = SecurePoolPtr<UINT8>::Zeroed(Length);
  PoolPtr<UINT8> PrimeBytes = PoolPtr<UINT8>::Zeroed(Length);
  if (!PwdSeed || !PwdValue || !PrimeBytes || bignum_to_bytes(Prime, PrimeBytes.Get(), Length) != 0) {
    return -1;
  }
  BigNum Qr;
  BigNum Qnr;
  if (sae_get_qr_qnr(Prime, Length, Qr, Qnr) != 0) {
    return -1;
  }

  UINT8 Key[2 * MAC_ADDRESS_LEN];
  AddressKey(OwnAddress, PeerAddress, Key);
  BigNum X;
  BigNum RightSide;
  BigNum SavedX;
  UINT8 Found = 0;
  UINT8 SavedParity = 0;
  for (UINT8 Counter = 1; Counter <= SAE_PWE_COUNTERS; ++Counter) {
    ZeroMem(PwdSeed.Get(), PWD_SEED_LEN);
    ZeroMem(PwdValue.Get(), Length);
    const UINT8 *Message[] = {Password, &Counter};
    const UINTN MessageLength[] = {PasswordLength, 1};
    hmac_sha256_vec(Key, sizeof(Key), 2, Message, MessageLength, PwdSeed.Get());
    if (kdf_sha256_bits(PwdSeed.Get(), PWD_SEED_LEN, HuntingAndPeckingLabel, PrimeBytes.Get(), Length,
                        PwdValue.Get(), bignum_bits(Prime)) != 0) {
      return -1;
    }
    TrimToPrimeBits(PwdValue.Get(), Length, Prime);
    const UINT8 Below = sae_ct::IsLessBigEndian(PwdValue.Get(), PrimeBytes.Get(), Length);
    if (bignum_from_bytes(X, PwdValue.Get(), Length) != 0 || ecc_curve_y2(Ctx->Group, Prime, X, RightSide) != 0) {
      return -1;
    }
    // The blinded test runs for every counter, also after a success and for
    // a candidate not below p, whose answer is then discarded. A test that
    // could not be made fails the derivation: read as a non-residue it could
    // silently select a later counter and so a different element.
    const int Answer = sae_is_residue_blind(Ctx, Ctx->Group, Qr, Qnr, RightSide);
    if (Answer < 0) {
      return -1;
    }
    const UINT8 Residue = static_cast<UINT8>(Answer) & Below;
    const UINT8 Take = Residue & static_cast<UINT8>(Found ^ 1);
    if (bignum_cond_assign(SavedX, X, Take) != 0) {
      return -1;
    }
    SavedParity = sae_ct::Select(Take, PwdSeed[PWD_SEED_LEN - 1] & 1, SavedParity);
    Found |= Residue;
  }
  if (Found == 0) {
    return -1;
  }

  BigNum Y;
  EcPoint Pwe;
  if (SolveForY(Ctx, SavedX, SavedParity, Y) != 0 || ecc_point_from_xy(Ctx->Group, SavedX, Y, Pwe) != 0 ||
      ecc_point_check(Ctx->Group, Pwe) != 0) {
    return -1;
  }
  SwapPoints(&Ctx->Pwe, Pwe);
  return 0;
}
