// The access point's side of WPA3-Personal SAE (IEEE 802.11 Simultaneous
// Authentication of Equals) over group 19: password element by hunting and
// pecking or by hash to element (with a password identifier, the station's
// rejected groups and anti-clogging tokens), commit, shared secret, KCK and
// PMK, confirm. Written directly on
// mbedtls and the crypto primitives, sharing nothing with the station's SAE
// code it tests; a simulator's implementation, not a hardened one (it stops
// at the first successful counter and takes no care over timing).
//
// Freestanding like the rest of the authenticator; mbedtls takes its memory
// from the UEFI pool, so a pool must exist (a UEFI application, or the host
// environment in the host tools).
#pragma once
#include <uefi/Base.h>

#include "Authenticator.h"
#include "MbedtlsPoint.h"

namespace authenticator {

constexpr UINT16 SAE_GROUP_19 = 19;
constexpr UINTN  SAE_PRIME_LEN = 32;
constexpr UINTN  SAE_COMMIT_LEN = 2 + 3 * SAE_PRIME_LEN;
constexpr UINTN  SAE_CONFIRM_LEN = 2 + 32;
// Room for any commit this side builds (an identifier element at most).
constexpr UINTN  SAE_MAX_COMMIT_LEN = SAE_COMMIT_LEN + 3 + 254;
constexpr UINTN  SAE_PT_LEN = 2 * SAE_PRIME_LEN;
constexpr UINTN  SAE_MAX_TOKEN_LEN = 254;
constexpr UINTN  SAE_MAX_IDENTIFIER_LEN = 254;
constexpr UINT16 SAE_STATUS_ANTI_CLOGGING = 76;
constexpr UINT16 SAE_STATUS_UNKNOWN_IDENTIFIER = 123;
constexpr UINT16 SAE_STATUS_H2E = 126;

enum class SAE_VERDICT : UINT8 {
  Ok,
  OutOfTurn,
  Malformed,         // too short
  UnsupportedGroup,  // not group 19
  BadScalar,         // 0, 1, or not below the order
  BadElement,        // a coordinate not below p, or not a point of the curve
  Reflected,         // our own commit sent back
  NoSharedSecret,    // the shared point is at infinity
  BadConfirm,
  Failed,            // out of memory, no password element
  MissingToken,      // the anti-clogging token asked for is absent or different
  UnknownIdentifier, // hash to element: the password identifier is not ours
  BadElements,       // hash to element: an element runs past the body, or group 19 is named rejected
};

// Hash to element: PT of (SSID, password, identifier) as x || y, each
// 32 bytes big-endian; an identifier of length 0 is none. False on failure.
bool SaeDerivePt(const UINT8 *Ssid, UINTN SsidLength, const UINT8 *Password, UINTN PasswordLength,
                 const UINT8 *Identifier, UINTN IdentifierLength, UINT8 *Pt);

// The Anti-Clogging Token Container element around Token: 3 + Length bytes
// into Out (room for SAE_MAX_TOKEN_LEN + 3). 0 for a token of 0 or more
// than SAE_MAX_TOKEN_LEN bytes.
UINTN SaeTokenContainer(const UINT8 *Token, UINTN Length, UINT8 *Out);
const CHAR8 *SaeVerdictName(SAE_VERDICT Verdict);

class SaeAuthenticator {
 public:
  SaeAuthenticator();
  ~SaeAuthenticator();
  SaeAuthenticator(const SaeAuthenticator &) = delete;
  SaeAuthenticator &operator=(const SaeAuthenticator &) = delete;

  // A new exchange: the password element of (password, both addresses),
  // fresh rand and mask, the own commit. Ok or Failed.
  SAE_VERDICT Start(const UINT8 *OwnMac, const UINT8 *PeerMac, const UINT8 *Password, UINTN PasswordLength,
                    RANDOM_SOURCE Random);
  // The same with the password element by hash to element; Identifier (may
  // be NULL) is the password identifier the password is known under, which
  // the peer's commit must name and the own commit names back.
  SAE_VERDICT StartH2e(const UINT8 *OwnMac, const UINT8 *PeerMac, const UINT8 *Ssid, UINTN SsidLength,
                       const UINT8 *Password, UINTN PasswordLength, const UINT8 *Identifier,
                       UINTN IdentifierLength, RANDOM_SOURCE Random);
  // The peer's next commit must carry this token (after the group for
  // hunting and pecking, in a token container for hash to element).
  VOID ExpectToken(const UINT8 *Token, UINTN Length);
  // The own commit; its length, or 0 before Start or when it does not fit.
  UINTN Commit(UINT8 *Out, UINTN Capacity) const;
  // The peer's commit: checked, then the shared secret and the keys.
  SAE_VERDICT AcceptCommit(const UINT8 *Body, UINTN Length);
  // The own confirm, its send-confirm counting up from 1 with every call;
  // 0 before a peer commit was accepted.
  UINTN Confirm(UINT8 *Out, UINTN Capacity);
  SAE_VERDICT AcceptConfirm(const UINT8 *Body, UINTN Length);

  // Both confirms verified: Pmk() is the exchange's PMK.
  bool         Confirmed() const { return Stage_ == STAGE::Confirmed; }
  bool         HashToElement() const { return H2e_; }
  const UINT8 *Pmk() const { return Pmk_; }
  const UINT8 *Kck() const { return Kck_; }

 private:
  enum class STAGE : UINT8 { Idle, Committed, PeerCommitted, Confirmed };

  VOID Release();
  SAE_VERDICT Begin(RANDOM_SOURCE Random);
  bool DerivePweFromPt(const UINT8 *OwnMac, const UINT8 *PeerMac, const UINT8 *Pt);
  SAE_VERDICT ParseH2eElements(const UINT8 *Cursor, const UINT8 *End);
  bool DerivePasswordElement(const UINT8 *OwnMac, const UINT8 *PeerMac, const UINT8 *Password,
                             UINTN PasswordLength);
  bool DrawSecrets();
  bool DeriveKeys();
  bool ConfirmValue(const UINT8 *SendConfirm, const mbedtls_mpi *ScalarA, const mbedtls_ecp_point *ElementA,
                    const mbedtls_mpi *ScalarB, const mbedtls_ecp_point *ElementB, UINT8 *Out) const;

  STAGE             Stage_ = STAGE::Idle;
  RANDOM_SOURCE     Random_ = {};
  mbedtls_ecp_group Group_;
  mbedtls_ecp_point Pwe_;
  mbedtls_ecp_point OwnElement_;
  mbedtls_ecp_point PeerElement_;
  mbedtls_mpi       Rand_;
  mbedtls_mpi       OwnScalar_;
  mbedtls_mpi       PeerScalar_;
  UINT16            SendConfirm_ = 0;
  bool              H2e_ = false;
  UINT8             Identifier_[SAE_MAX_IDENTIFIER_LEN] = {};
  UINTN             IdentifierLength_ = 0;
  UINT8             Token_[SAE_MAX_TOKEN_LEN] = {};
  UINTN             TokenLength_ = 0;
  UINT8             Salt_[2 * 127] = {};  // the peer's rejected groups
  UINTN             SaltLength_ = 0;
  UINT8             Kck_[32] = {};
  UINT8             Pmk_[PMK_LEN] = {};
};

}  // namespace authenticator
