#include "SaeAuthenticator.h"

#include "crypto/Hkdf.h"
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

bool IsZeroPoint(const mbedtls_ecp_point *P) { return mbedtls_mpi_cmp_int(PointZ(P), 0) == 0; }

// x || y of an affine point.
bool WriteElement(const mbedtls_ecp_point *P, UINT8 *Out) { return Write(PointX(P), Out) && Write(PointY(P), Out + SAE_PRIME_LEN); }

constexpr UINT8 ExtensionElement = 255;
constexpr UINT8 PasswordIdentifierExtension = 33;
constexpr UINT8 RejectedGroupsExtension = 92;
constexpr UINT8 TokenContainerExtension = 93;
constexpr CHAR8 H2eLabelU1[] = "SAE Hash to Element u1 P1";
constexpr CHAR8 H2eLabelU2[] = "SAE Hash to Element u2 P2";

// R = A * B mod P (R may alias A or B).
bool MulMod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B, const mbedtls_mpi *P) {
  Mpi Product;
  return mbedtls_mpi_mul_mpi(Product, A, B) == 0 && mbedtls_mpi_mod_mpi(R, Product, P) == 0;
}

bool AddMod(mbedtls_mpi *R, const mbedtls_mpi *A, const mbedtls_mpi *B, const mbedtls_mpi *P) {
  Mpi Sum;
  return mbedtls_mpi_add_mpi(Sum, A, B) == 0 && mbedtls_mpi_mod_mpi(R, Sum, P) == 0;
}

// x^3 + a*x + b with a = p - 3.
bool CurveRightSide(const mbedtls_ecp_group *G, const mbedtls_mpi *X, mbedtls_mpi *R) {
  Mpi Square, Cubic, Linear;
  return MulMod(Square, X, X, &G->P) && MulMod(Cubic, Square, X, &G->P) && mbedtls_mpi_mul_int(Linear, X, 3) == 0 &&
         mbedtls_mpi_sub_mpi(Cubic, Cubic, Linear) == 0 && mbedtls_mpi_add_mpi(Cubic, Cubic, &G->B) == 0 &&
         mbedtls_mpi_mod_mpi(R, Cubic, &G->P) == 0;
}

// The simplified SWU map of RFC 9380 with Z = -10, step by step as written
// there (the simulator takes no care over timing).
bool MapToCurve(const mbedtls_ecp_group *G, const mbedtls_mpi *U, mbedtls_ecp_point *P) {
  Mpi A, Z, U2, ZU2, Denominator, X1, X2, Gx1, Gx2, Inverse, Exponent, Euler, Y;
  if (mbedtls_mpi_sub_int(A, &G->P, 3) != 0 || mbedtls_mpi_sub_int(Z, &G->P, 10) != 0 || !MulMod(U2, U, U, &G->P) ||
      !MulMod(ZU2, Z, U2, &G->P) || !MulMod(Denominator, ZU2, ZU2, &G->P) ||
      !AddMod(Denominator, Denominator, ZU2, &G->P)) {
    return false;
  }
  if (mbedtls_mpi_cmp_int(Denominator, 0) == 0) {
    // x1 = b / (Z * a)
    if (!MulMod(Inverse, Z, A, &G->P) || mbedtls_mpi_inv_mod(Inverse, Inverse, &G->P) != 0 ||
        !MulMod(X1, &G->B, Inverse, &G->P)) {
      return false;
    }
  } else {
    // x1 = (-b / a) * (1 + 1 / denominator)
    Mpi MinusB, OnePlus;
    if (mbedtls_mpi_inv_mod(Inverse, Denominator, &G->P) != 0 || mbedtls_mpi_add_int(OnePlus, Inverse, 1) != 0 ||
        mbedtls_mpi_sub_mpi(MinusB, &G->P, &G->B) != 0 || mbedtls_mpi_inv_mod(Inverse, A, &G->P) != 0 ||
        !MulMod(X1, MinusB, Inverse, &G->P) || !MulMod(X1, X1, OnePlus, &G->P)) {
      return false;
    }
  }
  if (!MulMod(X2, ZU2, X1, &G->P) || !CurveRightSide(G, X1, Gx1) || !CurveRightSide(G, X2, Gx2) ||
      mbedtls_mpi_sub_int(Exponent, &G->P, 1) != 0 || mbedtls_mpi_shift_r(Exponent, 1) != 0 ||
      mbedtls_mpi_exp_mod(Euler, Gx1, Exponent, &G->P, nullptr) != 0) {
    return false;
  }
  const bool Gx1IsSquare = mbedtls_mpi_cmp_int(Euler, 1) == 0 || mbedtls_mpi_cmp_int(Euler, 0) == 0;
  const mbedtls_mpi *X = Gx1IsSquare ? X1 : X2;
  if (mbedtls_mpi_add_int(Exponent, &G->P, 1) != 0 || mbedtls_mpi_shift_r(Exponent, 2) != 0 ||
      mbedtls_mpi_exp_mod(Y, Gx1IsSquare ? Gx1 : Gx2, Exponent, &G->P, nullptr) != 0) {
    return false;
  }
  if (mbedtls_mpi_get_bit(Y, 0) != mbedtls_mpi_get_bit(U, 0) && mbedtls_mpi_sub_mpi(Y, &G->P, Y) != 0) {
    return false;
  }
  return mbedtls_mpi_copy(PointX(P), X) == 0 && mbedtls_mpi_copy(PointY(P), Y) == 0 && mbedtls_mpi_lset(PointZ(P), 1) == 0;
}

