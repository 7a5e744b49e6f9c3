// The debug-print protocol a platform module publishes for the controller-hub
// driver's progress output: one member taking a 64-bit level mask, an ASCII
// format (the %a %r %x %lx ... conversions of the support library) and the
// argument list of the driver's variadic print routine.
//
// The GUID is ours (no published definition exists for this interface):
// 15A58712-91E4-4C1B-A670-89034E546B45.
#pragma once
#include <uefi/Base.h>

typedef VOID(EFIAPI *QUOR_DEBUG_PRINT)(IN UINT64 ErrorLevel, IN const CHAR8 *Format, IN EFI_VA_LIST Marker);

typedef struct {
  QUOR_DEBUG_PRINT DebugPrint;
} QUOR_DEBUG_PRINT_PROTOCOL;

inline constinit EFI_GUID gQuorDebugPrintProtocolGuid = {0x15A58712, 0x91E4, 0x4C1B, {0xA6, 0x70, 0x89, 0x03, 0x4E, 0x54, 0x6B, 0x45}};
