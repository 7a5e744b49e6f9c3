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
#include "HashToElement.h"
#include "PasswordElement.h"
#include "SaeConfig.h"
#include "SecretBuffer.h"

namespace {

// Room for k; n is 32 for group 19.
constexpr UINTN SHARED_SECRET_BUFFER_LEN = 512;
// The largest own commit: group, token-free scalar and element, and the
// three extension elements at their bounds.
constexpr UINTN MAX_COMMIT_LEN = SAE_COMMIT_LEN + 3 * SAE_EXT_HEADER_LEN + SAE_MAX_PASSWORD_ID_LEN +
                                 2 * SAE_MAX_REJECTED_GROUPS + SAE_MAX_TOKEN_LEN;

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
  int PweResult = -1;
  if (Instance->SaePweMethod == SAE_PWE_HASH_TO_ELEMENT) {
    const UINT8 *Pt = SaeCurrentPt(Instance);
    PweResult = Pt == nullptr ? -1 : sae_h2e_derive_pwe(Ctx, Pt, Instance->StationMac, Instance->TargetMac);
  } else if (Instance->SaeH2e.PasswordIdLen == 0) {
    // A password identifier names a password of hash-to-element only.
    PweResult = sae_derive_pwe(Ctx, Instance->StationMac, Instance->TargetMac, Instance->Password,
                               Instance->PasswordLen);
  }
  if (PweResult != 0 || sae_get_rand_mask(Ctx, &Ctx->Rand, &Ctx->Mask) != 0 ||
      bignum_add_mod(&Ctx->OwnScalar, &Ctx->Rand, &Ctx->Mask, &Ctx->Order) != 0 || sae_compute_element(Ctx) != 0) {
    return -1;
  }
  return 0;
}

// scalar || element x || element y.
int WriteScalarAndElement(SAE_CONTEXT *Ctx, UINT8 *Out) {
  const UINTN Length = Ctx->PrimeLen;
  BigNum X;
  BigNum Y;
  if (bignum_to_bytes(&Ctx->OwnScalar, Out, Length) != 0 || ecc_point_to_xy(Ctx->Group, X, Y, &Ctx->OwnElement) != 0 ||
      bignum_to_bytes(X, Out + Length, Length) != 0 || bignum_to_bytes(Y, Out + 2 * Length, Length) != 0) {
    return -1;
  }
  return 0;
}

UINT8 *PutExtensionElement(UINT8 *Out, UINT8 ExtensionId, const UINT8 *Data, UINTN Length) {
  Out[0] = SAE_ELEMENT_EXTENSION;
  Out[1] = static_cast<UINT8>(Length + 1);
  Out[2] = ExtensionId;
  CopyMem(Out + SAE_EXT_HEADER_LEN, Data, Length);
  return Out + SAE_EXT_HEADER_LEN + Length;
}

// Hunting and pecking: group || token || scalar || element. Hash to
// element: group || scalar || element, then the Password Identifier,
// Rejected Groups and Anti-Clogging Token Container elements that apply.
// Returns the length written.
UINTN WriteCommit(SUP_INSTANCE *Instance, UINT8 *Body) {
  SAE_CONTEXT *Ctx = &Instance->Sae;
  const SAE_H2E_STATE &H2e = Instance->SaeH2e;
  const bool H2eCommit = Instance->SaePweMethod == SAE_PWE_HASH_TO_ELEMENT;
  UINT8 *Out = Body;
  PutLe16(Out, Ctx->GroupId);
  Out += 2;
  if (!H2eCommit) {
    CopyMem(Out, H2e.Token, H2e.TokenLen);
    Out += H2e.TokenLen;
  }
  if (WriteScalarAndElement(Ctx, Out) != 0) {
    return 0;
  }
  Out += 3 * static_cast<UINTN>(Ctx->PrimeLen);
  if (H2eCommit) {
    if (H2e.PasswordIdLen != 0) {
      Out = PutExtensionElement(Out, SAE_EXT_PASSWORD_IDENTIFIER, H2e.PasswordId, H2e.PasswordIdLen);
    }
    if (H2e.RejectedGroupCount != 0) {
      Out = PutExtensionElement(Out, SAE_EXT_REJECTED_GROUPS, Instance->SaeH2e.ExchangeSalt, H2e.ExchangeSaltLen);
    }
    if (H2e.TokenLen != 0) {
      Out = PutExtensionElement(Out, SAE_EXT_ANTI_CLOGGING_TOKEN, H2e.Token, H2e.TokenLen);
    }
  }
  return static_cast<UINTN>(Out - Body);
}

// Records what the own commit is built with: its method and, for hash to
// element, the rejected groups as they go on the wire (the key seed's salt).
VOID RecordExchangeMethod(SUP_INSTANCE *Instance) {
  SAE_H2E_STATE &H2e = Instance->SaeH2e;
  H2e.ExchangeH2e = Instance->SaePweMethod == SAE_PWE_HASH_TO_ELEMENT;
  ZeroMem(H2e.ExchangeSalt, sizeof(H2e.ExchangeSalt));
  H2e.ExchangeSaltLen = 0;
  if (H2e.ExchangeH2e) {
    for (UINTN Index = 0; Index < H2e.RejectedGroupCount; ++Index) {
      PutLe16(H2e.ExchangeSalt + 2 * Index, H2e.RejectedGroups[Index]);
    }
    H2e.ExchangeSaltLen = static_cast<UINT8>(2 * H2e.RejectedGroupCount);
  }
}

