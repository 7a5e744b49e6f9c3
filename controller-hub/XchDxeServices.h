// The DXE services table (GCD memory space services), from the
// configuration table.
#pragma once
#include <uefi/Pi/PiDxeServices.h>

// Constructor 6.
EFI_STATUS XchDxeServicesConstructor();
EFI_DXE_SERVICES *XchDxeServices();

VOID XchDxeServicesResetState();
