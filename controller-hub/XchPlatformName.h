// Platform-name check: boards named in the table get one extra PCI
// configuration write in the S3 boot script.
#pragma once
#include <uefi/Base.h>

constexpr UINTN XCH_PCD_PLATFORM_NAME = 71;  // pointer to a UTF-16 string

struct XCH_PLATFORM_NAME_ROW {
  const CHAR16 *Name;
  UINT64        PciAddress;  // boot-script form: bus << 24 | device << 16 | function << 8 | register
  UINT32        Width;       // given to the boot script as EFI_BOOT_SCRIPT_WIDTH
  UINT64        Value;
};

inline constexpr XCH_PLATFORM_NAME_ROW XchPlatformNameTable[] = {
    {u"Melvor", 0x80218, 2, 0x00929200},  // bus 0, device 8, function 2, register 0x18
};

// Whole-string comparison up to the terminating zero.
bool XchPlatformNameMatches(const CHAR16 *Name, const CHAR16 *Wanted);

// Constructor 10.
EFI_STATUS XchPlatformNameCheck();
