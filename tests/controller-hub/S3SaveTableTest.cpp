// The S3 save table library and the boot-script forwarder: where saves go
// in each state, the record layouts, the table checks, the close message and
// the forwarded records.
#include "HubTest.h"

#include <cstring>
#include <sstream>

#include "Protocol/QuorSmmBootScript.h"
#include "QuorBootScriptForwarder.h"
#include "QuorS3SaveLib.h"

using HubSim::PcdType;
using HubSim::PcdValue;

namespace {

template <typename T>
T At(const UINT8 *Bytes, size_t Offset) {
  T Value;
  std::memcpy(&Value, Bytes + Offset, sizeof(T));
  return Value;
}

class S3SaveTableTest : public HubTest {
 protected:
  UINT8 *Table() { return reinterpret_cast<UINT8 *>(QuorS3PrivateData()->Table); }
  UINT64 NextOffset() { return At<UINT64>(Table(), 40); }
  UINTN SaveMemWrite(UINT64 Address, UINT32 Value) { return QuorS3MemWrite(3, Address, &Value); }
  const HubSim::SmmMessage *MessageWith(const EFI_GUID &Guid) {
    const HubSim::SmmMessage *Found = nullptr;
    for (const HubSim::SmmMessage &Message : Platform().SmmMessages()) {
      if (Message.Header == Guid) {
        Found = &Message;
      }
    }
    return Found;
  }
};

TEST_F(S3SaveTableTest, TheConstructorSharesPrivateDataAndTableThroughPcds) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  QUOR_S3_PRIVATE_DATA *Private = QuorS3PrivateData();
  ASSERT_NE(Private, nullptr);
  EXPECT_EQ(Platform().Pcd(778)->Value, reinterpret_cast<UINT64>(Private));
  EXPECT_EQ(Platform().Pcd(779)->Value, Private->Table);
  EXPECT_EQ(Private->Locked, 0);
  EXPECT_EQ(Private->Closed, 0);
  // Header: "QS3T", version 1, zeros, size, next offset 48; trailer at size.
  EXPECT_EQ(At<UINT32>(Table(), 0), 0x54335351u);
  EXPECT_EQ(At<UINT32>(Table(), 4), 1u);
  for (size_t Offset = 8; Offset < 32; ++Offset) EXPECT_EQ(Table()[Offset], 0) << Offset;
  EXPECT_EQ(At<UINT64>(Table(), 32), 0x4000u);
  EXPECT_EQ(NextOffset(), 48u);
  EXPECT_EQ(At<UINT32>(Table(), 0x4000), 0x01558844u);
  EXPECT_EQ(QuorS3PciExpressBase(), 0xE0000000u);
  EXPECT_EQ(QuorS3PciExpressSize(), 0x10000000u);
}

class TableSizeTest : public S3SaveTableTest, public ::testing::WithParamInterface<std::pair<UINT64, UINT64>> {};

TEST_P(TableSizeTest, RequestsBelow0x4000GiveA0x4000ByteTable) {
  auto [Requested, Size] = GetParam();
  Profile.Pcds[780] = PcdValue::Number(PcdType::U64, Requested);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(At<UINT64>(Table(), 32), Size);
  EXPECT_EQ(At<UINT32>(Table(), Size), 0x01558844u);
  bool Found = false;
  for (const HostEnv::LiveBlock &Live : Env().Pool().LiveBlocks()) {
    if (Live.Address == Table()) {
      Found = true;
      EXPECT_EQ(Live.Size, Size + 4);
      EXPECT_EQ(Live.MemoryType, static_cast<UINT32>(EfiRuntimeServicesData));
    }
  }
  EXPECT_TRUE(Found);
  char Message[64];
  std::snprintf(Message, sizeof(Message), "QuorS3LibTableHeader buffer size = 0x%llx\n",
                static_cast<unsigned long long>(Size));
  EXPECT_EQ(DebugLinesWith(Message), 1u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TableSizeTest,
                         ::testing::Values(std::pair<UINT64, UINT64>{0x3FFF, 0x4000}, std::pair<UINT64, UINT64>{0, 0x4000},
                                           std::pair<UINT64, UINT64>{0x4000, 0x4000},
                                           std::pair<UINT64, UINT64>{0x5000, 0x5000}));

TEST_F(S3SaveTableTest, SavesBeforeTheLockGoToTheS3SaveStateProtocol) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  size_t Before = Platform().BootScript().size();
  EXPECT_EQ(SaveMemWrite(0xFED80100, 0x12345678), QUOR_S3_OK);
  ASSERT_EQ(Platform().BootScript().size(), Before + 1);
  const HubSim::BootScriptEntry &Entry = Platform().BootScript().back();
  EXPECT_EQ(Entry.OpCode, 2u);  // EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE
  EXPECT_EQ(Entry.Width, 2u);   // 32-bit
  EXPECT_EQ(Entry.Address, 0xFED80100u);
  EXPECT_EQ(Entry.Count, 1u);
  EXPECT_EQ(Entry.Values, std::vector<UINT64>{0x12345678});
  EXPECT_EQ(NextOffset(), 48u);
}

