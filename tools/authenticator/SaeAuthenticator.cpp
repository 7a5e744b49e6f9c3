#include "SaeAuthenticator.h"

#include "crypto/Hmac.h"
#include "crypto/Kdf.h"

namespace authenticator {
namespace {

constexpr UINTN MacLength = MAC_LEN;
constexpr UINT8 LastCounter = 40;
constexpr UINTN SecretDraws = 100;
constexpr CHAR8 HuntingAndPecking[] = "SAE Hunting and Pecking";
constexpr CHAR8 KeyLabel[] = "SAE KCK and PMK";

// Scoped mbedtls objects.
class Mpi {
 public:
  Mpi() { mbedtls_mpi_init(&Value_); }
  ~Mpi() { mbedtls_mpi_free(&Value_); }
  Mpi(const Mpi &) = delete;
  Mpi &operator=(const Mpi &) = delete;
  operator mbedtls_mpi *() { return &Value_; }
  operator const mbedtls_mpi *() const { return &Value_; }

 private:
  mbedtls_mpi Value_;
};

class Point {
 public:
  Point() { mbedtls_ecp_point_init(&Value_); }
  ~Point() { mbedtls_ecp_point_free(&Value_); }
  Point(const Point &) = delete;
  Point &operator=(const Point &) = delete;
  operator mbedtls_ecp_point *() { return &Value_; }
  mbedtls_ecp_point *operator->() { return &Value_; }

 private:
  mbedtls_ecp_point Value_;
};

VOID Copy(VOID *To, const VOID *From, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    static_cast<UINT8 *>(To)[Index] = static_cast<const UINT8 *>(From)[Index];
  }
}

VOID Wipe(VOID *Buffer, UINTN Length) {
  volatile UINT8 *Bytes = static_cast<volatile UINT8 *>(Buffer);
  for (UINTN Index = 0; Index < Length; ++Index) {
    Bytes[Index] = 0;
  }
}

bool SameBytes(const UINT8 *A, const UINT8 *B, UINTN Length) {
  UINT8 Difference = 0;
  for (UINTN Index = 0; Index < Length; ++Index) {
    Difference |= (UINT8)(A[Index] ^ B[Index]);
  }
  return Difference == 0;
}

int RandomForMbedtls(void *Context, unsigned char *Out, size_t Length) {
  const RANDOM_SOURCE *Source = static_cast<const RANDOM_SOURCE *>(Context);
  Source->Fill(Source->Context, Out, Length);
  return 0;
}

bool Read(mbedtls_mpi *X, const UINT8 *Bytes) { return mbedtls_mpi_read_binary(X, Bytes, SAE_PRIME_LEN) == 0; }
bool Write(const mbedtls_mpi *X, UINT8 *Bytes) { return mbedtls_mpi_write_binary(X, Bytes, SAE_PRIME_LEN) == 0; }

// 1 < X < Limit.
bool InOpenRange(const mbedtls_mpi *X, const mbedtls_mpi *Limit) {
  return mbedtls_mpi_cmp_int(X, 1) > 0 && mbedtls_mpi_cmp_mpi(X, Limit) < 0;
}

bool IsZeroPoint(const mbedtls_ecp_point *P) { return mbedtls_mpi_cmp_int(&P->Z, 0) == 0; }

// x || y of an affine point.
bool WriteElement(const mbedtls_ecp_point *P, UINT8 *Out) { return Write(&P->X, Out) && Write(&P->Y, Out + SAE_PRIME_LEN); }

}  // namespace

const CHAR8 *SaeVerdictName(SAE_VERDICT Verdict) {
  switch (Verdict) {
    case SAE_VERDICT::Ok:
      return "ok";
    case SAE_VERDICT::OutOfTurn:
      return "out-of-turn";
    case SAE_VERDICT::Malformed:
      return "malformed";
    case SAE_VERDICT::UnsupportedGroup:
      return "unsupported-group";
    case SAE_VERDICT::BadScalar:
      return "bad-scalar";
    case SAE_VERDICT::BadElement:
      return "bad-element";
    case SAE_VERDICT::Reflected:
      return "reflected";
    case SAE_VERDICT::NoSharedSecret:
      return "no-shared-secret";
    case SAE_VERDICT::BadConfirm:
      return "bad-confirm";
    case SAE_VERDICT::Failed:
      return "failed";
  }
  return "?";
}

