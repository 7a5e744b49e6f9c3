#pragma once
#include <uefi/Base.h>

typedef struct {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
} EFI_DEVICE_PATH_PROTOCOL;
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4);

constexpr UINT8 HARDWARE_DEVICE_PATH     = 0x01;
constexpr UINT8 HW_PCI_DP                = 0x01;
constexpr UINT8 ACPI_DEVICE_PATH         = 0x02;
constexpr UINT8 ACPI_DP                  = 0x01;
constexpr UINT8 END_DEVICE_PATH_TYPE     = 0x7F;
constexpr UINT8 END_ENTIRE_DEVICE_PATH_SUBTYPE = 0xFF;

typedef struct {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT8                    Function;
  UINT8                    Device;
} PCI_DEVICE_PATH;

typedef struct {
  EFI_DEVICE_PATH_PROTOCOL Header;
  UINT32                   HID;
  UINT32                   UID;
} ACPI_HID_DEVICE_PATH;

inline constinit EFI_GUID gEfiDevicePathProtocolGuid = {0x09576E91, 0x6D3F, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};
