// The IDS hook extension protocol of the platform: the fallback that serves
// IDS hooks the driver's built-in table does not handle, and the source of
// the IDS NV table. Only the first member is called.
#pragma once
#include <uefi/SystemTable.h>

// Data is a two-word record {0, hook data}; a negative (error) status means
// the hook failed.
typedef EFI_STATUS(EFIAPI *QUOR_IDS_HOOK_EXT_CALL)(IN EFI_BOOT_SERVICES *BootServices, IN OUT VOID *Data,
                                                   IN UINT32 HookId);

typedef struct {
  QUOR_IDS_HOOK_EXT_CALL Call;
} QUOR_IDS_HOOK_EXT_PROTOCOL;

inline constinit EFI_GUID gQuorIdsHookExtProtocolGuid = {0x0ECAD4A0, 0x75E9, 0x46D7, {0xA3, 0xA6, 0x81, 0xFE, 0x17, 0x3F, 0x2E, 0xCA}};
