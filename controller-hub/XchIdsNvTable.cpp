#include "XchIdsNvTable.h"

#include "QuorHeapBufferLib.h"
#include "XchBytes.h"
#include "XchDebug.h"
#include "XchIdsHook.h"

namespace {
constexpr UINT32 AssertNoAddress = 0x20910158;
constexpr UINT32 AssertTableFailed = 0x20910168;
constexpr UINT32 AssertGuardOverwritten = 0x20910176;
constexpr UINT32 AssertBadSignature = 0x20910182;

constexpr UINT8 NvdtPersistence = 7;
constexpr UINTN RecordHeader = 3;  // ID and attribute

constexpr UINTN ValueSize(UINT8 Attribute) { return UINTN{1} << (Attribute & 3); }

UINT64 ReadValue(const UINT8 *Bytes, UINTN Size) {
  UINT64 Value = 0;
  for (UINTN Index = 0; Index < Size; ++Index) {
    Value |= static_cast<UINT64>(Bytes[Index]) << (8 * Index);
  }
  return Value;
}

// Has the extension copy the table into Buffer, which has Room bytes for it
// and the guard after them.
UINTN FillTable(UINT8 *Buffer, UINT32 Room, UINT32 *Size) {
  XchWriteField<UINT32>(Buffer, Room + XCH_IDS_NV_GUARD_OFFSET, XCH_IDS_NV_GUARD);
  XCH_IDS_NV_REQUEST Request = {Buffer, Size};
  if (XchIdsHookExtensionCall(XCH_IDS_HOOK_NV_TABLE, &Request) != XCH_IDS_HOOK_SUCCESS) {
    XchAssertStop(AssertTableFailed);
    XchDebugPrint(XCH_DBG_MMIO, "GetIdsNvTable Status return fail, exit\n");
    return XCH_IDS_NV_FAILED;
  }
  // The guard is checked where it was written: a table shorter than
  // announced leaves it alone, and a size beyond the room given is an
  // overrun however the guard looks.
  if (*Size > Room || XchReadField<UINT32>(Buffer, Room + XCH_IDS_NV_GUARD_OFFSET) != XCH_IDS_NV_GUARD) {
    XchDebugPrint(XCH_DBG_MMIO, "CBS data exceed the boundary\n");
    XchAssertStop(AssertGuardOverwritten);
    return XCH_IDS_NV_OVERRUN;
  }
  return XCH_IDS_NV_FOUND;
}

// Asks the extension for the table and keeps it in heap buffer NVDT; a
// failed fetch keeps nothing.
UINTN FetchTable(UINT8 **Table, UINT32 *TableSize) {
  UINT32 Size = 0;
  XCH_IDS_NV_REQUEST Request = {nullptr, &Size};
  XchIdsHookExtensionCall(XCH_IDS_HOOK_NV_TABLE, &Request);
  if (Size == 0) {
    return XCH_IDS_NV_NOT_FOUND;
  }
  XchDebugPrint(XCH_DBG_MMIO, "Get IdsNV table size 0x%x\n", Size);
  const UINT32 Room = Size;
  // A size this close to 4 GB leaves no room for the slack and the guard.
  UINTN Status = Room > 0xFFFFFFFF - XCH_IDS_NV_SLACK
                     ? XCH_IDS_NV_FAILED
                     : QuorHeapAllocate(Room + XCH_IDS_NV_SLACK, XCH_IDS_NV_HEAP_HANDLE, NvdtPersistence, Table);
  if (*Table == nullptr) {
    XchAssertStop(AssertNoAddress);
  }
  if (Status != QUOR_HEAP_SUCCESS || *Table == nullptr) {
    XchDebugPrint(XCH_DBG_MMIO, "Allocate Heap fail, exit\n");
    return Status != QUOR_HEAP_SUCCESS ? Status : XCH_IDS_NV_FAILED;
  }
  Status = FillTable(*Table, Room, &Size);
  if (Status != XCH_IDS_NV_FOUND) {
    // A later lookup must ask again, not parse what this fetch left.
    QuorHeapFree(XCH_IDS_NV_HEAP_HANDLE);
    *Table = nullptr;
    return Status;
  }
  *TableSize = Room + XCH_IDS_NV_SLACK;
  return XCH_IDS_NV_FOUND;
}

// Walks the records of Table (Size bytes) up to Id or the end record.
UINTN FindRecord(const UINT8 *Table, UINT32 Size, UINT16 Id, UINT64 *Value) {
  if (Size < sizeof(UINT32) || XchReadField<UINT32>(Table, 0) != XCH_IDS_NV_SIGNATURE) {
    XchAssertStop(AssertBadSignature);  // parsing goes on
  }
  for (UINTN Offset = XCH_IDS_NV_RECORDS; Offset + sizeof(UINT16) <= Size;) {
    UINT16 RecordId = XchReadField<UINT16>(Table, Offset);
    if (RecordId == XCH_IDS_NV_END || Offset + RecordHeader > Size) {
      break;
    }
    UINTN Length = ValueSize(Table[Offset + 2]);
    if (Length > Size - Offset - RecordHeader) {
      break;  // the record runs past the buffer
    }
    *Value = ReadValue(Table + Offset + RecordHeader, Length);
    if (RecordId == Id) {
      return XCH_IDS_NV_FOUND;
    }
    Offset += RecordHeader + Length;
  }
  return XCH_IDS_NV_NOT_FOUND;
}
}  // namespace

UINTN XchIdsNvValue(UINT16 Id, UINT64 *Value) {
  UINT8 *Table = nullptr;
  UINT32 Size = 0;
  if (QuorHeapFind(XCH_IDS_NV_HEAP_HANDLE, &Table, &Size) != QUOR_HEAP_SUCCESS) {
    UINTN Status = FetchTable(&Table, &Size);
    if (Status != XCH_IDS_NV_FOUND) {
      return Status;
    }
  }
  return FindRecord(Table, Size, Id, Value);
}
