// The driver-wide random-byte source: which entropy source seeds the DRBG,
// that the seed really comes from it (with the clock and TSC in the nonce),
// and the Park–Miller fallback with its one console warning.
#include <Library/UefiLib.h>

#include <crypto/HmacDrbg.h>

#include <string>

#include "CryptoTestSupport.h"
#include "Random.h"

namespace {

// A console that records what the driver prints.
std::u16string ConsoleText;
EFI_STATUS EFIAPI RecordOutput(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *String) {
  ConsoleText += String;
  return EFI_SUCCESS;
}

// An RNG protocol that hands out a fixed pattern, or fails.
struct FakeRng {
  EFI_RNG_PROTOCOL Protocol;
  EFI_STATUS Result = EFI_SUCCESS;
  UINTN Calls = 0;
};
FakeRng *ActiveRng = nullptr;
EFI_STATUS EFIAPI FakeGetRng(EFI_RNG_PROTOCOL *, EFI_RNG_ALGORITHM *Algorithm, UINTN Length, UINT8 *Value) {
  ++ActiveRng->Calls;
  EXPECT_EQ(Algorithm, nullptr) << "the default algorithm is asked for";
  for (UINTN i = 0; i < Length; ++i) {
    Value[i] = (UINT8)(0xa0 + i);
  }
  return ActiveRng->Result;
}

int SeedReads = 0, RandomReads = 0;
BOOLEAN SeedWorks(UINT64 *Value) {
  *Value = 0x1111111111111111ull * (UINT64)(++SeedReads);
  return TRUE;
}
BOOLEAN RandomWorks(UINT64 *Value) {
  *Value = 0x2222222222222222ull + (UINT64)(++RandomReads);
  return TRUE;
}
BOOLEAN InstructionMissing(UINT64 *) { return FALSE; }
UINT64 FixedTimestamp() { return 0x0123456789abcdefull; }

EFI_TIME ClockAt(UINT8 Hour, UINT8 Minute, UINT8 Second, UINT8 Day) {
  EFI_TIME Time = {};
  Time.Year = 2024;
  Time.Month = 5;
  Time.Day = Day;
  Time.Hour = Hour;
  Time.Minute = Minute;
  Time.Second = Second;
  return Time;
}

class RandomSource : public ::testing::Test {
 protected:
  void SetUp() override {
    ConsoleText.clear();
    SeedReads = RandomReads = 0;
    Console_.OutputString = RecordOutput;
    SystemTable_.ConOut = &Console_;
    SavedSystemTable_ = gST;
    gST = &SystemTable_;
    Rng_.Protocol.GetRNG = FakeGetRng;
    ActiveRng = &Rng_;
  }
  void TearDown() override {
    gST = SavedSystemTable_;
    ActiveRng = nullptr;
  }

  // What a DRBG seeded the documented way draws first.
  static Bytes ExpectedDraw(const Bytes &Entropy, const EFI_TIME &Time, UINT64 Timestamp, size_t Length) {
    Bytes Nonce(sizeof(EFI_TIME) + sizeof(UINT64));
    memcpy(Nonce.data(), &Time, sizeof(EFI_TIME));
    memcpy(Nonce.data() + sizeof(EFI_TIME), &Timestamp, sizeof(UINT64));
    const std::string Personalization = "NorvSupDxe driver-wide random source";
    hmac_drbg_state State;
    EXPECT_EQ(hmac_drbg_instantiate(&State, Entropy.data(), Entropy.size(), Nonce.data(), Nonce.size(),
                                    reinterpret_cast<const UINT8 *>(Personalization.data()), Personalization.size()),
              0);
    Bytes Out(Length);
    EXPECT_EQ(hmac_drbg_generate(&State, Out.data(), Out.size(), nullptr, 0), 0);
    return Out;
  }

