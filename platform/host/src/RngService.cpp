#include <HostEnv/RngService.h>

#include "ProtocolDatabase.h"

#include <sys/random.h>

#include <cstring>

namespace HostEnv {
namespace {

EFI_STATUS EFIAPI GetInfo(EFI_RNG_PROTOCOL *This, UINTN *ListSize, EFI_RNG_ALGORITHM *List) {
  if (This == nullptr || ListSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (*ListSize < sizeof(EFI_RNG_ALGORITHM)) {
    *ListSize = sizeof(EFI_RNG_ALGORITHM);
    return EFI_BUFFER_TOO_SMALL;
  }
  if (List == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  List[0]   = gEfiRngAlgorithmRaw;
  *ListSize = sizeof(EFI_RNG_ALGORITHM);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetRng(EFI_RNG_PROTOCOL *This, EFI_RNG_ALGORITHM *Algorithm, UINTN Length, UINT8 *Value) {
  if (This == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  return RngService::FromProtocol(This).Fill(Algorithm, Length, Value);
}

}  // namespace

RngService::RngService(ProtocolDatabase &Database) : Database_(Database), Instance_{{GetInfo, GetRng}, this} {}

RngService &RngService::FromProtocol(EFI_RNG_PROTOCOL *This) { return *reinterpret_cast<Instance *>(This)->Owner; }

EFI_STATUS RngService::Offer() {
  if (Handle_ != nullptr) {
    return EFI_SUCCESS;
  }
  return Database_.Install(&Handle_, &gEfiRngProtocolGuid, &Instance_.Protocol);
}

EFI_STATUS RngService::Withhold() {
  if (Handle_ == nullptr) {
    return EFI_SUCCESS;
  }
  EFI_STATUS Status = Database_.Uninstall(Handle_, &gEfiRngProtocolGuid, &Instance_.Protocol);
  if (!EFI_ERROR(Status)) {
    Handle_ = nullptr;
  }
  return Status;
}

void RngService::UseDeterministic(UINT64 Seed) {
  FromOs_ = false;
  State_  = Seed;
}

void RngService::UseOperatingSystem() { FromOs_ = true; }

// SplitMix64: tiny, well distributed, and the same sequence on every run.
UINT64 RngService::NextDeterministic() {
  UINT64 Z = (State_ += 0x9E3779B97F4A7C15ULL);
  Z        = (Z ^ (Z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  Z        = (Z ^ (Z >> 27)) * 0x94D049BB133111EBULL;
  return Z ^ (Z >> 31);
}

EFI_STATUS RngService::Fill(const EFI_RNG_ALGORITHM *Algorithm, UINTN Length, UINT8 *Value) {
  if (Value == nullptr || Length == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (Algorithm != nullptr && !(*Algorithm == gEfiRngAlgorithmRaw)) {
    return EFI_UNSUPPORTED;
  }
  if (EFI_ERROR(Failure_)) {
    return Failure_;
  }
  if (FromOs_) {
    for (UINTN Done = 0; Done < Length;) {
      ssize_t Got = getrandom(Value + Done, Length - Done, 0);
      if (Got <= 0) {
        return EFI_DEVICE_ERROR;
      }
      Done += static_cast<UINTN>(Got);
    }
  } else {
    for (UINTN Done = 0; Done < Length; Done += 8) {
      UINT64 Word  = NextDeterministic();
      UINTN  Chunk = Length - Done < 8 ? Length - Done : 8;
      std::memcpy(Value + Done, &Word, Chunk);
    }
  }
  BytesDelivered_ += Length;
  return EFI_SUCCESS;
}

}  // namespace HostEnv
