// Text helpers shared by the host environment, its tests and the tools:
// UTF-16 <-> UTF-8, GUID and status formatting.
#pragma once

#include <uefi/Base.h>

#include <string>
#include <string_view>

namespace HostEnv {

// Converts UTF-16 (stopping at the first NUL) to UTF-8. Unpaired surrogates
// become U+FFFD so captured console text is always valid UTF-8.
std::string Utf16ToUtf8(const CHAR16 *Text);
std::string Utf16ToUtf8(std::u16string_view Text);
std::u16string Utf8ToUtf16(std::string_view Text);

// "8BE4DF61-93CA-11D2-AA0D-00E098032B8C", the registry form of a GUID.
std::string GuidToString(const EFI_GUID &Guid);

// "Not Found" style name of a status code, or its hexadecimal value when the
// code has no name.
std::string StatusToString(EFI_STATUS Status);

// "EfiBootServicesData" style name of a memory type.
std::string MemoryTypeName(UINT32 MemoryType);

}  // namespace HostEnv
