// IDS hooks: the built-in hook table and the IDS hook extension protocol
// let the platform adjust the data block while it is built.
#pragma once
#include <uefi/Base.h>

constexpr UINT32 XCH_IDS_HOOK_INIT_ENV     = 0xD0000002;
constexpr UINT32 XCH_IDS_HOOK_NV_TABLE     = 0xFFFFFFFE;  // extension only: the IDS NV table
constexpr UINT32 XCH_IDS_HOOK_TABLE_END    = 0xFFFFFFFF;

// Status of a dispatch: 0 handled, 1 no handler, 4 extension failure or a
// built-in hook that reported nothing.
constexpr UINTN XCH_IDS_HOOK_SUCCESS     = 0;
constexpr UINTN XCH_IDS_HOOK_UNSUPPORTED = 1;
constexpr UINTN XCH_IDS_HOOK_FAILED      = 4;

// A built-in hook: (hook ID, 0, data) -> status (0 = nothing to report).
typedef UINTN (*XCH_IDS_HOOK_ROUTINE)(UINT32 HookId, UINTN Reserved, VOID *Data);

typedef struct {
  UINT32               HookId;  // XCH_IDS_HOOK_TABLE_END ends the table
  UINT32               Reserved;
  XCH_IDS_HOOK_ROUTINE Routine;
} XCH_IDS_HOOK_ENTRY;

constexpr UINT32 XCH_IDS_HOOK_SIGNATURE = 0x53444924;  // "$IDS"
constexpr UINT32 XCH_IDS_HOOK_VERSION   = 1;

typedef struct {
  UINT32                    Signature;
  UINT32                    Version;
  UINT32                    Reserved[3];
  const XCH_IDS_HOOK_ENTRY *Table;
} XCH_IDS_HOOK_DESCRIPTOR;

// The driver's own hook table (one entry: XCH_IDS_HOOK_INIT_ENV).
extern const XCH_IDS_HOOK_DESCRIPTOR XchIdsHookDescriptor;

// Runs hook HookId over Data: the built-in hooks for that ID, else (none, or
// a damaged descriptor) the IDS hook extension.
UINTN XchIdsHookDispatch(UINT32 HookId, VOID *Data);
// The same over another descriptor.
UINTN XchIdsHookDispatchWith(const XCH_IDS_HOOK_DESCRIPTOR *Descriptor, UINT32 HookId, VOID *Data);

// Calls the IDS hook extension protocol with the record {0, Data}:
// XCH_IDS_HOOK_SUCCESS, or XCH_IDS_HOOK_FAILED when the protocol is absent
// or reports an error.
UINTN XchIdsHookExtensionCall(UINT32 HookId, VOID *Data);
