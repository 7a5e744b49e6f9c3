#include "QuorS3SaveLib.h"

#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiLib.h>
#include <Platform/Hardware.h>
#include <uefi/Protocol/DxeSmmReadyToLock.h>
#include <uefi/Protocol/SmmCommunication.h>

#include "Protocol/QuorSmmBootScript.h"
#include "XchBytes.h"
#include "XchDebug.h"
#include "XchPcd.h"

namespace {
// Assertion codes.
constexpr UINT32 AssertNoPcieMsr = 0xA0802;
constexpr UINT32 AssertPrivateDataAllocation = 0xA0808;
constexpr UINT32 AssertLockEvent = 0xA0831;
constexpr UINT32 AssertCloseEvent = 0xA0848;
constexpr UINT32 AssertBadOpCode = 0xA0618;
constexpr UINT32 AssertSignature = 0xA0630;
constexpr UINT32 AssertBoundary = 0xA0635;
constexpr UINT32 AssertNoTable = 0xA0660;
constexpr UINT32 AssertNoSpace = 0xA0677;
constexpr UINT32 AssertNoMessageBuffer = 0xA0752;
constexpr UINT32 AssertNoSmmCommunication = 0xA0766;
constexpr UINT32 AssertMemWriteValue = 0xA0501;
constexpr UINT32 AssertMemWriteWidth = 0xA0530;
constexpr UINT32 AssertLockEventClose = 0xA0896;
constexpr UINT32 AssertCloseEventClose = 0xA0901;

constexpr UINT32 PcieConfigMsr = 0xC0010058;
constexpr UINT64 PcieConfigEnable = 1;
constexpr UINT64 PcieBaseMask = 0xFFFFFFFFFFF00000ULL;

constexpr UINTN RecordScratchSize = 96;
constexpr UINT64 RecordsStart = sizeof(QUOR_S3_TABLE_HEADER);
constexpr UINTN TrailerSize = sizeof(UINT32);
constexpr UINTN EndMarkerSize = sizeof(UINT16);

// Close message: SMM communication header, then {command 1, 0, private data}.
constexpr UINTN CloseMessageSize = 40;
constexpr UINT64 CloseMessageLength = 16;
constexpr UINT32 CloseCommand = 1;

constinit EFI_S3_SAVE_STATE_PROTOCOL *mS3SaveState = nullptr;
constinit QUOR_S3_PRIVATE_DATA *mPrivate = nullptr;
constinit EFI_EVENT mLockEvent = nullptr;
constinit EFI_EVENT mCloseEvent = nullptr;
constinit VOID *mLockRegistration = nullptr;
constinit UINT64 mPcieBase = 0;
constinit UINT64 mPcieSize = 0;
// The table whose size this module vouches for: the one it allocated, or the
// one it first checked. A size field that later disagrees is corruption.
constinit UINT64 mKnownTable = 0;
constinit UINT64 mKnownTableSize = 0;

UINT8 *TableBytes() { return reinterpret_cast<UINT8 *>(static_cast<UINTN>(mPrivate->Table)); }

const QUOR_S3_RECORD_LAYOUT *FindLayout(UINT16 OpCode) {
  for (const QUOR_S3_RECORD_LAYOUT &Layout : QuorS3RecordLayouts) {
    if (Layout.OpCode == OpCode) {
      return &Layout;
    }
  }
  return nullptr;
}

VOID PutLittleEndian(UINT8 *Record, const QUOR_S3_RECORD_FIELD &Field, UINT64 Value) {
  for (UINT8 Byte = 0; Byte < Field.Width; ++Byte) {
    Record[Field.Offset + Byte] = static_cast<UINT8>(Value >> (8 * Byte));
  }
}

UINTN BoundaryFail() {
  XchAssertStop(AssertBoundary);
  XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3Lib table boundary check fail\n");
  return QUOR_S3_ERROR;
}

// Size and next offset of the table must describe memory the table owns:
// the size as this module knows it, room for the header and the end marker,
// and a next offset between the header and the end-marker slot.
bool TableBoundsSound(UINT64 Size, UINT64 NextOffset) {
  if (mKnownTable != mPrivate->Table) {
    mKnownTable = mPrivate->Table;
    mKnownTableSize = Size;
  }
  if (Size != mKnownTableSize || Size < RecordsStart + EndMarkerSize) {
    return false;
  }
  return NextOffset >= RecordsStart && NextOffset <= Size - EndMarkerSize;
}

VOID EFIAPI QuorS3LockCallback(EFI_EVENT Event, VOID *) {
  VOID *Interface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiDxeSmmReadyToLockProtocolGuid, nullptr, &Interface))) {
    return;
  }
  gBS->CloseEvent(Event);
  mLockEvent = nullptr;
  if (mPrivate != nullptr) {
    mPrivate->Locked = 1;
  }
}