SaeAuthenticator::SaeAuthenticator() {
  mbedtls_ecp_group_init(&Group_);
  mbedtls_ecp_point_init(&Pwe_);
  mbedtls_ecp_point_init(&OwnElement_);
  mbedtls_ecp_point_init(&PeerElement_);
  mbedtls_mpi_init(&Rand_);
  mbedtls_mpi_init(&OwnScalar_);
  mbedtls_mpi_init(&PeerScalar_);
}

SaeAuthenticator::~SaeAuthenticator() { Release(); }

VOID SaeAuthenticator::Release() {
  mbedtls_ecp_group_free(&Group_);
  mbedtls_ecp_point_free(&Pwe_);
  mbedtls_ecp_point_free(&OwnElement_);
  mbedtls_ecp_point_free(&PeerElement_);
  mbedtls_mpi_free(&Rand_);
  mbedtls_mpi_free(&OwnScalar_);
  mbedtls_mpi_free(&PeerScalar_);
  Wipe(Kck_, sizeof(Kck_));
  Wipe(Pmk_, sizeof(Pmk_));
  Stage_ = STAGE::Idle;
}

// Hunting and pecking: the first counter whose x gives a square
// x^3 - 3x + b is taken, y with the parity of the pwd-seed's last bit.
bool SaeAuthenticator::DerivePasswordElement(const UINT8 *OwnMac, const UINT8 *PeerMac, const UINT8 *Password,
                                             UINTN PasswordLength) {
  bool OwnFirst = false;
  for (UINTN Index = 0; Index < MacLength; ++Index) {
    if (OwnMac[Index] != PeerMac[Index]) {
      OwnFirst = OwnMac[Index] > PeerMac[Index];
      break;
    }
  }
  UINT8 Key[2 * MacLength];
  Copy(Key, OwnFirst ? OwnMac : PeerMac, MacLength);
  Copy(Key + MacLength, OwnFirst ? PeerMac : OwnMac, MacLength);
  UINT8 PrimeBytes[SAE_PRIME_LEN];
  Mpi Legendre, Root;
  if (!Write(&Group_.P, PrimeBytes) || mbedtls_mpi_sub_int(Legendre, &Group_.P, 1) != 0 ||
      mbedtls_mpi_shift_r(Legendre, 1) != 0 || mbedtls_mpi_add_int(Root, &Group_.P, 1) != 0 ||
      mbedtls_mpi_shift_r(Root, 2) != 0) {
    return false;
  }
  for (UINT8 Counter = 1; Counter <= LastCounter; ++Counter) {
    const UINT8 *Parts[] = {Password, &Counter};
    const UINTN Lengths[] = {PasswordLength, 1};
    UINT8 Seed[32], Value[SAE_PRIME_LEN];
    hmac_sha256_vec(Key, sizeof(Key), 2, Parts, Lengths, Seed);
    if (kdf_sha256_bits(Seed, sizeof(Seed), HuntingAndPecking, PrimeBytes, sizeof(PrimeBytes), Value, 256) != 0) {
      return false;
    }
    Mpi X, Square, Power, Y;
    if (!Read(X, Value)) {
      return false;
    }
    if (mbedtls_mpi_cmp_mpi(X, &Group_.P) >= 0) {
      continue;
    }
    // (x^2 - 3) * x + b
    if (mbedtls_mpi_mul_mpi(Square, X, X) != 0 || mbedtls_mpi_sub_int(Square, Square, 3) != 0 ||
        mbedtls_mpi_mul_mpi(Square, Square, X) != 0 || mbedtls_mpi_add_mpi(Square, Square, &Group_.B) != 0 ||
        mbedtls_mpi_mod_mpi(Square, Square, &Group_.P) != 0 ||
        mbedtls_mpi_exp_mod(Power, Square, Legendre, &Group_.P, nullptr) != 0) {
      return false;
    }
    if (mbedtls_mpi_cmp_int(Power, 1) != 0) {
      continue;
    }
    if (mbedtls_mpi_exp_mod(Y, Square, Root, &Group_.P, nullptr) != 0) {
      return false;
    }
    if (mbedtls_mpi_get_bit(Y, 0) != (Seed[31] & 1) && mbedtls_mpi_sub_mpi(Y, &Group_.P, Y) != 0) {
      return false;
    }
    Wipe(Seed, sizeof(Seed));
    return mbedtls_mpi_copy(&Pwe_.X, X) == 0 && mbedtls_mpi_copy(&Pwe_.Y, Y) == 0 && mbedtls_mpi_lset(&Pwe_.Z, 1) == 0 &&
           mbedtls_ecp_check_pubkey(&Group_, &Pwe_) == 0;
  }
  return false;
}

