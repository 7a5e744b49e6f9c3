// SetData's size rule on a child of the driver in the host environment: a
// buffer one byte short of what a data type needs is refused before any byte
// of it is read, and the record stays as it was.
#include <cstring>
#include <string>
#include <vector>

#include "DriverChildTest.h"

namespace {

using Bytes = std::vector<UINT8>;
using TestSupport::StatusIs;

class ConfigStore : public DriverChildTest {
 protected:
  Bytes Snapshot() const {
    const auto *Begin = reinterpret_cast<const UINT8 *>(SUP_INSTANCE_FROM_SUPPLICANT(Supplicant_));
    return Bytes(Begin, Begin + sizeof(SUP_INSTANCE));
  }
  EFI_STATUS Set(EFI_SUPPLICANT_DATA_TYPE Type, Bytes &Data, UINTN Size) {
    return Supplicant_->SetData(Supplicant_, Type, Data.data(), Size);
  }
};

struct SIZED_TYPE {
  EFI_SUPPLICANT_DATA_TYPE Type;
  UINTN                    Needed;
};

TEST_F(ConfigStore, OneByteShortIsRefusedAndChangesNothing) {
  // Each value would be accepted at its full size: an RSN suite selector,
  // an SSID, addresses, a PMK, the MFP pair, a confirm body.
  const SIZED_TYPE Types[] = {
      {EfiSupplicant80211AKMSuite, 6},         {EfiSupplicant80211GroupDataCipherSuite, 6},
      {EfiSupplicant80211PairwiseCipherSuite, 6}, {EfiSupplicant80211PskPassword, 1},
      {EfiSupplicant80211TargetSSIDName, sizeof(EFI_80211_SSID)}, {EfiSupplicant80211StationMac, 6},
      {EfiSupplicant80211TargetSSIDMac, 6},    {EfiSupplicant80211PMK, 32},
      {EfiSupplicant80211GroupMgmtCipherSuite, 6}, {EfiSupplicant80211MfpCapability, 2},
      {EfiSupplicantSaeConfirm, 34},
  };
  for (const SIZED_TYPE &Row : Types) {
    SCOPED_TRACE(Row.Type);
    Bytes Data(sizeof(EFI_80211_SSID), 0);
    const UINT8 RsnCcmp[] = {1, 0, 0x00, 0x0F, 0xAC, 4};
    std::memcpy(Data.data(), RsnCcmp, sizeof(RsnCcmp));
    Bytes Before = Snapshot();
    EXPECT_TRUE(StatusIs(Set(Row.Type, Data, Row.Needed - 1), EFI_BUFFER_TOO_SMALL));
    EXPECT_TRUE(Snapshot() == Before) << "the record changed";
  }
}

TEST_F(ConfigStore, PasswordsLoseOneTerminatingNulWhateverTheirLength) {
  SUP_INSTANCE *Record = SUP_INSTANCE_FROM_SUPPLICANT(Supplicant_);
  const std::string Passwords[] = {"a", "12345", "1234567", "eight ch", std::string(63, 'p')};
  for (const std::string &Password : Passwords) {
    SCOPED_TRACE(Password);
    Bytes WithNul(Password.begin(), Password.end());
    WithNul.push_back(0);
    ASSERT_TRUE(StatusIs(Set(EfiSupplicant80211PskPassword, WithNul, WithNul.size()), EFI_SUCCESS));
    EXPECT_EQ(Bytes(Record->Password, Record->Password + Record->PasswordLen), Bytes(Password.begin(), Password.end()));
  }
  Bytes SixtyFour(64, 'p');
  EXPECT_TRUE(StatusIs(Set(EfiSupplicant80211PskPassword, SixtyFour, SixtyFour.size()), EFI_BUFFER_TOO_SMALL));
}

// ---------------------------------------------------------------------------
// The beacon's elements
// ---------------------------------------------------------------------------

class BeaconElementStore : public ConfigStore {
 protected:
  EFI_STATUS SetBytes(EFI_SUPPLICANT_DATA_TYPE Type, Bytes Data) {
    return Supplicant_->SetData(Supplicant_, Type, Data.empty() ? nullptr : Data.data(), Data.size());
  }
  // A refused SetData that leaves every byte of the record as it was.
  void ExpectRefused(EFI_SUPPLICANT_DATA_TYPE Type, const Bytes &Data, const char *What) {
    SCOPED_TRACE(What);
    Bytes Before = Snapshot();
    EXPECT_TRUE(StatusIs(SetBytes(Type, Data), EFI_INVALID_PARAMETER));
    EXPECT_TRUE(Snapshot() == Before) << "the record changed";
  }
  // GetData with a size probe first: the size it reports, then the bytes.
  EFI_STATUS Get(EFI_SUPPLICANT_DATA_TYPE Type, Bytes *Out) {
    UINTN Size = 0;
    EFI_STATUS Status = Supplicant_->GetData(Supplicant_, Type, nullptr, &Size);
    if (Status != EFI_BUFFER_TOO_SMALL) {
      return Status;
    }
    Out->assign(Size, 0xA5);
    UINTN Short = Size - 1;
    EXPECT_TRUE(StatusIs(Supplicant_->GetData(Supplicant_, Type, Out->data(), &Short), EFI_BUFFER_TOO_SMALL));
    EXPECT_EQ(Short, Size);
    return Supplicant_->GetData(Supplicant_, Type, Out->data(), &Size);
  }
};

const Bytes RsnSae = {0x30, 0x14, 0x01, 0x00, 0x00, 0x0F, 0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F,
                      0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F, 0xAC, 0x08, 0xC0, 0x00};
const Bytes Wpa = {0xDD, 0x16, 0x00, 0x50, 0xF2, 0x01, 0x01, 0x00, 0x00, 0x50, 0xF2, 0x02, 0x01, 0x00,
                   0x00, 0x50, 0xF2, 0x02, 0x01, 0x00, 0x00, 0x50, 0xF2, 0x02};
const Bytes Rsnxe = {0xF4, 0x01, 0x20};

TEST_F(BeaconElementStore, WellFormedElementsAreHeldUntilReplacedOrEmptied) {
  Bytes Out;
  for (EFI_SUPPLICANT_DATA_TYPE Type : {EfiSupplicantApRsnElement, EfiSupplicantApRsnxElement}) {
    EXPECT_TRUE(StatusIs(Get(Type, &Out), EFI_NOT_FOUND));
  }
  // With PMKIDs and a group management suite, all fields present.
  Bytes Full = {0x30, 0x2A, 0x01, 0x00, 0x00, 0x0F, 0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F, 0xAC, 0x04,
                0x01, 0x00, 0x00, 0x0F, 0xAC, 0x08, 0xC0, 0x00, 0x01, 0x00};
  Full.insert(Full.end(), 16, 0x5A);
  Full.insert(Full.end(), {0x00, 0x0F, 0xAC, 0x06});
  Bytes VersionOnly = {0x30, 0x02, 0x01, 0x00};
  for (const Bytes &Element : {RsnSae, Wpa, Full, VersionOnly}) {
    ASSERT_TRUE(StatusIs(SetBytes(EfiSupplicantApRsnElement, Element), EFI_SUCCESS));
    ASSERT_TRUE(StatusIs(Get(EfiSupplicantApRsnElement, &Out), EFI_SUCCESS));
    EXPECT_EQ(Out, Element);
  }
  ASSERT_TRUE(StatusIs(SetBytes(EfiSupplicantApRsnxElement, Rsnxe), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Get(EfiSupplicantApRsnxElement, &Out), EFI_SUCCESS));
  EXPECT_EQ(Out, Rsnxe);
  for (EFI_SUPPLICANT_DATA_TYPE Type : {EfiSupplicantApRsnElement, EfiSupplicantApRsnxElement}) {
    ASSERT_TRUE(StatusIs(SetBytes(Type, {}), EFI_SUCCESS));
    EXPECT_TRUE(StatusIs(Get(Type, &Out), EFI_NOT_FOUND));
  }
}

TEST_F(BeaconElementStore, MalformedElementsAreRefusedAndChangeNothing) {
  ASSERT_TRUE(StatusIs(SetBytes(EfiSupplicantApRsnElement, RsnSae), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(SetBytes(EfiSupplicantApRsnxElement, Rsnxe), EFI_SUCCESS));
  auto Changed = [](Bytes Element, size_t At, UINT8 Value) {
    Element[At] = Value;
    return Element;
  };
  auto Cut = [](const Bytes &Element, size_t Drop) {
    Bytes Out(Element.begin(), Element.end() - (long)Drop);
    Out[1] = (UINT8)(Out.size() - 2);
    return Out;
  };
  Bytes Trailing = RsnSae;
  Trailing.push_back(0);
  ExpectRefused(EfiSupplicantApRsnElement, Trailing, "a byte after the element");
  ExpectRefused(EfiSupplicantApRsnElement, Changed(RsnSae, 1, 0x13), "length byte short of the data");
  ExpectRefused(EfiSupplicantApRsnElement, Cut(RsnSae, 1), "capabilities cut short");
  ExpectRefused(EfiSupplicantApRsnElement, Changed(RsnSae, 14, 2), "two AKMs counted, one there");
  ExpectRefused(EfiSupplicantApRsnElement, Changed(RsnSae, 2, 2), "version 2");
  ExpectRefused(EfiSupplicantApRsnElement, Changed(RsnSae, 0, 0x31), "another element id");
  ExpectRefused(EfiSupplicantApRsnElement, Changed(Wpa, 5, 0x04), "a vendor element of another type");
  ExpectRefused(EfiSupplicantApRsnElement, Cut(Wpa, 1), "WPA AKM suite cut short");
  ExpectRefused(EfiSupplicantApRsnxElement, {0xF4, 0x00}, "RSNXE without capabilities");
  ExpectRefused(EfiSupplicantApRsnxElement, {0xF4, 0x02, 0x20}, "RSNXE length past the data");
}

}  // namespace
