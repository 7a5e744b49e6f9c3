#include <HostEnv/Text.h>

#include <uefi/SystemTable.h>

#include <array>
#include <cstdio>

namespace HostEnv {
namespace {

void AppendUtf8(std::string &Out, char32_t CodePoint) {
  if (CodePoint < 0x80) {
    Out += static_cast<char>(CodePoint);
  } else if (CodePoint < 0x800) {
    Out += static_cast<char>(0xC0 | (CodePoint >> 6));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else if (CodePoint < 0x10000) {
    Out += static_cast<char>(0xE0 | (CodePoint >> 12));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (CodePoint >> 18));
    Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  }
}

bool IsHighSurrogate(char16_t Unit) { return Unit >= 0xD800 && Unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

}  // namespace

std::string Utf16ToUtf8(std::u16string_view Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (size_t Index = 0; Index < Text.size(); ++Index) {
    char16_t Unit = Text[Index];
    if (IsHighSurrogate(Unit) && Index + 1 < Text.size() && IsLowSurrogate(Text[Index + 1])) {
      char32_t CodePoint = 0x10000 + ((char32_t(Unit) - 0xD800) << 10) + (char32_t(Text[Index + 1]) - 0xDC00);
      AppendUtf8(Out, CodePoint);
      ++Index;
    } else if (IsHighSurrogate(Unit) || IsLowSurrogate(Unit)) {
      AppendUtf8(Out, 0xFFFD);
    } else {
      AppendUtf8(Out, Unit);
    }
  }
  return Out;
}

std::string Utf16ToUtf8(const CHAR16 *Text) {
  return Text == nullptr ? std::string() : Utf16ToUtf8(std::u16string_view(Text));
}

std::u16string Utf8ToUtf16(std::string_view Text) {
  std::u16string Out;
  size_t Index = 0;
  while (Index < Text.size()) {
    unsigned char Lead = static_cast<unsigned char>(Text[Index]);
    int Extra = Lead < 0x80 ? 0 : Lead >= 0xF0 ? 3 : Lead >= 0xE0 ? 2 : Lead >= 0xC0 ? 1 : -1;
    bool Complete = Extra >= 0 && Index + Extra < Text.size();
    for (int Follow = 1; Complete && Follow <= Extra; ++Follow) {
      Complete = (static_cast<unsigned char>(Text[Index + Follow]) & 0xC0) == 0x80;
    }
    if (!Complete) {
      Out += u'\uFFFD';
      ++Index;
      continue;
    }
    char32_t CodePoint = Extra == 0 ? Lead : Lead & (0x3F >> Extra);
    for (int Follow = 1; Follow <= Extra; ++Follow) {
      CodePoint = (CodePoint << 6) | (static_cast<unsigned char>(Text[Index + Follow]) & 0x3F);
    }
    Index += Extra + 1;
    if (CodePoint >= 0x10000) {
      CodePoint -= 0x10000;
      Out += static_cast<char16_t>(0xD800 + (CodePoint >> 10));
      Out += static_cast<char16_t>(0xDC00 + (CodePoint & 0x3FF));
    } else {
      Out += static_cast<char16_t>(CodePoint);
    }
  }
  return Out;
}

std::string GuidToString(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof(Text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Guid.Data1, Guid.Data2,
                Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3], Guid.Data4[4],
                Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
  return Text;
}

std::string StatusToString(EFI_STATUS Status) {
  if (const char *Name = EfiStatusName(Status)) {
    return Name;
  }
  char Text[32];
  std::snprintf(Text, sizeof(Text), "0x%llX", Status);
  return Text;
}

std::string MemoryTypeName(UINT32 MemoryType) {
  static constexpr std::array<const char *, EfiMaxMemoryType> Names = {
      "EfiReservedMemoryType",  "EfiLoaderCode",        "EfiLoaderData",
      "EfiBootServicesCode",    "EfiBootServicesData",  "EfiRuntimeServicesCode",
      "EfiRuntimeServicesData", "EfiConventionalMemory", "EfiUnusableMemory",
      "EfiACPIReclaimMemory",   "EfiACPIMemoryNVS",     "EfiMemoryMappedIO",
      "EfiMemoryMappedIOPortSpace", "EfiPalCode",       "EfiPersistentMemory",
      "EfiUnacceptedMemoryType"};
  if (MemoryType < Names.size()) {
    return Names[MemoryType];
  }
  char Text[32];
  std::snprintf(Text, sizeof(Text), "MemoryType(0x%X)", MemoryType);
  return Text;
}

}  // namespace HostEnv
