// The platform's own boot-script entries, recorded once by the constructors
// through the S3 save state protocol.
#pragma once
#include <uefi/Base.h>

struct XCH_BOOT_SCRIPT_MEM_RMW {
  UINT64 Address;
  UINT32 Data;
  UINT32 Mask;
};

// Memory read-modify-writes, 32-bit, in recording order.
inline constexpr XCH_BOOT_SCRIPT_MEM_RMW XchBootScriptMemEntries[] = {
    {0xFED80288, 0x00000800, 0xFFFFFFFF},
    {0xFED802B0, 0x00400000, 0xFF3FFFFF},
    {0xFED80298, 0x00000000, 0x7FFFFFFF},
    {0xFED80298, 0x10000000, 0xFFFFFFFF},
};
// Then an 8-bit I/O write of this value to the port in PCD 389.
constexpr UINT8 XCH_BOOT_SCRIPT_PORT_ENTRY_VALUE = 0xB3;

// Constructor 9.
EFI_STATUS XchBootScriptEntriesConstructor();
