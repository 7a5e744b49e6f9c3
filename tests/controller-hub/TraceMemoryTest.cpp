// Trace memory programming after the Env task table: both PCD 807 branches
// and a failed allocation, as register accesses, PCD sets and messages.
#include "HubTest.h"

#include "HubTrace.h"
#include "XchTraceMemory.h"

using HostEnv::AccessSpace;
using HubSim::PcdType;
using HubSim::PcdValue;

namespace {

constexpr UINT64 kRegister = 0xFED803FC;

class TraceMemoryTest : public HubTest {
 protected:
  void TraceMemory(bool On) { Profile.Pcds[807] = PcdValue::Number(PcdType::Bool, On ? 1 : 0); }
  void RegisterHolds(UINT32 Value) { Profile.Registers.push_back({HubSim::RegisterSpace::Mmio, kRegister, 4, Value}); }
  std::vector<Access> RegisterAccesses() const {
    std::vector<Access> Result;
    for (const Access &Entry : Accesses()) {
      if (Entry.Kind == HostEnv::TraceKind::Mmio && Entry.Address == kRegister) Result.push_back(Entry);
    }
    return Result;
  }
  size_t SetsOf(UINTN Token) {
    size_t Count = 0;
    for (const HubSim::PcdSetRecord &Set : Platform().PcdSets()) Count += Set.Token == Token;
    return Count;
  }
};

TEST_F(TraceMemoryTest, OnTheWindowIsAllocatedAndProgrammed) {
  RegisterHolds(0x000ABCDE);  // bits 1-19 must survive
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(RegisterAccesses(), (std::vector<Access>{MmioR(4, kRegister, 0x000ABCDE), MmioW(4, kRegister, 0xF80ABCDF),
                                                     MmioR(4, kRegister, 0xF80ABCDF)}));
  ASSERT_EQ(SetsOf(806), 1u);
  EXPECT_EQ(Platform().Pcd(806)->Value, 0xF8000000u);
  for (const char *Line : {"ProgramXchiLa1MTraceMemoryEn is started!\n", "iLa1MTraceMemoryBase=0xf8000000\n",
                           "Tracememorybaseaddr & Tracememoryen is programmed!\n"}) {
    EXPECT_EQ(DebugLinesWith(Line), 1u) << Line;
  }
  // The window is 1 MB of non-PCI MMIO below 4G on socket 0, root bridge 0.
  ASSERT_EQ(Platform().GcdOperations().size(), 2u);
  EXPECT_EQ(Platform().GcdOperations()[0].Base, 0xF8000000u);
  EXPECT_EQ(Platform().GcdOperations()[0].Length, 0x100000u);
}

TEST_F(TraceMemoryTest, ItRunsAfterTheEnvTaskTableAndBeforeTheInitDoneProtocol) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  std::vector<HubSim::HubEvent> Events = Platform().Events();
  auto IndexOf = [&](const std::string &Name, const std::string &Key, const std::string &Value) {
    for (size_t Index = 0; Index < Events.size(); ++Index) {
      if (Events[Index].Name == Name && Events[Index].Field(Key).find(Value) != std::string::npos) return Index;
    }
    return Events.size();
  };
  size_t EnvExit = IndexOf("debug", "text", "XchInitEnv Exit");
  size_t Started = IndexOf("debug", "text", "ProgramXchiLa1MTraceMemoryEn is started");
  size_t Pcd806 = IndexOf("pcd-set", "token", "806");
  size_t Done = IndexOf("protocol-install", "protocol", "controller-hub-init-done");
  EXPECT_LT(EnvExit, Started);
  EXPECT_LT(Started, Pcd806);
  EXPECT_LT(Pcd806, Done);
  EXPECT_LT(Done, Events.size());
}

TEST_F(TraceMemoryTest, OffWithTheRegisterZeroNothingIsWritten) {
  TraceMemory(false);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(RegisterAccesses(), std::vector<Access>{MmioR(4, kRegister, 0)});
  EXPECT_EQ(SetsOf(806), 0u);
  EXPECT_EQ(DebugLinesWith("Tracememory"), 0u);
  EXPECT_TRUE(Platform().GcdOperations().empty());
}

TEST_F(TraceMemoryTest, OffAPreviousSettingIsCleared) {
  TraceMemory(false);
  RegisterHolds(0xF80ABCDF);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(RegisterAccesses(), (std::vector<Access>{MmioR(4, kRegister, 0xF80ABCDF), MmioR(4, kRegister, 0xF80ABCDF),
                                                     MmioW(4, kRegister, 0x000ABCDE), MmioR(4, kRegister, 0x000ABCDE)}));
  EXPECT_EQ(DebugLinesWith("Clear Tracememorybaseaddr and Tracememoryen!\n"), 1u);
  EXPECT_EQ(SetsOf(806), 0u);
}

TEST_F(TraceMemoryTest, AFailedAllocationLeavesRegisterAndPcdAndTheEntryGoesOn) {
  Profile.Fabric->Regions[0].NonPci = {0xF8000000, 0x80000, 0};  // half a megabyte
  RegisterHolds(0x00000100);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_TRUE(RegisterAccesses().empty());
  EXPECT_EQ(SetsOf(806), 0u);
  EXPECT_EQ(DebugLinesWith("[ProgramXchiLa1MTraceMemoryEn] Cannot allocate MMIO!!!\n"), 1u);
  EXPECT_EQ(DebugLinesWith("  No enough space, the biggest MMIO size is 0x80000\n"), 1u);
  for (const HubSim::DebugLine &Line : Platform().DebugLog()) {
    if (Line.Text.find("Cannot allocate") != std::string::npos) {
      EXPECT_EQ(Line.Level, 0x4000000000000u);
    }
  }
  // The rest of the entry: init-done, the last test point, Mid and Late.
  VOID *Interface = nullptr;
  EXPECT_EQ(BS()->LocateProtocol(&gXchInitDoneProtocolGuid, nullptr, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Platform().TestPoints().back(), 0xB000AF15u);
  InstallPciIo();
  ReadyToBoot();
  EXPECT_EQ(DebugLinesWith("  XchInitMid Enter... \n"), 1u);
  EXPECT_EQ(DebugLinesWith("  XchInitLate Enter... \n"), 1u);
}

TEST_F(TraceMemoryTest, WithoutTheManagerBufferTheEntryGoesOnToo) {
  Profile.Fabric.reset();
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_TRUE(RegisterAccesses().empty());
  EXPECT_EQ(SetsOf(806), 0u);
  EXPECT_TRUE(StoppedWith(Accesses(), 0xDFD00149));
  EXPECT_EQ(Platform().TestPoints().back(), 0xB000AF15u);
}

TEST_F(TraceMemoryTest, ASecondRunProgramsTheNextWindow) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ClearTrace();
  EXPECT_EQ(XchProgramTraceMemory(), EFI_SUCCESS);
  EXPECT_EQ(Platform().Pcd(806)->Value, 0xF8100000u);
  EXPECT_EQ(RegisterAccesses(), (std::vector<Access>{MmioR(4, kRegister, 0xF8000001), MmioW(4, kRegister, 0xF8100001),
                                                     MmioR(4, kRegister, 0xF8100001)}));
}

}  // namespace
