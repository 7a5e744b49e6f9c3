#include "OwnElement.h"

#include <Library/BaseMemoryLib.h>

namespace {

constexpr UINT16 RsnCapabilityMfpRequired = 1u << 6;
constexpr UINT16 RsnCapabilityMfpCapable  = 1u << 7;
constexpr UINT8  WpaElementType = 1;
constexpr UINT8  BipCmac128SuiteType = 6;
// RSN extended capabilities, octet 0: bits 0-3 the field length less one,
// bit 5 SAE hash-to-element.
constexpr UINT8  RsnxCapabilitySaeHashToElement = 1u << 5;

// Appends little-endian fields and suites to the element body.
class BodyWriter {
 public:
  explicit BodyWriter(UINT8 *Body) : Body_(Body) {}
  void Bytes(const UINT8 *Data, UINTN Length) {
    CopyMem(Body_ + Length_, Data, Length);
    Length_ += Length;
  }
  void U8(UINT8 Value) { Body_[Length_++] = Value; }
  void U16(UINT16 Value) {
    U8((UINT8)Value);
    U8((UINT8)(Value >> 8));
  }
  void Suite(const UINT8 *Oui, UINT32 Type) {
    Bytes(Oui, 3);
    U8((UINT8)Type);
  }
  UINT16 Length() const { return (UINT16)Length_; }

 private:
  UINT8 *Body_;
  UINTN  Length_ = 0;
};

// A station told to use management-frame protection says so in its RSN
// element whatever its AKM; the WPA element has no such bits in use.
UINT16 Capabilities(const SUP_INSTANCE *Instance) {
  bool Rsn = Instance->Protocol != SUP_PROTOCOL_WPA;
  bool Applies = Rsn || Instance->AkmFlags == SUP_AKM_SAE;
  if (!Applies || Instance->MfpCapable == 0) {
    return 0;
  }
  UINT16 Bits = RsnCapabilityMfpCapable;
  if (Instance->MfpRequired != 0) {
    Bits |= RsnCapabilityMfpRequired;
  }
  return Bits;
}

}  // namespace

UINT8 SupAkmSuiteType(UINT32 AkmFlags) {
  switch (AkmFlags) {
    case SUP_AKM_WPA_PSK:
    case SUP_AKM_RSN_PSK:
      return 2;
    case SUP_AKM_PSK_SHA256:
      return 6;
    case SUP_AKM_SAE:
      return 8;
    case SUP_AKM_8021X:
      return 1;
    case SUP_AKM_8021X_SHA256:
      return 5;
    default:
      return 0;
  }
}

UINT8 SupOwnElementId(const SUP_INSTANCE *Instance) {
  return Instance->Protocol == SUP_PROTOCOL_WPA ? SUP_ELEMENT_VENDOR : SUP_ELEMENT_RSN;
}

const UINT8 *SupProtocolOui(const SUP_INSTANCE *Instance) {
  return Instance->Protocol == SUP_PROTOCOL_WPA ? SUP_WPA_OUI : SUP_RSN_OUI;
}

UINTN SupStationRsnxElement(const SUP_INSTANCE *Instance, UINT8 *Out) {
  if (Instance->SaePweMethod != SAE_PWE_HASH_TO_ELEMENT) {
    return 0;
  }
  Out[0] = SUP_ELEMENT_RSNX;
  Out[1] = 1;
  Out[2] = RsnxCapabilitySaeHashToElement;
  return SUP_STATION_RSNXE_LEN;
}

VOID SupBuildOwnElement(SUP_INSTANCE *Instance) {
  ZeroMem(Instance->OwnIeBuf, sizeof(Instance->OwnIeBuf));
  BodyWriter Body(Instance->OwnIeBuf);
  const UINT8 *Oui = SupProtocolOui(Instance);
  bool Wpa = Instance->Protocol == SUP_PROTOCOL_WPA;

  if (Wpa) {
    Body.Bytes(SUP_WPA_OUI, 3);
    Body.U8(WpaElementType);
  }
  Body.U16(1);  // version
  Body.Suite(Oui, Instance->GroupCipher);
  Body.U16(1);
  Body.Suite(Oui, Instance->PairwiseCipher);
  Body.U16(1);
  Body.Suite(Oui, SupAkmSuiteType(Instance->AkmFlags));
  Body.U16(Capabilities(Instance));
  if (!Wpa && Instance->AkmFlags == SUP_AKM_SAE) {
    Body.U16(0);  // PMKID count
    Body.Suite(SUP_RSN_OUI, BipCmac128SuiteType);
  }

  Instance->OwnIe = Instance->OwnIeBuf;
  Instance->OwnIeLen = Body.Length();
}
