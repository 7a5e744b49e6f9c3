#pragma once
#include <uefi/Base.h>

// EFI_COMPONENT_NAME_PROTOCOL (ISO 639-2 languages) and
// EFI_COMPONENT_NAME2_PROTOCOL (RFC 4646 languages) share one layout.
typedef struct _EFI_COMPONENT_NAME_PROTOCOL EFI_COMPONENT_NAME_PROTOCOL;
typedef struct _EFI_COMPONENT_NAME_PROTOCOL EFI_COMPONENT_NAME2_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_COMPONENT_NAME_GET_DRIVER_NAME)(IN EFI_COMPONENT_NAME_PROTOCOL *This,
                                                               IN CHAR8 *Language, OUT CHAR16 **DriverName);
typedef EFI_STATUS(EFIAPI *EFI_COMPONENT_NAME_GET_CONTROLLER_NAME)(IN EFI_COMPONENT_NAME_PROTOCOL *This,
                                                                   IN EFI_HANDLE ControllerHandle,
                                                                   IN EFI_HANDLE ChildHandle OPTIONAL,
                                                                   IN CHAR8 *Language,
                                                                   OUT CHAR16 **ControllerName);

struct _EFI_COMPONENT_NAME_PROTOCOL {
  EFI_COMPONENT_NAME_GET_DRIVER_NAME     GetDriverName;
  EFI_COMPONENT_NAME_GET_CONTROLLER_NAME GetControllerName;
  CHAR8                                 *SupportedLanguages;
};
static_assert(sizeof(EFI_COMPONENT_NAME_PROTOCOL) == 24);

typedef EFI_COMPONENT_NAME_GET_DRIVER_NAME EFI_COMPONENT_NAME2_GET_DRIVER_NAME;
typedef EFI_COMPONENT_NAME_GET_CONTROLLER_NAME EFI_COMPONENT_NAME2_GET_CONTROLLER_NAME;

inline constinit EFI_GUID gEfiComponentNameProtocolGuid = {0x107A772C, 0xD5E1, 0x11D4, {0x9A, 0x46, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
inline constinit EFI_GUID gEfiComponentName2ProtocolGuid = {0x6A7A5CFF, 0xE8D9, 0x4F70, {0xBA, 0xDA, 0x75, 0xAB, 0x30, 0x25, 0xCE, 0x14}};