VOID FillCloseMessage(UINT8 *Message) {
  ZeroMem(Message, CloseMessageSize);
  CopyMem(Message, &gQuorS3SaveTableSmmGuid, sizeof(EFI_GUID));
  XchWriteField<UINT64>(Message, 16, CloseMessageLength);
  XchWriteField<UINT32>(Message, 24, CloseCommand);
  XchWriteField<UINT32>(Message, 28, 0);
  XchWriteField<UINT64>(Message, 32, reinterpret_cast<UINTN>(mPrivate));
}

VOID EFIAPI QuorS3CloseTableCallback(EFI_EVENT Event, VOID *) {
  gBS->CloseEvent(Event);
  mCloseEvent = nullptr;
  XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3SaveCloseTableCallBack\n");
  if (mPrivate == nullptr || mPrivate->Table == 0) {
    XchDebugPrint(XCH_DBG_TEST_POINT, "mQuorS3LibPrivateData is NULL\n");
    return;
  }
  if (QuorS3TableCheck() != QUOR_S3_OK) {
    return;
  }
  UINT8 *Table = TableBytes();
  XchWriteField<UINT16>(Table, XchReadField<UINT64>(Table, offsetof(QUOR_S3_TABLE_HEADER, NextOffset)),
                        QUOR_S3_END_MARKER);

  UINT64 MessageAddress = XchPcdGet64Ex(&gQuorSmmCommBufferTokenSpaceGuid, QUOR_S3_PCD_SMM_BUFFER);
  if (MessageAddress == 0) {
    XchAssertStop(AssertNoMessageBuffer);
    return;
  }
  UINT8 *Message = reinterpret_cast<UINT8 *>(static_cast<UINTN>(MessageAddress));
  FillCloseMessage(Message);

  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gEfiSmmCommunicationProtocolGuid, nullptr, &Interface);
  if (Status != EFI_SUCCESS) {
    XchAssertStop(AssertNoSmmCommunication);
  }
  if (EFI_ERROR(Status) || Interface == nullptr) {
    XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3SaveLib locate SmmCommunicationProtocol fail \n");
    return;
  }
  auto *Communication = static_cast<EFI_SMM_COMMUNICATION_PROTOCOL *>(Interface);
  UINTN Size = CloseMessageSize;
  Communication->Communicate(Communication, Message, &Size);
  mPrivate->Closed = 1;
  FreePool(Table);
}

VOID ReadPciExpressWindow() {
  UINT64 Msr = AsmReadMsr64(PcieConfigMsr);
  if ((Msr & PcieConfigEnable) != 0) {
    mPcieBase = Msr & PcieBaseMask;
    mPcieSize = 0x100000ULL << ((Msr >> 2) & 0xF);
  } else {
    XchAssertStop(AssertNoPcieMsr);
  }
}

// First module: the shared private data, its PCD, and the two events that
// move it from unlocked to locked to closed.
EFI_STATUS CreatePrivateData() {
  XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3LibPrivateData allocation\n");
  auto *Private = static_cast<QUOR_S3_PRIVATE_DATA *>(
      AllocateZeroPoolOfType(EfiRuntimeServicesData, sizeof(QUOR_S3_PRIVATE_DATA)));
  if (Private == nullptr) {
    XchAssertStop(AssertPrivateDataAllocation);
    XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3LibPrivateData allocate fail\n");
    return EFI_OUT_OF_RESOURCES;
  }
  Private->Locked = 0;
  Private->Closed = 0;
  Private->Table = 0;
  mPrivate = Private;
  XchPcdSet64(QUOR_S3_PCD_PRIVATE_DATA, reinterpret_cast<UINTN>(Private));

  EFI_STATUS Status = gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, QuorS3LockCallback, nullptr, &mLockEvent);
  if (!EFI_ERROR(Status) &&
      EFI_ERROR(gBS->RegisterProtocolNotify(&gEfiDxeSmmReadyToLockProtocolGuid, mLockEvent, &mLockRegistration))) {
    gBS->CloseEvent(mLockEvent);
    mLockEvent = nullptr;
  }
  if (EFI_ERROR(Status) || mLockEvent == nullptr) {
    mLockEvent = nullptr;
    XchAssertStop(AssertLockEvent);
    XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3SaveLib create BootScriptLock Event fail\n");
    return EFI_UNSUPPORTED;
  }

  Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, QuorS3CloseTableCallback, nullptr,
                              &gEfiEventReadyToBootGuid, &mCloseEvent);
  if (Status != EFI_SUCCESS) {
    XchAssertStop(AssertCloseEvent);
  }
  if (EFI_ERROR(Status)) {
    mCloseEvent = nullptr;
    XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3SaveLib create CloseTable Event fail\n");
    return EFI_UNSUPPORTED;
  }
  return EFI_SUCCESS;
}

