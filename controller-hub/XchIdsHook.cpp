#include "XchIdsHook.h"

UINTN XchIdsHookDispatch(UINT32, VOID *) { return XCH_IDS_HOOK_UNSUPPORTED; }
