#include "Random.h"

namespace {
constexpr INT32 Modulus    = 2147483647;  // 2^31 - 1
constexpr INT32 Multiplier = 16807;
constexpr INT32 Quotient   = 127773;      // Modulus / Multiplier
constexpr INT32 Remainder  = 2836;        // Modulus % Multiplier
constexpr INT32 ZeroStateReplacement = 123459876;

constinit INT32 GeneratorState = 1;
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

VOID random_bytes(UINT8 *Buffer, UINT64 Length) { park_miller_bytes(Buffer, Length); }

VOID RandomSourceInitialize(const EFI_TIME &Time) { random_seed(RandomSeedFromTime(Time)); }
