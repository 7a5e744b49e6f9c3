// The SAE password element by hunting and pecking.
//
// All 39 counters are always evaluated, each with its own blinded residue
// test, and the first successful candidate is kept through constant-time
// selection. The result is the point the first-residue rule gives; only the
// time no longer tells how many counters it took. The per-counter work (the
// curve equation, the blinding and the Legendre symbol) runs on the
// fixed-size P-256 field, which neither allocates nor branches on values.
#include "PasswordElement.h"

#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>

#include "../Random.h"
#include "ConstantTime.h"
#include "FieldP256.h"
#include "SecretBuffer.h"
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

// The curve's a and b as field elements, for the per-counter equation.
struct CurveConstants {
  p256::Element A;
  p256::Element B;
};

bool LoadCurveConstants(const ECC_GROUP *Group, CurveConstants *Constants) {
  BigNum A;
  BigNum B;
  return ecc_get_a(Group, A) == 0 && ecc_get_b(Group, B) == 0 && p256::FromBignum(A, &Constants->A) &&
         p256::FromBignum(B, &Constants->B);
}

// x^3 + a*x + b as ((x^2 + a) * x) + b.
p256::Element CurveRightSide(const CurveConstants &Curve, const p256::Element &X) {
  return p256::Add(p256::Mul(p256::Add(p256::Sqr(X), Curve.A), X), Curve.B);
}

// The blinded residue test on field elements, drawing its random factor and
// choice here: 1 when V is a residue, else 0.
UINT8 IsResidueBlind(const p256::Element &Qr, const p256::Element &Qnr, const p256::Element &V) {
  SecretBuffer<p256::ELEMENT_BYTES> Random;
  random_bytes(Random.Bytes, sizeof(Random.Bytes));
  const UINT8 Odd = Random.Bytes[sizeof(Random.Bytes) - 1] & 1;
  // num = v * r^2 * (qr or qnr) with 1 <= r <= p - 1.
  const p256::Element R = p256::NonZeroFromBytes(Random.Bytes);
  const p256::Element Num = p256::Mul(p256::Mul(p256::Mul(V, R), R), p256::Select(Odd, Qr, Qnr));
  // A residue v stays a residue times qr and becomes a non-residue times qnr.
  const INT32 Expected = 2 * static_cast<INT32>(Odd) - 1;
  return sae_ct::IsEqual(p256::Legendre(Num), Expected);
}

// x and y of the point with abscissa X: y = sqrt(x^3 + a*x + b) with the
// parity Parity, the negation chosen without a branch. Both big-endian.
void SolveForY(const CurveConstants &Curve, const p256::Element &X, UINT8 Parity, UINT8 *XBytes, UINT8 *YBytes) {
  const p256::Element Root = p256::SquareRoot(CurveRightSide(Curve, X));
  p256::ToBytes(Root, YBytes);
  const UINT8 Flip = static_cast<UINT8>((YBytes[p256::ELEMENT_BYTES - 1] ^ Parity) & 1);
  p256::ToBytes(p256::Select(Flip, p256::Sub(p256::Element{}, Root), Root), YBytes);
  p256::ToBytes(X, XBytes);
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
    if (bignum_legendre_checked(Candidate, Prime, &Symbol) != 0) {
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
  // Only the group-19 prime is supported, and with it the fixed-size field.
  p256::Element QrElement;
  p256::Element QnrElement;
  p256::Element VElement;
  if (Ctx == nullptr || Ctx->PrimeLen != p256::ELEMENT_BYTES || !p256::IsFieldPrime(&Ctx->Prime) ||
      !p256::FromBignum(Qr, &QrElement) || !p256::FromBignum(Qnr, &QnrElement) || !p256::FromBignum(V, &VElement)) {
    return -1;
  }
  return IsResidueBlind(QrElement, QnrElement, VElement);
}

int sae_derive_pwe(SAE_CONTEXT *Ctx, const UINT8 *OwnAddress, const UINT8 *PeerAddress, const UINT8 *Password,
                   UINTN PasswordLength) {
  // No password (none configured) gives no element: a commit built from it
  // would be reported as a success that no configured network can answer.
  if (Ctx == nullptr || Ctx->Group == nullptr || Ctx->PrimeLen != p256::ELEMENT_BYTES ||
      !p256::IsFieldPrime(&Ctx->Prime) || Password == nullptr || PasswordLength == 0) {
    return -1;
  }
  const UINTN Length = Ctx->PrimeLen;
  const mbedtls_mpi *Prime = &Ctx->Prime;
  SecurePoolPtr<UINT8> PwdSeed = SecurePoolPtr<UINT8>::Zeroed(PWD_SEED_LEN);
  SecurePoolPtr<UINT8> PwdValue = SecurePoolPtr<UINT8>::Zeroed(Length);
  PoolPtr<UINT8> PrimeBytes = PoolPtr<UINT8>::Zeroed(Length);
  CurveConstants Curve;
  if (!PwdSeed || !PwdValue || !PrimeBytes || bignum_to_bytes(Prime, PrimeBytes.Get(), Length) != 0 ||
      !LoadCurveConstants(Ctx->Group, &Curve)) {
    return -1;
  }
  p256::Element Qr;
  p256::Element Qnr;
  {
    BigNum QrNumber;
    BigNum QnrNumber;
    if (sae_get_qr_qnr(Prime, Length, QrNumber, QnrNumber) != 0 || !p256::FromBignum(QrNumber, &Qr) ||
        !p256::FromBignum(QnrNumber, &Qnr)) {
      return -1;
    }
  }

  UINT8 Key[2 * MAC_ADDRESS_LEN];
  AddressKey(OwnAddress, PeerAddress, Key);
  p256::Element SavedX = {};
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
    // The blinded test runs for every counter, also after a success and for
    // a candidate not below p (reduced here), whose answer is then discarded.
    const UINT8 Below = sae_ct::IsLessBigEndian(PwdValue.Get(), PrimeBytes.Get(), Length);
    const p256::Element X = p256::FromBytes(PwdValue.Get());
    const UINT8 Residue = IsResidueBlind(Qr, Qnr, CurveRightSide(Curve, X)) & Below;
    const UINT8 Take = Residue & static_cast<UINT8>(Found ^ 1);
    SavedX = p256::Select(Take, X, SavedX);
    SavedParity = sae_ct::Select(Take, PwdSeed[PWD_SEED_LEN - 1] & 1, SavedParity);
    Found |= Residue;
  }
  if (Found == 0) {
    return -1;
  }

  SecretBuffer<p256::ELEMENT_BYTES> XBytes;
  SecretBuffer<p256::ELEMENT_BYTES> YBytes;
  SolveForY(Curve, SavedX, SavedParity, XBytes.Bytes, YBytes.Bytes);
  BigNum X;
  BigNum Y;
  EcPoint Pwe;
  if (bignum_from_bytes(X, XBytes.Bytes, Length) != 0 || bignum_from_bytes(Y, YBytes.Bytes, Length) != 0 ||
      ecc_point_from_xy(Ctx->Group, X, Y, Pwe) != 0 || ecc_point_check(Ctx->Group, Pwe) != 0) {
    return -1;
  }
  SwapPoints(&Ctx->Pwe, Pwe);
  return 0;
}
