#include "EapTls.h"

#include "PoolObject.h"

namespace eap {

namespace {

constexpr TLS_RESPONSE Acknowledgement = {0, 0, nullptr, 0};

TLS_CREDENTIALS CredentialsOf(const SUP_INSTANCE *Instance) {
  return {static_cast<const UINT8 *>(Instance->EapCaCert),
          Instance->EapCaCertSize,
          static_cast<const UINT8 *>(Instance->EapClientCert),
          Instance->EapClientCertSize,
          static_cast<const UINT8 *>(Instance->EapPrivateKey),
          Instance->EapPrivateKeySize,
          static_cast<const UINT8 *>(Instance->EapPrivateKeyPassword),
          Instance->EapPrivateKeyPasswordSize};
}

EFI_STATUS StatusOf(TLS_STEP Step) {
  return Step == TLS_STEP::OutOfResources ? EFI_OUT_OF_RESOURCES : EFI_PROTOCOL_ERROR;
}

// Our side gave up on the handshake: the exchange is over without a key.
EFI_STATUS Abandon(SUP_INSTANCE *Instance, TLS_STEP Step) {
  TlsRelease(Instance);
  Instance->EapState = SUP_EAP_STATE::Failed;
  return StatusOf(Step);
}

// EAP-TLS Start: a new handshake (a repeated Start restarts it). The
// credentials are read now; the old context goes only once the new one
// stands, so a Start that cannot be served leaves the child as it was.
EFI_STATUS Start(SUP_INSTANCE *Instance, TLS_RESPONSE *Response) {
  EAP_TLS_CONTEXT *Context = PoolNew<EAP_TLS_CONTEXT>();
  if (Context == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  TLS_STEP Step = Context->Client.Start(CredentialsOf(Instance), &Context->Flight);
  if (Step != TLS_STEP::Continue || !Context->Flight.Pending()) {
    PoolDelete(Context);
    return StatusOf(Step);
  }
  TlsRelease(Instance);
  Instance->EapTls = Context;
  Instance->EapState = SUP_EAP_STATE::Running;
  Instance->HandshakeState = SUP_HANDSHAKE_INITIAL;
  *Response = Context->Flight.NextFragment();
  return EFI_SUCCESS;
}

// While our flight is out, the server acknowledges each fragment with an
// empty request and gets the next.
EFI_STATUS SendNextFragment(EAP_TLS_CONTEXT *Context, const TLS_FRAGMENT &Fragment, TLS_RESPONSE *Response) {
  if (Fragment.DataLength != 0 || Fragment.Has(TLS_FLAG_MORE)) {
    return EFI_PROTOCOL_ERROR;
  }
  *Response = Context->Flight.NextFragment();
  return EFI_SUCCESS;
}

// A whole server message: the handshake runs over it and we answer with the
// first fragment of our flight, or acknowledge when there is none (after
// the server's Finished, or its alert).
EFI_STATUS RunHandshake(SUP_INSTANCE *Instance, EAP_TLS_CONTEXT *Context, TLS_RESPONSE *Response) {
  Context->Flight.Reset();
  TLS_STEP Step = Context->Client.Receive(Context->Inbound.Message(), Context->Inbound.Length());
  Context->Inbound.Reset();
  switch (Step) {
    case TLS_STEP::Continue:
    case TLS_STEP::Finished:
      *Response = Context->Flight.Pending() ? Context->Flight.NextFragment() : Acknowledgement;
      return EFI_SUCCESS;
    case TLS_STEP::PeerAlert:
      // RFC 5216: the server waits for an answer to its alert, then sends
      // EAP-Failure. The handshake is over; only the context's shell stays.
      Context->Flight.Reset();
      Context->PeerGaveUp = true;
      *Response = Acknowledgement;
      return EFI_SUCCESS;
    default:
      return Abandon(Instance, Step);
  }
}

}  // namespace

EFI_STATUS TlsAnswer(SUP_INSTANCE *Instance, const PACKET &Request, TLS_RESPONSE *Response) {
  TLS_FRAGMENT Fragment;
  if (!ParseTlsFragment(Request, &Fragment)) {
    return EFI_PROTOCOL_ERROR;
  }
  if (Fragment.Has(TLS_FLAG_START)) {
    return Start(Instance, Response);
  }
  EAP_TLS_CONTEXT *Context = Instance->EapTls;
  if (Context == nullptr || Context->PeerGaveUp || Context->Client.Finished()) {
    return EFI_PROTOCOL_ERROR;
  }
  if (Context->Flight.Pending()) {
    return SendNextFragment(Context, Fragment, Response);
  }
  switch (Context->Inbound.Accept(Fragment)) {
    case ASSEMBLY::NeedMore:
      *Response = Acknowledgement;
      return EFI_SUCCESS;
    case ASSEMBLY::Complete:
      return RunHandshake(Instance, Context, Response);
    case ASSEMBLY::OutOfResources:
      return EFI_OUT_OF_RESOURCES;
    default:
      return EFI_PROTOCOL_ERROR;
  }
}

bool TlsFinished(const SUP_INSTANCE *Instance) {
  return Instance->EapTls != nullptr && Instance->EapTls->Client.Finished();
}

const UINT8 *TlsMsk(const SUP_INSTANCE *Instance) { return Instance->EapTls->Client.Msk(); }

VOID TlsRelease(SUP_INSTANCE *Instance) {
  PoolDelete(Instance->EapTls);
  Instance->EapTls = nullptr;
}

}  // namespace eap
