// CmnHookFuncXchKryDxeInitEnv: setup options of the IDS NV table update the
// serial-device PCDs 83, 769 and 929, and through them the data block.
#include "HubTest.h"

#include <cstring>

#include "XchIdsHookInitEnv.h"

using HubSim::IdsNvOption;
using HubSim::PcdType;
using HubSim::PcdValue;

namespace {

struct HookCase {
  const char              *Name;
  UINT32                   Flags;        // PCD 83 before
  UINT8                    UartOptions;  // PCD 769 before
  std::vector<IdsNvOption> Options;
  UINT32                   ExpectedFlags;
  UINT8                    ExpectedUartOptions;
  std::vector<UINT8>       ExpectedSerialBytes;  // PCD 929 after; before it is 01..08
};

void PrintTo(const HookCase &Case, std::ostream *Out) { *Out << Case.Name; }

const std::vector<UINT8> kSerialBefore = {1, 2, 3, 4, 5, 6, 7, 8};

const HookCase kCases[] = {
    {"mode 0 clears enable and alternate", 0x00200020, 0, {{0xD10A, 1, 0}}, 0x00000000, 0, kSerialBefore},
    {"mode 1 sets the alternate bit and an option bit", 0x00000040, 0, {{0xD10C, 1, 1}, {0xD10D, 1, 1}}, 0x00002000,
     0x02, kSerialBefore},
    {"mode 1 with option 0 clears the option bit", 0, 0xFF, {{0xD10E, 1, 1}, {0xD10F, 1, 0}}, 0x00004000, 0xFB,
     kSerialBefore},
    {"mode 1 with option 15 keeps it", 0, 0x08, {{0xD110, 1, 1}, {0xD111, 1, 15}}, 0x00008000, 0x08, kSerialBefore},
    {"mode 1 without an option keeps it", 0x20, 0x01, {{0xD10A, 1, 1}}, 0x00200000, 0x01, kSerialBefore},
    {"mode 2 sets enable and clears alternate", 0x00008000, 0, {{0xD110, 1, 2}}, 0x00000100, 0, kSerialBefore},
    {"other modes change nothing", 0x00200020, 0x01, {{0xD10A, 1, 3}, {0xD10B, 1, 0}}, 0x00200020, 0x01,
     kSerialBefore},
    {"single-bit options: set, clear, keep", 0x00011000, 0,
     {{0xD122, 1, 1}, {0xD124, 1, 0}, {0xD126, 1, 15}, {0xD128, 1, 7}, {0xD12A, 1, 0}, {0xD130, 2, 0x100}},
     0x24010800, 0, kSerialBefore},
    {"first byte group copies the bytes found", 0x80000000, 0,
     {{0xD131, 1, 1}, {0xD133, 1, 0x11}, {0xD134, 1, 0x22}, {0xD136, 1, 0x44}, {0xD132, 1, 0}}, 0x40000000, 0,
     {0x11, 0x22, 0x03, 0x44, 5, 6, 7, 8}},
    {"second byte group; 15 keeps the first", 0x40000000, 0,
     {{0xD131, 1, 15}, {0xD133, 1, 0x99}, {0xD132, 1, 2}, {0xD137, 1, 0xA1}, {0xD138, 1, 0xA2}, {0xD139, 1, 0xA3},
      {0xD13A, 2, 0x1A4}},
     0xC0000000, 0, {1, 2, 3, 4, 0xA1, 0xA2, 0xA3, 0xA4}},
    {"no options: everything written back as it was", 0x12345678, 0x5A, {}, 0x12345678, 0x5A, kSerialBefore},
};

class IdsHookInitEnvTest : public HubTest, public ::testing::WithParamInterface<HookCase> {
 protected:
  void SetUp() override {
    HubTest::SetUp();
    Profile.Hobs.clear();  // the hook runs only when the test calls it
    Profile.Present.IdsHookExtension = true;
  }
  void Configure(UINT32 Flags, UINT8 UartOptions, const std::vector<IdsNvOption> &Options) {
    Profile.Pcds[83] = PcdValue::Number(PcdType::U32, Flags);
    Profile.Pcds[769] = PcdValue::Number(PcdType::U8, UartOptions);
    Profile.Pcds[929] = PcdValue::Pointer(kSerialBefore);
    Profile.IdsNvTable = HubSim::IdsNvTableBytes(Options);
  }
  const HubSim::PcdSetRecord *LastSet(UINTN Token) {
    const HubSim::PcdSetRecord *Found = nullptr;
    for (const HubSim::PcdSetRecord &Set : Platform().PcdSets()) {
      if (Set.Token == Token) Found = &Set;
    }
    return Found;
  }
};

TEST_P(IdsHookInitEnvTest, OptionsUpdateTheSerialDevicePcds) {
  const HookCase &Case = GetParam();
  Configure(Case.Flags, Case.UartOptions, Case.Options);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  std::vector<UINT8> Block(1802, 0xEE);
  EXPECT_EQ(CmnHookFuncXchKryDxeInitEnv(0xD0000002, 0, Block.data()), 0u);

  EXPECT_EQ(Platform().Pcd(83)->Value, Case.ExpectedFlags);
  EXPECT_EQ(Platform().Pcd(769)->Value, Case.ExpectedUartOptions);
  EXPECT_EQ(Platform().Pcd(929)->Bytes, Case.ExpectedSerialBytes);
  // All three are written back, whatever changed; 929 with 8 bytes.
  ASSERT_NE(LastSet(83), nullptr);
  ASSERT_NE(LastSet(769), nullptr);
  ASSERT_NE(LastSet(929), nullptr);
  EXPECT_EQ(LastSet(929)->Bytes.size(), 8u);
  // The block carries the serial bytes it wrote back; nothing else changed.
  EXPECT_EQ(std::vector<UINT8>(Block.begin() + 0x25, Block.begin() + 0x2D), Case.ExpectedSerialBytes);
  EXPECT_EQ(std::count(Block.begin(), Block.end(), 0xEE), 1802 - 8);
  EXPECT_EQ(DebugLinesWith("CmnHookFuncXchKryDxeInitEnv Options Update\n"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, IdsHookInitEnvTest, ::testing::ValuesIn(kCases));

TEST_F(IdsHookInitEnvTest, WithoutTheExtensionNothingChangesButTheWriteBack) {
  Profile.Present.IdsHookExtension = false;
  Configure(0x800, 3, {{0xD122, 1, 0}});
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  std::vector<UINT8> Block(1802, 0);
  CmnHookFuncXchKryDxeInitEnv(0xD0000002, 0, Block.data());
  EXPECT_EQ(LastSet(83)->Value, 0x800u);
  EXPECT_EQ(LastSet(769)->Value, 3u);
  EXPECT_EQ(LastSet(929)->Bytes, kSerialBefore);
}

// The whole flow: the entry's data-block build runs the hook before it reads
// the PCDs, so the options arrive in the block.
TEST_F(IdsHookInitEnvTest, TheEntryCarriesTheOptionsIntoTheDataBlock) {
  Profile = HubSim::DefaultProfile();
  Profile.Present.IdsHookExtension = true;
  Profile.IdsNvTable = HubSim::IdsNvTableBytes({{0xD10A, 1, 1},
                                                {0xD10B, 1, 1},
                                                {0xD124, 1, 1},
                                                {0xD131, 1, 1},
                                                {0xD133, 1, 0x11},
                                                {0xD134, 1, 0x22},
                                                {0xD135, 1, 0x33},
                                                {0xD136, 1, 0x44}});
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  const std::vector<UINT8> &Built = Platform().DataBlockAsBuilt();
  ASSERT_EQ(Built.size(), 1802u);
  UINT32 Flags = 0;
  std::memcpy(&Flags, Built.data() + 0x04, 4);
  // Default flags 0x800; UART 0 alternate 0x200000; 0x1000 set; bytes group 0x40000000.
  EXPECT_EQ(Flags, 0x40201800u);
  EXPECT_EQ(Built[0x1A], 0x01);
  EXPECT_EQ(std::vector<UINT8>(Built.begin() + 0x25, Built.begin() + 0x2D),
            (std::vector<UINT8>{0x11, 0x22, 0x33, 0x44, 0, 0, 0, 0}));
}

}  // namespace
