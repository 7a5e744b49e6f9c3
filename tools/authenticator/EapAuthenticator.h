// The access point's EAP authenticator in pass-through form (RFC 3748,
// the pass-through role of RFC 4137): it asks the station for its identity
// itself, then relays between the station and an authentication server
// (the built-in EAP-TLS server, or RADIUS in ap-sim) and checks every
// EAPOL frame the station sends. A lossless line needs no retransmission;
// the number of round trips is bounded. Freestanding: ap-sim, the UEFI test
// application and the benchmark run it.
#pragma once
#include <uefi/Base.h>

namespace authenticator {

constexpr UINT8 EAP_CODE_REQUEST = 1;
constexpr UINT8 EAP_CODE_RESPONSE = 2;
constexpr UINT8 EAP_CODE_SUCCESS = 3;
constexpr UINT8 EAP_CODE_FAILURE = 4;
constexpr UINT8 EAP_TYPE_IDENTITY = 1;
constexpr UINT8 EAP_TYPE_NAK = 3;
constexpr UINT8 EAP_TYPE_TLS = 13;

constexpr UINT8 EAPOL_VERSION = 2;  // 802.1X-2004
constexpr UINT8 EAPOL_TYPE_EAP_PACKET = 0;
constexpr UINTN EAPOL_HEADER_LEN = 4;
constexpr UINTN EAP_HEADER_LEN = 4;
// The largest EAP packet relayed either way: a RADIUS packet's worth, more
// than any EAP-TLS fragment at the usual MTUs.
constexpr UINTN EAP_MAX_PACKET_LEN = 4096;
constexpr UINTN EAP_MAX_IDENTITY_LEN = 253;  // a RADIUS User-Name
// Round trips after the identity before the authenticator gives up; EAP-TLS
// takes about seven with a 1 KiB MTU.
constexpr UINTN EAP_DEFAULT_MAX_ROUNDS = 64;

enum class EAP_VERDICT : UINT8 {
  Ok,
  OutOfTurn,         // no request is outstanding
  Malformed,         // EAPOL or EAP lengths do not add up, or too long
  NotEapPacket,      // an EAPOL type other than EAP-Packet
  NotResponse,       // EAP code other than Response
  WrongIdentifier,   // not the identifier of the outstanding request
  WrongType,         // the identity request answered with another type
};
const CHAR8 *EapVerdictName(EAP_VERDICT Verdict);

enum class EAP_OUTCOME : UINT8 { Running, Success, Failure };

class EapAuthenticator {
 public:
  // A new conversation; FirstIdentifier is the identity request's.
  VOID Start(UINT8 FirstIdentifier, UINTN MaxRounds = EAP_DEFAULT_MAX_ROUNDS);

  // EAPOL frame carrying EAP-Request/Identity; 0 when Capacity is short.
  UINTN IdentityRequest(UINT8 *Out, UINTN Capacity);

  // Checks the station's EAPOL frame against the outstanding request. On
  // Ok the EAP packet is in Response() (and after the identity request,
  // the identity in Identity()).
  EAP_VERDICT AcceptResponse(const UINT8 *Eapol, UINTN Length);

  // Wraps the server's next EAP packet in an EAPOL frame: a Request (its
  // identifier becomes the outstanding one; counts a round), a Success or
  // a Failure (the conversation ends). 0 for a packet that is malformed,
  // comes while the station's answer is outstanding, or would exceed the
  // round bound, or when Capacity is short.
  UINTN Relay(const UINT8 *Eap, UINTN Length, UINT8 *Out, UINTN Capacity);

  const UINT8 *Response() const { return Response_; }
  UINTN        ResponseLength() const { return ResponseLength_; }
  const UINT8 *Identity() const { return Identity_; }
  UINTN        IdentityLength() const { return IdentityLength_; }
  bool         HaveIdentity() const { return HaveIdentity_; }
  EAP_OUTCOME  Outcome() const { return Outcome_; }
  UINTN        Rounds() const { return Rounds_; }
  bool         OutOfRounds() const { return Rounds_ >= MaxRounds_; }
  UINT8        OutstandingIdentifier() const { return Identifier_; }

 private:
  enum class STAGE : UINT8 { Idle, AwaitIdentity, AwaitResponse, Relaying, Done };

  UINTN Wrap(const UINT8 *Eap, UINTN Length, UINT8 *Out, UINTN Capacity) const;

  STAGE       Stage_ = STAGE::Idle;
  EAP_OUTCOME Outcome_ = EAP_OUTCOME::Running;
  UINT8       Identifier_ = 0;
  UINTN       Rounds_ = 0;
  UINTN       MaxRounds_ = EAP_DEFAULT_MAX_ROUNDS;
  bool        HaveIdentity_ = false;
  UINT8       Identity_[EAP_MAX_IDENTITY_LEN] = {};
  UINTN       IdentityLength_ = 0;
  UINT8       Response_[EAP_MAX_PACKET_LEN] = {};
  UINTN       ResponseLength_ = 0;
};

}  // namespace authenticator
