// The four SAE entry points over a child's SAE_CONTEXT.
//
// Beyond the plain exchange, the context remembers how far it has come: a
// confirm is built or verified only with keys from a peer commit accepted
// for the current own commit, so a missing, failed or reflected peer commit
// can never lead to a confirm, nor put a stale or empty key into Pmk.
#include "SaeExchange.h"

#include <Library/BaseMemoryLib.h>

#include "../Pmk.h"
#include "ConstantTime.h"
#include "PasswordElement.h"
#include "SecretBuffer.h"

namespace {

// Room for k; n is 32 for group 19.
constexpr UINTN SHARED_SECRET_BUFFER_LEN = 512;

void PutLe16(UINT8 *Bytes, UINT16 Value) {
  Bytes[0] = static_cast<UINT8>(Value);
  Bytes[1] = static_cast<UINT8>(Value >> 8);
}

UINT16 GetLe16(const UINT8 *Bytes) { return static_cast<UINT16>(Bytes[0] | (Bytes[1] << 8)); }

// Group, PWE, rand, mask, own scalar and element of a new exchange.
int CreateExchange(SUP_INSTANCE *Instance) {
  SAE_CONTEXT *Ctx = &Instance->Sae;
  Ctx->GroupId = SAE_GROUP_P256;
  Ctx->Group = mbedtls_ecc_init(SAE_GROUP_P256);
  if (Ctx->Group == nullptr || ecc_get_order(Ctx->Group, &Ctx->Order) != 0 ||
      ecc_get_prime(Ctx->Group, &Ctx->Prime) != 0) {
    return -1;
  }
  Ctx->OrderLen = static_cast<UINT32>(bignum_bytes(&Ctx->Order));
  Ctx->PrimeLen = static_cast<UINT32>(bignum_bytes(&Ctx->Prime));
  if (2 + 3 * static_cast<UINTN>(Ctx->PrimeLen) != SAE_COMMIT_LEN) {
    return -1;
  }
  if (sae_derive_pwe(Ctx, Instance->StationMac, Instance->TargetMac, Instance->Password, Instance->PasswordLen) !=
          0 ||
      sae_get_rand_mask(Ctx, &Ctx->Rand, &Ctx->Mask) != 0 ||
      bignum_add_mod(&Ctx->OwnScalar, &Ctx->Rand, &Ctx->Mask, &Ctx->Order) != 0 || sae_compute_element(Ctx) != 0) {
    return -1;
  }
  return 0;
}

// group (little-endian) || scalar || element x || element y.
int WriteCommit(SAE_CONTEXT *Ctx, UINT8 *Body) {
  const UINTN Length = Ctx->PrimeLen;
  PutLe16(Body, Ctx->GroupId);
  BigNum X;
  BigNum Y;
  if (bignum_to_bytes(&Ctx->OwnScalar, Body + 2, Length) != 0 ||
      ecc_point_to_xy(Ctx->Group, X, Y, &Ctx->OwnElement) != 0 || bignum_to_bytes(X, Body + 2 + Length, Length) != 0 ||
      bignum_to_bytes(Y, Body + 2 + 2 * Length, Length) != 0) {
    return -1;
  }
  return 0;
}

void ForgetPeerCommit(SAE_CONTEXT *Ctx) {
  bignum_free(&Ctx->PeerScalar);
  bignum_init(&Ctx->PeerScalar);
  ecc_point_free(&Ctx->PeerElement);
  ecc_point_init(&Ctx->PeerElement);
}

bool HasAcceptedPeerCommit(const SAE_CONTEXT *Ctx) { return Ctx->State == SAE_EXCHANGE_STATE::PeerCommitAccepted; }

}  // namespace

EFI_STATUS SaeBuildOwnCommit(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  SAE_CONTEXT *Ctx = &Instance->Sae;
  sae_clear(Ctx);
  // Whatever PMK comes of this exchange starts a new EAPOL-Key sequence.
  SupStartReplaySequence(Instance);
  UINT8 Body[SAE_COMMIT_LEN] = {};
  if (CreateExchange(Instance) != 0 || WriteCommit(Ctx, Body) != 0) {
    sae_clear(Ctx);
    return EFI_UNSUPPORTED;
  }
  Ctx->State = SAE_EXCHANGE_STATE::OwnCommitBuilt;
  CopyMem(Data, Body, sizeof(Body));
  *DataSize = sizeof(Body);
  return EFI_SUCCESS;
}