TEST_F(S3SaveTableTest, SavesAfterTheLockGoIntoTheTable) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  EXPECT_EQ(QuorS3PrivateData()->Locked, 1);
  size_t Before = Platform().BootScript().size();
  EXPECT_EQ(SaveMemWrite(0xFED80100, 0x12345678), QUOR_S3_OK);
  UINT16 Word = 0xBEEF;
  EXPECT_EQ(QuorS3MemWrite(2, 0xFED80200, &Word), QUOR_S3_OK);
  EXPECT_EQ(Platform().BootScript().size(), Before);
  // Opcode 3 records: u16 opcode, zeros, u32 width code - 1 at 4, u64 address
  // at 8, u64 value at 16.
  const UINT8 Expected[48] = {
      0x03, 0, 0, 0, 0x02, 0, 0, 0, 0x00, 0x01, 0xD8, 0xFE, 0, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0,
      0x03, 0, 0, 0, 0x01, 0, 0, 0, 0x00, 0x02, 0xD8, 0xFE, 0, 0, 0, 0, 0xEF, 0xBE, 0,    0,    0, 0, 0, 0};
  EXPECT_EQ(std::vector<UINT8>(Table() + 48, Table() + 96), std::vector<UINT8>(Expected, Expected + 48));
  EXPECT_EQ(NextOffset(), 96u);
}

TEST_F(S3SaveTableTest, AtReadyToBootTheTableIsClosedHandedToSmmAndFreed) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  SaveMemWrite(0xFED80100, 0xA5A5A5A5);
  QUOR_S3_PRIVATE_DATA *Private = QuorS3PrivateData();
  UINT8 *TableBefore = Table();
  ReadyToBoot();

  const HubSim::SmmMessage *Close = MessageWith(gQuorS3SaveTableSmmGuid);
  ASSERT_NE(Close, nullptr);
  // 40 bytes: header GUID, u64 length 16, u32 command 1, u32 0, u64 private data.
  ASSERT_EQ(Close->Buffer.size(), 40u);
  const UINT8 Guid[16] = {0xF0, 0x61, 0x40, 0x5C, 0x51, 0xD0, 0x43, 0x4F,
                          0xBC, 0x23, 0x5E, 0x5E, 0x89, 0xB3, 0xCE, 0xC0};
  EXPECT_EQ(std::vector<UINT8>(Close->Buffer.begin(), Close->Buffer.begin() + 16), std::vector<UINT8>(Guid, Guid + 16));
  EXPECT_EQ(At<UINT64>(Close->Buffer.data(), 16), 16u);
  EXPECT_EQ(At<UINT32>(Close->Buffer.data(), 24), 1u);
  EXPECT_EQ(At<UINT32>(Close->Buffer.data(), 28), 0u);
  EXPECT_EQ(At<UINT64>(Close->Buffer.data(), 32), reinterpret_cast<UINT64>(Private));
  // The message went through the buffer whose address is PCD 0x27001.
  EXPECT_NE(Platform().PcdEx(gQuorSmmCommBufferTokenSpaceGuid, 0x27001), nullptr);

  // SMM saw the record and the end marker after it.
  ASSERT_GE(Close->S3Table.size(), 74u);
  EXPECT_EQ(At<UINT16>(Close->S3Table.data(), 48), 3);
  EXPECT_EQ(At<UINT64>(Close->S3Table.data(), 64), 0xA5A5A5A5u);
  EXPECT_EQ(At<UINT16>(Close->S3Table.data(), 72), 0xFFFF);
  EXPECT_EQ(Private->Closed, 1);
  EXPECT_FALSE(Env().Pool().IsLivePool(TableBefore));
  std::vector<HubSim::HubEvent> Records = EventsNamed("s3-record");
  ASSERT_EQ(Records.size(), 1u);
  EXPECT_EQ(Records[0].Field("opcode"), "0x3");
  EXPECT_EQ(Records[0].Field("offset"), "0x30");
  EXPECT_EQ(Records[0].Field("bytes"), "0300000002000000" "0001D8FE00000000" "A5A5A5A500000000");
  EXPECT_EQ(Records[0].Field("handed-to-smm"), "true");
  EXPECT_EQ(DebugLinesWith("QuorS3SaveCloseTableCallBack\n"), 1u);

  // Afterwards saves are dropped with status 0, reaching nothing.
  size_t Script = Platform().BootScript().size();
  EXPECT_EQ(SaveMemWrite(0xFED80100, 1), QUOR_S3_OK);
  EXPECT_EQ(QuorS3SaveArgs(QUOR_S3_OP_IO_WRITE, 0, 0x80, 1), QUOR_S3_OK);
  EXPECT_EQ(Platform().BootScript().size(), Script);
}

