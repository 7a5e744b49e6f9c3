// The simulated chipset seen through Platform/Hardware.h: memory behaviour,
// handlers, trace, CPUID, TSC, RDRAND/RDSEED and the dead loop.
#include <TestSupport/HostEnvTest.h>

#include <Platform/Hardware.h>

#include <array>
#include <map>
#include <vector>

namespace {

using HostEnv::AccessSpace;
using HostEnv::TraceEntry;
using HostEnv::TraceKind;
using HostEnv::TraceOp;
using TestSupport::HostEnvTest;

class SimChipsetTest : public HostEnvTest {
 protected:
  HostEnv::SimChipset &Chip() { return Env().Chipset(); }
};

TEST_F(SimChipsetTest, RegistersReadBackTheLastWriteElseTheirInitialValueElseZero) {
  EXPECT_EQ(MmioRead32(0xFED80000), 0u);
  Chip().SetInitialValue(AccessSpace::Mmio, 0xFED80010, 4, 0xCAFEF00D);
  EXPECT_EQ(MmioRead32(0xFED80010), 0xCAFEF00Du);
  EXPECT_EQ(MmioRead16(0xFED80012), 0xCAFEu);

  EXPECT_EQ(MmioWrite32(0xFED80000, 0x11223344), 0x11223344u);
  EXPECT_EQ(MmioRead8(0xFED80003), 0x11) << "byte-addressed: a wide write is seen by narrow reads";
  MmioWrite8(0xFED80010, 0xAA);
  EXPECT_EQ(MmioRead32(0xFED80010), 0xCAFEF0AAu) << "untouched bytes keep their initial value";
  MmioWrite64(0x1000, 0x0102030405060708ULL);
  EXPECT_EQ(MmioRead64(0x1000), 0x0102030405060708ULL);

  IoWrite16(0xCF8, 0xBEEF);
  EXPECT_EQ(IoRead8(0xCF9), 0xBE);
  EXPECT_EQ(IoRead32(0x80), 0u);
  EXPECT_EQ(MmioRead16(0xCF8), 0u) << "I/O and MMIO are separate spaces";

  Chip().SetInitialValue(AccessSpace::Msr, 0x1B, 8, 0xFEE00900);
  EXPECT_EQ(AsmReadMsr64(0x1B), 0xFEE00900u);
  EXPECT_EQ(AsmWriteMsr64(0xC0010058, 0xE0000021), 0xE0000021u);
  EXPECT_EQ(AsmReadMsr64(0xC0010058), 0xE0000021u);
  EXPECT_TRUE(Chip().WasWritten(AccessSpace::Msr, 0xC0010058));
  EXPECT_FALSE(Chip().WasWritten(AccessSpace::Msr, 0x1B));
}

TEST_F(SimChipsetTest, HandlersAddBehaviourOnTopOfTheMemoryModel) {
  // An index/data pair: port 0xCD6 selects a register of a private bank,
  // port 0xCD7 reads and writes it.
  std::array<UINT8, 256> Bank{};
  Bank[0x24] = 0x5A;
  Chip().AddHandler(AccessSpace::Io, 0xCD7, 1,
                    {.Read = [&](UINT64, UINT8) -> UINT64 { return Bank[Chip().Peek(AccessSpace::Io, 0xCD6, 1)]; },
                     .Write = [&](UINT64, UINT8, UINT64 Value) { Bank[Chip().Peek(AccessSpace::Io, 0xCD6, 1)] = UINT8(Value); }});
  IoWrite8(0xCD6, 0x24);
  EXPECT_EQ(IoRead8(0xCD7), 0x5A);
  IoWrite8(0xCD6, 0x80);
  IoWrite8(0xCD7, 0x01);
  EXPECT_EQ(Bank[0x80], 0x01);

  // A status register that depends on another register; writes to it fall
  // through to memory because the handler has no Write.
  Chip().AddHandler(AccessSpace::Mmio, 0x2004, 4,
                    {.Read = [&](UINT64, UINT8) -> UINT64 { return Chip().Peek(AccessSpace::Mmio, 0x2000, 4) == 1 ? 0x80 : 0; }});
  EXPECT_EQ(MmioRead32(0x2004), 0u);
  MmioWrite32(0x2000, 1);
  EXPECT_EQ(MmioRead32(0x2004), 0x80u);
  MmioWrite32(0x2004, 7);
  EXPECT_EQ(Chip().Peek(AccessSpace::Mmio, 0x2004, 4), 7u);

  // The most recent handler for an address wins.
  Chip().AddHandler(AccessSpace::Mmio, 0x2000, 0x10, {.Read = [](UINT64 Address, UINT8) -> UINT64 { return Address; }});
  EXPECT_EQ(MmioRead32(0x2004), 0x2004u);
  EXPECT_EQ(MmioRead8(0x2010), 0u) << "past the range";
}

TEST_F(SimChipsetTest, TraceRecordsEveryAccessInOrderWhileEnabled) {
  MmioWrite32(0x100, 1);  // before tracing: not recorded
  Chip().EnableTrace();
  MmioWrite32(0xFED80300, 0x81);
  IoRead8(0x61);
  AsmWriteMsr64(0x10, 5);
  AsmReadTsc();
  AsmCpuidEx(7, 0, nullptr, nullptr, nullptr, nullptr);
  Chip().EnableTrace(false);
  MmioRead32(0xFED80300);

  const std::vector<TraceEntry> &Trace = Chip().Trace();
  ASSERT_EQ(Trace.size(), 5u);
  EXPECT_EQ(Trace[0].Kind, TraceKind::Mmio);
  EXPECT_EQ(Trace[0].Op, TraceOp::Write);
  EXPECT_EQ(Trace[0].Width, 4);
  EXPECT_EQ(Trace[0].Address, 0xFED80300u);
  EXPECT_EQ(Trace[0].Value, 0x81u);
  EXPECT_EQ(Trace[1].Kind, TraceKind::Io);
  EXPECT_EQ(Trace[1].Op, TraceOp::Read);
  EXPECT_EQ(Trace[2].Kind, TraceKind::Msr);
  EXPECT_EQ(Trace[3].Kind, TraceKind::Tsc);
  EXPECT_EQ(Trace[4].Kind, TraceKind::Cpuid);
  EXPECT_EQ(Trace[4].Address, 7u);
  EXPECT_EQ(HostEnv::FormatTraceEntry(Trace[0]), "MMIO W4 0x00000000FED80300 <- 0x00000081");
  EXPECT_EQ(HostEnv::FormatTraceEntry(Trace[1]), "IO R1 0x0000000000000061 -> 0x00");
  Chip().ClearTrace();
  EXPECT_TRUE(Chip().Trace().empty());
}

TEST_F(SimChipsetTest, CpuidAnswersConfiguredLeavesAndZerosOtherwise) {
  Chip().SetCpuid(0, {0x10, 0x68747541, 0x444D4163, 0x69746E65});
  Chip().SetCpuid(7, 0, {0, 1u << 18, 0, 0});
  UINT32 Eax = 1, Ebx = 1, Ecx = 1, Edx = 1;
  EXPECT_EQ(AsmCpuid(0, &Eax, &Ebx, &Ecx, &Edx), 0u);
  EXPECT_EQ((std::array<UINT32, 4>{Eax, Ebx, Ecx, Edx}), (std::array<UINT32, 4>{0x10, 0x68747541, 0x444D4163, 0x69746E65}));
  AsmCpuidEx(7, 0, nullptr, &Ebx, nullptr, nullptr);
  EXPECT_EQ(Ebx, 1u << 18);
  AsmCpuidEx(7, 1, &Eax, &Ebx, &Ecx, &Edx);
  EXPECT_EQ((std::array<UINT32, 4>{Eax, Ebx, Ecx, Edx}), (std::array<UINT32, 4>{0, 0, 0, 0}));
}

TEST_F(SimChipsetTest, CpuidWithSiAnswersConfiguredLeavesAndKeepsRsiOtherwise) {
  Chip().SetCpuidSi(0xBACCD00B, 1);
  Chip().EnableTrace();
  UINTN Si = 0;
  EXPECT_EQ(AsmCpuidWithSi(0xBACCD00B, 2, &Si), 0xBACCD00Bu);
  EXPECT_EQ(Si, 1u);
  Si = 0x55;
  AsmCpuidWithSi(0x40000000, 0, &Si);
  EXPECT_EQ(Si, 0x55u);
  ASSERT_EQ(Chip().Trace().size(), 2u);
  EXPECT_EQ(Chip().Trace()[0].Kind, TraceKind::Cpuid);
  EXPECT_EQ(Chip().Trace()[0].Address, 0xBACCD00Bu);
}

TEST_F(SimChipsetTest, TscAdvancesByAFixedStepPerRead) {
  Chip().SetTsc(100);
  Chip().SetTscStep(7);
  UINT64 First = AsmReadTsc();
  EXPECT_EQ(AsmReadTsc() - First, 7u);
  CpuPause();
  EXPECT_EQ(AsmReadTsc() - First, 14u);
}

TEST_F(SimChipsetTest, HardwareRandomNumbersAreOffUnlessSeeded) {
  UINT64 Value = 0;
  EXPECT_FALSE(AsmRdRand64(&Value));
  EXPECT_FALSE(AsmRdSeed64(&Value));
  Chip().EnableRdRand(42);
  std::vector<UINT64> First(3);
  for (UINT64 &Word : First) {
    ASSERT_TRUE(AsmRdRand64(&Word));
  }
  EXPECT_NE(First[0], First[1]);
  Chip().EnableRdRand(42);
  for (UINT64 Expected : First) {
    ASSERT_TRUE(AsmRdRand64(&Value));
    EXPECT_EQ(Value, Expected);
  }
  Chip().DisableRdRand();
  EXPECT_FALSE(AsmRdRand64(&Value));
  Chip().EnableRdSeed(1);
  EXPECT_TRUE(AsmRdSeed64(&Value));
}

TEST_F(SimChipsetTest, DeadLoopEndsTheProcessAfterFlushingOutput) {
  EXPECT_DEATH(
      {
        std::fputs("last words", stderr);
        CpuDeadLoop();
      },
      "last words");
}

TEST(HostEnvWithoutEnvironment, HardwareAccessAndSecondEnvironmentAreFatal) {
  EXPECT_DEATH(MmioRead32(0), "no host environment is alive");
  HostEnv::Environment First;
  EXPECT_DEATH(HostEnv::Environment Second, "a second Environment was constructed");
}

}  // namespace