// rand and mask with 1 < rand, mask < r and a commit scalar above 1; the
// own element is -(mask * PWE).
bool SaeAuthenticator::DrawSecrets() {
  Mpi Mask;
  UINT8 Bytes[SAE_PRIME_LEN];
  for (UINTN Draw = 0; Draw < SecretDraws; ++Draw) {
    Random_.Fill(Random_.Context, Bytes, sizeof(Bytes));
    if (!Read(&Rand_, Bytes)) {
      return false;
    }
    Random_.Fill(Random_.Context, Bytes, sizeof(Bytes));
    if (!Read(Mask, Bytes) || mbedtls_mpi_add_mpi(&OwnScalar_, &Rand_, Mask) != 0 ||
        mbedtls_mpi_mod_mpi(&OwnScalar_, &OwnScalar_, &Group_.N) != 0) {
      return false;
    }
    if (InOpenRange(&Rand_, &Group_.N) && InOpenRange(Mask, &Group_.N) && mbedtls_mpi_cmp_int(&OwnScalar_, 1) > 0) {
      Wipe(Bytes, sizeof(Bytes));
      return mbedtls_ecp_mul(&Group_, &OwnElement_, Mask, &Pwe_, RandomForMbedtls, &Random_) == 0 &&
             mbedtls_mpi_sub_mpi(&OwnElement_.Y, &Group_.P, &OwnElement_.Y) == 0;
    }
  }
  return false;
}

SAE_VERDICT SaeAuthenticator::Start(const UINT8 *OwnMac, const UINT8 *PeerMac, const UINT8 *Password,
                                    UINTN PasswordLength, RANDOM_SOURCE Random) {
  Release();
  Random_ = Random;
  SendConfirm_ = 0;
  if (mbedtls_ecp_group_load(&Group_, MBEDTLS_ECP_DP_SECP256R1) != 0 ||
      !DerivePasswordElement(OwnMac, PeerMac, Password, PasswordLength) || !DrawSecrets()) {
    Release();
    return SAE_VERDICT::Failed;
  }
  Stage_ = STAGE::Committed;
  return SAE_VERDICT::Ok;
}

UINTN SaeAuthenticator::Commit(UINT8 *Out, UINTN Capacity) const {
  if (Stage_ == STAGE::Idle || Capacity < SAE_COMMIT_LEN) {
    return 0;
  }
  Out[0] = (UINT8)SAE_GROUP_19;
  Out[1] = (UINT8)(SAE_GROUP_19 >> 8);
  if (!Write(&OwnScalar_, Out + 2) || !WriteElement(&OwnElement_, Out + 2 + SAE_PRIME_LEN)) {
    return 0;
  }
  return SAE_COMMIT_LEN;
}

// k = x(rand * (peer scalar * PWE + peer element)); keyseed =
// HMAC-SHA256(0^32, k); KCK || PMK = KDF-512(keyseed, "SAE KCK and PMK",
// (own scalar + peer scalar) mod r).
bool SaeAuthenticator::DeriveKeys() {
  Mpi One, Sum;
  Point Combined, Shared;
  UINT8 K[SAE_PRIME_LEN], Keyseed[32], Context[SAE_PRIME_LEN], Keys[64];
  static constexpr UINT8 ZeroKey[32] = {};
  if (mbedtls_mpi_lset(One, 1) != 0 ||
      mbedtls_ecp_muladd(&Group_, Combined, &PeerScalar_, &Pwe_, One, &PeerElement_) != 0 || IsZeroPoint(Combined) ||
      mbedtls_ecp_mul(&Group_, Shared, &Rand_, Combined, RandomForMbedtls, &Random_) != 0 || IsZeroPoint(Shared) ||
      !Write(&Shared->X, K)) {
    return false;
  }
  hmac_sha256(ZeroKey, sizeof(ZeroKey), K, sizeof(K), Keyseed);
  bool Ok = mbedtls_mpi_add_mpi(Sum, &OwnScalar_, &PeerScalar_) == 0 &&
            mbedtls_mpi_mod_mpi(Sum, Sum, &Group_.N) == 0 && Write(Sum, Context) &&
            kdf_sha256_bits(Keyseed, sizeof(Keyseed), KeyLabel, Context, sizeof(Context), Keys, 512) == 0;
  if (Ok) {
    Copy(Kck_, Keys, sizeof(Kck_));
    Copy(Pmk_, Keys + sizeof(Kck_), sizeof(Pmk_));
  }
  Wipe(K, sizeof(K));
  Wipe(Keyseed, sizeof(Keyseed));
  Wipe(Keys, sizeof(Keys));
  return Ok;
}

