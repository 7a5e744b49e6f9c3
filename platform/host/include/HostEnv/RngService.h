// The environment's EFI_RNG_PROTOCOL. Installed by default; a test can
// withhold it to drive a driver's no-RNG path. Bytes come from a seeded
// deterministic generator (the default, so runs repeat) or from the host OS.
#pragma once

#include <uefi/Protocol/Rng.h>

namespace HostEnv {

class ProtocolDatabase;

class RngService {
 public:
  static constexpr UINT64 kDefaultSeed = 0x5EED5EED5EED5EEDULL;

  explicit RngService(ProtocolDatabase &Database);
  RngService(const RngService &) = delete;
  RngService &operator=(const RngService &) = delete;

  // Install / uninstall the protocol on its own handle. Withhold fails with
  // EFI_ACCESS_DENIED while a driver holds the protocol open BY_DRIVER.
  EFI_STATUS Offer();
  EFI_STATUS Withhold();
  bool       Offered() const { return Handle_ != nullptr; }
  EFI_HANDLE Handle() const { return Handle_; }
  EFI_RNG_PROTOCOL *Protocol() { return &Instance_.Protocol; }

  void UseDeterministic(UINT64 Seed = kDefaultSeed);
  void UseOperatingSystem();
  // Every GetRNG answers Status (EFI_DEVICE_ERROR, ...); EFI_SUCCESS restores
  // normal operation.
  void FailWith(EFI_STATUS Status) { Failure_ = Status; }

  UINT64 BytesDelivered() const { return BytesDelivered_; }

  // The protocol members once the owner is known.
  EFI_STATUS Fill(const EFI_RNG_ALGORITHM *Algorithm, UINTN Length, UINT8 *Value);
  static RngService &FromProtocol(EFI_RNG_PROTOCOL *This);

 private:
  struct Instance {
    EFI_RNG_PROTOCOL Protocol;  // first: This points here
    RngService      *Owner;
  };
  UINT64 NextDeterministic();

  ProtocolDatabase &Database_;
  Instance          Instance_;
  EFI_HANDLE        Handle_ = nullptr;
  bool              FromOs_ = false;
  UINT64            State_  = kDefaultSeed;
  EFI_STATUS        Failure_ = EFI_SUCCESS;
  UINT64            BytesDelivered_ = 0;
};

}  // namespace HostEnv