// What the peer's hash-to-element commit says after its element.
struct PEER_ELEMENTS {
  const UINT8 *Identifier;  // NULL when absent
  UINTN        IdentifierLength;
  const UINT8 *RejectedGroups;  // NULL when absent
  UINTN        RejectedGroupsLength;
};

// Walks the elements after the peer's element. Every element must lie
// within the body; a Password Identifier may only name our identifier, and
// Rejected Groups must be whole group numbers, none of them group 19.
// Other elements, the token container among them, are passed over.
bool ParsePeerElements(const SUP_INSTANCE *Instance, const UINT8 *Cursor, const UINT8 *End, PEER_ELEMENTS *Out) {
  *Out = {};
  while (Cursor < End) {
    if (End - Cursor < 2 || static_cast<UINTN>(End - Cursor) < 2 + static_cast<UINTN>(Cursor[1])) {
      return false;
    }
    const UINTN Length = Cursor[1];
    const UINT8 *Data = Cursor + SAE_EXT_HEADER_LEN;
    if (Cursor[0] == SAE_ELEMENT_EXTENSION && Length >= 1) {
      const UINTN DataLength = Length - 1;
      if (Cursor[2] == SAE_EXT_PASSWORD_IDENTIFIER) {
        const SAE_H2E_STATE &H2e = Instance->SaeH2e;
        if (Out->Identifier != nullptr || DataLength != H2e.PasswordIdLen || DataLength == 0 ||
            CompareMem(Data, H2e.PasswordId, DataLength) != 0) {
          return false;
        }
        Out->Identifier = Data;
        Out->IdentifierLength = DataLength;
      } else if (Cursor[2] == SAE_EXT_REJECTED_GROUPS) {
        if (Out->RejectedGroups != nullptr || DataLength == 0 || DataLength % 2 != 0 ||
            DataLength > 2 * SAE_MAX_REJECTED_GROUPS) {
          return false;
        }
        for (UINTN Offset = 0; Offset < DataLength; Offset += 2) {
          if (GetLe16(Data + Offset) == SAE_GROUP_P256) {
            return false;
          }
        }
        Out->RejectedGroups = Data;
        Out->RejectedGroupsLength = DataLength;
      }
    }
    Cursor += 2 + Length;
  }
  return true;
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
  RecordExchangeMethod(Instance);
  UINT8 Body[MAX_COMMIT_LEN] = {};
  const UINTN Expected = SaeOwnCommitSize(Instance);
  if (CreateExchange(Instance) != 0 || Expected > sizeof(Body) || WriteCommit(Instance, Body) != Expected) {
    sae_clear(Ctx);
    return EFI_UNSUPPORTED;
  }
  Ctx->State = SAE_EXCHANGE_STATE::OwnCommitBuilt;
  CopyMem(Data, Body, Expected);
  *DataSize = Expected;
  return EFI_SUCCESS;
}

EFI_STATUS SaeProcessPeerCommit(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  SAE_CONTEXT *Ctx = &Instance->Sae;
  const bool H2e = Instance->SaePweMethod == SAE_PWE_HASH_TO_ELEMENT;
  // Under hash to element the body comes after the frame's status code,
  // which must say hash to element; the own commit must be of the same
  // method.
  if (H2e) {
    if (DataSize < 2 || GetLe16(Data) != SAE_STATUS_HASH_TO_ELEMENT) {
      return SAE_COMMIT_WRONG_METHOD;
    }
    Data += 2;
    DataSize -= 2;
  }
  if (Ctx->State != SAE_EXCHANGE_STATE::None && Instance->SaeH2e.ExchangeH2e != H2e) {
    return SAE_COMMIT_WRONG_METHOD;
  }
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
  // The key seed's salt: the rejected groups of whichever commit names
  // them (ours first), else none.
  const UINT8 *Salt = nullptr;
  UINTN SaltLength = 0;
  if (H2e) {
    PEER_ELEMENTS Elements;
    if (!ParsePeerElements(Instance, Cursor + 2 * static_cast<UINTN>(Ctx->PrimeLen), End, &Elements)) {
      ForgetPeerCommit(Ctx);
      return SAE_COMMIT_BAD_H2E_ELEMENT;
    }
    Salt = Instance->SaeH2e.ExchangeSaltLen != 0 ? Instance->SaeH2e.ExchangeSalt : Elements.RejectedGroups;
    SaltLength = Instance->SaeH2e.ExchangeSaltLen != 0 ? Instance->SaeH2e.ExchangeSaltLen
                                                       : Elements.RejectedGroupsLength;
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
  if (sae_derive_keys_with_salt(Ctx, K.Bytes, Salt, SaltLength) != 0) {
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
