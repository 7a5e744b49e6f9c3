// The controller-hub data block: the template, the hand-off block copy, the
// PCD fields, option groups, fix-ups, the legacy routing word and the fixed
// values, against tables typed from the documentation.
#include "HubTest.h"

#include <cstring>
#include <sstream>

#include "XchDataBlock.h"

using HubSim::PcdType;
using HubSim::PcdValue;

namespace {

// The template as documented: all zero except these bytes.
constexpr const char *kTemplateText =
    "0x03: F8; 0x19: E4; 0x1B: 03 04 03 04 0F 0A 0B 04 06 0E; 0x38: 0B 20 0B; 0x3C: 0E F0; 0x3F: C0 FE; "
    "0x42: 04 04 04 08 04 10 04 20 04 B0; 0x4E: FE 01 01 03; 0x5F: 01; 0x64: D8 FE; 0x6A: 01 01 03 03 03 03 01 01; "
    "0x7A: 01; 0x7C: 01 01; 0x7F: 01 01; 0x85: 03 03; 0x9D: 04; 0xB8: 28; 0xBA: 01 01 01 01 01 01 01; "
    "0xD9: 21 21 21 21 22 22 22 22 21 21 21 21 21 21 24 24 21 21; 0xEE: 01; 0xF7: 01; 0x128: 01 01; 0x149: 0F; "
    "0x152: 10 D6 FE; 0x167: 04; 0x16D: 01 03; 0x270: 23 01 01; 0x275: D0 FE; 0x342: 01; 0x349: E8 03; "
    "0x34D: FF 7F; 0x363: 01; 0x368: D7; 0x373: 01; 0x412: 01 01 01 01; 0x434: 01 01";

std::vector<UINT8> DocumentedTemplate() {
  std::vector<UINT8> Block(1802, 0);
  std::stringstream Runs(kTemplateText);
  std::string Run;
  while (std::getline(Runs, Run, ';')) {
    std::stringstream Fields(Run);
    std::string Offset;
    Fields >> Offset;
    size_t At = std::stoul(Offset, nullptr, 16);
    std::string Byte;
    while (Fields >> Byte) {
      Block.at(At++) = static_cast<UINT8>(std::stoul(Byte, nullptr, 16));
    }
  }
  return Block;
}

// The PCD fields as documented: token, offset, kind.
constexpr const char *kPcdTableText =
    "771 0x71 8; 770 0x6A 8; 787 0x6B 8; 772 0x7D B; 833 0x7F B; 832 0x80 B; 849 0x81 B; 851 0x82 B; "
    "852 0x83 8; 850 0x84 B; 836 0x87 B; 837 0x88 B; 937 0x7B B; 821 0x271 B; 822 0x272 B; 299 0x50 B; "
    "256 0x353 B; 609 0x51 8->32; 842 0x55 8; 829 0x61 B; 221 0x67 B; 804 0x68 B; 906 0x66 B; 259 0x57 P; "
    "291 0xB2 B; 843 0x278 8; 794 0x279 8; 828 0x342 B; 223 0x35E B; 113 0x35F 32; 289 0x15D 8->32; "
    "213 0x373 8; 800 0x374 8; 798 0x375 B; 796 0x376 B; 797 0x377 B; 801 0x378 B; 795 0x379 B; 799 0x37A B; "
    "848 0x412 B; 847 0x413 B; 853 0x40B B; 854 0x40C B; 867 0x40D B";

struct DocPcdRow {
  UINTN       Token;
  size_t      Offset;
  std::string Kind;
};

std::vector<DocPcdRow> DocumentedPcdRows() {
  std::vector<DocPcdRow> Rows;
  std::stringstream Text(kPcdTableText);
  std::string Row;
  while (std::getline(Text, Row, ';')) {
    std::stringstream Fields(Row);
    DocPcdRow Parsed;
    std::string Offset;
    Fields >> Parsed.Token >> Offset >> Parsed.Kind;
    Parsed.Offset = std::stoul(Offset, nullptr, 16);
    Rows.push_back(Parsed);
  }
  return Rows;
}

template <typename T>
T At(const std::vector<UINT8> &Block, size_t Offset) {
  T Value;
  std::memcpy(&Value, Block.data() + Offset, sizeof(T));
  return Value;
}

class DataBlockTest : public HubTest {
 protected:
  // The controller-hub hand-off block of the profile.
  HubSim::GuidHob &HubHob() {
    for (HubSim::GuidHob &Hob : Profile.Hobs) {
      if (Hob.Name == HubSim::kControllerHubHobGuid) {
        return Hob;
      }
    }
    Profile.Hobs.push_back({HubSim::kControllerHubHobGuid, std::vector<UINT8>(666, 0), std::nullopt});
    return Profile.Hobs.back();
  }
  void RemoveHubHob() {
    std::erase_if(Profile.Hobs, [](const HubSim::GuidHob &Hob) { return Hob.Name == HubSim::kControllerHubHobGuid; });
  }
  std::vector<UINT8> Built() {
    EXPECT_EQ(RunEntry(), EFI_SUCCESS);
    return Platform().DataBlockAsBuilt();
  }
};

TEST_F(DataBlockTest, WithoutTheHandOffBlockTheBlockIsTheTemplateByteForByte) {
  RemoveHubHob();
  Profile.Pcds[771] = PcdValue::Number(PcdType::U8, 0x55);  // would land at 0x71 if PCDs were applied
  Profile.Pcds[83] = PcdValue::Number(PcdType::U32, 0xFFFFFFFF);
  std::vector<UINT8> Block = Built();
  ASSERT_EQ(Block.size(), 1802u);
  EXPECT_EQ(Block, DocumentedTemplate());
  EXPECT_TRUE(Platform().IdsHookCalls().empty());
}

TEST_F(DataBlockTest, TheBuiltInTemplateMatchesTheDocumentation) {
  std::vector<UINT8> Expected = DocumentedTemplate();
  EXPECT_EQ(std::vector<UINT8>(XchDataBlockTemplate.Bytes, XchDataBlockTemplate.Bytes + 1802), Expected);
}

TEST_F(DataBlockTest, HandOffBlockBytesLandAtTheirOffsets) {
  HubSim::GuidHob &Hob = HubHob();
  for (size_t Index = 0; Index < Hob.Data.size(); ++Index) {
    Hob.Data[Index] = static_cast<UINT8>(Index * 13 + 1);
  }
  std::vector<UINT8> Block = Built();
  // 662 bytes from HOB start + 0x1C (data offset 4) to block 0x45C.
  for (size_t Index = 0; Index < 662; ++Index) {
    ASSERT_EQ(Block[0x45C + Index], Hob.Data[4 + Index]) << "block offset " << 0x45C + Index;
  }
  // Single bytes: HOB start offset -> block offset (data offset = HOB offset - 24).
  const std::pair<size_t, size_t> Singles[] = {{0x20, 0xC1}, {0x21, 0xC2}, {0x22, 0x123}, {0x23, 0x124},
                                               {0x25, 0x125}, {0x2C, 0x122}, {0x27, 0x126}, {0x28, 0x127},
                                               {0x29, 0x346}};
  for (auto [HobOffset, BlockOffset] : Singles) {
    EXPECT_EQ(Block[BlockOffset], Hob.Data[HobOffset - 24]) << "HOB offset " << HobOffset;
  }
}

TEST_F(DataBlockTest, EveryPcdOfTheTableLandsAtItsOffsetWithItsKind) {
  std::vector<DocPcdRow> Rows = DocumentedPcdRows();
  ASSERT_EQ(Rows.size(), 44u);
  UINT8 Next = 0x21;
  for (const DocPcdRow &Row : Rows) {
    if (Row.Kind == "B") {
      Profile.Pcds[Row.Token] = PcdValue::Number(PcdType::Bool, 1);
    } else if (Row.Kind == "8" || Row.Kind == "8->32") {
      Profile.Pcds[Row.Token] = PcdValue::Number(PcdType::U8, Next++);
    } else if (Row.Kind == "32") {
      Profile.Pcds[Row.Token] = PcdValue::Number(PcdType::U32, 0x12345678);
    } else {
      Profile.Pcds[Row.Token] = PcdValue::Pointer({1, 2, 3, 4});
    }
  }
  Profile.Pcds[585] = PcdValue::Number(PcdType::U8, 0);
  std::vector<UINT8> Block = Built();
  // The driver read each token with the documented Get8/Get32/GetBool/GetPtr.
  for (const HubSim::PcdMismatch &Mismatch : Platform().PcdMismatches()) {
    ADD_FAILURE() << "token " << Mismatch.Token << " read as another kind than documented";
  }
  for (const DocPcdRow &Row : Rows) {
    const PcdValue &Value = *Platform().Pcd(Row.Token);
    SCOPED_TRACE("token " + std::to_string(Row.Token));
    if (Row.Kind == "B") {
      EXPECT_EQ(Block[Row.Offset], 1);
    } else if (Row.Kind == "8") {
      EXPECT_EQ(Block[Row.Offset], Value.Value);
    } else if (Row.Kind == "8->32") {
      EXPECT_EQ(At<UINT32>(Block, Row.Offset), Value.Value);
    } else if (Row.Kind == "32") {
      EXPECT_EQ(At<UINT32>(Block, Row.Offset), 0x12345678u);
    } else {
      EXPECT_EQ(At<UINT64>(Block, Row.Offset), reinterpret_cast<UINT64>(Value.Bytes.data()));
    }
  }
}

TEST_F(DataBlockTest, FalseBooleansClearTemplateBytes) {
  for (const DocPcdRow &Row : DocumentedPcdRows()) {
    if (Row.Kind == "B") {
      Profile.Pcds[Row.Token] = PcdValue::Number(PcdType::Bool, 0);
    }
  }
  std::vector<UINT8> Block = Built();
  // 833 -> 0x7F, 832 -> 0x80, 828 -> 0x342, 848 -> 0x412 are 1 in the template.
  EXPECT_EQ(Block[0x7F], 0);
  EXPECT_EQ(Block[0x80], 0);
  EXPECT_EQ(Block[0x342], 0);
  EXPECT_EQ(Block[0x412], 0);
}

TEST_F(DataBlockTest, Pcd585OverridesThe609FieldWithOne) {
  Profile.Pcds[609] = PcdValue::Number(PcdType::U8, 0x77);
  Profile.Pcds[585] = PcdValue::Number(PcdType::U8, 3);
  EXPECT_EQ(At<UINT32>(Built(), 0x51), 1u);
}

TEST_F(DataBlockTest, FixedValuesAreStored) {
  Profile.Pcds[113] = PcdValue::Number(PcdType::U32, 0xCAFEF00D);
  std::vector<UINT8> Block = Built();
  EXPECT_EQ(At<UINT32>(Block, 0x00), 0xE0000000u);
  EXPECT_EQ(At<UINT32>(Block, 0x3D), 0xFEB00000u);
  EXPECT_EQ(At<UINT32>(Block, 0x273), 0xFED00000u);
  EXPECT_EQ(Block[0x368], 0xBB);
  EXPECT_EQ(At<UINT32>(Block, 0x35F), 0xCAFEF00Du);
  const std::vector<UINT8> Fixed = {0x03, 0x0E, 0x05, 0x0F, 0x10, 0x0A, 0x0B, 0x04, 0x06, 0x16};
  EXPECT_EQ(std::vector<UINT8>(Block.begin() + 0x1B, Block.begin() + 0x25), Fixed);
}

TEST_F(DataBlockTest, TailFieldsComeFromTheirPcds) {
  Profile.Pcds[292] = PcdValue::Number(PcdType::U32, 0x1022ABCD);
  Profile.Pcds[242] = PcdValue::Number(PcdType::U32, 0x2033BCDE);
  Profile.Pcds[290] = PcdValue::Number(PcdType::U32, 0x3044CDEF);
  Profile.Pcds[331] = PcdValue::Number(PcdType::U32, 0x4055DEF0);
  Profile.Pcds[769] = PcdValue::Number(PcdType::U8, 0x5A);
  Profile.Pcds[929] = PcdValue::Pointer({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88});
  Profile.Pcds[82] = PcdValue::Number(PcdType::U32, 0x00C0FFEE);
  std::vector<UINT8> Block = Built();
  EXPECT_EQ(At<UINT32>(Block, 0xF3), 0x1022ABCDu);
  EXPECT_EQ(At<UINT32>(Block, 0x11A), 0x2033BCDEu);
  EXPECT_EQ(At<UINT32>(Block, 0x163), 0x3044CDEFu);
  EXPECT_EQ(At<UINT32>(Block, 0xD0), 0x4055DEF0u);
  EXPECT_EQ(Block[0x1A], 0x5A);
  EXPECT_EQ(At<UINT32>(Block, 0x25), 0x44332211u);
  EXPECT_EQ(At<UINT32>(Block, 0x29), 0x88776655u);
  EXPECT_EQ(At<UINT32>(Block, 0x08), 0x00C0FFEEu);
}

TEST_F(DataBlockTest, OptionGroupsCopyTheirPointerAndKeepTheFlagByte) {
  std::vector<UINT8> Group(28);
  for (size_t Index = 0; Index < Group.size(); ++Index) {
    Group[Index] = static_cast<UINT8>(0x40 + Index);
  }
  Profile.Pcds[855] = PcdValue::Number(PcdType::Bool, 1);
  Profile.Pcds[856] = PcdValue::Number(PcdType::U64, 0x1122334455667788);
  Profile.Pcds[857] = PcdValue::Pointer(Group);
  Profile.Pcds[858] = PcdValue::Number(PcdType::Bool, 0);  // off: nothing copied, the value still stored
  Profile.Pcds[859] = PcdValue::Number(PcdType::U64, 0xAABBCCDD00112233);
  Profile.Pcds[860] = PcdValue::Pointer(Group);
  std::vector<UINT8> Block = Built();

  EXPECT_EQ(Block[0x37B], 1);
  EXPECT_EQ(std::vector<UINT8>(Block.begin() + 0x37C, Block.begin() + 0x37B + 28),
            std::vector<UINT8>(Group.begin() + 1, Group.end()));
  EXPECT_EQ(At<UINT32>(Block, 0x3EB), 0x55667788u);
  EXPECT_EQ(At<UINT32>(Block, 0x3EF), 0x11223344u);

  EXPECT_EQ(Block[0x397], 0);
  EXPECT_EQ(std::vector<UINT8>(Block.begin() + 0x398, Block.begin() + 0x397 + 28), std::vector<UINT8>(27, 0));
  EXPECT_EQ(At<UINT32>(Block, 0x3F3), 0x00112233u);
  EXPECT_EQ(At<UINT32>(Block, 0x3F7), 0xAABBCCDDu);
}

TEST_F(DataBlockTest, AShortOptionGroupPointerCopiesOnlyWhatItHolds) {
  Profile.Pcds[861] = PcdValue::Number(PcdType::Bool, 1);
  Profile.Pcds[863] = PcdValue::Pointer({0, 0x91, 0x92, 0x93});  // 4 bytes instead of 28
  std::vector<UINT8> Block = Built();
  EXPECT_EQ(Block[0x3B3], 1);
  EXPECT_EQ(Block[0x3B4], 0x91);
  EXPECT_EQ(Block[0x3B6], 0x93);
  EXPECT_EQ(std::vector<UINT8>(Block.begin() + 0x3B7, Block.begin() + 0x3B3 + 28), std::vector<UINT8>(24, 0));
}

TEST_F(DataBlockTest, DeviceFixupsSetTheEnableFlagAndClearTheDisableFlag) {
  // Present bits of the u16 at 0x2D -> device flag, as documented.
  const std::pair<UINT16, UINT32> Rows[] = {{0x001, 0x800},   {0x100, 0x800},   {0x002, 0x1000},   {0x200, 0x1000},
                                            {0x004, 0x10000}, {0x400, 0x10000}, {0x008, 0x4000000}, {0x800, 0x4000000},
                                            {0x010, 0x100000}};
  for (auto [Present, Flag] : Rows) {
    UINT8 Block[1802] = {};
    std::memcpy(Block + 0x2D, &Present, 2);
    UINT32 Disable = 0xFFFFFFFF;
    std::memcpy(Block + 0x08, &Disable, 4);
    XchApplyDeviceFixups(Block);
    UINT32 Enable;
    std::memcpy(&Enable, Block + 0x04, 4);
    std::memcpy(&Disable, Block + 0x08, 4);
    EXPECT_EQ(Enable, Flag) << "present bits " << Present;
    EXPECT_EQ(Disable, ~Flag) << "present bits " << Present;
  }
  UINT8 Block[1802] = {};
  XchApplyDeviceFixups(Block);
  EXPECT_EQ(Block[0x04] | Block[0x05] | Block[0x06] | Block[0x07], 0);
}

TEST(LegacyRoutingWord, KnownAnswers) {
  // (1 << (v - 1)) + (i << (2v + 6)) over the UARTs with a range, 16 bits kept.
  const UINT8 UartZeroRange4[4] = {4, 0, 0, 0};
  EXPECT_EQ(XchLegacyRoutingWord(UartZeroRange4), 0x0008);
  const UINT8 TwoUarts[4] = {1, 2, 0, 0};
  EXPECT_EQ(XchLegacyRoutingWord(TwoUarts), 0x0001 | 0x0402);
  const UINT8 UartThreeRange3[4] = {0, 0, 0, 3};
  EXPECT_EQ(XchLegacyRoutingWord(UartThreeRange3), 0x0004 | 0x3000);
  const UINT8 HighRanges[4] = {0, 0, 0, 8};
  EXPECT_EQ(XchLegacyRoutingWord(HighRanges), 0x0080);  // 3 << 22 falls off the word
  const UINT8 Absurd[4] = {255, 200, 65, 64};
  EXPECT_EQ(XchLegacyRoutingWord(Absurd), 0x0000);
  const UINT8 None[4] = {};
  EXPECT_EQ(XchLegacyRoutingWord(None), 0x0000);
}

TEST_F(DataBlockTest, RoutingWordAndForcedUartFromThePcds) {
  Profile.Pcds[83] = PcdValue::Number(PcdType::U32, 0x1800);  // UARTs 0 and 1
  Profile.Pcds[335] = PcdValue::Number(PcdType::U8, 1);
  Profile.Pcds[336] = PcdValue::Number(PcdType::U8, 2);
  Profile.Pcds[337] = PcdValue::Number(PcdType::U8, 3);  // UART 2 is off: its range is not read
  Profile.Pcds[577] = PcdValue::Number(PcdType::Bool, 1);
  Profile.Pcds[578] = PcdValue::Number(PcdType::U8, 2);
  std::vector<UINT8> Block = Built();
  EXPECT_EQ(At<UINT16>(Block, 0x18), 0x0403);
  EXPECT_EQ(At<UINT32>(Block, 0x04), 0x11800u);
  EXPECT_EQ(At<UINT16>(Block, 0x0C), 0x0004);
}

TEST_F(DataBlockTest, AHandOffBlockShorterThanTheCopyGivesOnlyItsOwnBytes) {
  HubSim::GuidHob &Hob = HubHob();
  Hob.Data.assign(96, 0x5C);  // HOB length 24 + 96 = 120: 92 bytes from offset 0x1C
  Profile.Hobs.push_back({{0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}}, std::vector<UINT8>(800, 0xEE),
                          std::nullopt});
  std::vector<UINT8> Block = Built();
  std::vector<UINT8> Template = DocumentedTemplate();
  for (size_t Index = 0x45C; Index < 0x45C + 662; ++Index) {
    UINT8 Expected = Index < 0x45C + 92 ? 0x5C : Template[Index];
    ASSERT_EQ(Block[Index], Expected) << "block offset " << Index;
  }
  EXPECT_EQ(Block[0xC1], 0x5C);
  EXPECT_EQ(Block[0x346], 0x5C);
}