  static Bytes Draw(size_t Length) {
    Bytes Out(Length, 0);
    random_bytes(Out.data(), Out.size());
    return Out;
  }

  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Console_ = {};
  EFI_SYSTEM_TABLE SystemTable_ = {};
  EFI_SYSTEM_TABLE *SavedSystemTable_ = nullptr;
  FakeRng Rng_ = {};
};

TEST_F(RandomSource, PrefersTheRngProtocol) {
  const EFI_TIME Time = ClockAt(10, 20, 30, 4);
  const RANDOM_ENTROPY_SOURCES Sources = {&Rng_.Protocol, SeedWorks, RandomWorks, FixedTimestamp};
  EXPECT_EQ(RandomSourceInitializeFrom(Time, Sources), RandomSourceRngProtocol);
  EXPECT_EQ(RandomSourceInUse(), RandomSourceRngProtocol);
  EXPECT_EQ(Rng_.Calls, 1u);
  EXPECT_EQ(SeedReads + RandomReads, 0);
  Bytes Entropy(48);
  for (size_t i = 0; i < Entropy.size(); ++i) {
    Entropy[i] = (UINT8)(0xa0 + i);
  }
  EXPECT_EQ(Draw(64), ExpectedDraw(Entropy, Time, FixedTimestamp(), 64));
  EXPECT_TRUE(ConsoleText.empty());
}

TEST_F(RandomSource, UsesRdseedWhenTheProtocolFailsOrIsMissing) {
  const EFI_TIME Time = ClockAt(1, 2, 3, 4);
  Rng_.Result = EFI_DEVICE_ERROR;
  const RANDOM_ENTROPY_SOURCES Failing = {&Rng_.Protocol, SeedWorks, RandomWorks, FixedTimestamp};
  EXPECT_EQ(RandomSourceInitializeFrom(Time, Failing), RandomSourceCpuSeed);
  Bytes Entropy;
  for (UINT64 Read = 1; Read <= 6; ++Read) {
    const UINT64 Value = 0x1111111111111111ull * Read;
    const UINT8 *Raw = reinterpret_cast<const UINT8 *>(&Value);
    Entropy.insert(Entropy.end(), Raw, Raw + 8);
  }
  EXPECT_EQ(Draw(40), ExpectedDraw(Entropy, Time, FixedTimestamp(), 40));

  const RANDOM_ENTROPY_SOURCES Missing = {nullptr, SeedWorks, RandomWorks, FixedTimestamp};
  EXPECT_EQ(RandomSourceInitializeFrom(Time, Missing), RandomSourceCpuSeed);
  EXPECT_EQ(RandomReads, 0);
  EXPECT_TRUE(ConsoleText.empty());
}

TEST_F(RandomSource, UsesRdrandWithoutRdseed) {
  const RANDOM_ENTROPY_SOURCES Sources = {nullptr, InstructionMissing, RandomWorks, FixedTimestamp};
  EXPECT_EQ(RandomSourceInitializeFrom(ClockAt(1, 2, 3, 4), Sources), RandomSourceCpuRandom);
  EXPECT_EQ(RandomReads, 6);
  EXPECT_TRUE(ConsoleText.empty());
}

TEST_F(RandomSource, ClockAndTimestampChangeTheStreamEvenWithTheSameEntropy) {
  const RANDOM_ENTROPY_SOURCES Sources = {&Rng_.Protocol, nullptr, nullptr, FixedTimestamp};
  RandomSourceInitializeFrom(ClockAt(1, 2, 3, 4), Sources);
  const Bytes First = Draw(32);
  RandomSourceInitializeFrom(ClockAt(1, 2, 4, 4), Sources);
  const Bytes OtherClock = Draw(32);
  const RANDOM_ENTROPY_SOURCES OtherTsc = {&Rng_.Protocol, nullptr, nullptr, [] { return (UINT64)42; }};
  RandomSourceInitializeFrom(ClockAt(1, 2, 3, 4), OtherTsc);
  const Bytes OtherTimestamp = Draw(32);
  EXPECT_NE(First, OtherClock);
  EXPECT_NE(First, OtherTimestamp);
}

TEST_F(RandomSource, SuccessiveDrawsDifferAndCoverEveryOctetValue) {
  const RANDOM_ENTROPY_SOURCES Sources = {&Rng_.Protocol, nullptr, nullptr, FixedTimestamp};
  RandomSourceInitializeFrom(ClockAt(1, 2, 3, 4), Sources);
  // Two children drawing one after the other get different values.
  EXPECT_NE(Draw(32), Draw(32));
  // More than one DRBG request's worth, and 0xFF occurs (the Park–Miller
  // stream never yields it).
  const Bytes Large = Draw(HMAC_DRBG_MAX_REQUEST + 1000);
  EXPECT_NE(std::find(Large.begin(), Large.end(), 0xff), Large.end());
  EXPECT_NE(Bytes(Large.end() - 1000, Large.end()), Bytes(1000, 0));
}

TEST_F(RandomSource, ZeroLengthDrawsNothing) {
  const RANDOM_ENTROPY_SOURCES Sources = {&Rng_.Protocol, nullptr, nullptr, FixedTimestamp};
  RandomSourceInitializeFrom(ClockAt(1, 2, 3, 4), Sources);
  UINT8 Octet = 0x5a;
  random_bytes(&Octet, 0);
  EXPECT_EQ(Octet, 0x5a);
  // The stream continues where it was: the first draw equals a fresh seeding's.
  Bytes Entropy(48);
  for (size_t i = 0; i < Entropy.size(); ++i) {
    Entropy[i] = (UINT8)(0xa0 + i);
  }
  EXPECT_EQ(Draw(16), ExpectedDraw(Entropy, ClockAt(1, 2, 3, 4), FixedTimestamp(), 16));
}

TEST_F(RandomSource, FallsBackToParkMillerWithOneWarning) {
  // Midnight on day 0 seeds the generator with 0: the first byte is 60.
  const RANDOM_ENTROPY_SOURCES Nothing = {nullptr, InstructionMissing, InstructionMissing, FixedTimestamp};
  EXPECT_EQ(RandomSourceInitializeFrom(ClockAt(0, 0, 0, 0), Nothing), RandomSourceParkMiller);
  EXPECT_EQ(Draw(1), Bytes{60});
  const Bytes Stream = Draw(4096);
  EXPECT_EQ(std::find(Stream.begin(), Stream.end(), 0xff), Stream.end());
  const std::u16string Warning = u"NorvSupDxe: no entropy source";
  ASSERT_EQ(ConsoleText.rfind(Warning), 0u) << "one warning, at the start";
  EXPECT_EQ(ConsoleText.find(Warning, 1), std::u16string::npos) << "the warning repeats";
}

TEST_F(RandomSource, ParkMillerValuesStayAsDocumented) {
  random_seed(1);
  EXPECT_EQ(random_next(), 16807u);
  random_seed(0);
  EXPECT_EQ(random_next(), (UINT32)((16807ull * 123459876ull) % 2147483647ull));
}

}  // namespace
