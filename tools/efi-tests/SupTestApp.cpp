// The supplicant's UEFI test application. Run from the UEFI shell after the
// driver has been loaded:
//   SupTestApp.efi            the suites that need the driver loaded
//   SupTestApp.efi unload-script   writes unload.nsh from the shell's "dh" output
//   SupTestApp.efi unloaded   checks that nothing of the driver is left
// Every line goes to the console and to the debug console port, where the
// test runner collects it.
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiLib.h>
#include <Platform/Hardware.h>

#include "EfiTest.h"
#include "ShellScript.h"
#include "SupSuites.h"

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

// Whether the command line (UTF-16 load options) contains Word.
bool CommandLineHas(EFI_HANDLE ImageHandle, const CHAR8 *Word) {
  EFI_LOADED_IMAGE_PROTOCOL *Image = nullptr;
  if (EFI_ERROR(gBS->HandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid, reinterpret_cast<VOID **>(&Image))) ||
      Image->LoadOptions == nullptr) {
    return false;
  }
  const CHAR16 *Options = static_cast<const CHAR16 *>(Image->LoadOptions);
  UINTN Count = Image->LoadOptionsSize / sizeof(CHAR16);
  UINTN WordLength = AsciiStrLen(Word);
  for (UINTN Start = 0; Start + WordLength <= Count; ++Start) {
    UINTN Matched = 0;
    while (Matched < WordLength && Options[Start + Matched] == static_cast<CHAR16>(Word[Matched])) {
      ++Matched;
    }
    if (Matched == WordLength) {
      return true;
    }
  }
  return false;
}
}  // namespace

extern "C" EFI_STATUS EFIAPI SupTestAppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UefiLibConstructor(ImageHandle, SystemTable);
  DebugAssertSetModuleName("SupTestApp");
  TestReporter Report(FirmwareSink, nullptr);
  if (CommandLineHas(ImageHandle, "unload-script")) {
    Report.Info("SupTestApp unload-script");
    WriteUnloadScript(ImageHandle, Report);
    Report.Summary();
    return Report.Failed() == 0 ? EFI_SUCCESS : EFI_ABORTED;
  }
  bool Unloaded = CommandLineHas(ImageHandle, "unloaded");
  Report.Info("SupTestApp %a", Unloaded ? "unloaded" : "loaded");
  RunSupplicantSuites(Report, Unloaded ? SuitePhase::DriverUnloaded : SuitePhase::DriverLoaded);
  Report.Summary();
  return Report.Failed() == 0 ? EFI_SUCCESS : EFI_ABORTED;
}
