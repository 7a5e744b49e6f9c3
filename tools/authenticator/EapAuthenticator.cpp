#include "EapAuthenticator.h"

namespace authenticator {
namespace {

UINTN Be16(const UINT8 *Bytes) { return (UINTN)(Bytes[0] << 8 | Bytes[1]); }
VOID PutBe16(UINT8 *Bytes, UINTN Value) {
  Bytes[0] = (UINT8)(Value >> 8);
  Bytes[1] = (UINT8)Value;
}
VOID Copy(UINT8 *To, const UINT8 *From, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    To[Index] = From[Index];
  }
}

// An EAP packet whose length field covers exactly Length octets, at least
// its header, and a type octet for requests and responses.
bool WellFormedEap(const UINT8 *Eap, UINTN Length) {
  if (Length < EAP_HEADER_LEN || Length > EAP_MAX_PACKET_LEN || Be16(Eap + 2) != Length) {
    return false;
  }
  bool Typed = Eap[0] == EAP_CODE_REQUEST || Eap[0] == EAP_CODE_RESPONSE;
  bool Plain = Eap[0] == EAP_CODE_SUCCESS || Eap[0] == EAP_CODE_FAILURE;
  return (Typed && Length > EAP_HEADER_LEN) || (Plain && Length == EAP_HEADER_LEN);
}

}  // namespace

const CHAR8 *EapVerdictName(EAP_VERDICT Verdict) {
  switch (Verdict) {
    case EAP_VERDICT::Ok:
      return "ok";
    case EAP_VERDICT::OutOfTurn:
      return "out-of-turn";
    case EAP_VERDICT::Malformed:
      return "malformed";
    case EAP_VERDICT::NotEapPacket:
      return "not-eap-packet";
    case EAP_VERDICT::NotResponse:
      return "not-eap-response";
    case EAP_VERDICT::WrongIdentifier:
      return "wrong-eap-identifier";
    case EAP_VERDICT::WrongType:
      return "wrong-eap-type";
  }
  return "?";
}

VOID EapAuthenticator::Start(UINT8 FirstIdentifier, UINTN MaxRounds) {
  Stage_ = STAGE::Idle;
  Outcome_ = EAP_OUTCOME::Running;
  Identifier_ = FirstIdentifier;
  Rounds_ = 0;
  MaxRounds_ = MaxRounds;
  HaveIdentity_ = false;
  IdentityLength_ = 0;
  ResponseLength_ = 0;
}

UINTN EapAuthenticator::Wrap(const UINT8 *Eap, UINTN Length, UINT8 *Out, UINTN Capacity) const {
  if (EAPOL_HEADER_LEN + Length > Capacity) {
    return 0;
  }
  Out[0] = EAPOL_VERSION;
  Out[1] = EAPOL_TYPE_EAP_PACKET;
  PutBe16(Out + 2, Length);
  Copy(Out + EAPOL_HEADER_LEN, Eap, Length);
  return EAPOL_HEADER_LEN + Length;
}

UINTN EapAuthenticator::IdentityRequest(UINT8 *Out, UINTN Capacity) {
  if (Stage_ != STAGE::Idle) {
    return 0;
  }
  const UINT8 Request[] = {EAP_CODE_REQUEST, Identifier_, 0, 5, EAP_TYPE_IDENTITY};
  UINTN Length = Wrap(Request, sizeof(Request), Out, Capacity);
  if (Length != 0) {
    Stage_ = STAGE::AwaitIdentity;
  }
  return Length;
}

EAP_VERDICT EapAuthenticator::AcceptResponse(const UINT8 *Eapol, UINTN Length) {
  if (Stage_ != STAGE::AwaitIdentity && Stage_ != STAGE::AwaitResponse) {
    return EAP_VERDICT::OutOfTurn;
  }
  if (Length < EAPOL_HEADER_LEN) {
    return EAP_VERDICT::Malformed;
  }
  if (Eapol[1] != EAPOL_TYPE_EAP_PACKET) {
    return EAP_VERDICT::NotEapPacket;
  }
  // The EAPOL body is the EAP packet; octets after it are padding.
  UINTN Body = Be16(Eapol + 2);
  const UINT8 *Eap = Eapol + EAPOL_HEADER_LEN;
  if (Body > Length - EAPOL_HEADER_LEN || !WellFormedEap(Eap, Body)) {
    return EAP_VERDICT::Malformed;
  }
  if (Eap[0] != EAP_CODE_RESPONSE) {
    return EAP_VERDICT::NotResponse;
  }
  if (Eap[1] != Identifier_) {
    return EAP_VERDICT::WrongIdentifier;
  }
  if (Stage_ == STAGE::AwaitIdentity) {
    if (Eap[4] != EAP_TYPE_IDENTITY) {
      return EAP_VERDICT::WrongType;
    }
    UINTN IdentityLength = Body - EAP_HEADER_LEN - 1;
    if (IdentityLength > EAP_MAX_IDENTITY_LEN) {
      return EAP_VERDICT::Malformed;
    }
    Copy(Identity_, Eap + EAP_HEADER_LEN + 1, IdentityLength);
    IdentityLength_ = IdentityLength;
    HaveIdentity_ = true;
  }
  Copy(Response_, Eap, Body);
  ResponseLength_ = Body;
  Stage_ = STAGE::Relaying;
  return EAP_VERDICT::Ok;
}

UINTN EapAuthenticator::Relay(const UINT8 *Eap, UINTN Length, UINT8 *Out, UINTN Capacity) {
  if (Stage_ != STAGE::Relaying || !WellFormedEap(Eap, Length) || Eap[0] == EAP_CODE_RESPONSE) {
    return 0;
  }
  if (Eap[0] == EAP_CODE_REQUEST && Rounds_ >= MaxRounds_) {
    return 0;
  }
  UINTN Built = Wrap(Eap, Length, Out, Capacity);
  if (Built == 0) {
    return 0;
  }
  if (Eap[0] == EAP_CODE_REQUEST) {
    ++Rounds_;
    Identifier_ = Eap[1];
    Stage_ = STAGE::AwaitResponse;
  } else {
    Outcome_ = Eap[0] == EAP_CODE_SUCCESS ? EAP_OUTCOME::Success : EAP_OUTCOME::Failure;
    Stage_ = STAGE::Done;
  }
  return Built;
}

}  // namespace authenticator