VOID CreateTable() {
  UINT64 Size = XchPcdGet64(QUOR_S3_PCD_TABLE_SIZE);
  if (Size < QUOR_S3_TABLE_MIN_SIZE) {
    Size = QUOR_S3_TABLE_MIN_SIZE;
  }
  XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3LibTableHeader buffer size = 0x%x\n", static_cast<UINT32>(Size));
  // A size whose trailer would not fit an address is an allocation failure.
  UINT8 *Table = nullptr;
  if (Size <= ~0ULL - TrailerSize) {
    Table = static_cast<UINT8 *>(AllocateZeroPoolOfType(EfiRuntimeServicesData, Size + TrailerSize));
  }
  if (Table == nullptr) {
    return;
  }
  UINT64 Address = reinterpret_cast<UINTN>(Table);
  XchPcdSet64(QUOR_S3_PCD_TABLE, Address);
  mPrivate->Table = Address;
  XchWriteField<UINT32>(Table, offsetof(QUOR_S3_TABLE_HEADER, Signature), QUOR_S3_TABLE_SIGNATURE);
  XchWriteField<UINT32>(Table, offsetof(QUOR_S3_TABLE_HEADER, Version), QUOR_S3_TABLE_VERSION);
  XchWriteField<UINT64>(Table, offsetof(QUOR_S3_TABLE_HEADER, Size), Size);
  XchWriteField<UINT64>(Table, offsetof(QUOR_S3_TABLE_HEADER, NextOffset), RecordsStart);
  XchWriteField<UINT32>(Table, Size, QUOR_S3_TABLE_TRAILER);
  mKnownTable = Address;
  mKnownTableSize = Size;
}

UINT64 ReadAtWidth(UINT8 WidthCode, const VOID *Value) {
  switch (WidthCode) {
    case 1:
      return XchReadField<UINT8>(Value, 0);
    case 2:
      return XchReadField<UINT16>(Value, 0);
    case 3:
      return XchReadField<UINT32>(Value, 0);
    default:
      return XchReadField<UINT64>(Value, 0);
  }
}
}  // namespace

VOID QuorS3LocateSaveState() {
  VOID *Interface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiS3SaveStateProtocolGuid, nullptr, &Interface))) {
    Interface = nullptr;
  }
  mS3SaveState = static_cast<EFI_S3_SAVE_STATE_PROTOCOL *>(Interface);
}

EFI_S3_SAVE_STATE_PROTOCOL *QuorS3SaveState() { return mS3SaveState; }

EFI_STATUS QuorS3SaveLibConstructor() {
  UINT64 PrivateAddress = XchPcdGet64(QUOR_S3_PCD_PRIVATE_DATA);
  ReadPciExpressWindow();
  if (PrivateAddress == 0) {
    EFI_STATUS Status = CreatePrivateData();
    if (EFI_ERROR(Status)) {
      return Status;
    }
  } else {
    mPrivate = reinterpret_cast<QUOR_S3_PRIVATE_DATA *>(static_cast<UINTN>(PrivateAddress));
  }
  if (XchPcdGet64(QUOR_S3_PCD_TABLE) != 0) {
    return EFI_SUCCESS;
  }
  CreateTable();
  return EFI_SUCCESS;
}

VOID QuorS3SaveLibDestructor() {
  if (mLockEvent != nullptr) {
    if (EFI_ERROR(gBS->CloseEvent(mLockEvent))) {
      XchAssertStop(AssertLockEventClose);
    }
    mLockEvent = nullptr;
  }
  if (mCloseEvent != nullptr) {
    if (EFI_ERROR(gBS->CloseEvent(mCloseEvent))) {
      XchAssertStop(AssertCloseEventClose);
    }
    mCloseEvent = nullptr;
  }
}

