#include "SaeConfig.h"

#include <Library/BaseMemoryLib.h>

#include "CommitConfirm.h"

namespace {

constinit UINT64 PtDerivations = 0;

UINT16 GetLe16(const UINT8 *Bytes) { return static_cast<UINT16>(Bytes[0] | (Bytes[1] << 8)); }

bool IsH2e(const SUP_INSTANCE *Instance) { return Instance->SaePweMethod == SAE_PWE_HASH_TO_ELEMENT; }

bool PtCacheMatches(const SUP_INSTANCE *Instance) {
  const SAE_PT_CACHE &Cache = Instance->SaeH2e.PtCache;
  return Cache.Valid && Cache.SsidLen == Instance->SsidLen && Cache.PasswordLen == Instance->PasswordLen &&
         Cache.IdentifierLen == Instance->SaeH2e.PasswordIdLen &&
         CompareMem(Cache.Ssid, Instance->Ssid, Instance->SsidLen) == 0 &&
         CompareMem(Cache.Password, Instance->Password, Instance->PasswordLen) == 0 &&
         CompareMem(Cache.Identifier, Instance->SaeH2e.PasswordId, Instance->SaeH2e.PasswordIdLen) == 0;
}

VOID ClearPtCache(SUP_INSTANCE *Instance) {
  SecureZeroMem(&Instance->SaeH2e.PtCache, sizeof(Instance->SaeH2e.PtCache));
}

// The identifier and the token are kept as a zero-padded field and a
// length; Size has been checked against the field.
template <UINTN N>
VOID KeepBytes(UINT8 (&Field)[N], UINT8 &Length, const UINT8 *Data, UINTN Size) {
  ZeroMem(Field, N);
  if (Size > 0) {
    CopyMem(Field, Data, Size);
  }
  Length = static_cast<UINT8>(Size);
}

// Data may be NULL when nothing is kept.
EFI_STATUS ReadKeptBytes(const UINT8 *Field, UINT8 Length, UINT8 *Data, UINTN *DataSize) {
  if (Length != 0) {
    CopyMem(Data, Field, Length);
  }
  *DataSize = Length;
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS SaeSetPweMethod(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN) {
  if (Data[0] != SAE_PWE_HUNTING_AND_PECKING && Data[0] != SAE_PWE_HASH_TO_ELEMENT) {
    return EFI_INVALID_PARAMETER;
  }
  Instance->SaePweMethod = Data[0];
  return EFI_SUCCESS;
}

EFI_STATUS SaeGetPweMethod(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  Data[0] = Instance->SaePweMethod;
  *DataSize = 1;
  return EFI_SUCCESS;
}

EFI_STATUS SaeSetPasswordIdentifier(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  // Connection managers hand strings over with their terminating NUL.
  if (DataSize > 0 && Data[DataSize - 1] == 0) {
    --DataSize;
  }
  if (DataSize > SAE_MAX_PASSWORD_ID_LEN) {
    return EFI_INVALID_PARAMETER;
  }
  KeepBytes(Instance->SaeH2e.PasswordId, Instance->SaeH2e.PasswordIdLen, Data, DataSize);
  SaeForgetStalePt(Instance);
  return EFI_SUCCESS;
}

EFI_STATUS SaeGetPasswordIdentifier(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  return ReadKeptBytes(Instance->SaeH2e.PasswordId, Instance->SaeH2e.PasswordIdLen, Data, DataSize);
}

EFI_STATUS SaeSetAntiCloggingToken(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  const UINT8 *Token = Data;
  UINTN TokenLength = DataSize;
  // Under hash-to-element the access point wraps the token in a container
  // element, which must be exactly what was handed in.
  if (DataSize > 0 && IsH2e(Instance)) {
    if (DataSize < SAE_EXT_HEADER_LEN || Data[0] != SAE_ELEMENT_EXTENSION ||
        Data[2] != SAE_EXT_ANTI_CLOGGING_TOKEN || static_cast<UINTN>(Data[1]) + 2 != DataSize) {
      return EFI_INVALID_PARAMETER;
    }
    Token = Data + SAE_EXT_HEADER_LEN;
    TokenLength = DataSize - SAE_EXT_HEADER_LEN;
    if (TokenLength == 0) {
      return EFI_INVALID_PARAMETER;
    }
  }
  if (TokenLength > SAE_MAX_TOKEN_LEN) {
    return EFI_INVALID_PARAMETER;
  }
  KeepBytes(Instance->SaeH2e.Token, Instance->SaeH2e.TokenLen, Token, TokenLength);
  return EFI_SUCCESS;
}

EFI_STATUS SaeGetAntiCloggingToken(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  return ReadKeptBytes(Instance->SaeH2e.Token, Instance->SaeH2e.TokenLen, Data, DataSize);
}

EFI_STATUS SaeSetRejectedGroups(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  if (DataSize % 2 != 0 || DataSize / 2 > SAE_MAX_REJECTED_GROUPS) {
    return EFI_INVALID_PARAMETER;
  }
  for (UINTN Offset = 0; Offset < DataSize; Offset += 2) {
    UINT16 Group = GetLe16(Data + Offset);
    // The group SAE runs cannot have been rejected.
    if (Group == 0 || Group == SAE_GROUP_P256) {
      return EFI_INVALID_PARAMETER;
    }
  }
  SAE_H2E_STATE &H2e = Instance->SaeH2e;
  ZeroMem(H2e.RejectedGroups, sizeof(H2e.RejectedGroups));
  for (UINTN Index = 0; Index < DataSize / 2; ++Index) {
    H2e.RejectedGroups[Index] = GetLe16(Data + 2 * Index);
  }
  H2e.RejectedGroupCount = static_cast<UINT8>(DataSize / 2);
  return EFI_SUCCESS;
}

EFI_STATUS SaeGetRejectedGroups(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  const SAE_H2E_STATE &H2e = Instance->SaeH2e;
  for (UINTN Index = 0; Index < H2e.RejectedGroupCount; ++Index) {
    Data[2 * Index] = static_cast<UINT8>(H2e.RejectedGroups[Index]);
    Data[2 * Index + 1] = static_cast<UINT8>(H2e.RejectedGroups[Index] >> 8);
  }
  *DataSize = 2 * static_cast<UINTN>(H2e.RejectedGroupCount);
  return EFI_SUCCESS;
}

VOID SaeForgetAntiCloggingToken(SUP_INSTANCE *Instance) {
  ZeroMem(Instance->SaeH2e.Token, sizeof(Instance->SaeH2e.Token));
  Instance->SaeH2e.TokenLen = 0;
}

UINTN SaePasswordIdentifierSize(const SUP_INSTANCE *Instance) { return Instance->SaeH2e.PasswordIdLen; }
UINTN SaeAntiCloggingTokenSize(const SUP_INSTANCE *Instance) { return Instance->SaeH2e.TokenLen; }
UINTN SaeRejectedGroupsSize(const SUP_INSTANCE *Instance) { return 2 * Instance->SaeH2e.RejectedGroupCount; }

UINTN SaeOwnCommitSize(const SUP_INSTANCE *Instance) {
  const SAE_H2E_STATE &H2e = Instance->SaeH2e;
  if (!IsH2e(Instance)) {
    // The token goes between the group and the scalar.
    return SAE_COMMIT_LEN + H2e.TokenLen;
  }
  UINTN Size = SAE_COMMIT_LEN;
  if (H2e.PasswordIdLen != 0) {
    Size += SAE_EXT_HEADER_LEN + H2e.PasswordIdLen;
  }
  if (H2e.RejectedGroupCount != 0) {
    Size += SAE_EXT_HEADER_LEN + 2 * static_cast<UINTN>(H2e.RejectedGroupCount);
  }
  if (H2e.TokenLen != 0) {
    Size += SAE_EXT_HEADER_LEN + H2e.TokenLen;
  }
  return Size;
}

VOID SaeForgetStalePt(SUP_INSTANCE *Instance) {
  if (Instance->SaeH2e.PtCache.Valid && !PtCacheMatches(Instance)) {
    ClearPtCache(Instance);
  }
}

const UINT8 *SaeCurrentPt(SUP_INSTANCE *Instance) {
  if (PtCacheMatches(Instance)) {
    return Instance->SaeH2e.PtCache.Pt;
  }
  ClearPtCache(Instance);
  if (Instance->PasswordLen == 0) {
    return nullptr;
  }
  SAE_PT_CACHE &Cache = Instance->SaeH2e.PtCache;
  ++PtDerivations;
  if (sae_h2e_derive_pt(Instance->Ssid, Instance->SsidLen, Instance->Password, Instance->PasswordLen,
                        Instance->SaeH2e.PasswordId, Instance->SaeH2e.PasswordIdLen, Cache.Pt) != 0) {
    ClearPtCache(Instance);
    return nullptr;
  }
  CopyMem(Cache.Ssid, Instance->Ssid, Instance->SsidLen);
  Cache.SsidLen = Instance->SsidLen;
  CopyMem(Cache.Password, Instance->Password, Instance->PasswordLen);
  Cache.PasswordLen = Instance->PasswordLen;
  CopyMem(Cache.Identifier, Instance->SaeH2e.PasswordId, Instance->SaeH2e.PasswordIdLen);
  Cache.IdentifierLen = Instance->SaeH2e.PasswordIdLen;
  Cache.Valid = TRUE;
  return Cache.Pt;
}

UINT64 SaePtDerivationCount() { return PtDerivations; }