// u = HKDF-Expand(seed, label, 48) mod p.
bool ExpandToField(const mbedtls_ecp_group *G, const UINT8 *Seed, const CHAR8 *Label, UINTN LabelLength,
                   mbedtls_mpi *U) {
  UINT8 Expanded[SAE_PRIME_LEN + SAE_PRIME_LEN / 2];
  bool Ok = hkdf_sha256_expand(Seed, 32, reinterpret_cast<const UINT8 *>(Label), LabelLength, Expanded,
                               sizeof(Expanded)) == 0 &&
            mbedtls_mpi_read_binary(U, Expanded, sizeof(Expanded)) == 0 && mbedtls_mpi_mod_mpi(U, U, &G->P) == 0;
  Wipe(Expanded, sizeof(Expanded));
  return Ok;
}

}  // namespace

bool SaeDerivePt(const UINT8 *Ssid, UINTN SsidLength, const UINT8 *Password, UINTN PasswordLength,
                 const UINT8 *Identifier, UINTN IdentifierLength, UINT8 *Pt) {
  mbedtls_ecp_group Group;
  mbedtls_ecp_group_init(&Group);
  const UINT8 *Ikm[] = {Password, Identifier};
  const UINTN IkmLength[] = {PasswordLength, Identifier != nullptr ? IdentifierLength : 0};
  UINT8 Seed[32];
  hkdf_sha256_extract(Ssid, SsidLength, 2, Ikm, IkmLength, Seed);
  Mpi U1, U2, One;
  Point P1, P2, Sum;
  bool Ok = mbedtls_ecp_group_load(&Group, MBEDTLS_ECP_DP_SECP256R1) == 0 &&
            ExpandToField(&Group, Seed, H2eLabelU1, sizeof(H2eLabelU1) - 1, U1) &&
            ExpandToField(&Group, Seed, H2eLabelU2, sizeof(H2eLabelU2) - 1, U2) && MapToCurve(&Group, U1, P1) &&
            MapToCurve(&Group, U2, P2) && mbedtls_mpi_lset(One, 1) == 0 &&
            mbedtls_ecp_muladd(&Group, Sum, One, P1, One, P2) == 0 && !IsZeroPoint(Sum) && WriteElement(Sum, Pt);
  Wipe(Seed, sizeof(Seed));
  mbedtls_ecp_group_free(&Group);
  return Ok;
}

UINTN SaeTokenContainer(const UINT8 *Token, UINTN Length, UINT8 *Out) {
  if (Length == 0 || Length > SAE_MAX_TOKEN_LEN) {
    return 0;
  }
  Out[0] = ExtensionElement;
  Out[1] = (UINT8)(Length + 1);
  Out[2] = TokenContainerExtension;
  Copy(Out + 3, Token, Length);
  return Length + 3;
}

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
    case SAE_VERDICT::MissingToken:
      return "missing-token";
    case SAE_VERDICT::UnknownIdentifier:
      return "unknown-identifier";
    case SAE_VERDICT::BadElements:
      return "bad-elements";
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
  H2e_ = false;
  IdentifierLength_ = 0;
  SaltLength_ = 0;
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
    return mbedtls_mpi_copy(PointX(&Pwe_), X) == 0 && mbedtls_mpi_copy(PointY(&Pwe_), Y) == 0 && mbedtls_mpi_lset(PointZ(&Pwe_), 1) == 0 &&
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
             mbedtls_mpi_sub_mpi(PointY(&OwnElement_), &Group_.P, PointY(&OwnElement_)) == 0;
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
      !DerivePasswordElement(OwnMac, PeerMac, Password, PasswordLength)) {
    Release();
    return SAE_VERDICT::Failed;
  }
  return Begin(Random);
}

