#pragma once
#include <uefi/SystemTable.h>

typedef struct _EFI_DRIVER_BINDING_PROTOCOL EFI_DRIVER_BINDING_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_DRIVER_BINDING_SUPPORTED)(IN EFI_DRIVER_BINDING_PROTOCOL *This,
                                                         IN EFI_HANDLE ControllerHandle,
                                                         IN EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_DRIVER_BINDING_START)(IN EFI_DRIVER_BINDING_PROTOCOL *This,
                                                     IN EFI_HANDLE ControllerHandle,
                                                     IN EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath OPTIONAL);
typedef EFI_STATUS(EFIAPI *EFI_DRIVER_BINDING_STOP)(IN EFI_DRIVER_BINDING_PROTOCOL *This,
                                                    IN EFI_HANDLE ControllerHandle, IN UINTN NumberOfChildren,
                                                    IN EFI_HANDLE *ChildHandleBuffer OPTIONAL);

struct _EFI_DRIVER_BINDING_PROTOCOL {
  EFI_DRIVER_BINDING_SUPPORTED Supported;
  EFI_DRIVER_BINDING_START     Start;
  EFI_DRIVER_BINDING_STOP      Stop;
  UINT32                       Version;
  EFI_HANDLE                   ImageHandle;
  EFI_HANDLE                   DriverBindingHandle;
};
static_assert(offsetof(EFI_DRIVER_BINDING_PROTOCOL, Version) == 24);
static_assert(offsetof(EFI_DRIVER_BINDING_PROTOCOL, ImageHandle) == 32);
static_assert(sizeof(EFI_DRIVER_BINDING_PROTOCOL) == 48);

inline constinit EFI_GUID gEfiDriverBindingProtocolGuid = {0x18A031AB, 0xB443, 0x4D1A, {0xA5, 0xC0, 0x0C, 0x09, 0x26, 0x1E, 0x9F, 0x71}};
