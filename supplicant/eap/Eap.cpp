// The peer end of EAP (RFC 3748) over EAPOL: Identity, Notification and
// Legacy Nak answered here, EAP-TLS handed to its method, EAP-Success and
// EAP-Failure ending the exchange. Every response is kept as the pending
// one until the next request with another identifier: retransmissions and
// callers retrying with a larger buffer get exactly the same frame, and the
// method never sees a request twice.
#include "Eap.h"

#include <Library/BaseMemoryLib.h>

#include "EapPacket.h"
#include "EapTls.h"
#include "Pmk.h"

namespace {

using namespace eap;

static_assert(SUP_EAP_RESPONSE_MAX == MAX_RESPONSE_FRAME);
static_assert(EAPOL_HEADER_SIZE + EAP_TYPE_HEADER_SIZE + SUP_EAP_IDENTITY_MAX <= SUP_EAP_RESPONSE_MAX);

bool UsesEap(const SUP_INSTANCE *Instance) { return (Instance->AkmFlags & SUP_AKM_8021X_MASK) != 0; }

bool IsRetransmission(const SUP_INSTANCE *Instance, const PACKET &Request) {
  return Instance->EapPendingValid && Instance->EapPendingIdentifier == Request.Identifier &&
         Instance->EapPendingType == Request.Type;
}

EFI_STATUS DeliverPending(const SUP_INSTANCE *Instance, UINT8 *Buffer, UINTN *BufferSize) {
  UINTN Size = Instance->EapPendingSize;
  if (*BufferSize < Size) {
    *BufferSize = Size;
    return EFI_BUFFER_TOO_SMALL;
  }
  CopyMem(Buffer, Instance->EapPending, Size);
  *BufferSize = Size;
  return EFI_SUCCESS;
}

VOID KeepPending(SUP_INSTANCE *Instance, const PACKET &Request, UINTN Size) {
  Instance->EapPendingValid = TRUE;
  Instance->EapPendingIdentifier = Request.Identifier;
  Instance->EapPendingType = Request.Type;
  Instance->EapPendingSize = (UINT16)Size;
}

VOID ForgetPending(SUP_INSTANCE *Instance) {
  Instance->EapPendingValid = FALSE;
  Instance->EapPendingSize = 0;
  SecureZeroMem(Instance->EapPending, sizeof(Instance->EapPending));
}

// The response of a non-TLS type: Identity with the configured identity,
// Notification empty, anything else a Legacy Nak asking for EAP-TLS.
VOID PendTypeResponse(SUP_INSTANCE *Instance, const PACKET &Request, UINT8 Type, const UINT8 *Data, UINTN Length) {
  BuildResponseFrame(Request.Identifier, Type, Data, Length, Instance->EapPending);
  KeepPending(Instance, Request, ResponseFrameSize(Length));
}

// An Identity request opens an exchange (or restarts one: the authenticator
// starts over), so any handshake under way is dropped.
VOID AnswerIdentity(SUP_INSTANCE *Instance, const PACKET &Request) {
  TlsRelease(Instance);
  Instance->EapState = SUP_EAP_STATE::Running;
  Instance->HandshakeState = SUP_HANDSHAKE_INITIAL;
  PendTypeResponse(Instance, Request, EFI_EAP_TYPE_IDENTITY, static_cast<const UINT8 *>(Instance->EapIdentity),
                   Instance->EapIdentity != nullptr ? Instance->EapIdentitySize : 0);
}

EFI_STATUS AnswerTls(SUP_INSTANCE *Instance, const PACKET &Request) {
  TLS_RESPONSE Response;
  EFI_STATUS Status = TlsAnswer(Instance, Request, &Response);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  BuildTlsResponseFrame(Request.Identifier, Response, Instance->EapPending);
  KeepPending(Instance, Request, TlsResponseFrameSize(Response));
  return EFI_SUCCESS;
}

EFI_STATUS AnswerRequest(SUP_INSTANCE *Instance, const PACKET &Request) {
  constexpr UINT8 WantedMethod = EFI_EAP_TYPE_EAPTLS;
  switch (Request.Type) {
    case EFI_EAP_TYPE_IDENTITY:
      AnswerIdentity(Instance, Request);
      return EFI_SUCCESS;
    case EFI_EAP_TYPE_NOTIFICATION:
      PendTypeResponse(Instance, Request, EFI_EAP_TYPE_NOTIFICATION, nullptr, 0);
      return EFI_SUCCESS;
    case EFI_EAP_TYPE_NAK:
      // A Nak is only ever a response.
      return EFI_PROTOCOL_ERROR;
    case EFI_EAP_TYPE_EAPTLS:
      return AnswerTls(Instance, Request);
    default:
      PendTypeResponse(Instance, Request, EFI_EAP_TYPE_NAK, &WantedMethod, 1);
      return EFI_SUCCESS;
  }
}

VOID EndExchange(SUP_INSTANCE *Instance, SUP_EAP_STATE Outcome, UINTN *BufferSize) {
  TlsRelease(Instance);
  ForgetPending(Instance);
  Instance->EapState = Outcome;
  *BufferSize = 0;
}

// EAP-Success counts only once the TLS handshake has finished: the PMK is
// the first half of the MSK. A repeated Success after that changes nothing.
EFI_STATUS TakeSuccess(SUP_INSTANCE *Instance, UINTN *BufferSize) {
  if (Instance->EapState == SUP_EAP_STATE::Succeeded && Instance->EapTls == nullptr) {
    *BufferSize = 0;
    return EFI_SUCCESS;
  }
  if (!TlsFinished(Instance)) {
    return EFI_PROTOCOL_ERROR;
  }
  SupSetPmk(Instance, TlsMsk(Instance), SUP_PMK_SOURCE::Eap);
  EndExchange(Instance, SUP_EAP_STATE::Succeeded, BufferSize);
  return EFI_SUCCESS;
}

// EAP-Failure ends an exchange that has not succeeded. Once one has, a
// Failure (which anyone can send) cannot take it back.
EFI_STATUS TakeFailure(SUP_INSTANCE *Instance, UINTN *BufferSize) {
  if (Instance->EapState == SUP_EAP_STATE::Succeeded) {
    return EFI_PROTOCOL_ERROR;
  }
  EndExchange(Instance, SUP_EAP_STATE::Failed, BufferSize);
  Instance->HandshakeState = SUP_HANDSHAKE_INITIAL;
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS SupEapBuildResponsePacket(SUP_INSTANCE *Instance, UINT8 *RequestBuffer, UINTN RequestBufferSize,
                                     UINT8 *Buffer, UINTN *BufferSize) {
  if (Buffer == nullptr || BufferSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Instance->Protocol < SUP_PROTOCOL_WPA) {
    return EFI_UNSUPPORTED;
  }
  PACKET Packet;
  if (!UsesEap(Instance) || !ParseEapolEap(RequestBuffer, RequestBufferSize, &Packet)) {
    return EFI_PROTOCOL_ERROR;
  }
  switch (Packet.Code) {
    case CODE_REQUEST: {
      if (IsRetransmission(Instance, Packet)) {
        return DeliverPending(Instance, Buffer, BufferSize);
      }
      EFI_STATUS Status = AnswerRequest(Instance, Packet);
      return EFI_ERROR(Status) ? Status : DeliverPending(Instance, Buffer, BufferSize);
    }
    case CODE_SUCCESS:
      return TakeSuccess(Instance, BufferSize);
    case CODE_FAILURE:
      return TakeFailure(Instance, BufferSize);
    default:
      // Responses go from peers, not to them.
      return EFI_PROTOCOL_ERROR;
  }
}

bool SupEapEnterprise() { return true; }

VOID SupEapRelease(SUP_INSTANCE *Instance) {
  TlsRelease(Instance);
  ForgetPending(Instance);
}
