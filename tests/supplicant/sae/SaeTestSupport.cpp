#include "SaeTestSupport.h"

#include <cstring>

namespace sae_test {

using TestSupport::StatusIs;

Station::Station(EFI_SERVICE_BINDING_PROTOCOL *Service) : Service_(Service) {
  EXPECT_TRUE(StatusIs(Service_->CreateChild(Service_, &Handle_), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(gBS->HandleProtocol(Handle_, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Protocol_)),
                       EFI_SUCCESS));
}

Station::~Station() {
  if (Handle_ != nullptr) {
    EXPECT_TRUE(StatusIs(Service_->DestroyChild(Service_, Handle_), EFI_SUCCESS));
  }
}

SUP_INSTANCE *Station::Record() const { return SUP_INSTANCE_FROM_SUPPLICANT(Protocol_); }

void Station::Configure(const Mac &Own, const Mac &Peer, const std::string &Password) {
  const Bytes Sae = {1, 0, 0x00, 0x0F, 0xAC, 8};
  const Bytes Ccmp = {1, 0, 0x00, 0x0F, 0xAC, 4};
  Bytes Ssid(33, 0);
  static constexpr char Name[] = "sae-test";
  Ssid[0] = sizeof(Name) - 1;
  std::memcpy(Ssid.data() + 1, Name, sizeof(Name) - 1);
  ASSERT_TRUE(StatusIs(Set(EfiSupplicant80211AKMSuite, Sae), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Set(EfiSupplicant80211PairwiseCipherSuite, Ccmp), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Set(EfiSupplicant80211GroupDataCipherSuite, Ccmp), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Set(EfiSupplicant80211TargetSSIDName, Ssid), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Set(EfiSupplicant80211StationMac, Bytes(Own.begin(), Own.end())), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Set(EfiSupplicant80211TargetSSIDMac, Bytes(Peer.begin(), Peer.end())), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Set(EfiSupplicant80211PskPassword, Bytes(Password.begin(), Password.end())), EFI_SUCCESS));
}

Bytes Station::GetBody(EFI_SUPPLICANT_DATA_TYPE Type, EFI_STATUS *Status, UINTN Room) {
  Bytes Body(Room, 0xEE);
  UINTN Size = Room;
  *Status = Get(Type, Body.data(), &Size);
  if (*Status == EFI_SUCCESS) {
    Body.resize(Size);
  }
  return Body;
}

Bytes Station::Commit() {
  EFI_STATUS Status = EFI_SUCCESS;
  Bytes Body = GetBody(EfiSupplicantSaeCommit, &Status);
  EXPECT_TRUE(StatusIs(Status, EFI_SUCCESS));
  return Body;
}

Bytes Station::Confirm() {
  EFI_STATUS Status = EFI_SUCCESS;
  Bytes Body = GetBody(EfiSupplicantSaeConfirm, &Status);
  EXPECT_TRUE(StatusIs(Status, EFI_SUCCESS));
  return Body;
}

void SaeDriverTest::SetUp() {
  HostEnvTest::SetUp();
  Image_ = Env().LoadImage(NorvSupDxeModuleEntry);
  ASSERT_TRUE(StatusIs(Env().StartImage(Image_), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(BS()->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr,
                                            reinterpret_cast<VOID **>(&Service_)),
                       EFI_SUCCESS));
}

void SaeDriverTest::TearDown() {
  Stations_.clear();
  if (Image_ != nullptr && Env().IsHandle(Image_)) {
    EXPECT_TRUE(StatusIs(Env().UnloadImage(Image_), EFI_SUCCESS));
  }
  HostEnvTest::TearDown();
}

Station &SaeDriverTest::NewStation() {
  Stations_.push_back(std::make_unique<Station>(Service_));
  return *Stations_.back();
}

void SaeDriverTest::MakePair(const std::string &PasswordA, const std::string &PasswordB, const Mac &MacA,
                             const Mac &MacB) {
  Stations_.clear();
  NewStation().Configure(MacA, MacB, PasswordA);
  NewStation().Configure(MacB, MacA, PasswordB);
}

void SaeDriverTest::ExchangeCommits() {
  Bytes CommitA = A().Commit();
  Bytes CommitB = B().Commit();
  EXPECT_TRUE(StatusIs(A().TakeCommit(CommitB), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(B().TakeCommit(CommitA), EFI_SUCCESS));
}

bool SaeDriverTest::RunExchange() {
  ExchangeCommits();
  Bytes ConfirmA = A().Confirm();
  Bytes ConfirmB = B().Confirm();
  EFI_STATUS AcceptedByA = A().TakeConfirm(ConfirmB);
  EFI_STATUS AcceptedByB = B().TakeConfirm(ConfirmA);
  return AcceptedByA == EFI_SUCCESS && AcceptedByB == EFI_SUCCESS;
}

}  // namespace sae_test
