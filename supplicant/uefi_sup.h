// Driver entry, driver binding, component names, service binding and unload
// of the supplicant driver.
#pragma once
#include "SupInstance.h"

constexpr UINT32 NORV_SUP_DRIVER_VERSION = 0x2379138;

// The Wi-Fi controllers this driver is shipped for (PCI vendor, device). A
// platform integrator replaces this table for other hardware.
struct SUP_PCI_ID {
  UINT16 VendorId;
  UINT16 DeviceId;
};
inline constexpr SUP_PCI_ID SupSupportedControllers[] = {
    {0x8086, 0x2723}, {0x8086, 0x2725}, {0x8086, 0x2526},
    {0x8086, 0x24FD}, {0x8086, 0x06F0}, {0x8086, 0x51F0},
};
bool SupIsSupportedController(UINT16 VendorId, UINT16 DeviceId);

extern "C" EFI_STATUS EFIAPI NorvSupDxeModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS EFIAPI NorvSupDriverEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS EFIAPI NorvSupUnload(EFI_HANDLE ImageHandle);

EFI_STATUS EFIAPI SupDriverBindingSupported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                            EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath);
EFI_STATUS EFIAPI SupDriverBindingStart(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                        EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath);
EFI_STATUS EFIAPI SupDriverBindingStop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                       UINTN NumberOfChildren, EFI_HANDLE *ChildHandleBuffer);

EFI_STATUS EFIAPI SupComponentNameGetDriverName(EFI_COMPONENT_NAME_PROTOCOL *This, CHAR8 *Language,
                                                CHAR16 **DriverName);
EFI_STATUS EFIAPI SupComponentNameGetControllerName(EFI_COMPONENT_NAME_PROTOCOL *This, EFI_HANDLE Controller,
                                                    EFI_HANDLE ChildHandle, CHAR8 *Language,
                                                    CHAR16 **ControllerName);

EFI_STATUS EFIAPI SupServiceBindingCreateChild(EFI_SERVICE_BINDING_PROTOCOL *This, EFI_HANDLE *ChildHandle);
EFI_STATUS EFIAPI SupServiceBindingDestroyChild(EFI_SERVICE_BINDING_PROTOCOL *This, EFI_HANDLE ChildHandle);

EFI_STATUS SupCreateService(EFI_HANDLE ImageHandle, SUP_SERVICE **Service);
EFI_STATUS SupCreateInstance(SUP_SERVICE *Service, SUP_INSTANCE **Instance);
// Releases everything a child owns, then the record itself.
VOID SupFreeInstance(SUP_INSTANCE *Instance);
// Uninstalls a child's two protocols, unlinks and frees its record. On
// failure the child stays installed and listed, and the status is returned.
EFI_STATUS SupRemoveChild(SUP_SERVICE *Service, SUP_INSTANCE *Instance);

extern EFI_DRIVER_BINDING_PROTOCOL gNorvSupDriverBinding;
extern EFI_COMPONENT_NAME_PROTOCOL gNorvSupComponentName;
extern EFI_COMPONENT_NAME2_PROTOCOL gNorvSupComponentName2;
