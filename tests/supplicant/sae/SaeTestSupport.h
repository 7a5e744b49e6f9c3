// Helpers for the SAE exchange tests: stations that are children of the real
// driver loaded into the host UEFI environment, configured for SAE, and a
// fixture that runs the exchange between two of them.
#pragma once

#include <Library/UefiLib.h>
#include <TestSupport/HostEnvTest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "CommitConfirm.h"
#include "EccTestSupport.h"
#include "SaeExchange.h"
#include "SupInstance.h"
#include "uefi_sup.h"

namespace sae_test {

using Bytes = std::vector<UINT8>;
using Mac = std::array<UINT8, 6>;

inline constexpr Mac STATION_A = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
inline constexpr Mac STATION_B = {0x02, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0};

// One child of the driver: the protocol plus a view of its record.
class Station {
 public:
  explicit Station(EFI_SERVICE_BINDING_PROTOCOL *Service);
  ~Station();
  Station(const Station &) = delete;
  Station &operator=(const Station &) = delete;

  // SAE AKM, CCMP, SSID "sae-test", both addresses and the password.
  void Configure(const Mac &Own, const Mac &Peer, const std::string &Password);

  EFI_STATUS Set(EFI_SUPPLICANT_DATA_TYPE Type, const Bytes &Data) {
    return Protocol_->SetData(Protocol_, Type, const_cast<UINT8 *>(Data.data()), Data.size());
  }
  EFI_STATUS Get(EFI_SUPPLICANT_DATA_TYPE Type, UINT8 *Data, UINTN *Size) {
    return Protocol_->GetData(Protocol_, Type, Data, Size);
  }
  // GetData into a buffer of Room bytes; on success the body, resized to the
  // reported size. Status in *Status.
  Bytes GetBody(EFI_SUPPLICANT_DATA_TYPE Type, EFI_STATUS *Status, UINTN Room = 256);
  Bytes Commit();   // expects success
  Bytes Confirm();  // expects success
  EFI_STATUS TakeCommit(const Bytes &PeerCommit) { return Set(EfiSupplicantSaeCommit, PeerCommit); }
  EFI_STATUS TakeConfirm(const Bytes &PeerConfirm) { return Set(EfiSupplicantSaeConfirm, PeerConfirm); }

  SUP_INSTANCE *Record() const;
  SAE_CONTEXT &Sae() const { return Record()->Sae; }
  EFI_SUPPLICANT_PROTOCOL *Protocol() const { return Protocol_; }

 private:
  EFI_SERVICE_BINDING_PROTOCOL *Service_;
  EFI_HANDLE Handle_ = nullptr;
  EFI_SUPPLICANT_PROTOCOL *Protocol_ = nullptr;
};

// The driver loaded and started; stations are created on demand and
// destroyed (DestroyChild) before the environment's leak check.
class SaeDriverTest : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  Station &NewStation();
  // Two stations configured against each other with one password.
  void MakePair(const std::string &PasswordA, const std::string &PasswordB, const Mac &MacA = STATION_A,
                const Mac &MacB = STATION_B);
  Station &A() { return *Stations_[0]; }
  Station &B() { return *Stations_[1]; }
  // Both commits exchanged; EXPECTs success on both sides.
  void ExchangeCommits();
  // Commits and confirms exchanged; true when both confirms were accepted.
  bool RunExchange();
  void DestroyStations() { Stations_.clear(); }

  EFI_SERVICE_BINDING_PROTOCOL *Service() const { return Service_; }

 private:
  EFI_HANDLE Image_ = nullptr;
  EFI_SERVICE_BINDING_PROTOCOL *Service_ = nullptr;
  std::vector<std::unique_ptr<Station>> Stations_;
};

// Commit body pieces (group 19, n = 32).
inline Bytes Slice(const Bytes &Body, size_t Offset, size_t Length) {
  return Bytes(Body.begin() + Offset, Body.begin() + Offset + Length);
}
inline Bytes Concat(std::initializer_list<Bytes> Parts) {
  Bytes Out;
  for (const Bytes &Part : Parts) {
    Out.insert(Out.end(), Part.begin(), Part.end());
  }
  return Out;
}
inline Bytes GroupField(UINT16 Group) { return {static_cast<UINT8>(Group), static_cast<UINT8>(Group >> 8)}; }
inline Bytes NumberBytes(const mbedtls_mpi *X, UINTN Length = 32) {
  Bytes Out(Length);
  EXPECT_EQ(bignum_to_bytes(X, Out.data(), Length), 0);
  return Out;
}
inline Bytes HexBytes(const std::string &Hex) { return FromHex(Hex); }

}  // namespace sae_test
