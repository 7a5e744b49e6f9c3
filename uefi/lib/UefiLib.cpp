#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiLib.h>

constinit EFI_HANDLE            gImageHandle = nullptr;
constinit EFI_SYSTEM_TABLE     *gST = nullptr;
constinit EFI_BOOT_SERVICES    *gBS = nullptr;
constinit EFI_RUNTIME_SERVICES *gRT = nullptr;

EFI_STATUS UefiLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImageHandle = ImageHandle;
  ASSERT(gImageHandle != nullptr);
  gST = SystemTable;
  ASSERT(gST != nullptr);
  gBS = SystemTable->BootServices;
  ASSERT(gBS != nullptr);
  gRT = SystemTable->RuntimeServices;
  ASSERT(gRT != nullptr);
  return EFI_SUCCESS;
}

EFI_STATUS DriverModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable,
                             EFI_IMAGE_ENTRY_POINT Entry, EFI_IMAGE_UNLOAD Unload) {
  EFI_STATUS Status = UefiLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  if (Unload != nullptr) {
    EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = nullptr;
    Status = gBS->HandleProtocol(ImageHandle, &gEfiLoadedImageProtocolGuid,
                                 reinterpret_cast<VOID **>(&LoadedImage));
    ASSERT_EFI_ERROR(Status);
    LoadedImage->Unload = Unload;
  }
  return Entry(ImageHandle, SystemTable);
}

namespace {

// Length of the token at List (up to ';' or the end).
UINTN TokenLength(const CHAR8 *List) {
  UINTN Length = 0;
  while (List[Length] != '\0' && List[Length] != ';') {
    ++Length;
  }
  return Length;
}

bool SameText(const CHAR8 *A, UINTN ALength, const CHAR8 *B, UINTN BLength) {
  if (ALength != BLength) {
    return false;
  }
  for (UINTN Index = 0; Index < ALength; ++Index) {
    CHAR8 X = A[Index];
    CHAR8 Y = B[Index];
    // RFC 4646 tags compare case-insensitively.
    if (X >= 'A' && X <= 'Z') X = static_cast<CHAR8>(X - 'A' + 'a');
    if (Y >= 'A' && Y <= 'Z') Y = static_cast<CHAR8>(Y - 'A' + 'a');
    if (X != Y) {
      return false;
    }
  }
  return true;
}

// Whether Language is one of the entries of List. ISO 639-2 lists are
// concatenated three-letter codes ("engfra"); RFC 4646 lists and table rows
// are ';'-separated ("en;fr").
bool LanguageInList(const CHAR8 *Language, const CHAR8 *List, bool Iso639, bool Separated) {
  UINTN LanguageLength = AsciiStrLen(Language);
  if (Iso639 && !Separated) {
    if (LanguageLength != 3) {
      return false;
    }
    for (UINTN Offset = 0; List[Offset] != '\0'; Offset += 3) {
      if (List[Offset + 1] == '\0' || List[Offset + 2] == '\0') {
        return false;
      }
      if (SameText(Language, 3, List + Offset, 3)) {
        return true;
      }
    }
    return false;
  }
  while (*List != '\0') {
    UINTN Length = TokenLength(List);
    if (SameText(Language, LanguageLength, List, Length)) {
      return true;
    }
    List += Length;
    if (*List == ';') {
      ++List;
    }
  }
  return false;
}

}  // namespace

EFI_STATUS LookupUnicodeString2(const CHAR8 *Language, const CHAR8 *SupportedLanguages,
                                const EFI_UNICODE_STRING_TABLE *UnicodeStringTable,
                                CHAR16 **UnicodeString, BOOLEAN Iso639Language) {
  if (Language == nullptr || UnicodeString == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (SupportedLanguages == nullptr || UnicodeStringTable == nullptr) {
    return EFI_UNSUPPORTED;
  }
  if (!LanguageInList(Language, SupportedLanguages, Iso639Language, !Iso639Language)) {
    return EFI_UNSUPPORTED;
  }
  for (const EFI_UNICODE_STRING_TABLE *Row = UnicodeStringTable; Row->Language != nullptr; ++Row) {
    if (LanguageInList(Language, Row->Language, Iso639Language, true)) {
      *UnicodeString = const_cast<CHAR16 *>(Row->UnicodeString);
      return EFI_SUCCESS;
    }
  }
  return EFI_UNSUPPORTED;
}