SAE_VERDICT SaeAuthenticator::Begin(RANDOM_SOURCE) {
  if (!DrawSecrets()) {
    Release();
    return SAE_VERDICT::Failed;
  }
  Stage_ = STAGE::Committed;
  return SAE_VERDICT::Ok;
}

// PWE = val * PT, val = HMAC-SHA256(0^32, max(addresses) || min(addresses))
// mod (r - 1) + 1.
bool SaeAuthenticator::DerivePweFromPt(const UINT8 *OwnMac, const UINT8 *PeerMac, const UINT8 *Pt) {
  bool OwnFirst = true;
  for (UINTN Index = 0; Index < MacLength; ++Index) {
    if (OwnMac[Index] != PeerMac[Index]) {
      OwnFirst = OwnMac[Index] > PeerMac[Index];
      break;
    }
  }
  UINT8 Addresses[2 * MacLength];
  Copy(Addresses, OwnFirst ? OwnMac : PeerMac, MacLength);
  Copy(Addresses + MacLength, OwnFirst ? PeerMac : OwnMac, MacLength);
  static constexpr UINT8 ZeroKey[32] = {};
  UINT8 Hash[32];
  hmac_sha256(ZeroKey, sizeof(ZeroKey), Addresses, sizeof(Addresses), Hash);
  Mpi Val, OrderMinusOne;
  Point PtPoint;
  return mbedtls_mpi_read_binary(Val, Hash, sizeof(Hash)) == 0 && mbedtls_mpi_sub_int(OrderMinusOne, &Group_.N, 1) == 0 &&
         mbedtls_mpi_mod_mpi(Val, Val, OrderMinusOne) == 0 && mbedtls_mpi_add_int(Val, Val, 1) == 0 &&
         Read(PointX(PtPoint), Pt) && Read(PointY(PtPoint), Pt + SAE_PRIME_LEN) && mbedtls_mpi_lset(PointZ(PtPoint), 1) == 0 &&
         mbedtls_ecp_check_pubkey(&Group_, PtPoint) == 0 &&
         mbedtls_ecp_mul(&Group_, &Pwe_, Val, PtPoint, RandomForMbedtls, &Random_) == 0;
}

SAE_VERDICT SaeAuthenticator::StartH2e(const UINT8 *OwnMac, const UINT8 *PeerMac, const UINT8 *Ssid,
                                       UINTN SsidLength, const UINT8 *Password, UINTN PasswordLength,
                                       const UINT8 *Identifier, UINTN IdentifierLength, RANDOM_SOURCE Random) {
  // A token asked for stays expected across the new start.
  Release();
  Random_ = Random;
  SendConfirm_ = 0;
  if (IdentifierLength > SAE_MAX_IDENTIFIER_LEN) {
    return SAE_VERDICT::Failed;
  }
  if (Identifier != nullptr) {
    Copy(Identifier_, Identifier, IdentifierLength);
    IdentifierLength_ = IdentifierLength;
  }
  UINT8 Pt[SAE_PT_LEN];
  bool Ok = mbedtls_ecp_group_load(&Group_, MBEDTLS_ECP_DP_SECP256R1) == 0 &&
            SaeDerivePt(Ssid, SsidLength, Password, PasswordLength, Identifier_, IdentifierLength_, Pt) &&
            DerivePweFromPt(OwnMac, PeerMac, Pt);
  Wipe(Pt, sizeof(Pt));
  if (!Ok) {
    Release();
    return SAE_VERDICT::Failed;
  }
  H2e_ = true;
  return Begin(Random);
}

VOID SaeAuthenticator::ExpectToken(const UINT8 *Token, UINTN Length) {
  TokenLength_ = Length > SAE_MAX_TOKEN_LEN ? SAE_MAX_TOKEN_LEN : Length;
  Copy(Token_, Token, TokenLength_);
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
  // Hash to element: the identifier the station named comes back.
  if (!H2e_ || IdentifierLength_ == 0) {
    return SAE_COMMIT_LEN;
  }
  if (Capacity < SAE_COMMIT_LEN + 3 + IdentifierLength_) {
    return 0;
  }
  UINT8 *Element = Out + SAE_COMMIT_LEN;
  Element[0] = ExtensionElement;
  Element[1] = (UINT8)(IdentifierLength_ + 1);
  Element[2] = PasswordIdentifierExtension;
  Copy(Element + 3, Identifier_, IdentifierLength_);
  return SAE_COMMIT_LEN + 3 + IdentifierLength_;
}

