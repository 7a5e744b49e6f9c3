// EFI_SUPPLICANT_PROTOCOL: the configuration store behind SetData/GetData,
// and ProcessPacket. Both directions are dispatched through one table each:
// the data type, the size it needs, and the routine that does the work. A
// routine runs only after every check passed, so a failed call changes
// nothing in the record.
#include "SupProtocol.h"

#include <Library/BaseMemoryLib.h>

#include "OwnElement.h"
#include "eap/Eap.h"
#include "eap/EapPacket.h"
#include "wpa/ApElements.h"
#include "wpa/Handshake.h"
#include "Pmk.h"
#include "sae/SaeConfig.h"
#include "sae/SaeExchange.h"

namespace {

// ---------------------------------------------------------------------------
// SetData
// ---------------------------------------------------------------------------

bool IsWpaOrRsnOui(const UINT8 *Oui) {
  return CompareMem(Oui, SUP_WPA_OUI, 3) == 0 || CompareMem(Oui, SUP_RSN_OUI, 3) == 0;
}

// The first suite of a selector structure: a UINT16 count, then OUI and type.
const UINT8 *FirstSuite(const UINT8 *Selector) { return Selector + 2; }

struct AKM_MAPPING {
  const UINT8 *Oui;
  UINT8        SuiteType;
  INT32        Protocol;
  UINT32       KeyMgmt;
  UINT32       AkmFlags;
  bool         NeedsEap;  // only a driver built with EAP takes it
};
constexpr AKM_MAPPING AkmMappings[] = {
    {SUP_WPA_OUI, 2, SUP_PROTOCOL_WPA, SUP_KEY_MGMT_WPA_PSK, SUP_AKM_WPA_PSK, false},
    {SUP_RSN_OUI, 2, SUP_PROTOCOL_RSN, SUP_KEY_MGMT_RSN_PSK, SUP_AKM_RSN_PSK, false},
    {SUP_RSN_OUI, 6, SUP_PROTOCOL_RSN, SUP_KEY_MGMT_PSK_SHA256, SUP_AKM_PSK_SHA256, false},
    {SUP_RSN_OUI, 8, SUP_PROTOCOL_RSN, SUP_KEY_MGMT_SAE, SUP_AKM_SAE, false},
    {SUP_RSN_OUI, 1, SUP_PROTOCOL_RSN, SUP_KEY_MGMT_8021X, SUP_AKM_8021X, true},
    {SUP_RSN_OUI, 5, SUP_PROTOCOL_RSN, SUP_KEY_MGMT_8021X_SHA256, SUP_AKM_8021X_SHA256, true},
};

EFI_STATUS SetAkmSuite(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN) {
  const UINT8 *Suite = FirstSuite(Data);
  for (const AKM_MAPPING &Mapping : AkmMappings) {
    if (Mapping.NeedsEap && !SupEapEnterprise()) {
      continue;
    }
    if (CompareMem(Suite, Mapping.Oui, 3) == 0 && Suite[3] == Mapping.SuiteType) {
      Instance->Protocol = Mapping.Protocol;
      Instance->KeyMgmt = Mapping.KeyMgmt;
      Instance->AkmFlags = Mapping.AkmFlags;
      return EFI_SUCCESS;
    }
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS SetGroupCipher(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN) {
  const UINT8 *Suite = FirstSuite(Data);
  UINT8 Type = Suite[3];
  if (!IsWpaOrRsnOui(Suite) || !(Type == SUP_CIPHER_WEP40 || Type == SUP_CIPHER_TKIP || Type == SUP_CIPHER_CCMP ||
                                 Type == SUP_CIPHER_WEP104)) {
    return EFI_UNSUPPORTED;
  }
  Instance->GroupCipher = Type;
  return EFI_SUCCESS;
}

EFI_STATUS SetPairwiseCipher(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN) {
  const UINT8 *Suite = FirstSuite(Data);
  UINT8 Type = Suite[3];
  if (!IsWpaOrRsnOui(Suite) || !(Type == SUP_CIPHER_TKIP || Type == SUP_CIPHER_CCMP)) {
    return EFI_UNSUPPORTED;
  }
  Instance->PairwiseCipher = Type;
  return EFI_SUCCESS;
}

EFI_STATUS SetPassword(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  // Connection managers hand strings over with their terminating NUL; no
  // pass phrase or SAE password contains one, whatever its length.
  if (Data[DataSize - 1] == 0) {
    --DataSize;
  }
  if (DataSize > SUP_MAX_PASSWORD_LEN) {
    return EFI_BUFFER_TOO_SMALL;
  }
  ZeroMem(Instance->Password, sizeof(Instance->Password));
  CopyMem(Instance->Password, Data, DataSize);
  Instance->PasswordLen = (UINT8)DataSize;
  Instance->PmkSource = SUP_PMK_SOURCE::Passphrase;
  SupRefreshPassphrasePmk(Instance);
  SupStartReplaySequence(Instance);
  SaeForgetStalePt(Instance);
  return EFI_SUCCESS;
}

EFI_STATUS SetSsid(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN) {
  if (Data[0] > EFI_MAX_SSID_LEN) {
    return EFI_INVALID_PARAMETER;
  }
  Instance->SsidLen = Data[0];
  CopyMem(Instance->Ssid, Data + 1, sizeof(Instance->Ssid));
  // A pass-phrase PMK follows its SSID whichever of the two is set last.
  SupRefreshPassphrasePmk(Instance);
  SupStartReplaySequence(Instance);
  SaeForgetStalePt(Instance);
  return EFI_SUCCESS;
}

EFI_STATUS SetStationMac(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN) {
  CopyMem(Instance->StationMac, Data, sizeof(Instance->StationMac));
  SupBuildOwnElement(Instance);
  return EFI_SUCCESS;
}

EFI_STATUS SetTargetMac(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN) {
  // An anti-clogging token is good for the access point that gave it only.
  if (CompareMem(Instance->TargetMac, Data, sizeof(Instance->TargetMac)) != 0) {
    SaeForgetAntiCloggingToken(Instance);
  }
  CopyMem(Instance->TargetMac, Data, sizeof(Instance->TargetMac));
  return EFI_SUCCESS;
}

EFI_STATUS SetPmk(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  if (DataSize != SUP_PMK_LEN) {
    return EFI_INVALID_PARAMETER;
  }
  SupSetPmk(Instance, Data, SUP_PMK_SOURCE::Given);
  return EFI_SUCCESS;
}

EFI_STATUS SetGroupMgmtCipher(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN) {
  const UINT8 *Suite = FirstSuite(Data);
  if (CompareMem(Suite, SUP_RSN_OUI, 3) != 0) {
    return EFI_UNSUPPORTED;
  }
  Instance->GroupMgmtCipher = Suite[3] == 6 ? SUP_CIPHER_BIP_CMAC_128 : 0;
  return EFI_SUCCESS;
}

EFI_STATUS SetMfpCapability(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN) {
  Instance->MfpCapable = Data[0];
  Instance->MfpRequired = Data[1];
  return EFI_SUCCESS;
}

// A beacon element replaces the one held; an empty one forgets it.
EFI_STATUS StoreBeaconElement(UINT8 *Stored, UINT16 *StoredLength, const UINT8 *Data, UINTN DataSize,
                              BOOLEAN WellFormed) {
  if (DataSize != 0 && !WellFormed) {
    return EFI_INVALID_PARAMETER;
  }
  ZeroMem(Stored, SUP_ELEMENT_MAX_SIZE);
  if (DataSize != 0) {
    CopyMem(Stored, Data, DataSize);
  }
  *StoredLength = (UINT16)DataSize;
  return EFI_SUCCESS;
}

EFI_STATUS SetApRsnElement(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  return StoreBeaconElement(Instance->ApRsnElement, &Instance->ApRsnElementLen, Data, DataSize,
                            DataSize != 0 && SupApSecurityElementWellFormed(Data, DataSize));
}

EFI_STATUS SetApRsnxElement(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize) {
  return StoreBeaconElement(Instance->ApRsnxElement, &Instance->ApRsnxElementLen, Data, DataSize,
                            DataSize != 0 && SupRsnxElementWellFormed(Data, DataSize));
}

struct SET_DATA_ENTRY {
  EFI_SUPPLICANT_DATA_TYPE Type;
  UINTN                    MinimumSize;
  EFI_STATUS (*Apply)(SUP_INSTANCE *Instance, const UINT8 *Data, UINTN DataSize);
};

constexpr SET_DATA_ENTRY SetDataTable[] = {
    {EfiSupplicant80211AKMSuite, 6, SetAkmSuite},
    {EfiSupplicant80211GroupDataCipherSuite, 6, SetGroupCipher},
    {EfiSupplicant80211PairwiseCipherSuite, 6, SetPairwiseCipher},
    {EfiSupplicant80211PskPassword, 1, SetPassword},
    {EfiSupplicant80211TargetSSIDName, sizeof(EFI_80211_SSID), SetSsid},
    {EfiSupplicant80211StationMac, 6, SetStationMac},
    {EfiSupplicant80211TargetSSIDMac, 6, SetTargetMac},
    {EfiSupplicant80211PMK, SUP_PMK_LEN, SetPmk},
    {EfiSupplicant80211GroupMgmtCipherSuite, 6, SetGroupMgmtCipher},
    {EfiSupplicant80211MfpCapability, 2, SetMfpCapability},
    // The peer's commit is checked field by field (status values 7-11).
    {EfiSupplicantSaeCommit, 0, SaeProcessPeerCommit},
    {EfiSupplicantSaeConfirm, SAE_CONFIRM_LEN, SaeVerifyPeerConfirm},
    {EfiSupplicantSaePweMethod, 1, SaeSetPweMethod},
    // Size 0 clears each of these.
    {EfiSupplicantSaePasswordIdentifier, 0, SaeSetPasswordIdentifier},
    {EfiSupplicantSaeAntiCloggingToken, 0, SaeSetAntiCloggingToken},
    {EfiSupplicantSaeRejectedGroups, 0, SaeSetRejectedGroups},
    // Size 0 forgets the element.
    {EfiSupplicantApRsnElement, 0, SetApRsnElement},
    {EfiSupplicantApRsnxElement, 0, SetApRsnxElement},
};

// ---------------------------------------------------------------------------
// GetData
// ---------------------------------------------------------------------------

// Writes a selector structure: the UINT16 count, then four-byte suites.
VOID WriteSuiteList(UINT8 *Data, const UINT8 *const *Ouis, const UINT8 *Types, UINT16 Count) {
  Data[0] = (UINT8)Count;
  Data[1] = (UINT8)(Count >> 8);
  for (UINT16 Index = 0; Index < Count; ++Index) {
    CopyMem(Data + 2 + 4 * Index, Ouis[Index], 3);
    Data[2 + 4 * Index + 3] = Types[Index];
  }
}

VOID WriteOneSuite(UINT8 *Data, const UINT8 *Oui, UINT8 Type) {
  const UINT8 *Ouis[] = {Oui};
  const UINT8 Types[] = {Type};
  WriteSuiteList(Data, Ouis, Types, 1);
}

EFI_STATUS GetAkmSuite(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  // The configured AKM; a child without one reports PSK.
  UINT8 Type = SupAkmSuiteType(Instance->AkmFlags);
  WriteOneSuite(Data, SupProtocolOui(Instance), Type != 0 ? Type : 2);
  return EFI_SUCCESS;
}

EFI_STATUS GetGroupCipher(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  UINT32 Type = Instance->GroupCipher;
  if (!(Type == SUP_CIPHER_WEP40 || Type == SUP_CIPHER_TKIP || Type == SUP_CIPHER_CCMP ||
        Type == SUP_CIPHER_WEP104)) {
    return EFI_UNSUPPORTED;
  }
  WriteOneSuite(Data, SupProtocolOui(Instance), (UINT8)Type);
  return EFI_SUCCESS;
}

EFI_STATUS GetPairwiseCipher(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  UINT8 Type = Instance->PairwiseCipher == SUP_CIPHER_TKIP ? SUP_CIPHER_TKIP : SUP_CIPHER_CCMP;
  WriteOneSuite(Data, SupProtocolOui(Instance), Type);
  return EFI_SUCCESS;
}

EFI_STATUS GetPassword(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  CopyMem(Data, Instance->Password, Instance->PasswordLen);
  return EFI_SUCCESS;
}

EFI_STATUS GetSsid(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  Data[0] = Instance->SsidLen;
  CopyMem(Data + 1, Instance->Ssid, sizeof(Instance->Ssid));
  return EFI_SUCCESS;
}

EFI_STATUS GetStationMac(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  CopyMem(Data, Instance->StationMac, sizeof(Instance->StationMac));
  return EFI_SUCCESS;
}

EFI_STATUS GetTargetMac(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  CopyMem(Data, Instance->TargetMac, sizeof(Instance->TargetMac));
  return EFI_SUCCESS;
}

constexpr UINT8 BroadcastAddress[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Fills the named fields of a caller's EFI_SUPPLICANT_KEY; the others keep
// what the caller put there. The caller's buffer need not be aligned.
struct KEY_FIELDS {
  const UINT8            *Key;
  UINTN                   KeyBytes;  // copied into Key after it is zeroed
  UINT8                   KeyLen;
  UINT8                   KeyId;
  EFI_SUPPLICANT_KEY_TYPE KeyType;
  const UINT8            *Addr;
  const UINT8            *Rsc;
  UINT8                   RscLen;  // 0: Rsc and RscLen are not written
};

VOID FillKey(UINT8 *Data, const KEY_FIELDS &Fields) {
  EFI_SUPPLICANT_KEY Key;
  CopyMem(&Key, Data, sizeof(Key));
  ZeroMem(Key.Key, sizeof(Key.Key));
  CopyMem(Key.Key, Fields.Key, Fields.KeyBytes);
  Key.KeyLen = Fields.KeyLen;
  Key.KeyId = Fields.KeyId;
  Key.KeyType = Fields.KeyType;
  CopyMem(Key.Addr.Addr, Fields.Addr, sizeof(Key.Addr.Addr));
  if (Fields.RscLen != 0) {
    ZeroMem(Key.Rsc, sizeof(Key.Rsc));
    CopyMem(Key.Rsc, Fields.Rsc, Fields.RscLen);
    Key.RscLen = Fields.RscLen;
  }
  CopyMem(Data, &Key, sizeof(Key));
  SecureZeroMem(&Key, sizeof(Key));
}

KEY_FIELDS PtkFields(const SUP_INSTANCE *Instance) {
  UINT8 Length = Instance->PairwiseCipher == SUP_CIPHER_TKIP ? 32 : 16;
  return {Instance->Tk, Length, Length, 0, Pairwise, Instance->TargetMac, nullptr, 0};
}

KEY_FIELDS GtkFields(const SUP_INSTANCE *Instance) {
  UINT8 Length = Instance->GroupCipher == SUP_CIPHER_TKIP ? 32 : 16;
  return {Instance->Gtk, sizeof(Instance->Gtk), Length, (UINT8)Instance->GtkKeyId, Group, BroadcastAddress,
          Instance->GtkRsc, 8};
}

KEY_FIELDS IgtkFields(const SUP_INSTANCE *Instance) {
  return {Instance->Igtk, sizeof(Instance->Igtk), (UINT8)Instance->IgtkLen, (UINT8)Instance->IgtkKeyId, IGTK,
          BroadcastAddress, Instance->IgtkIpn, 6};
}

// The UEFI key-list form: a count byte, then the keys at their natural offset.
VOID FillKeyList(UINT8 *Data, const KEY_FIELDS &Fields) {
  Data[offsetof(EFI_SUPPLICANT_GTK_LIST, GTKCount)] = 1;
  FillKey(Data + offsetof(EFI_SUPPLICANT_GTK_LIST, GTKList), Fields);
}

EFI_STATUS GetPtk(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  FillKey(Data, PtkFields(Instance));
  return EFI_SUCCESS;
}

EFI_STATUS GetGtkList(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  FillKeyList(Data, GtkFields(Instance));
  return EFI_SUCCESS;
}

EFI_STATUS GetIgtkList(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  FillKeyList(Data, IgtkFields(Instance));
  return EFI_SUCCESS;
}

EFI_STATUS GetIgtkKey(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  FillKey(Data, IgtkFields(Instance));
  return EFI_SUCCESS;
}

// The key handshake decides once it has begun; before that an EAP exchange
// under way (or one that delivered the PMK) is Authenticating and one that
// ended without a PMK is Held. Every new EAP exchange and every failure
// sets HandshakeState back to its initial value.
EFI_STATUS GetSupplicantState(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  UINT32 State = EfiEapolSupplicantAcquired;
  if (Instance->HandshakeState == SUP_HANDSHAKE_MESSAGE_4) {
    State = EfiEapolSupplicantAuthenticated;
  } else if (Instance->HandshakeState == SUP_HANDSHAKE_MESSAGE_2) {
    State = EfiEapolSupplicantAuthenticating;
  } else if (Instance->EapState == SUP_EAP_STATE::Failed) {
    State = EfiEapolSupplicantHeld;
  } else if (Instance->EapState != SUP_EAP_STATE::Idle) {
    State = EfiEapolSupplicantAuthenticating;
  }
  CopyMem(Data, &State, sizeof(State));
  return EFI_SUCCESS;
}

EFI_STATUS GetKeyRefresh(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  Data[0] = Instance->GtkRefreshed;
  return EFI_SUCCESS;
}

// WPA-PSK, RSN PSK and SAE; a driver built with EAP adds 802.1X and
// 802.1X-SHA256.
constexpr const UINT8 *SupportedAkmOuis[] = {SUP_WPA_OUI, SUP_RSN_OUI, SUP_RSN_OUI, SUP_RSN_OUI, SUP_RSN_OUI};
constexpr UINT8 SupportedAkmTypes[] = {2, 2, 8, 1, 5};
constexpr UINT16 PersonalAkmCount = 3;

UINT16 SupportedAkmCount() { return SupEapEnterprise() ? (UINT16)sizeof(SupportedAkmTypes) : PersonalAkmCount; }

EFI_STATUS GetSupportedAkms(SUP_INSTANCE *, UINT8 *Data, UINTN *) {
  WriteSuiteList(Data, SupportedAkmOuis, SupportedAkmTypes, SupportedAkmCount());
  return EFI_SUCCESS;
}

EFI_STATUS GetSupportedCiphers(SUP_INSTANCE *, UINT8 *Data, UINTN *) {
  const UINT8 *Ouis[] = {SUP_WPA_OUI, SUP_WPA_OUI, SUP_RSN_OUI, SUP_RSN_OUI};
  const UINT8 Types[] = {SUP_CIPHER_TKIP, SUP_CIPHER_TKIP, SUP_CIPHER_CCMP, SUP_CIPHER_CCMP};
  WriteSuiteList(Data, Ouis, Types, 4);
  return EFI_SUCCESS;
}

EFI_STATUS GetPmk(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  CopyMem(Data, Instance->Pmk, SUP_PMK_LEN);
  return EFI_SUCCESS;
}

// Record-dependent results: what is held is returned with its size, and
// nothing held is EFI_NOT_FOUND.
EFI_STATUS ReadHeld(const UINT8 *Held, UINTN HeldLength, UINT8 *Data, UINTN *DataSize) {
  if (HeldLength == 0) {
    return EFI_NOT_FOUND;
  }
  CopyMem(Data, Held, HeldLength);
  *DataSize = HeldLength;
  return EFI_SUCCESS;
}

UINTN ApRsnElementSize(const SUP_INSTANCE *Instance) { return Instance->ApRsnElementLen; }
UINTN ApRsnxElementSize(const SUP_INSTANCE *Instance) { return Instance->ApRsnxElementLen; }
UINTN OciSize(const SUP_INSTANCE *Instance) { return Instance->OciLen; }
UINTN PasswordSize(const SUP_INSTANCE *Instance) { return Instance->PasswordLen; }
// The personal list has always asked for 18 bytes (and reported 19); the
// enterprise list asks for exactly what it writes.
UINTN SupportedAkmsSize(const SUP_INSTANCE *) { return SupEapEnterprise() ? 2 + 4 * sizeof(SupportedAkmTypes) : 18; }
UINTN StationRsnxElementSize(const SUP_INSTANCE *Instance) {
  UINT8 Element[SUP_STATION_RSNXE_LEN];
  return SupStationRsnxElement(Instance, Element);
}

EFI_STATUS GetApRsnElement(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  return ReadHeld(Instance->ApRsnElement, Instance->ApRsnElementLen, Data, DataSize);
}

EFI_STATUS GetApRsnxElement(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  return ReadHeld(Instance->ApRsnxElement, Instance->ApRsnxElementLen, Data, DataSize);
}

// With hunting-and-pecking the station has no RSNXE to send: EFI_NOT_FOUND.
EFI_STATUS GetStationRsnxElement(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  UINT8 Element[SUP_STATION_RSNXE_LEN];
  return ReadHeld(Element, SupStationRsnxElement(Instance, Element), Data, DataSize);
}

EFI_STATUS GetBigtk(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  if (Instance->BigtkLen == 0) {
    return EFI_NOT_FOUND;
  }
  FillKey(Data, {Instance->Bigtk, sizeof(Instance->Bigtk), Instance->BigtkLen, Instance->BigtkKeyId, IGTK,
                 BroadcastAddress, Instance->BigtkBipn, SUP_BIPN_LEN});
  return EFI_SUCCESS;
}

EFI_STATUS GetTransitionDisable(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *) {
  if (!Instance->TransitionDisableValid) {
    return EFI_NOT_FOUND;
  }
  Data[0] = Instance->TransitionDisable;
  return EFI_SUCCESS;
}

EFI_STATUS GetOci(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize) {
  return ReadHeld(Instance->Oci, Instance->OciLen, Data, DataSize);
}

constexpr UINTN KeySize = sizeof(EFI_SUPPLICANT_KEY);
constexpr UINTN KeyListSize = sizeof(EFI_SUPPLICANT_GTK_LIST);

struct GET_DATA_ENTRY {
  EFI_SUPPLICANT_DATA_TYPE Type;
  UINTN                    Needed;    // bytes the result takes
  UINTN                    Reported;  // *DataSize when the buffer is smaller
  EFI_STATUS (*Read)(SUP_INSTANCE *Instance, UINT8 *Data, UINTN *DataSize);
  // For results whose size depends on the record or the build: that size,
  // needed, and reported with ReportedExtra added (Needed and Reported are
  // then unused).
  UINTN (*SizeOf)(const SUP_INSTANCE *Instance) = nullptr;
  UINTN ReportedExtra = 0;
};

constexpr GET_DATA_ENTRY GetDataTable[] = {
    {EfiSupplicant80211AKMSuite, 6, 7, GetAkmSuite},
    {EfiSupplicant80211GroupDataCipherSuite, 6, 7, GetGroupCipher},
    {EfiSupplicant80211PairwiseCipherSuite, 6, 6, GetPairwiseCipher},
    {EfiSupplicant80211PskPassword, 0, 0, GetPassword, PasswordSize},
    {EfiSupplicant80211TargetSSIDName, sizeof(EFI_80211_SSID), sizeof(EFI_80211_SSID), GetSsid},
    {EfiSupplicant80211StationMac, 6, 6, GetStationMac},
    {EfiSupplicant80211TargetSSIDMac, 6, 6, GetTargetMac},
    {EfiSupplicant80211PTK, KeySize, KeySize, GetPtk},
    {EfiSupplicant80211GTK, KeyListSize, KeyListSize, GetGtkList},
    {EfiSupplicantState, 4, 4, GetSupplicantState},
    {EfiSupplicantKeyRefresh, 1, 1, GetKeyRefresh},
    // Reported one above the need, like the other suite lists.
    {EfiSupplicant80211SupportedAKMSuites, 0, 0, GetSupportedAkms, SupportedAkmsSize, 1},
    {EfiSupplicant80211SupportedSoftwareCipherSuites, 26, 27, GetSupportedCiphers},
    {EfiSupplicant80211SupportedHardwareCipherSuites, 22, 23, GetSupportedCiphers},
    {EfiSupplicant80211IGTK, KeyListSize, KeyListSize, GetIgtkList},
    {EfiSupplicant80211PMK, SUP_PMK_LEN, SUP_PMK_LEN, GetPmk},
    {EfiSupplicant80211IGTKKey, KeySize, KeySize, GetIgtkKey},
    {EfiSupplicantSaeCommit, 0, 0, SaeBuildOwnCommit, SaeOwnCommitSize},
    {EfiSupplicantSaeConfirm, SAE_CONFIRM_LEN, SAE_CONFIRM_LEN, SaeBuildOwnConfirm},
    {EfiSupplicantSaePweMethod, 1, 1, SaeGetPweMethod},
    {EfiSupplicantSaePasswordIdentifier, 0, 0, SaeGetPasswordIdentifier, SaePasswordIdentifierSize},
    {EfiSupplicantSaeAntiCloggingToken, 0, 0, SaeGetAntiCloggingToken, SaeAntiCloggingTokenSize},
    {EfiSupplicantSaeRejectedGroups, 0, 0, SaeGetRejectedGroups, SaeRejectedGroupsSize},
    {EfiSupplicantApRsnElement, 0, 0, GetApRsnElement, ApRsnElementSize},
    {EfiSupplicantApRsnxElement, 0, 0, GetApRsnxElement, ApRsnxElementSize},
    {EfiSupplicantStationRsnxElement, 0, 0, GetStationRsnxElement, StationRsnxElementSize},
    {EfiSupplicantBigtk, KeySize, KeySize, GetBigtk},
    {EfiSupplicantTransitionDisable, 1, 1, GetTransitionDisable},
    {EfiSupplicantOperatingChannelInfo, 0, 0, GetOci, OciSize},
};

template <typename Entry, UINTN Count>
const Entry *FindEntry(const Entry (&Table)[Count], EFI_SUPPLICANT_DATA_TYPE Type) {
  for (const Entry &Row : Table) {
    if (Row.Type == Type) {
      return &Row;
    }
  }
  return nullptr;
}


}  // namespace

EFI_STATUS EFIAPI SupBuildResponsePacket(EFI_SUPPLICANT_PROTOCOL *This, UINT8 *RequestBuffer, UINTN RequestBufferSize,
                                         UINT8 *Buffer, UINTN *BufferSize) {
  SUP_INSTANCE *Instance = SUP_INSTANCE_FROM_SUPPLICANT(This);
  // EAP-Packet frames go to the EAP layer (in a driver built without it,
  // back to the key handshake, which refuses them as before).
  if (eap::IsEapolEap(RequestBuffer, RequestBufferSize)) {
    return SupEapBuildResponsePacket(Instance, RequestBuffer, RequestBufferSize, Buffer, BufferSize);
  }
  return SupWpaBuildResponsePacket(Instance, RequestBuffer, RequestBufferSize, Buffer, BufferSize);
}

EFI_STATUS EFIAPI SupProcessPacket(EFI_SUPPLICANT_PROTOCOL *This, EFI_SUPPLICANT_FRAGMENT_DATA **, UINT32 *,
                                   EFI_SUPPLICANT_CRYPT_MODE) {
  SUP_INSTANCE_FROM_SUPPLICANT(This);
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI SupSetData(EFI_SUPPLICANT_PROTOCOL *This, EFI_SUPPLICANT_DATA_TYPE DataType, VOID *Data,
                             UINTN DataSize) {
  SUP_INSTANCE *Instance = SUP_INSTANCE_FROM_SUPPLICANT(This);
  if (Data == nullptr && DataSize != 0) {
    return EFI_INVALID_PARAMETER;
  }
  const SET_DATA_ENTRY *Entry = FindEntry(SetDataTable, DataType);
  if (Entry == nullptr) {
    return EFI_UNSUPPORTED;
  }
  if (DataSize < Entry->MinimumSize) {
    return EFI_BUFFER_TOO_SMALL;
  }
  return Entry->Apply(Instance, static_cast<const UINT8 *>(Data), DataSize);
}

EFI_STATUS EFIAPI SupGetData(EFI_SUPPLICANT_PROTOCOL *This, EFI_SUPPLICANT_DATA_TYPE DataType, UINT8 *Data,
                             UINTN *DataSize) {
  SUP_INSTANCE *Instance = SUP_INSTANCE_FROM_SUPPLICANT(This);
  if (DataSize == nullptr || (*DataSize != 0 && Data == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  const GET_DATA_ENTRY *Entry = FindEntry(GetDataTable, DataType);
  if (Entry == nullptr) {
    return EFI_UNSUPPORTED;
  }
  UINTN Needed = Entry->SizeOf != nullptr ? Entry->SizeOf(Instance) : Entry->Needed;
  if (*DataSize < Needed) {
    *DataSize = Entry->SizeOf != nullptr ? Needed + Entry->ReportedExtra : Entry->Reported;
    return EFI_BUFFER_TOO_SMALL;
  }
  return Entry->Read(Instance, Data, DataSize);
}
