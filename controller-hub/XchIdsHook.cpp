#include "XchIdsHook.h"

#include <Library/UefiLib.h>

#include "Protocol/QuorIdsHookExt.h"
#include "XchDebug.h"
#include "XchIdsHookInitEnv.h"

namespace {
constexpr UINT32 AssertBadDescriptor = 0x20910056;

constexpr XCH_IDS_HOOK_ENTRY BuiltInHooks[] = {
    {XCH_IDS_HOOK_INIT_ENV, 0, CmnHookFuncXchKryDxeInitEnv},
    {XCH_IDS_HOOK_TABLE_END, 0, nullptr},
};

// The record the extension receives.
struct EXTENSION_RECORD {
  UINT64 Reserved;
  VOID  *Data;
};

bool DescriptorIsSound(const XCH_IDS_HOOK_DESCRIPTOR *Descriptor) {
  return Descriptor != nullptr && Descriptor->Signature == XCH_IDS_HOOK_SIGNATURE &&
         Descriptor->Version == XCH_IDS_HOOK_VERSION;
}

// Every built-in hook for HookId runs; the last non-zero result stands, and
// a table without one answers XCH_IDS_HOOK_UNSUPPORTED.
UINTN RunBuiltInHooks(const XCH_IDS_HOOK_ENTRY *Table, UINT32 HookId, VOID *Data) {
  UINTN Status = XCH_IDS_HOOK_FAILED;
  bool Matched = false;
  for (const XCH_IDS_HOOK_ENTRY *Entry = Table; Entry != nullptr && Entry->HookId != XCH_IDS_HOOK_TABLE_END;
       ++Entry) {
    if (Entry->HookId != HookId || Entry->Routine == nullptr) {
      continue;
    }
    Matched = true;
    XchDebugPrint(XCH_DBG_IDS_HOOK, "IdsHookFunc HookId %x\n", HookId);
    UINTN Result = Entry->Routine(HookId, 0, Data);
    if (Result != 0) {
      Status = Result;
    }
  }
  return Matched ? Status : XCH_IDS_HOOK_UNSUPPORTED;
}
}  // namespace

constexpr XCH_IDS_HOOK_DESCRIPTOR XchIdsHookDescriptor = {
    XCH_IDS_HOOK_SIGNATURE, XCH_IDS_HOOK_VERSION, {0, 0, 0}, BuiltInHooks};

UINTN XchIdsHookDispatchWith(const XCH_IDS_HOOK_DESCRIPTOR *Descriptor, UINT32 HookId, VOID *Data) {
  if (DescriptorIsSound(Descriptor)) {
    UINTN Status = RunBuiltInHooks(Descriptor->Table, HookId, Data);
    if (Status != XCH_IDS_HOOK_UNSUPPORTED) {
      return Status;
    }
  } else {
    XchAssertStop(AssertBadDescriptor);
  }
  return XchIdsHookExtensionCall(HookId, Data);
}

UINTN XchIdsHookDispatch(UINT32 HookId, VOID *Data) { return XchIdsHookDispatchWith(&XchIdsHookDescriptor, HookId, Data); }

UINTN XchIdsHookExtensionCall(UINT32 HookId, VOID *Data) {
  VOID *Interface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gQuorIdsHookExtProtocolGuid, nullptr, &Interface)) || Interface == nullptr) {
    return XCH_IDS_HOOK_FAILED;
  }
  EXTENSION_RECORD Record = {0, Data};
  EFI_STATUS Status = static_cast<QUOR_IDS_HOOK_EXT_PROTOCOL *>(Interface)->Call(gBS, &Record, HookId);
  return EFI_ERROR(Status) ? XCH_IDS_HOOK_FAILED : XCH_IDS_HOOK_SUCCESS;
}