SAE_VERDICT SaeAuthenticator::AcceptCommit(const UINT8 *Body, UINTN Length) {
  if (Stage_ != STAGE::Committed) {
    return SAE_VERDICT::OutOfTurn;
  }
  if (Length < 2) {
    return SAE_VERDICT::Malformed;
  }
  if ((UINT16)(Body[0] | (Body[1] << 8)) != SAE_GROUP_19) {
    return SAE_VERDICT::UnsupportedGroup;
  }
  if (Length < SAE_COMMIT_LEN) {
    return SAE_VERDICT::Malformed;
  }
  if (!Read(&PeerScalar_, Body + 2) || !InOpenRange(&PeerScalar_, &Group_.N)) {
    return SAE_VERDICT::BadScalar;
  }
  if (!Read(&PeerElement_.X, Body + 2 + SAE_PRIME_LEN) || !Read(&PeerElement_.Y, Body + 2 + 2 * SAE_PRIME_LEN) ||
      mbedtls_mpi_lset(&PeerElement_.Z, 1) != 0 || mbedtls_ecp_check_pubkey(&Group_, &PeerElement_) != 0) {
    return SAE_VERDICT::BadElement;
  }
  if (mbedtls_mpi_cmp_mpi(&PeerScalar_, &OwnScalar_) == 0 && mbedtls_ecp_point_cmp(&PeerElement_, &OwnElement_) == 0) {
    return SAE_VERDICT::Reflected;
  }
  if (!DeriveKeys()) {
    return SAE_VERDICT::NoSharedSecret;
  }
  Stage_ = STAGE::PeerCommitted;
  return SAE_VERDICT::Ok;
}

bool SaeAuthenticator::ConfirmValue(const UINT8 *SendConfirm, const mbedtls_mpi *ScalarA,
                                    const mbedtls_ecp_point *ElementA, const mbedtls_mpi *ScalarB,
                                    const mbedtls_ecp_point *ElementB, UINT8 *Out) const {
  UINT8 A[SAE_PRIME_LEN], EA[2 * SAE_PRIME_LEN], B[SAE_PRIME_LEN], EB[2 * SAE_PRIME_LEN];
  if (!Write(ScalarA, A) || !WriteElement(ElementA, EA) || !Write(ScalarB, B) || !WriteElement(ElementB, EB)) {
    return false;
  }
  const UINT8 *Parts[] = {SendConfirm, A, EA, B, EB};
  const UINTN Lengths[] = {2, sizeof(A), sizeof(EA), sizeof(B), sizeof(EB)};
  hmac_sha256_vec(Kck_, sizeof(Kck_), 5, Parts, Lengths, Out);
  return true;
}

UINTN SaeAuthenticator::Confirm(UINT8 *Out, UINTN Capacity) {
  if ((Stage_ != STAGE::PeerCommitted && Stage_ != STAGE::Confirmed) || Capacity < SAE_CONFIRM_LEN) {
    return 0;
  }
  if (SendConfirm_ < 0xFFFF) {
    ++SendConfirm_;
  }
  Out[0] = (UINT8)SendConfirm_;
  Out[1] = (UINT8)(SendConfirm_ >> 8);
  return ConfirmValue(Out, &OwnScalar_, &OwnElement_, &PeerScalar_, &PeerElement_, Out + 2) ? SAE_CONFIRM_LEN : 0;
}

SAE_VERDICT SaeAuthenticator::AcceptConfirm(const UINT8 *Body, UINTN Length) {
  if (Stage_ != STAGE::PeerCommitted && Stage_ != STAGE::Confirmed) {
    return SAE_VERDICT::OutOfTurn;
  }
  if (Length < SAE_CONFIRM_LEN) {
    return SAE_VERDICT::Malformed;
  }
  UINT8 Expected[32];
  if (!ConfirmValue(Body, &PeerScalar_, &PeerElement_, &OwnScalar_, &OwnElement_, Expected)) {
    return SAE_VERDICT::Failed;
  }
  if (!SameBytes(Expected, Body + 2, sizeof(Expected))) {
    return SAE_VERDICT::BadConfirm;
  }
  Stage_ = STAGE::Confirmed;
  return SAE_VERDICT::Ok;
}

}  // namespace authenticator
