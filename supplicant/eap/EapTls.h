// EAP-TLS (RFC 5216), the peer's method: the per-child context that lives
// from EAP-TLS Start until the exchange ends, and the answer to each
// EAP-TLS request (Start, a server fragment, an acknowledgement of ours).
#pragma once
#include "EapPacket.h"
#include "SupInstance.h"
#include "TlsClient.h"

struct EAP_TLS_CONTEXT {
  eap::TLS_REASSEMBLY Inbound;  // the server's message being collected
  eap::TLS_FLIGHT     Flight;   // our flight being sent
  eap::TLS_CLIENT     Client;
  // The server ended the handshake with an alert we acknowledged: nothing
  // more can follow but EAP-Failure.
  bool                PeerGaveUp = false;
};

namespace eap {

// Answers one EAP-TLS request with the EAP-TLS response fields in
// *Response (its data points into the context, valid until the next call).
// EFI_SUCCESS, EFI_PROTOCOL_ERROR or EFI_OUT_OF_RESOURCES. A request the
// framing refuses changes nothing; a handshake our side refuses ends the
// exchange (the context is released and the state is Failed).
EFI_STATUS TlsAnswer(SUP_INSTANCE *Instance, const PACKET &Request, TLS_RESPONSE *Response);

// The handshake finished and the MSK is ready.
bool TlsFinished(const SUP_INSTANCE *Instance);
const UINT8 *TlsMsk(const SUP_INSTANCE *Instance);

// Releases the context (if any), clearing it.
VOID TlsRelease(SUP_INSTANCE *Instance);

}  // namespace eap
