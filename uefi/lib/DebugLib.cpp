#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/PrintLib.h>
#include <Library/UefiLib.h>
#include <Platform/Hardware.h>

namespace {
constinit const CHAR8 *AssertModuleName = "UEFI";

// The file's own name is what a reader needs; build paths only add noise.
const CHAR8 *BaseName(const CHAR8 *Path) {
  const CHAR8 *Name = Path;
  for (const CHAR8 *Cursor = Path; *Cursor != '\0'; ++Cursor) {
    if (*Cursor == '/' || *Cursor == '\\') {
      Name = Cursor + 1;
    }
  }
  return Name;
}
}  // namespace

VOID DebugAssertSetModuleName(const CHAR8 *ModuleName) { AssertModuleName = ModuleName; }

VOID DebugAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description) {
  AsciiErrorPrint("ASSERT [%a] %a(%d): %a\n", AssertModuleName, BaseName(FileName), (int)LineNumber,
                  Description);
  CpuDeadLoop();
}

VOID DebugAssertEfiError(const CHAR8 *FileName, UINTN LineNumber, EFI_STATUS Status) {
  AsciiErrorPrint("\nASSERT_EFI_ERROR (Status = %r)\n", Status);
  DebugAssert(FileName, LineNumber, "!EFI_ERROR (Status)");
}

VOID *ContainingRecordChecked(const VOID *FieldAddress, UINTN FieldOffset, UINTN SignatureOffset,
                              UINT32 Signature, const CHAR8 *FileName, UINTN LineNumber) {
  auto *Record = reinterpret_cast<UINT8 *>(const_cast<VOID *>(FieldAddress)) - FieldOffset;
  UINT32 Found;
  __builtin_memcpy(&Found, Record + SignatureOffset, sizeof(Found));
  if (Found != Signature) {
    DebugAssert(FileName, LineNumber, "CR has Bad Signature");
  }
  return Record;
}
