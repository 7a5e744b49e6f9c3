// Driver entry and the three init phases: XchInitEnv at entry, XchInitMid at
// the first PCI I/O protocol installation, XchInitLate at ready-to-boot.
#pragma once
#include <uefi/Uefi.h>

#include "Protocol/XchInitProtocol.h"

constexpr UINT64 XCH_PRIVATE_SIGNATURE = 0x44694253;  // bytes S, B, i, D

// 80 bytes in ACPI NVS memory; the init protocol interface starts at word 1.
struct XCH_PRIVATE {
  UINT64            Signature;
  XCH_INIT_PROTOCOL Interface;
};
static_assert(sizeof(XCH_PRIVATE) == 80);
static_assert(offsetof(XCH_PRIVATE, Interface) == 8);

// The driver entry proper (after the library constructors).
EFI_STATUS XchInitEnv(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID EFIAPI XchInitMid(EFI_EVENT Event, VOID *DataBlock);
VOID EFIAPI XchInitLate(EFI_EVENT Event, VOID *DataBlock);

// Word 7 of the private record: four SMN read-modify-writes placing the bits
// of A and B; returns 0.
EFI_STATUS EFIAPI XchMappingService(UINTN Reserved1, UINTN Reserved2, UINT32 A, UINT32 B);

struct XCH_MAPPING_ROW {
  UINT32 SmnAddress;
  UINT32 AndMask;
  UINT8  AShift;  // A bits taken from here ...
  UINT32 AMask;   // ... this wide, placed at bit 16
  UINT8  BShift;  // B bits taken from here ...
  UINT32 BMask;   // ... this wide, placed at bit 0
};
inline constexpr XCH_MAPPING_ROW XchMappingRows[] = {
    {0x16D8012C, 0xFFFCFFE0, 0, 0x3, 0, 0x1F},
    {0x16F8012C, 0xFFFEFFFE, 2, 0x1, 5, 0x01},
    {0x1738012C, 0xFFFEFFFE, 4, 0x1, 8, 0x01},
    {0x1968012C, 0xFFFEFFFE, 6, 0x1, 12, 0x01},
};

// The private record published by the last XchInitEnv (NULL before).
XCH_PRIVATE *XchPrivate();

VOID XchInitResetState();