TEST_F(S3SaveTableTest, ARecordThatWouldLeaveFewerThanTwoBytesIsRefused) {
  // 681 records of 24 bytes after the 48-byte header leave exactly the two
  // bytes of the end marker in a table of 48 + 681 * 24 + 2 bytes.
  Profile.Pcds[780] = PcdValue::Number(PcdType::U64, 48 + 681 * 24 + 2);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  for (int Record = 0; Record < 681; ++Record) {
    ASSERT_EQ(SaveMemWrite(0xFED80000 + 4 * Record, Record), QUOR_S3_OK) << Record;
  }
  EXPECT_EQ(NextOffset(), 48u + 681 * 24);
  EXPECT_EQ(DebugLinesWith("No enough space for s3 data save\n"), 0u);
  EXPECT_EQ(SaveMemWrite(0xFED81000, 1), QUOR_S3_ERROR);
  EXPECT_EQ(DebugLinesWith("No enough space for s3 data save\n"), 1u);
  EXPECT_EQ(NextOffset(), 48u + 681 * 24);
  ReadyToBoot();
  const HubSim::SmmMessage *Close = MessageWith(gQuorS3SaveTableSmmGuid);
  ASSERT_NE(Close, nullptr);
  EXPECT_EQ(At<UINT16>(Close->S3Table.data(), 48 + 681 * 24), 0xFFFF);
  EXPECT_EQ(At<UINT32>(Close->S3Table.data(), 48 + 681 * 24 + 2), 0x01558844u);
}

TEST_F(S3SaveTableTest, OneByteLessAndTheLastRecordDoesNotFit) {
  Profile.Pcds[780] = PcdValue::Number(PcdType::U64, 48 + 681 * 24 + 1);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  for (int Record = 0; Record < 680; ++Record) {
    ASSERT_EQ(SaveMemWrite(0xFED80000, Record), QUOR_S3_OK) << Record;
  }
  EXPECT_EQ(SaveMemWrite(0xFED80000, 680), QUOR_S3_ERROR);
}

// Record layouts as documented: opcode, length, then "offset:width" of each
// argument in order.
constexpr const char *kLayoutText =
    "0 24 4:4 8:8 16:8; 1 32 4:4 8:8 16:8 24:8; 2 40 4:4 8:8 16:8 24:8 32:8; 3 24 4:4 8:8 16:8; "
    "4 32 4:4 8:8 16:8 24:8; 5 40 4:4 8:8 16:8 24:8 32:8; 6 32 4:4 8:2 16:8 24:8; "
    "7 40 4:4 8:2 16:8 24:8 32:8; 8 48 4:4 8:2 16:8 24:8 32:8 40:8; 9 24 8:8 16:8";

TEST_F(S3SaveTableTest, EveryOpcodeProducesItsDocumentedRecord) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  std::stringstream Layouts(kLayoutText);
  std::string Layout;
  while (std::getline(Layouts, Layout, ';')) {
    std::stringstream Fields(Layout);
    UINT16 OpCode;
    size_t Length;
    Fields >> OpCode >> Length;
    std::vector<UINT64> Arguments;
    std::vector<UINT8> Expected(Length, 0);
    Expected[0] = static_cast<UINT8>(OpCode);
    std::string Field;
    while (Fields >> Field) {
      size_t Offset = std::stoul(Field.substr(0, Field.find(':')));
      size_t Width = std::stoul(Field.substr(Field.find(':') + 1));
      UINT64 Value = 0x1111111111111111ULL * (Arguments.size() + 1) + 0x0102030405060708ULL;
      Arguments.push_back(Value);
      std::memcpy(Expected.data() + Offset, &Value, Width);
    }
    SCOPED_TRACE("opcode " + std::to_string(OpCode));
    UINT64 Start = NextOffset();
    ASSERT_EQ(QuorS3Save(OpCode, Arguments.data(), Arguments.size()), QUOR_S3_OK);
    EXPECT_EQ(NextOffset(), Start + Length);
    EXPECT_EQ(std::vector<UINT8>(Table() + Start, Table() + Start + Length), Expected);
  }
}

