// The DXE SMM ready-to-lock protocol: installed (with a NULL interface) just
// before SMRAM is locked; modules that must prepare SMM data watch for it.
#pragma once
#include <uefi/Base.h>

inline constinit EFI_GUID gEfiDxeSmmReadyToLockProtocolGuid = {0x60FF8964, 0xE906, 0x41D0, {0xAF, 0xED, 0xF2, 0x41, 0xE9, 0x74, 0xE0, 0x8E}};
