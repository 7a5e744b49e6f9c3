// A fixture for the EAP tests: the driver loaded into the host environment
// and one child configured as a connection manager configures an 802.1X
// station (AKM, ciphers, addresses; the EAP settings through
// EFI_EAP_CONFIGURATION_PROTOCOL), driven frame by frame through
// BuildResponsePacket. Both are released at the end, so the environment's
// leak check sees everything an exchange held freed.
#pragma once
#include <TestSupport/HostEnvTest.h>
#include <uefi/Protocol/EapConfiguration.h>
#include <uefi/Protocol/Supplicant.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "SupInstance.h"
#include "TestCertificates.h"
#include "uefi_sup.h"

namespace eap_test {

using Bytes = std::vector<UINT8>;

// The station's credentials as a connection manager hands them over.
struct CREDENTIALS {
  const void *CaCert;
  size_t      CaCertSize;
  const void *ClientCert;
  size_t      ClientCertSize;
  const void *Key;
  size_t      KeySize;
  const char *Password = nullptr;  // handed over with its NUL
};

inline CREDENTIALS EcCredentials() {
  using namespace eap_test_pki;
  return {RootEcCertPem, sizeof(RootEcCertPem), ClientEcCertPem, sizeof(ClientEcCertPem), ClientEcKeyPem,
          sizeof(ClientEcKeyPem)};
}

inline CREDENTIALS RsaCredentials() {
  using namespace eap_test_pki;
  return {RootRsaCertPem, sizeof(RootRsaCertPem), ClientRsaCertPem, sizeof(ClientRsaCertPem), ClientRsaKeyPem,
          sizeof(ClientRsaKeyPem)};
}

constexpr UINT8 StationMac[6] = {0x02, 0x00, 0x00, 0x00, 0x0E, 0x01};
constexpr UINT8 ApMac[6] = {0x02, 0x00, 0x00, 0x00, 0x0E, 0x02};
constexpr char Identity[] = "station@norv.test";

class EapStationTest : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    Image_ = Env().LoadImage(NorvSupDxeModuleEntry);
    ASSERT_TRUE(TestSupport::StatusIs(Env().StartImage(Image_), EFI_SUCCESS));
    BS()->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Service_));
    ASSERT_TRUE(TestSupport::StatusIs(Service_->CreateChild(Service_, &Child_), EFI_SUCCESS));
    Supplicant_ = static_cast<EFI_SUPPLICANT_PROTOCOL *>(Env().FindInterface(Child_, gEfiSupplicantProtocolGuid));
    Eap_ = static_cast<EFI_EAP_CONFIGURATION_PROTOCOL *>(Env().FindInterface(Child_, gEfiEapConfigurationProtocolGuid));
  }
  void TearDown() override {
    if (Child_ != nullptr) {
      EXPECT_TRUE(TestSupport::StatusIs(Service_->DestroyChild(Service_, Child_), EFI_SUCCESS));
    }
    EXPECT_TRUE(TestSupport::StatusIs(Env().UnloadImage(Image_), EFI_SUCCESS));
    HostEnvTest::TearDown();
  }

  // A fresh child in place of the current one.
  void RecreateChild() {
    ASSERT_EQ(Service_->DestroyChild(Service_, Child_), EFI_SUCCESS);
    Child_ = nullptr;
    ASSERT_EQ(Service_->CreateChild(Service_, &Child_), EFI_SUCCESS);
    Supplicant_ = static_cast<EFI_SUPPLICANT_PROTOCOL *>(Env().FindInterface(Child_, gEfiSupplicantProtocolGuid));
    Eap_ = static_cast<EFI_EAP_CONFIGURATION_PROTOCOL *>(Env().FindInterface(Child_, gEfiEapConfigurationProtocolGuid));
  }

  EFI_STATUS Set(EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size) {
    return Supplicant_->SetData(Supplicant_, Type, const_cast<void *>(Data), Size);
  }
  EFI_STATUS SetEap(EFI_EAP_TYPE Type, EFI_EAP_CONFIG_DATA_TYPE Data, const void *Value, UINTN Size) {
    return Eap_->SetData(Eap_, Type, Data, const_cast<void *>(Value), Size);
  }

  // AKM 00-0F-AC:Akm, CCMP both ways, the two addresses.
  void ConfigureNetwork(UINT8 Akm = 1) {
    const UINT8 AkmSuite[6] = {1, 0, 0x00, 0x0F, 0xAC, Akm};
    const UINT8 Ccmp[6] = {1, 0, 0x00, 0x0F, 0xAC, 4};
    ASSERT_EQ(Set(EfiSupplicant80211AKMSuite, AkmSuite, 6), EFI_SUCCESS);
    ASSERT_EQ(Set(EfiSupplicant80211PairwiseCipherSuite, Ccmp, 6), EFI_SUCCESS);
    ASSERT_EQ(Set(EfiSupplicant80211GroupDataCipherSuite, Ccmp, 6), EFI_SUCCESS);
    ASSERT_EQ(Set(EfiSupplicant80211StationMac, StationMac, 6), EFI_SUCCESS);
    ASSERT_EQ(Set(EfiSupplicant80211TargetSSIDMac, ApMac, 6), EFI_SUCCESS);
  }

  void ConfigureEap(const CREDENTIALS &Credentials) {
    const UINT8 Tls = EFI_EAP_TYPE_EAPTLS;
    ASSERT_EQ(SetEap(EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapAuthMethod, &Tls, 1), EFI_SUCCESS);
    ASSERT_EQ(SetEap(EFI_EAP_TYPE_IDENTITY, EfiEapConfigIdentityString, Identity, sizeof(Identity)), EFI_SUCCESS);
    ASSERT_EQ(SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, Credentials.CaCert, Credentials.CaCertSize),
              EFI_SUCCESS);
    ASSERT_EQ(SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientCert, Credentials.ClientCert,
                     Credentials.ClientCertSize),
              EFI_SUCCESS);
    ASSERT_EQ(SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFile, Credentials.Key,
                     Credentials.KeySize),
              EFI_SUCCESS);
    if (Credentials.Password != nullptr) {
      ASSERT_EQ(SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFilePassword, Credentials.Password,
                       std::strlen(Credentials.Password) + 1),
                EFI_SUCCESS);
    }
  }

  void ConfigureStation(const CREDENTIALS &Credentials, UINT8 Akm = 1) {
    ConfigureNetwork(Akm);
    ConfigureEap(Credentials);
  }

  struct ANSWER {
    EFI_STATUS Status;
    Bytes      Frame;  // what was written (empty unless EFI_SUCCESS)
    UINTN      Size;   // *BufferSize after the call
  };

  // BuildResponsePacket with a response buffer of Capacity bytes (2048: the
  // size the station simulator uses).
  ANSWER Respond(const Bytes &Request, UINTN Capacity = 2048) {
    Bytes In(Request);
    In.reserve(1);
    Bytes Out(Capacity + 1, 0xA5);
    UINTN Size = Capacity;
    EFI_STATUS Status = Supplicant_->BuildResponsePacket(Supplicant_, In.data(), In.size(), Out.data(), &Size);
    EXPECT_EQ(Out[Capacity], 0xA5) << "written past the buffer";
    ANSWER Answer = {Status, {}, Size};
    if (Status == EFI_SUCCESS) {
      EXPECT_LE(Size, Capacity);
      Answer.Frame.assign(Out.begin(), Out.begin() + (long)std::min<UINTN>(Size, Capacity));
    } else {
      EXPECT_EQ(Bytes(Out.begin(), Out.begin() + (long)Capacity), Bytes(Capacity, 0xA5)) << "written on failure";
    }
    return Answer;
  }

  SUP_INSTANCE *Record() const { return SUP_INSTANCE_FROM_SUPPLICANT(Supplicant_); }

  Bytes Pmk() {
    Bytes Key(32);
    UINTN Size = Key.size();
    EXPECT_EQ(Supplicant_->GetData(Supplicant_, EfiSupplicant80211PMK, Key.data(), &Size), EFI_SUCCESS);
    return Key;
  }

  UINT32 PaeState() {
    UINT32 State = 0xFFFFFFFF;
    UINTN Size = sizeof(State);
    EXPECT_EQ(Supplicant_->GetData(Supplicant_, EfiSupplicantState, reinterpret_cast<UINT8 *>(&State), &Size),
              EFI_SUCCESS);
    return State;
  }

  // Everything in the record that is key material or says where it came from.
  Bytes Keys() const {
    const SUP_INSTANCE *R = Record();
    Bytes Out(R->Pmk, R->Pmk + sizeof(R->Pmk));
    Out.push_back((UINT8)R->PmkSource);
    Out.insert(Out.end(), R->Ptk, R->Ptk + sizeof(R->Ptk));
    Out.insert(Out.end(), R->TPtk, R->TPtk + sizeof(R->TPtk));
    Out.insert(Out.end(), R->Gtk, R->Gtk + sizeof(R->Gtk));
    return Out;
  }

  Bytes Snapshot() const {
    const UINT8 *Begin = reinterpret_cast<const UINT8 *>(Record());
    return Bytes(Begin, Begin + sizeof(SUP_INSTANCE));
  }

  HostEnv::Environment &Environment() { return Env(); }

  EFI_HANDLE                      Image_ = nullptr, Child_ = nullptr;
  EFI_SERVICE_BINDING_PROTOCOL   *Service_ = nullptr;
  EFI_SUPPLICANT_PROTOCOL        *Supplicant_ = nullptr;
  EFI_EAP_CONFIGURATION_PROTOCOL *Eap_ = nullptr;
};

// EAPOL frames an authenticator sends, written from RFC 3748.
inline Bytes EapFrame(UINT8 Code, UINT8 Id, const Bytes &TypeAndData) {
  UINT16 Length = (UINT16)(4 + TypeAndData.size());
  Bytes Frame(8 + TypeAndData.size());
  const UINT8 Header[8] = {2, 0, (UINT8)(Length >> 8), (UINT8)Length, Code, Id, (UINT8)(Length >> 8), (UINT8)Length};
  std::copy(Header, Header + 8, Frame.begin());
  std::copy(TypeAndData.begin(), TypeAndData.end(), Frame.begin() + 8);
  return Frame;
}
inline Bytes IdentityRequest(UINT8 Id) { return EapFrame(1, Id, {1}); }
inline Bytes TlsStart(UINT8 Id) { return EapFrame(1, Id, {13, 0x20}); }
inline Bytes SuccessFrame(UINT8 Id) { return EapFrame(3, Id, {}); }
inline Bytes FailureFrame(UINT8 Id) { return EapFrame(4, Id, {}); }

}  // namespace eap_test
