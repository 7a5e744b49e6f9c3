// The platform side of the random-byte source: finds the entropy sources the
// DRBG is seeded from. Kept apart from Random.cpp so that the seeding logic
// can be driven with other sources.
#include <Library/UefiLib.h>
#include <Platform/Hardware.h>

#include "Random.h"

namespace {
EFI_RNG_PROTOCOL *LocateRngProtocol() {
  EFI_RNG_PROTOCOL *Rng = nullptr;
  if (gBS == nullptr || EFI_ERROR(gBS->LocateProtocol(&gEfiRngProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Rng)))) {
    return nullptr;
  }
  return Rng;
}
}  // namespace

VOID RandomSourceInitialize(const EFI_TIME &Time) {
  const RANDOM_ENTROPY_SOURCES Sources = {LocateRngProtocol(), AsmRdSeed64, AsmRdRand64, AsmReadTsc};
  RandomSourceInitializeFrom(Time, Sources);
}