UINTN QuorS3TableCheck() {
  // After close the table memory is gone; nothing may read it.
  if (mPrivate == nullptr || mPrivate->Table == 0 || mPrivate->Closed != 0) {
    return QUOR_S3_ERROR;
  }
  const UINT8 *Table = TableBytes();
  if (XchReadField<UINT32>(Table, offsetof(QUOR_S3_TABLE_HEADER, Signature)) != QUOR_S3_TABLE_SIGNATURE) {
    XchAssertStop(AssertSignature);
    XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3Lib table Signature check fail\n");
    return QUOR_S3_ERROR;
  }
  UINT64 Size = XchReadField<UINT64>(Table, offsetof(QUOR_S3_TABLE_HEADER, Size));
  UINT64 NextOffset = XchReadField<UINT64>(Table, offsetof(QUOR_S3_TABLE_HEADER, NextOffset));
  if (!TableBoundsSound(Size, NextOffset) || XchReadField<UINT32>(Table, Size) != QUOR_S3_TABLE_TRAILER) {
    return BoundaryFail();
  }
  return QUOR_S3_OK;
}

UINTN QuorS3Save(UINT16 OpCode, const UINT64 *Arguments, UINTN Count) {
  if (mPrivate == nullptr || mPrivate->Locked != 1 || mPrivate->Closed != 0) {
    return QUOR_S3_OK;
  }
  if (mPrivate->Table == 0) {
    XchAssertStop(AssertNoTable);
    XchDebugPrint(XCH_DBG_TEST_POINT, "QuorS3Lib table allocate fail\n");
    return QUOR_S3_ERROR;
  }
  if (QuorS3TableCheck() != QUOR_S3_OK) {
    return QUOR_S3_ERROR;
  }

  const QUOR_S3_RECORD_LAYOUT *Layout = FindLayout(OpCode);
  if (Layout == nullptr) {
    XchAssertStop(AssertBadOpCode);
    return QUOR_S3_ERROR;
  }
  UINT8 Record[RecordScratchSize] = {};
  XchWriteField<UINT16>(Record, 0, OpCode);
  for (UINT8 Index = 0; Index < Layout->FieldCount; ++Index) {
    PutLittleEndian(Record, Layout->Fields[Index], Index < Count ? Arguments[Index] : 0);
  }

  UINT8 *Table = TableBytes();
  UINT64 Size = XchReadField<UINT64>(Table, offsetof(QUOR_S3_TABLE_HEADER, Size));
  UINT64 NextOffset = XchReadField<UINT64>(Table, offsetof(QUOR_S3_TABLE_HEADER, NextOffset));
  // The end marker written at close needs its two bytes.
  if (NextOffset + Layout->Length + EndMarkerSize > Size) {
    XchAssertStop(AssertNoSpace);
    XchDebugPrint(XCH_DBG_TEST_POINT, "No enough space for s3 data save\n");
    return QUOR_S3_ERROR;
  }
  CopyMem(Table + NextOffset, Record, Layout->Length);
  XchWriteField<UINT64>(Table, offsetof(QUOR_S3_TABLE_HEADER, NextOffset), NextOffset + Layout->Length);
  return QUOR_S3_OK;
}

UINTN QuorS3MemWrite(UINT8 WidthCode, UINT64 Address, const VOID *Value) {
  bool Locked = mPrivate != nullptr && mPrivate->Locked != 0;
  if (WidthCode < 1 || WidthCode > 4) {
    if (Locked) {
      XchAssertStop(AssertMemWriteValue);
    }
    XchAssertStop(AssertMemWriteWidth);
    return QUOR_S3_ERROR;
  }
  auto BootScriptWidth = static_cast<EFI_BOOT_SCRIPT_WIDTH>(WidthCode - 1);
  if (Locked) {
    return QuorS3SaveArgs(QUOR_S3_OP_MEM_WRITE, BootScriptWidth, Address, ReadAtWidth(WidthCode, Value));
  }
  if (mS3SaveState == nullptr) {
    return QUOR_S3_ERROR;
  }
  EFI_STATUS Status = mS3SaveState->Write(mS3SaveState, EFI_BOOT_SCRIPT_MEM_WRITE_OPCODE, BootScriptWidth, Address,
                                          static_cast<UINTN>(1), const_cast<VOID *>(Value));
  return EFI_ERROR(Status) ? QUOR_S3_ERROR : QUOR_S3_OK;
}

UINT64 QuorS3PciExpressBase() { return mPcieBase; }
UINT64 QuorS3PciExpressSize() { return mPcieSize; }
QUOR_S3_PRIVATE_DATA *QuorS3PrivateData() { return mPrivate; }

VOID QuorS3SaveLibResetState() {
  mS3SaveState = nullptr;
  mPrivate = nullptr;
  mLockEvent = nullptr;
  mCloseEvent = nullptr;
  mLockRegistration = nullptr;
  mPcieBase = 0;
  mPcieSize = 0;
  mKnownTable = 0;
  mKnownTableSize = 0;
}