TEST_F(S3SaveTableTest, AnUnknownOpcodeRecordsNothing) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  ClearTrace();
  EXPECT_EQ(QuorS3SaveArgs(10, 1, 2, 3), QUOR_S3_ERROR);
  EXPECT_EQ(NextOffset(), 48u);
  EXPECT_EQ(Accesses(), (std::vector<Access>{IoW(2, 0xE0, 0xDEAD), IoW(4, 0x80, 0xA0618),
                                             Access{HostEnv::TraceKind::Cpuid, HostEnv::TraceOp::Read, 4, 0xBACCD00B, 0}}));
}

TEST_F(S3SaveTableTest, ASecondModuleSharesThePrivateDataAndTheTable) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  QUOR_S3_PRIVATE_DATA *First = QuorS3PrivateData();
  size_t Sets = Platform().PcdSets().size();
  size_t Blocks = Env().Pool().LiveBlocks().size();

  // Another module linking the library starts with fresh globals.
  XchKryDxeResetModuleState();
  ASSERT_EQ(QuorS3SaveLibConstructor(), EFI_SUCCESS);
  EXPECT_EQ(QuorS3PrivateData(), First);
  EXPECT_EQ(Platform().PcdSets().size(), Sets);
  EXPECT_EQ(Env().Pool().LiveBlocks().size(), Blocks);

  ReadyToLock();  // seen by the first module's lock callback, shared by both
  EXPECT_EQ(SaveMemWrite(0xFED80400, 0x77), QUOR_S3_OK);
  EXPECT_EQ(NextOffset(), 72u);
  EXPECT_EQ(At<UINT64>(Table(), 56), 0xFED80400u);
}

class CorruptTableTest : public S3SaveTableTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(CorruptTableTest, ACorruptTableIsNeitherReadPastNorWritten) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  ASSERT_EQ(SaveMemWrite(0xFED80100, 1), QUOR_S3_OK);
  std::string Damage = GetParam();
  std::string Message = "QuorS3Lib table boundary check fail\n";
  if (Damage == "signature") {
    Table()[0] ^= 0xFF;
    Message = "QuorS3Lib table Signature check fail\n";
  } else if (Damage == "trailer") {
    Table()[0x4000] ^= 0xFF;
  } else if (Damage == "huge size") {
    UINT64 Size = 0x7FFFFFFFFFFF;
    std::memcpy(Table() + 32, &Size, 8);
  } else if (Damage == "smaller size") {
    UINT64 Size = 0x100;  // points the trailer check inside the table
    std::memcpy(Table() + 32, &Size, 8);
    UINT32 Trailer = 0x01558844;
    std::memcpy(Table() + 0x100, &Trailer, 4);
  } else if (Damage == "next past the end") {
    UINT64 Next = 0x10000;
    std::memcpy(Table() + 40, &Next, 8);
  } else if (Damage == "next inside the header") {
    UINT64 Next = 8;
    std::memcpy(Table() + 40, &Next, 8);
  }
  std::vector<UINT8> Before(Table(), Table() + 0x4004);
  EXPECT_EQ(SaveMemWrite(0xFED80200, 2), QUOR_S3_ERROR);
  EXPECT_EQ(DebugLinesWith(Message), 1u);
  ReadyToBoot();  // the close callback checks too: no end marker, no message
  EXPECT_EQ(std::vector<UINT8>(Table(), Table() + 0x4004), Before);
  for (const HubSim::SmmMessage &Sent : Platform().SmmMessages()) {
    EXPECT_FALSE(Sent.Header == gQuorS3SaveTableSmmGuid);
  }
  EXPECT_EQ(QuorS3PrivateData()->Closed, 0);
}

INSTANTIATE_TEST_SUITE_P(Damage, CorruptTableTest,
                         ::testing::Values("signature", "trailer", "huge size", "smaller size", "next past the end",
                                           "next inside the header"));

