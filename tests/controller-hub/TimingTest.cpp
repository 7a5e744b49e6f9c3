// The time-stamp counter frequency from the P-state MSRs, the TSC delay and
// the short stall on the ACPI PM timer.
#include "HubTest.h"

#include "XchDelay.h"

using HostEnv::AccessSpace;
using HostEnv::TraceKind;

namespace {

class TimingTest : public HubTest {
 protected:
  void SetUp() override {
    HubTest::SetUp();
    Profile.Registers.clear();  // no P-states unless a test sets them
    ASSERT_EQ(RunEntry(), EFI_SUCCESS);
    XchDelayResetState();
    ClearTrace();
  }
  HostEnv::SimChipset &Chip() { return Env().Chipset(); }
  void SetPState(UINT32 Index, UINT64 Value) { Chip().Poke(AccessSpace::Msr, 0xC0010064 + Index, 8, Value); }
  size_t TraceCount(TraceKind Kind, UINT64 Address) {
    size_t Count = 0;
    for (const HostEnv::TraceEntry &Entry : Chip().Trace()) {
      Count += Entry.Kind == Kind && Entry.Address == Address;
    }
    return Count;
  }
};

constexpr UINT64 kEnabled = 1ULL << 63;

TEST_F(TimingTest, FrequencyComesFromTheFirstEnabledPState) {
  SetPState(0, 0x0880);              // not enabled
  SetPState(2, kEnabled | 0x0A64);   // divisor 10, multiplier 100: 100 x 200 / 10 = 2000 MHz
  SetPState(3, kEnabled | 0x0880);
  EXPECT_EQ(XchTscFrequency(), 2000000000u);
  EXPECT_EQ(TraceCount(TraceKind::Msr, 0xC0010066), 1u);
  EXPECT_EQ(TraceCount(TraceKind::Msr, 0xC0010067), 0u);  // the search stops at the first enabled one
}

TEST_F(TimingTest, DivisorsOutside8To60UseTwentyFiveMegahertzSteps) {
  const std::pair<UINT64, UINT64> Cases[] = {
      {0x0880, 3200000000},  // divisor 8: 128 x 200 / 8 MHz
      {0x3C78, 400000000},   // divisor 60: 120 x 200 / 60 MHz
      {0x0480, 3200000000},  // divisor 4: 128 x 25 MHz
      {0x3D20, 800000000},   // divisor 61: 32 x 25 MHz
      {0x0080, 0},           // divisor 0
  };
  for (auto [PState, Hz] : Cases) {
    XchDelayResetState();
    SetPState(0, kEnabled | PState);
    EXPECT_EQ(XchTscFrequency(), Hz) << std::hex << PState;
  }
}

TEST_F(TimingTest, WithoutAnEnabledPStateTheFrequencyIs256AndNotKept) {
  EXPECT_EQ(XchTscFrequency(), 256u);
  EXPECT_EQ(TraceCount(TraceKind::Msr, 0xC0010064) + TraceCount(TraceKind::Msr, 0xC001006B), 2u);  // all eight read
  SetPState(7, kEnabled | 0x0880);
  EXPECT_EQ(XchTscFrequency(), 3200000000u);
  SetPState(7, kEnabled | 0x1080);  // once found, the frequency is kept
  EXPECT_EQ(XchTscFrequency(), 3200000000u);
}

TEST_F(TimingTest, DelaySpinsUntilTheCounterPassesTheTarget) {
  SetPState(0, kEnabled | 0x0880);  // 3.2 GHz: 10 us = 32000 ticks
  Chip().SetTsc(5000);
  Chip().SetTscStep(1000);
  XchDelayMicroseconds(10);
  // Start read at 6000, then reads until the counter exceeds 38000: 39000.
  size_t Reads = TraceCount(TraceKind::Tsc, 0);
  EXPECT_EQ(Reads, 1u + 33u);
  EXPECT_EQ(Chip().Trace().back().Value, 39000u);
}

TEST_F(TimingTest, ShortStallWithoutATimerPortReadsPort80FiveTimes) {
  XchShortStall();
  // Port 0x80 still holds the entry's last test point, 0xB000AF15.
  EXPECT_EQ(Accesses(), (std::vector<Access>{MmioR(2, 0xFED80364, 0), IoR(1, 0x80, 0x15), IoR(1, 0x80, 0x15),
                                             IoR(1, 0x80, 0x15), IoR(1, 0x80, 0x15), IoR(1, 0x80, 0x15)}));
}

// A PM timer at port 0x808 that advances by Step per read from Start.
void AddPmTimer(HostEnv::SimChipset &Chip, UINT32 Start, UINT32 Step) {
  Chip.Poke(AccessSpace::Mmio, 0xFED80364, 2, 0x808);
  auto Now = std::make_shared<UINT32>(Start - Step);
  Chip.AddHandler(AccessSpace::Io, 0x808, 4, {.Read = [Now, Step](UINT64, UINT8) { return UINT64(*Now += Step); }});
}

TEST_F(TimingTest, ShortStallWaitsFor1100Over28TimerTicks) {
  AddPmTimer(Chip(), 100, 3);
  XchShortStall();
  // Elapsed 3, 6, ... 39 is short of 1100 / 28; 42 ends it: 1 + 14 reads.
  EXPECT_EQ(TraceCount(TraceKind::Io, 0x808), 15u);
}

TEST_F(TimingTest, ShortStallCountsOneTickLessAcrossATimerWrap) {
  AddPmTimer(Chip(), 0xFFFFFFF0, 8);
  XchShortStall();
  // Elapsed 8, then across the wrap 15, 23, 31, 39 (39 x 28 < 1100), 47.
  EXPECT_EQ(TraceCount(TraceKind::Io, 0x808), 7u);
}

}  // namespace