TEST_F(DataBlockTest, SingleBytesBeyondAVeryShortHandOffBlockAreNotRead) {
  HubSim::GuidHob &Hob = HubHob();
  Hob.Data.assign(8, 0x5C);  // HOB length 32: ends right before HOB offset 0x20
  Profile.Hobs.push_back({{0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}}, std::vector<UINT8>(64, 0xEE),
                          std::nullopt});
  std::vector<UINT8> Block = Built();
  for (size_t Offset : {0xC1, 0xC2, 0x123, 0x124, 0x125, 0x122, 0x126, 0x127, 0x346}) {
    EXPECT_EQ(Block[Offset], DocumentedTemplate()[Offset]) << "block offset " << Offset;
  }
  EXPECT_EQ(Block[0x45C], 0x5C);
  EXPECT_EQ(Block[0x45C + 4], 0);
}

TEST_F(DataBlockTest, AHandOffListWithAZeroLengthHobIsNotFollowed) {
  // A damaged HOB ahead of the controller-hub HOB: the walk stops there, the
  // block stays the template, and the driver goes on.
  HubSim::GuidHob Damaged{{0x12345678, 0x1, 0x2, {3, 3, 3, 3, 3, 3, 3, 3}}, std::vector<UINT8>(8, 0), UINT16{0}};
  Profile.Hobs.insert(Profile.Hobs.begin(), Damaged);
  EXPECT_EQ(Built(), DocumentedTemplate());
}

}  // namespace
