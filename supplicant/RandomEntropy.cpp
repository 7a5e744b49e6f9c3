// The platform side of the random-byte source: finds the entropy sources the
// DRBG is seeded from and names the one it used on the console, so a platform
// log shows what the driver's secrets rest on. Kept apart from Random.cpp so
// that the seeding logic can be driven with other sources.
#include <Library/PrintLib.h>
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

// The fallback names itself (Random.cpp); a seeded DRBG is named here.
const CHAR8 *SeedSourceName(RANDOM_SOURCE Source) {
  switch (Source) {
    case RandomSourceRngProtocol:
      return "EFI_RNG_PROTOCOL";
    case RandomSourceCpuSeed:
      return "RDSEED";
    case RandomSourceCpuRandom:
      return "RDRAND";
    case RandomSourceParkMiller:
      break;
  }
  return nullptr;
}
}  // namespace

VOID RandomSourceInitialize(const EFI_TIME &Time) {
  const RANDOM_ENTROPY_SOURCES Sources = {LocateRngProtocol(), AsmRdSeed64, AsmRdRand64, AsmReadTsc};
  const CHAR8 *Seed = SeedSourceName(RandomSourceInitializeFrom(Time, Sources));
  if (Seed != nullptr) {
    AsciiPrint("NorvSupDxe: DRBG seeded from %a\n", Seed);
  }
}
