// Module entry of XchKryDxe: the library constructors in their order, then
// the driver entry (XchInitEnv); the destructors when the entry fails.
#pragma once
#include <uefi/Uefi.h>

extern "C" EFI_STATUS EFIAPI XchKryDxeModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

struct XCH_LIBRARY_CONSTRUCTOR {
  const CHAR8 *Name;
  EFI_STATUS (*Construct)();
};
// Constructors 2-11 in the order they run (constructor 1 stores the tables
// and locates the S3 save state protocol).
extern const XCH_LIBRARY_CONSTRUCTOR XchLibraryConstructors[10];

// Returns every module global to the value it has in a freshly loaded image.
// A host environment that loads the driver again in the same process calls
// it first; firmware never needs it.
VOID XchKryDxeResetModuleState();
