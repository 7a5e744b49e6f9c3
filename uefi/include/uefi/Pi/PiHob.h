// Hand-off blocks (HOBs) of the Platform Initialization specification: the
// list the earlier boot phase leaves behind and the DXE phase finds through
// the configuration table entry gEfiHobListGuid.
#pragma once
#include <uefi/Base.h>

constexpr UINT16 EFI_HOB_TYPE_HANDOFF             = 0x0001;
constexpr UINT16 EFI_HOB_TYPE_MEMORY_ALLOCATION   = 0x0002;
constexpr UINT16 EFI_HOB_TYPE_RESOURCE_DESCRIPTOR = 0x0003;
constexpr UINT16 EFI_HOB_TYPE_GUID_EXTENSION      = 0x0004;
constexpr UINT16 EFI_HOB_TYPE_FV                  = 0x0005;
constexpr UINT16 EFI_HOB_TYPE_CPU                 = 0x0006;
constexpr UINT16 EFI_HOB_TYPE_MEMORY_POOL         = 0x0007;
constexpr UINT16 EFI_HOB_TYPE_FV2                 = 0x0009;
constexpr UINT16 EFI_HOB_TYPE_UEFI_CAPSULE        = 0x000B;
constexpr UINT16 EFI_HOB_TYPE_FV3                 = 0x000C;
constexpr UINT16 EFI_HOB_TYPE_UNUSED              = 0xFFFE;
constexpr UINT16 EFI_HOB_TYPE_END_OF_HOB_LIST     = 0xFFFF;

typedef struct {
  UINT16 HobType;
  UINT16 HobLength;  // whole HOB including this header, a multiple of 8
  UINT32 Reserved;
} EFI_HOB_GENERIC_HEADER;
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8);

typedef UINT32 EFI_BOOT_MODE;

typedef struct {
  EFI_HOB_GENERIC_HEADER Header;
  UINT32                 Version;
  EFI_BOOT_MODE          BootMode;
  EFI_PHYSICAL_ADDRESS   EfiMemoryTop;
  EFI_PHYSICAL_ADDRESS   EfiMemoryBottom;
  EFI_PHYSICAL_ADDRESS   EfiFreeMemoryTop;
  EFI_PHYSICAL_ADDRESS   EfiFreeMemoryBottom;
  EFI_PHYSICAL_ADDRESS   EfiEndOfHobList;
} EFI_HOB_HANDOFF_INFO_TABLE;
static_assert(sizeof(EFI_HOB_HANDOFF_INFO_TABLE) == 56);

// A GUID extension HOB: the header, the GUID that names the data, then the
// data up to HobLength.
typedef struct {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID               Name;
} EFI_HOB_GUID_TYPE;
static_assert(sizeof(EFI_HOB_GUID_TYPE) == 24);

constexpr UINT32 EFI_HOB_HANDOFF_TABLE_VERSION = 0x0009;
