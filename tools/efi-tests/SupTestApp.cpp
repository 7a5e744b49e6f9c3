// The supplicant's UEFI test application. The firmware boots it directly as
// \EFI\BOOT\BOOTX64.EFI from a FAT volume that also holds NorvSupDxe.efi; it
// loads and starts the driver, runs every suite, unloads the driver, checks
// that nothing of it is left (BootSequence.h), then shuts the machine down so
// the emulator exits. Every line goes to the console and to the debug console
// port, where the test runner collects it.
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiLib.h>
#include <Platform/Hardware.h>

#include "BootSequence.h"
#include "EfiTest.h"

namespace {
constexpr UINT16 DebugConsolePort = 0x402;

void FirmwareSink(const CHAR8 *Line, void *) {
  CHAR16 Text[300];
  UINTN Length = 0;
  for (; Line[Length] != '\0' && Length < 296; ++Length) {
    Text[Length] = static_cast<CHAR16>(static_cast<UINT8>(Line[Length]));
    IoWrite8(DebugConsolePort, static_cast<UINT8>(Line[Length]));
  }
  IoWrite8(DebugConsolePort, '\n');
  Text[Length++] = u'\r';
  Text[Length++] = u'\n';
  Text[Length] = 0;
  gST->ConOut->OutputString(gST->ConOut, Text);
}
}  // namespace

extern "C" EFI_STATUS EFIAPI SupTestAppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiLibConstructor(ImageHandle, SystemTable);
  DebugAssertSetModuleName("SupTestApp");
  const bool Passed = RunBootSequence(ImageHandle, BootOptions{}, FirmwareSink, nullptr);
  TestReporter(FirmwareSink, nullptr).Info("SupTestApp done: %a", Passed ? "all passed" : "FAILURES");
  // Returning would send the boot manager on to the next boot option (the
  // shell, waiting for a key); switching off ends the run at once.
  gRT->ResetSystem(EfiResetShutdown, Passed ? EFI_SUCCESS : EFI_ABORTED, 0, nullptr);
  return Passed ? EFI_SUCCESS : EFI_ABORTED;
}