EFI_STATUS SaeProcessPeerCommit(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  SAE_CONTEXT *Ctx = &Instance->Sae;
  if (DataSize < 2 || GetLe16(Data) != SAE_GROUP_P256) {
    return SAE_COMMIT_BAD_GROUP;
  }
  // From here the peer values change: keys of an earlier peer commit no
  // longer belong to them.
  if (HasAcceptedPeerCommit(Ctx)) {
    Ctx->State = SAE_EXCHANGE_STATE::OwnCommitBuilt;
  }
  const UINT8 *Cursor = Data + 2;
  const UINT8 *End = Data + DataSize;
  if (sae_parse_peer_scalar(Ctx, &Cursor, End) != 0) {
    return SAE_COMMIT_BAD_SCALAR;
  }
  if (sae_parse_peer_element(Ctx, Cursor, End) != 0) {
    return SAE_COMMIT_BAD_ELEMENT;
  }
  // Our own commit sent back would make us agree with ourselves.
  if (sae_is_reflection(Ctx) == 1) {
    ForgetPeerCommit(Ctx);
    return SAE_COMMIT_BAD_ELEMENT;
  }
  SecretBuffer<SHARED_SECRET_BUFFER_LEN> K;
  if (sae_derive_k(Ctx, K.Bytes) != 0) {
    return SAE_COMMIT_NO_SECRET;
  }
  if (sae_derive_keys(Ctx, K.Bytes) != 0) {
    return SAE_COMMIT_KEYS_FAILED;
  }
  Ctx->State = SAE_EXCHANGE_STATE::PeerCommitAccepted;
  return EFI_SUCCESS;
}

EFI_STATUS SaeBuildOwnConfirm(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  SAE_CONTEXT *Ctx = &Instance->Sae;
  if (!HasAcceptedPeerCommit(Ctx)) {
    return EFI_PROTOCOL_ERROR;
  }
  UINT8 SendConfirm[2];
  PutLe16(SendConfirm, Ctx->SendConfirm);
  UINT8 Value[SAE_CONFIRM_VALUE_LEN];
  if (sae_compute_confirm(Ctx, SendConfirm, &Ctx->OwnScalar, &Ctx->OwnElement, &Ctx->PeerScalar,
                          &Ctx->PeerElement, Value) != SAE_CONFIRM_VALUE_LEN) {
    return EFI_UNSUPPORTED;
  }
  CopyMem(Data, SendConfirm, sizeof(SendConfirm));
  CopyMem(Data + sizeof(SendConfirm), Value, sizeof(Value));
  *DataSize = SAE_CONFIRM_LEN;
  // Saturates: the last value is repeated rather than wrapping to 0.
  if (Ctx->SendConfirm < 0xFFFF) {
    ++Ctx->SendConfirm;
  }
  SupSetPmk(Instance, Ctx->SaePmk, SUP_PMK_SOURCE::Sae);
  return EFI_SUCCESS;
}

EFI_STATUS SaeVerifyPeerConfirm(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  SAE_CONTEXT *Ctx = &Instance->Sae;
  if (DataSize < SAE_CONFIRM_LEN) {
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!HasAcceptedPeerCommit(Ctx)) {
    return EFI_PROTOCOL_ERROR;
  }
  UINT8 Expected[SAE_CONFIRM_VALUE_LEN];
  // The peer computed it over (its values, ours), with its send-confirm.
  if (sae_compute_confirm(Ctx, Data, &Ctx->PeerScalar, &Ctx->PeerElement, &Ctx->OwnScalar, &Ctx->OwnElement,
                          Expected) != SAE_CONFIRM_VALUE_LEN) {
    return EFI_UNSUPPORTED;
  }
  return sae_ct::IsEqualBytes(Expected, Data + 2, SAE_CONFIRM_VALUE_LEN) == 1 ? EFI_SUCCESS : EFI_BUFFER_TOO_SMALL;
}
