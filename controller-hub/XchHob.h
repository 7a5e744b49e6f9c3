// The HOB list the earlier boot phase left, found through the configuration
// table, and a bounded search for GUID extension HOBs.
#pragma once
#include <uefi/Base.h>
#include <uefi/Pi/PiHob.h>

// Constructor 4: find the HOB list in the system configuration table.
EFI_STATUS XchHobListConstructor();
const VOID *XchHobList();

// First GUID HOB named Guid at or after Start, or NULL. The walk stops at the
// end-of-list HOB and at any HOB whose length could not hold its own header,
// so a damaged list is never followed past a bad length.
const EFI_HOB_GUID_TYPE *XchFindNextGuidHob(const VOID *Start, const EFI_GUID *Guid);
const EFI_HOB_GUID_TYPE *XchFindFirstGuidHob(const EFI_GUID *Guid);
// The HOB following Hob (for continuing a search).
const VOID *XchNextHob(const EFI_HOB_GUID_TYPE *Hob);

// Bytes of data after the GUID HOB header.
UINTN XchGuidHobDataSize(const EFI_HOB_GUID_TYPE *Hob);
const UINT8 *XchGuidHobData(const EFI_HOB_GUID_TYPE *Hob);

// Entry Guid of the system configuration table, or NULL.
VOID *XchConfigurationTable(const EFI_GUID *Guid);

VOID XchHobResetState();
