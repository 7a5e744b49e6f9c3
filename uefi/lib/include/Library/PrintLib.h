// Formatted print into ASCII and UTF-16 buffers and to the console.
//
// Conversions: %a (ASCII string), %s (UTF-16 string), %c (character),
// %r (EFI_STATUS by name), %d %u %x %X (32-bit), %ld %lu %lx %lX (64-bit),
// %p (pointer), %g (EFI_GUID*), %% ; flags '0' and '-', a width or '*'.
// Output is always NUL-terminated and truncated to the buffer.
#pragma once
#include <uefi/Base.h>

UINTN AsciiSPrint(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, ...);
UINTN AsciiVSPrint(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, va_list Marker);
// The same over an argument list of an EFIAPI variadic function (the form
// protocol members receive; on the host it differs from va_list).
UINTN AsciiVSPrintEfi(CHAR8 *Buffer, UINTN BufferSize, const CHAR8 *Format, EFI_VA_LIST Marker);
// BufferSize is in bytes, as for the UEFI print services.
UINTN UnicodeSPrint(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, ...);
UINTN UnicodeVSPrint(CHAR16 *Buffer, UINTN BufferSize, const CHAR16 *Format, va_list Marker);
// ASCII format, UTF-16 output.
UINTN UnicodeSPrintAsciiFormat(CHAR16 *Buffer, UINTN BufferSize, const CHAR8 *Format, ...);

// Print to gST->ConOut / gST->StdErr (ASCII format, converted to UTF-16).
UINTN AsciiPrint(const CHAR8 *Format, ...);
UINTN AsciiErrorPrint(const CHAR8 *Format, ...);