// The elements after the peer's element: its password identifier must be
// ours, its rejected groups (the key seed's salt) must not name group 19,
// and a token asked for must be in a container.
SAE_VERDICT SaeAuthenticator::ParseH2eElements(const UINT8 *Cursor, const UINT8 *End) {
  bool SawIdentifier = false, SawToken = false;
  SaltLength_ = 0;
  while (Cursor < End) {
    if (End - Cursor < 2 || (UINTN)(End - Cursor) < 2u + Cursor[1]) {
      return SAE_VERDICT::BadElements;
    }
    UINTN Length = Cursor[1];
    if (Cursor[0] == ExtensionElement && Length >= 1) {
      const UINT8 *Data = Cursor + 3;
      UINTN DataLength = Length - 1;
      if (Cursor[2] == PasswordIdentifierExtension) {
        if (DataLength != IdentifierLength_ || !SameBytes(Data, Identifier_, DataLength)) {
          return SAE_VERDICT::UnknownIdentifier;
        }
        SawIdentifier = true;
      } else if (Cursor[2] == RejectedGroupsExtension) {
        if (DataLength == 0 || DataLength % 2 != 0 || DataLength > sizeof(Salt_)) {
          return SAE_VERDICT::BadElements;
        }
        for (UINTN Offset = 0; Offset < DataLength; Offset += 2) {
          if ((UINT16)(Data[Offset] | (Data[Offset + 1] << 8)) == SAE_GROUP_19) {
            return SAE_VERDICT::BadElements;
          }
        }
        Copy(Salt_, Data, DataLength);
        SaltLength_ = DataLength;
      } else if (Cursor[2] == TokenContainerExtension) {
        if (TokenLength_ == 0 || DataLength != TokenLength_ || !SameBytes(Data, Token_, DataLength)) {
          return SAE_VERDICT::MissingToken;
        }
        SawToken = true;
      }
    }
    Cursor += 2 + Length;
  }
  if (IdentifierLength_ != 0 && !SawIdentifier) {
    return SAE_VERDICT::UnknownIdentifier;
  }
  if (TokenLength_ != 0 && !SawToken) {
    return SAE_VERDICT::MissingToken;
  }
  return SAE_VERDICT::Ok;
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
      !Write(PointX(Shared), K)) {
    return false;
  }
  // Hash to element salts the key seed with the rejected groups, if any.
  if (SaltLength_ != 0) {
    hmac_sha256(Salt_, SaltLength_, K, sizeof(K), Keyseed);
  } else {
    hmac_sha256(ZeroKey, sizeof(ZeroKey), K, sizeof(K), Keyseed);
  }
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
  // Hunting and pecking puts a token asked for between group and scalar.
  const UINTN TokenGap = H2e_ ? 0 : TokenLength_;
  if (TokenGap != 0 && (Length < 2 + TokenGap || !SameBytes(Body + 2, Token_, TokenGap))) {
    return SAE_VERDICT::MissingToken;
  }
  Body += TokenGap;
  Length -= TokenGap;
  if (Length < SAE_COMMIT_LEN) {
    return SAE_VERDICT::Malformed;
  }
  if (!Read(&PeerScalar_, Body + 2) || !InOpenRange(&PeerScalar_, &Group_.N)) {
    return SAE_VERDICT::BadScalar;
  }
  if (!Read(PointX(&PeerElement_), Body + 2 + SAE_PRIME_LEN) || !Read(PointY(&PeerElement_), Body + 2 + 2 * SAE_PRIME_LEN) ||
      mbedtls_mpi_lset(PointZ(&PeerElement_), 1) != 0 || mbedtls_ecp_check_pubkey(&Group_, &PeerElement_) != 0) {
    return SAE_VERDICT::BadElement;
  }
  if (H2e_) {
    SAE_VERDICT Elements = ParseH2eElements(Body + SAE_COMMIT_LEN, Body + Length);
    if (Elements != SAE_VERDICT::Ok) {
      return Elements;
    }
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