TEST_F(S3SaveTableTest, ThePortWriteIsForwardedToSmmOnceItIsReady) {
  Profile.Pcds[389] = PcdValue::Number(PcdType::U16, 0x72);
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  Platform().InstallSmmBootScriptReady();
  size_t Script = Platform().BootScript().size();
  ReadyToBoot();
  EXPECT_EQ(Platform().BootScript().size(), Script);  // not through the S3 save state protocol
  const HubSim::SmmMessage *Forwarded = MessageWith(gQuorBootScriptForwardSmmGuid);
  ASSERT_NE(Forwarded, nullptr);
  // 32 bytes: header GUID, u64 length 8, u64 address of the record buffer.
  ASSERT_EQ(Forwarded->Buffer.size(), 32u);
  EXPECT_EQ(At<UINT64>(Forwarded->Buffer.data(), 16), 8u);
  // Record: u16 opcode 0, u32 width 0 (8-bit) at 8, u64 port at 16, u64 count
  // 1 at 24, u64 address of the data buffer at 32; the data buffer holds the
  // one byte of the write.
  const UINT8 *Record = Forwarded->ForwardedRecord.data();
  EXPECT_EQ(At<UINT16>(Record, 0), 0);
  EXPECT_EQ(At<UINT32>(Record, 8), 0u);
  EXPECT_EQ(At<UINT64>(Record, 16), 0x72u);
  EXPECT_EQ(At<UINT64>(Record, 24), 1u);
  EXPECT_NE(At<UINT64>(Record, 32), 0u);
  EXPECT_EQ(Forwarded->ForwardedData, (std::vector<UINT8>{0xB4, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(S3SaveTableTest, WithoutSmmReadinessThePortWriteGoesToTheS3SaveStateProtocol) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  ReadyToBoot();
  EXPECT_EQ(MessageWith(gQuorBootScriptForwardSmmGuid), nullptr);
  const HubSim::BootScriptEntry &Entry = Platform().BootScript().back();
  EXPECT_EQ(Entry.OpCode, 0u);
  EXPECT_EQ(Entry.Width, 0u);
  EXPECT_EQ(Entry.Address, 0x80u);
  EXPECT_EQ(Entry.Values, std::vector<UINT64>{0xB4});
}

TEST_F(S3SaveTableTest, TheFinalRoutineSendsTheEndRecordAtTheNextReadyToBoot) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  Platform().InstallSmmBootScriptReady();
  ReadyToBoot();  // arms the forwarder: its final routine joins the group
  EXPECT_TRUE(QuorBootScriptForwarderReady());
  ReadyToBoot();
  EXPECT_FALSE(QuorBootScriptForwarderReady());
  const HubSim::SmmMessage *Final = MessageWith(gQuorBootScriptForwardSmmGuid);
  ASSERT_NE(Final, nullptr);
  const UINT8 *Record = Final->ForwardedRecord.data();
  EXPECT_EQ(At<UINT16>(Record, 0), 0xAA77);
  EXPECT_EQ(At<UINT32>(Record, 8), 0u);
  EXPECT_EQ(At<UINT64>(Record, 16), 0u);
  EXPECT_EQ(At<UINT64>(Record, 32), 0u);
}

TEST_F(S3SaveTableTest, AForwardedWriteCopiesOnlyTheBytesItsBufferHolds) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  ReadyToLock();
  Platform().InstallSmmBootScriptReady();
  ReadyToBoot();
  struct {
    UINT16 Value = 0xBEEF;
    UINT8  Neighbours[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  } Buffer;
  EXPECT_EQ(QuorBootScriptForwarderWrite(nullptr, EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE, EfiBootScriptWidthUint16,
                                         static_cast<UINT64>(0xFED80500), static_cast<UINTN>(1), &Buffer.Value),
            EFI_SUCCESS);
  const HubSim::SmmMessage *Forwarded = MessageWith(gQuorBootScriptForwardSmmGuid);
  ASSERT_NE(Forwarded, nullptr);
  EXPECT_EQ(At<UINT16>(Forwarded->ForwardedRecord.data(), 0), 2);
  EXPECT_EQ(At<UINT32>(Forwarded->ForwardedRecord.data(), 8), 1u);
  EXPECT_EQ(At<UINT64>(Forwarded->ForwardedRecord.data(), 16), 0xFED80500u);
  EXPECT_EQ(Forwarded->ForwardedData, (std::vector<UINT8>{0xEF, 0xBE, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
