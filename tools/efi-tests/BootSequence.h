// What SupTestApp does when the firmware boots it as \EFI\BOOT\BOOTX64.EFI:
// the steps the UEFI shell's "load" and "unload" took before, taken by the
// application itself, so no shell (and no shell countdown) is needed and the
// same run works under Secure Boot, where the shell does not start.
//
// Phases, each closed by its own "SUMMARY passed=<n> failed=<m>" line:
//   load      LoadImage NorvSupDxe.efi from the application's own volume,
//             StartImage it, connect every controller (as the shell's "load"
//             does), then every suite of the loaded driver
//   unload    gBS->UnloadImage on the driver (its Unload runs)
//   unloaded  the checks that nothing of the driver is left
//   verify    only when the volume has a \verify folder (the Secure Boot
//             run): Secure Boot is on, the firmware refuses unsigned and
//             altered images and loads a signed one
#pragma once
#include "EfiTest.h"

// Where the driver under test lies on the application's volume.
inline constexpr CHAR16 DriverUnderTestPath[] = u"\\NorvSupDxe.efi";

struct BootOptions {
  // ConnectController on every handle after the driver started. The host
  // environment models no driver connection, so its mirror leaves this off.
  bool ConnectAll = true;
};

// Runs the phases above with AppImage as the parent of every image it loads.
// Returns true when every check of every phase passed.
bool RunBootSequence(EFI_HANDLE AppImage, const BootOptions &Options, TestReporter::LineSink Sink, void *Context);
