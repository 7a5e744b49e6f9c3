// The S3 save table library. Register writes that S3 resume must replay go
// to the standard S3 save state protocol until SMM is about to be locked;
// after the DXE SMM ready-to-lock protocol appears they go into the
// library's own table, which is closed with an end marker and handed to SMM
// at ready-to-boot. Every module using the library shares one private data
// record (PCD 778) and one table (PCD 779).
#pragma once
#include <uefi/Base.h>
#include <uefi/Protocol/S3SaveState.h>

constexpr UINTN QUOR_S3_PCD_PRIVATE_DATA = 778;  // u64 address of QUOR_S3_PRIVATE_DATA
constexpr UINTN QUOR_S3_PCD_TABLE        = 779;  // u64 address of the table
constexpr UINTN QUOR_S3_PCD_TABLE_SIZE   = 780;  // requested table size
constexpr UINTN QUOR_S3_PCD_SMM_BUFFER   = 0x27001;  // in gQuorSmmCommBufferTokenSpaceGuid

constexpr UINT32 QUOR_S3_TABLE_SIGNATURE = SIGNATURE_32('Q', 'S', '3', 'T');
constexpr UINT32 QUOR_S3_TABLE_VERSION   = 1;
constexpr UINT32 QUOR_S3_TABLE_TRAILER   = 0x01558844;
constexpr UINT64 QUOR_S3_TABLE_MIN_SIZE  = 0x4000;
constexpr UINT16 QUOR_S3_END_MARKER      = 0xFFFF;

// Status values of the library's routines.
constexpr UINTN QUOR_S3_OK    = 0;
constexpr UINTN QUOR_S3_ERROR = 7;

struct QUOR_S3_PRIVATE_DATA {
  UINT8  Locked;  // SMM ready to lock seen: records go into the table
  UINT8  Closed;  // table handed to SMM: records are dropped
  UINT8  Reserved[6];
  UINT64 Table;
};
static_assert(sizeof(QUOR_S3_PRIVATE_DATA) == 16);

struct QUOR_S3_TABLE_HEADER {
  UINT32 Signature;
  UINT32 Version;
  UINT8  Reserved[24];
  UINT64 Size;        // bytes before the trailer
  UINT64 NextOffset;  // first free byte
};
static_assert(sizeof(QUOR_S3_TABLE_HEADER) == 48);

// Record opcodes of the table.
constexpr UINT16 QUOR_S3_OP_IO_WRITE       = 0;
constexpr UINT16 QUOR_S3_OP_IO_READ_WRITE  = 1;
constexpr UINT16 QUOR_S3_OP_IO_POLL        = 2;
constexpr UINT16 QUOR_S3_OP_MEM_WRITE      = 3;
constexpr UINT16 QUOR_S3_OP_MEM_READ_WRITE = 4;
constexpr UINT16 QUOR_S3_OP_MEM_POLL       = 5;
constexpr UINT16 QUOR_S3_OP_PCI_WRITE      = 6;
constexpr UINT16 QUOR_S3_OP_PCI_READ_WRITE = 7;
constexpr UINT16 QUOR_S3_OP_PCI_POLL       = 8;
constexpr UINT16 QUOR_S3_OP_DISPATCH       = 9;

// Layout of one record: the opcode's fixed length and where each 64-bit
// argument goes (offset and width in bytes).
struct QUOR_S3_RECORD_FIELD {
  UINT8 Offset;
  UINT8 Width;
};
struct QUOR_S3_RECORD_LAYOUT {
  UINT16               OpCode;
  UINT8                Length;
  UINT8                FieldCount;
  QUOR_S3_RECORD_FIELD Fields[6];
};

// clang-format off
inline constexpr QUOR_S3_RECORD_LAYOUT QuorS3RecordLayouts[] = {
  // opcode                   length args  {offset, width} of each argument in order
  {QUOR_S3_OP_IO_WRITE,        24, 3, {{4, 4}, {8, 8}, {16, 8}}},
  {QUOR_S3_OP_IO_READ_WRITE,   32, 4, {{4, 4}, {8, 8}, {16, 8}, {24, 8}}},
  {QUOR_S3_OP_IO_POLL,         40, 5, {{4, 4}, {8, 8}, {16, 8}, {24, 8}, {32, 8}}},
  {QUOR_S3_OP_MEM_WRITE,       24, 3, {{4, 4}, {8, 8}, {16, 8}}},
  {QUOR_S3_OP_MEM_READ_WRITE,  32, 4, {{4, 4}, {8, 8}, {16, 8}, {24, 8}}},
  {QUOR_S3_OP_MEM_POLL,        40, 5, {{4, 4}, {8, 8}, {16, 8}, {24, 8}, {32, 8}}},
  {QUOR_S3_OP_PCI_WRITE,       32, 4, {{4, 4}, {8, 2}, {16, 8}, {24, 8}}},
  {QUOR_S3_OP_PCI_READ_WRITE,  40, 5, {{4, 4}, {8, 2}, {16, 8}, {24, 8}, {32, 8}}},
  {QUOR_S3_OP_PCI_POLL,        48, 6, {{4, 4}, {8, 2}, {16, 8}, {24, 8}, {32, 8}, {40, 8}}},
  {QUOR_S3_OP_DISPATCH,        24, 2, {{8, 8}, {16, 8}}},
};
// clang-format on

// Constructor 1: locate EFI_S3_SAVE_STATE_PROTOCOL (NULL when absent).
VOID QuorS3LocateSaveState();
EFI_S3_SAVE_STATE_PROTOCOL *QuorS3SaveState();

// Constructor 2: find or create the private data and the table, and the lock
// and close events.
EFI_STATUS QuorS3SaveLibConstructor();
// Destructor: closes the lock and close events this module created.
VOID QuorS3SaveLibDestructor();

// Appends a record of OpCode with Count arguments (missing ones are 0) while
// the table is in use; 0 without recording before the lock or after close.
UINTN QuorS3Save(UINT16 OpCode, const UINT64 *Arguments, UINTN Count);
template <typename... T>
UINTN QuorS3SaveArgs(UINT16 OpCode, T... Arguments) {
  const UINT64 List[] = {static_cast<UINT64>(Arguments)..., 0};
  return QuorS3Save(OpCode, List, sizeof...(T));
}

// Signature and trailer checks (plus the table's own bounds).
UINTN QuorS3TableCheck();

// Records a memory write of width code 1-4 for S3: into the table once
// locked, through the S3 save state protocol before.
UINTN QuorS3MemWrite(UINT8 WidthCode, UINT64 Address, const VOID *Value);

// PCI Express window base from MSR 0xC0010058 (read by the constructor).
UINT64 QuorS3PciExpressBase();
UINT64 QuorS3PciExpressSize();

// The shared private data record (NULL before the constructor).
QUOR_S3_PRIVATE_DATA *QuorS3PrivateData();

VOID QuorS3SaveLibResetState();
