// The IDS NV table: setup-option values by 16-bit ID. The IDS hook extension
// serves the table once; this driver keeps it in heap buffer NVDT, where
// every later lookup (and every module sharing the heap list) finds it.
//
// Table: "$INV" at 0, records from offset 32, each {u16 ID, u8 attribute
// (bits 0-1: value size 1, 2, 4 or 8 bytes), value}; ID 0xFFFF ends it.
#pragma once
#include <uefi/Base.h>

constexpr UINT32 XCH_IDS_NV_SIGNATURE    = 0x564E4924;  // "$INV"
constexpr UINT32 XCH_IDS_NV_HEAP_HANDLE  = 0x5444564E;  // "NVDT"
constexpr UINTN  XCH_IDS_NV_RECORDS      = 32;
constexpr UINT16 XCH_IDS_NV_END          = 0xFFFF;
constexpr UINT32 XCH_IDS_NV_SLACK        = 104;  // heap bytes beyond the table: room, then the guard
constexpr UINT32 XCH_IDS_NV_GUARD        = 0x55AA;
constexpr UINT32 XCH_IDS_NV_GUARD_OFFSET = 100;  // after the table's end

// Results.
constexpr UINTN XCH_IDS_NV_FOUND     = 0;
constexpr UINTN XCH_IDS_NV_NOT_FOUND = 1;  // also: no table
constexpr UINTN XCH_IDS_NV_OVERRUN   = 2;  // the extension wrote past the room it was given
constexpr UINTN XCH_IDS_NV_FAILED    = 7;  // no memory, or the extension failed to hand the table over

// The request the extension receives (inside its {0, data} record) for
// XCH_IDS_HOOK_NV_TABLE: with Buffer NULL it stores the table size; else it
// copies the table to Buffer and stores the size copied.
typedef struct {
  VOID   *Buffer;
  UINT32 *Size;
} XCH_IDS_NV_REQUEST;

// Looks up option Id. A fetch that fails or overruns keeps no table, so the
// next lookup asks the extension again. Each record walked leaves its value (zero-extended) in
// *Value, so a miss leaves the last record's value there; callers use *Value
// only on XCH_IDS_NV_FOUND. Never reads past the heap buffer holding the
// table: a table without its end, or whose last record runs past the buffer,
// ends there.
UINTN XchIdsNvValue(UINT16 Id, UINT64 *Value);
