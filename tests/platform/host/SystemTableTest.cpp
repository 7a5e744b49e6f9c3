// The system table and its headers, console capture, runtime services,
// configuration tables and the small boot services (CRC, memory, stall).
#include "TestGuids.h"

#include <TestSupport/HostEnvTest.h>

#include <cstring>

namespace {

using TestSupport::HostEnvTest;
using TestSupport::StatusIs;

template <typename Table>
bool ChecksumHolds(const Table &Target) {
  Table Copy     = Target;
  Copy.Hdr.CRC32 = 0;
  UINT32 Crc     = 0;
  HostEnv::Environment::Active().BootServices()->CalculateCrc32(&Copy, Copy.Hdr.HeaderSize, &Crc);
  return Crc == Target.Hdr.CRC32;
}

// Members from the end of the header to the end of the table, as pointers.
template <typename Table>
int NullMembers(const Table &Target, size_t SkipOffset = 0) {
  int Nulls = 0;
  for (size_t Offset = sizeof(EFI_TABLE_HEADER); Offset < sizeof(Table); Offset += sizeof(VOID *)) {
    VOID *Member;
    std::memcpy(&Member, reinterpret_cast<const UINT8 *>(&Target) + Offset, sizeof(Member));
    Nulls += (Member == nullptr && Offset != SkipOffset) ? 1 : 0;
  }
  return Nulls;
}

class SystemTableTest : public HostEnvTest {};

TEST_F(SystemTableTest, TablesCarrySignaturesRevisionAndValidChecksums) {
  EXPECT_EQ(ST()->Hdr.Signature, EFI_SYSTEM_TABLE_SIGNATURE);
  EXPECT_EQ(BS()->Hdr.Signature, EFI_BOOT_SERVICES_SIGNATURE);
  EXPECT_EQ(RT()->Hdr.Signature, EFI_RUNTIME_SERVICES_SIGNATURE);
  EXPECT_EQ(ST()->Hdr.Revision, HostEnv::kRevision2_70);
  EXPECT_EQ(BS()->Hdr.HeaderSize, sizeof(EFI_BOOT_SERVICES));
  EXPECT_TRUE(ChecksumHolds(*ST()));
  EXPECT_TRUE(ChecksumHolds(*BS()));
  EXPECT_TRUE(ChecksumHolds(*RT()));
  EXPECT_EQ(NullMembers(*BS(), offsetof(EFI_BOOT_SERVICES, Reserved)), 0);
  EXPECT_EQ(NullMembers(*RT()), 0);
  EXPECT_EQ(ST()->BootServices, BS());
  EXPECT_EQ(ST()->RuntimeServices, RT());
  EXPECT_EQ(HostEnv::Utf16ToUtf8(ST()->FirmwareVendor), "HostEnv");

  VOID *Interface = nullptr;
  ASSERT_TRUE(StatusIs(BS()->HandleProtocol(ST()->ConsoleOutHandle, &gEfiSimpleTextOutProtocolGuid, &Interface),
                       EFI_SUCCESS));
  EXPECT_EQ(Interface, ST()->ConOut);

  RestartEnvironment({.Revision = HostEnv::kRevision2_100});
  EXPECT_EQ(ST()->Hdr.Revision, (2u << 16) | 100u);
  EXPECT_EQ(BS()->Hdr.Revision, (2u << 16) | 100u);
  EXPECT_TRUE(ChecksumHolds(*ST()));
}

TEST_F(SystemTableTest, ConsolesCaptureUtf16AsUtf8) {
  ST()->ConOut->OutputString(ST()->ConOut, const_cast<CHAR16 *>(u"Caf\u00e9 \U0001F600\r\n"));
  ST()->ConOut->OutputString(ST()->ConOut, const_cast<CHAR16 *>(u"bad \xD800 surrogate"));
  EXPECT_EQ(Env().ConOut().Text(), "Caf\xC3\xA9 \xF0\x9F\x98\x80\r\nbad \xEF\xBF\xBD surrogate");
  EXPECT_EQ(StdErrText(), "");

  testing::internal::CaptureStderr();
  ST()->StdErr->OutputString(ST()->StdErr, const_cast<CHAR16 *>(u"ASSERT [X] f.c(1): y\n"));
  std::string Echoed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(StdErrText(), "ASSERT [X] f.c(1): y\n");
  EXPECT_EQ(Echoed, "ASSERT [X] f.c(1): y\n") << "standard error is echoed to the process";

  EXPECT_EQ(Env().ConOut().TakeText().size(), 29u);
  EXPECT_EQ(Env().ConOut().Text(), "");
  EXPECT_TRUE(StatusIs(ST()->ConOut->OutputString(ST()->ConOut, nullptr), EFI_INVALID_PARAMETER));
}

TEST_F(SystemTableTest, ClockIsSettableAndValidated) {
  EFI_TIME Time{};
  ASSERT_TRUE(StatusIs(RT()->GetTime(&Time, nullptr), EFI_SUCCESS));
  EXPECT_EQ(Time.Year, 2024);
  EXPECT_EQ(Time.Hour, 12);
  EFI_TIME_CAPABILITIES Capabilities{};
  ASSERT_TRUE(StatusIs(RT()->GetTime(&Time, &Capabilities), EFI_SUCCESS));
  EXPECT_EQ(Capabilities.Resolution, 1u);
  EXPECT_TRUE(StatusIs(RT()->GetTime(nullptr, nullptr), EFI_INVALID_PARAMETER));

  EFI_TIME Leap = {2024, 2, 29, 23, 59, 59, 0, 0, 0x07FF, 0, 0};
  ASSERT_TRUE(StatusIs(RT()->SetTime(&Leap), EFI_SUCCESS));
  RT()->GetTime(&Time, nullptr);
  EXPECT_EQ(Time.Day, 29);
  EFI_TIME NotLeap = {2023, 2, 29, 0, 0, 0, 0, 0, 0, 0, 0};
  EFI_TIME BadHour = {2023, 1, 1, 24, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(StatusIs(RT()->SetTime(&NotLeap), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(RT()->SetTime(&BadHour), EFI_INVALID_PARAMETER));

  Env().SetTime({2031, 12, 24, 1, 2, 3, 0, 0, 0, 0, 0});
  RT()->GetTime(&Time, nullptr);
  EXPECT_EQ(Time.Year, 2031);
}

TEST_F(SystemTableTest, ResetSystemIsRecordedAndReturns) {
  EXPECT_FALSE(Env().LastResetRequest().has_value());
  UINT8 Data[] = {'o', 'k', 0, 0};
  RT()->ResetSystem(EfiResetWarm, EFI_ABORTED, sizeof(Data), Data);
  auto Request = Env().LastResetRequest();
  ASSERT_TRUE(Request.has_value());
  EXPECT_EQ(Request->Type, EfiResetWarm);
  EXPECT_EQ(Request->Status, EFI_ABORTED);
  EXPECT_EQ(Request->Data, std::vector<UINT8>(Data, Data + 4));
}

TEST_F(SystemTableTest, ConfigurationTablesAreAddedReplacedAndDeleted) {
  int   First = 1, Second = 2;
  UINTN Before = ST()->NumberOfTableEntries;
  ASSERT_TRUE(StatusIs(BS()->InstallConfigurationTable(&gTestProtocolAGuid, &First), EFI_SUCCESS));
  ASSERT_EQ(ST()->NumberOfTableEntries, Before + 1);
  EXPECT_EQ(ST()->ConfigurationTable[Before].VendorGuid, gTestProtocolAGuid);
  EXPECT_EQ(ST()->ConfigurationTable[Before].VendorTable, &First);

  ASSERT_TRUE(StatusIs(BS()->InstallConfigurationTable(&gTestProtocolAGuid, &Second), EFI_SUCCESS));
  EXPECT_EQ(ST()->NumberOfTableEntries, Before + 1);
  EXPECT_EQ(ST()->ConfigurationTable[Before].VendorTable, &Second);
  EXPECT_TRUE(ChecksumHolds(*ST()));

  ASSERT_TRUE(StatusIs(BS()->InstallConfigurationTable(&gTestProtocolAGuid, nullptr), EFI_SUCCESS));
  EXPECT_EQ(ST()->NumberOfTableEntries, Before);
  EXPECT_TRUE(StatusIs(BS()->InstallConfigurationTable(&gTestProtocolAGuid, nullptr), EFI_NOT_FOUND));
  EXPECT_TRUE(StatusIs(BS()->InstallConfigurationTable(nullptr, &First), EFI_INVALID_PARAMETER));
}

TEST_F(SystemTableTest, CalculateCrc32MatchesTheStandardCheckValue) {
  char   Text[] = "123456789";
  UINT32 Crc    = 0;
  ASSERT_TRUE(StatusIs(BS()->CalculateCrc32(Text, 9, &Crc), EFI_SUCCESS));
  EXPECT_EQ(Crc, 0xCBF43926u);
  EXPECT_TRUE(StatusIs(BS()->CalculateCrc32(Text, 0, &Crc), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->CalculateCrc32(nullptr, 9, &Crc), EFI_INVALID_PARAMETER));
}

TEST_F(SystemTableTest, MemoryHelpersStallAndCounters) {
  char Buffer[] = "abcdef";
  BS()->CopyMem(Buffer + 1, Buffer, 4);  // overlapping, as memmove
  EXPECT_STREQ(Buffer, "aabcdf");
  BS()->SetMem(Buffer, 3, 'z');
  EXPECT_STREQ(Buffer, "zzzcdf");

  BS()->Stall(250);
  BS()->Stall(1000);
  EXPECT_EQ(Env().StalledMicroseconds(), 1250u);

  UINT64 First = 0, Second = 0;
  BS()->GetNextMonotonicCount(&First);
  BS()->GetNextMonotonicCount(&Second);
  EXPECT_EQ(Second, First + 1);
  EXPECT_TRUE(StatusIs(BS()->SetTimer(nullptr, TimerRelative, 10), EFI_UNSUPPORTED));
}

}  // namespace
