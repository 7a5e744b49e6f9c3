#include "Random.h"

#include <Library/BaseMemoryLib.h>
#include <Library/PrintLib.h>
#include <crypto/HmacDrbg.h>

namespace {
constexpr INT32 Modulus    = 2147483647;  // 2^31 - 1
constexpr INT32 Multiplier = 16807;
constexpr INT32 Quotient   = 127773;      // Modulus / Multiplier
constexpr INT32 Remainder  = 2836;        // Modulus % Multiplier
constexpr INT32 ZeroStateReplacement = 123459876;

constinit INT32 GeneratorState = 1;

constinit hmac_drbg_state DriverDrbg = {};
constinit RANDOM_SOURCE   ActiveSource = RandomSourceParkMiller;

// Entropy input drawn at entry: 384 bits, above the 256 the DRBG asks for.
constexpr UINTN EntropyOctets = 48;
// Names this instance of the DRBG (SP 800-90A personalization string).
constexpr CHAR8 Personalization[] = "NorvSupDxe driver-wide random source";

bool EntropyFromRngProtocol(EFI_RNG_PROTOCOL *Rng, UINT8 *Out) {
  // A NULL algorithm asks for the protocol's default (the firmware's best).
  return Rng != nullptr && Rng->GetRNG != nullptr && !EFI_ERROR(Rng->GetRNG(Rng, nullptr, EntropyOctets, Out));
}

bool EntropyFromInstruction(BOOLEAN (*Read)(UINT64 *), UINT8 *Out) {
  if (Read == nullptr) {
    return false;
  }
  for (UINTN Offset = 0; Offset < EntropyOctets; Offset += sizeof(UINT64)) {
    UINT64 Value = 0;
    if (!Read(&Value)) {
      return false;
    }
    CopyMem(Out + Offset, &Value, sizeof(Value));
  }
  return true;
}

// The nonce: the clock and the time-stamp counter at seeding time.
struct SeedNonce {
  EFI_TIME Time;
  UINT64   Timestamp;
};

void FallBackToParkMiller() {
  ActiveSource = RandomSourceParkMiller;
  hmac_drbg_uninstantiate(&DriverDrbg);
  AsciiPrint("NorvSupDxe: no entropy source (EFI_RNG_PROTOCOL, RDSEED, RDRAND); "
             "random values come from the clock-seeded Park-Miller generator\n");
}
}  // namespace

VOID random_seed(UINT32 Seed) { GeneratorState = (INT32)Seed; }

UINT32 random_next() {
  INT32 X = GeneratorState == 0 ? ZeroStateReplacement : GeneratorState;
  // Schrage's method keeps 16807 * x mod (2^31 - 1) inside 32-bit arithmetic.
  X = Multiplier * (X % Quotient) - Remainder * (X / Quotient);
  if (X < 0) {
    X += Modulus;
  }
  GeneratorState = X;
  return (UINT32)X & 0x7FFFFFFF;
}

VOID park_miller_bytes(UINT8 *Buffer, UINT64 Length) {
  for (UINT64 Index = 0; Index < Length; ++Index) {
    Buffer[Index] = (UINT8)(random_next() % 255);
  }
}

VOID random_bytes(UINT8 *Buffer, UINT64 Length) {
  while (Length != 0 && ActiveSource != RandomSourceParkMiller) {
    const UINTN Chunk = Length < HMAC_DRBG_MAX_REQUEST ? (UINTN)Length : HMAC_DRBG_MAX_REQUEST;
    if (hmac_drbg_generate(&DriverDrbg, Buffer, Chunk, nullptr, 0) != 0) {
      // Only a reseed falling due (after 2^48 requests) gets here; no entropy
      // source is kept open for that, so the fallback takes over, loudly.
      FallBackToParkMiller();
      break;
    }
    Buffer += Chunk;
    Length -= Chunk;
  }
  park_miller_bytes(Buffer, Length);
}

RANDOM_SOURCE RandomSourceInitializeFrom(const EFI_TIME &Time, const RANDOM_ENTROPY_SOURCES &Sources) {
  random_seed(RandomSeedFromTime(Time));

  UINT8 Entropy[EntropyOctets];
  RANDOM_SOURCE Source = RandomSourceParkMiller;
  if (EntropyFromRngProtocol(Sources.Rng, Entropy)) {
    Source = RandomSourceRngProtocol;
  } else if (EntropyFromInstruction(Sources.ReadSeed, Entropy)) {
    Source = RandomSourceCpuSeed;
  } else if (EntropyFromInstruction(Sources.ReadRandom, Entropy)) {
    Source = RandomSourceCpuRandom;
  }

  SeedNonce Nonce = {Time, Sources.ReadTimestamp != nullptr ? Sources.ReadTimestamp() : 0};
  const bool Seeded =
      Source != RandomSourceParkMiller &&
      hmac_drbg_instantiate(&DriverDrbg, Entropy, sizeof(Entropy), reinterpret_cast<const UINT8 *>(&Nonce),
                            sizeof(Nonce), reinterpret_cast<const UINT8 *>(Personalization),
                            sizeof(Personalization) - 1) == 0;
  SecureZeroMem(Entropy, sizeof(Entropy));
  SecureZeroMem(&Nonce, sizeof(Nonce));
  if (!Seeded) {
    FallBackToParkMiller();
    return ActiveSource;
  }
  ActiveSource = Source;
  return ActiveSource;
}

RANDOM_SOURCE RandomSourceInUse() { return ActiveSource; }
