// Service-table globals and driver-model helpers.
#pragma once
#include <uefi/Uefi.h>

extern EFI_HANDLE            gImageHandle;
extern EFI_SYSTEM_TABLE     *gST;
extern EFI_BOOT_SERVICES    *gBS;
extern EFI_RUNTIME_SERVICES *gRT;

// The library constructor: stores the image handle and the three tables.
// Asserts that none of them is NULL.
EFI_STATUS UefiLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Driver-image entry glue shared by both drivers: runs the library
// constructor, registers Unload in the image's loaded-image protocol (when
// given), then calls Entry.
EFI_STATUS DriverModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable,
                             EFI_IMAGE_ENTRY_POINT Entry, EFI_IMAGE_UNLOAD Unload);

// Component-name lookup over a table of {language list, name} rows ending in
// a row with NULL language. SupportedLanguages is the protocol's list; Iso639
// selects three-letter matching (ISO 639-2) instead of RFC 4646 prefixes.
typedef struct {
  const CHAR8  *Language;  // e.g. "eng;en"
  const CHAR16 *UnicodeString;
} EFI_UNICODE_STRING_TABLE;

EFI_STATUS LookupUnicodeString2(const CHAR8 *Language, const CHAR8 *SupportedLanguages,
                                const EFI_UNICODE_STRING_TABLE *UnicodeStringTable,
                                CHAR16 **UnicodeString, BOOLEAN Iso639Language);
