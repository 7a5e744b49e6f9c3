// The Park–Miller generator: the documented values, the byte mapping, and
// the seed the driver entry takes from the clock.
#include <gtest/gtest.h>

#include "Random.h"

namespace {

constexpr UINT32 Modulus = 2147483647;

TEST(ParkMiller, KnownValuesFromTheStartingStates) {
  random_seed(1);
  EXPECT_EQ(random_next(), 16807u);
  EXPECT_EQ(random_next(), 282475249u);  // 16807^2
  EXPECT_EQ(random_next(), 1622650073u); // 16807^3 mod (2^31 - 1)

  random_seed(0);  // zero is replaced by 123459876
  UINT32 Value = random_next();
  EXPECT_EQ(Value, (UINT32)((16807ULL * 123459876ULL) % Modulus));
  EXPECT_EQ(Value % 255, 60u);
  random_seed(0);
  UINT8 Byte = 0;
  park_miller_bytes(&Byte, 1);
  EXPECT_EQ(Byte, 60);
}

TEST(ParkMiller, MatchesTheMultiplicativeRecurrenceForManySteps) {
  UINT64 Expected = 987654321;
  random_seed((UINT32)Expected);
  for (int Step = 0; Step < 100000; ++Step) {
    Expected = (Expected * 16807) % Modulus;
    ASSERT_EQ(random_next(), Expected) << "step " << Step;
  }
}

TEST(ParkMiller, BytesAreBelow255AndLengthZeroLeavesTheState) {
  random_seed(42);
  UINT8 Bytes[4096];
  park_miller_bytes(Bytes, sizeof(Bytes));
  int Seen[256] = {};
  for (UINT8 Byte : Bytes) {
    ++Seen[Byte];
  }
  EXPECT_EQ(Seen[0xFF], 0);
  EXPECT_GT(Seen[0xFE], 0);

  random_seed(7);
  park_miller_bytes(Bytes, 0);
  EXPECT_EQ(random_next(), 7u * 16807u);
}

TEST(ParkMiller, SeedUsesOnlyDayHourMinuteSecond) {
  EFI_TIME A = {2024, 6, 15, 12, 30, 45, 0, 0, 0, 0, 0};
  EFI_TIME B = {1999, 1, 15, 12, 30, 45, 0, 999, 60, 1, 0};
  EXPECT_EQ(RandomSeedFromTime(A), 0x0C1E2D0Fu);
  EXPECT_EQ(RandomSeedFromTime(A), RandomSeedFromTime(B));
  B.Second = 46;
  EXPECT_NE(RandomSeedFromTime(A), RandomSeedFromTime(B));
}

}  // namespace
