// IDS hooks: the built-in hook table and the IDS hook extension protocol
// let the platform adjust the data block while it is built.
#pragma once
#include <uefi/Base.h>

constexpr UINT32 XCH_IDS_HOOK_INIT_ENV = 0xD0000002;

// Status of a dispatch: 0 handled, 1 no handler, 4 extension failure or a
// built-in hook that reported nothing.
constexpr UINTN XCH_IDS_HOOK_SUCCESS     = 0;
constexpr UINTN XCH_IDS_HOOK_UNSUPPORTED = 1;
constexpr UINTN XCH_IDS_HOOK_FAILED      = 4;

// Runs hook HookId over Data. (The dispatch arrives with the IDS services;
// until then no hook is handled.)
UINTN XchIdsHookDispatch(UINT32 HookId, VOID *Data);
