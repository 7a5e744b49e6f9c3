// Umbrella header: base types, system table and the protocols both drivers
// and the host environment share.
#pragma once
#include <uefi/Base.h>
#include <uefi/SystemTable.h>
#include <uefi/Protocol/ComponentName.h>
#include <uefi/Protocol/DevicePath.h>
#include <uefi/Protocol/DriverBinding.h>
#include <uefi/Protocol/LoadedImage.h>
#include <uefi/Protocol/PciIo.h>
#include <uefi/Protocol/ServiceBinding.h>
#include <uefi/Protocol/SimpleTextOut.h>
