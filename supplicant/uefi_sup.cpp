#include "uefi_sup.h"

#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/PrintLib.h>
#include <Library/UefiLib.h>

#include "Random.h"
#include "SupProtocol.h"
#include "eap/Eap.h"
#include "sae/CommitConfirm.h"

constinit EFI_DRIVER_BINDING_PROTOCOL gNorvSupDriverBinding = {
    SupDriverBindingSupported, SupDriverBindingStart, SupDriverBindingStop, NORV_SUP_DRIVER_VERSION, nullptr,
    nullptr};

namespace {
constinit CHAR8 Iso639Languages[] = "eng";
constinit CHAR8 Rfc4646Languages[] = "en";

constexpr EFI_UNICODE_STRING_TABLE DriverNameTable[] = {
    {"eng;en", u"Norv UEFI SUPPLICANT Driver"},
    {nullptr, nullptr},
};
}  // namespace

constinit EFI_COMPONENT_NAME_PROTOCOL gNorvSupComponentName = {
    SupComponentNameGetDriverName, SupComponentNameGetControllerName, Iso639Languages};
constinit EFI_COMPONENT_NAME2_PROTOCOL gNorvSupComponentName2 = {
    SupComponentNameGetDriverName, SupComponentNameGetControllerName, Rfc4646Languages};

extern "C" EFI_STATUS EFIAPI NorvSupDxeModuleEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DebugAssertSetModuleName("NorvSupDxe");
  return DriverModuleEntry(ImageHandle, SystemTable, NorvSupDriverEntryPoint, NorvSupUnload);
}

// ---------------------------------------------------------------------------
// Entry and unload
// ---------------------------------------------------------------------------

namespace {
// A failed entry makes the firmware free the image; a driver binding left
// behind would send the next ConnectController into freed code.
VOID UninstallDriverBinding(EFI_HANDLE ImageHandle) {
  gBS->UninstallProtocolInterface(ImageHandle, &gEfiDriverBindingProtocolGuid, &gNorvSupDriverBinding);
}
}  // namespace

EFI_STATUS EFIAPI NorvSupDriverEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_TIME Time = {};
  // The clock only seeds the fallback generator; a failing clock leaves the
  // zeroed time, never an uninitialised one.
  SystemTable->RuntimeServices->GetTime(&Time, nullptr);
  RandomSourceInitialize(Time);

  gNorvSupDriverBinding.ImageHandle = ImageHandle;
  gNorvSupDriverBinding.DriverBindingHandle = ImageHandle;
  EFI_STATUS Status = gBS->InstallProtocolInterface(&gNorvSupDriverBinding.DriverBindingHandle,
                                                    &gEfiDriverBindingProtocolGuid, EFI_NATIVE_INTERFACE,
                                                    &gNorvSupDriverBinding);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  SUP_SERVICE *Service = nullptr;
  Status = SupCreateService(ImageHandle, &Service);
  if (EFI_ERROR(Status)) {
    UninstallDriverBinding(ImageHandle);
    return Status;
  }

  Status = gBS->InstallMultipleProtocolInterfaces(
      &gNorvSupDriverBinding.DriverBindingHandle, &gEfiSupplicantServiceBindingProtocolGuid,
      &Service->ServiceBinding, &gEfiComponentNameProtocolGuid, &gNorvSupComponentName,
      &gEfiComponentName2ProtocolGuid, &gNorvSupComponentName2, nullptr);
  if (EFI_ERROR(Status)) {
    AsciiPrint("NorvSupDriverEntryPoint: InstallMultipleProtocolInterfaces %r\n", Status);
    FreePool(Service);
    UninstallDriverBinding(ImageHandle);
  }
  return Status;
}

namespace {
// Destroys every child of the service. A child whose protocols cannot be
// removed (another agent holds them open) stops the walk: that child stays
// installed, listed and usable, and its status is returned.
EFI_STATUS DestroyAllChildren(SUP_SERVICE *Service) {
  while (!IsListEmpty(&Service->ChildrenList)) {
    SUP_INSTANCE *Child = SUP_INSTANCE_FROM_LINK(GetFirstNode(&Service->ChildrenList));
    BOOLEAN WasInDestroy = Child->InDestroy;
    Child->InDestroy = TRUE;
    EFI_STATUS Status = SupRemoveChild(Service, Child);
    if (EFI_ERROR(Status)) {
      Child->InDestroy = WasInDestroy;
      return Status;
    }
  }
  return EFI_SUCCESS;
}
}  // namespace

EFI_STATUS EFIAPI NorvSupUnload(EFI_HANDLE ImageHandle) {
  UINTN       HandleCount = 0;
  EFI_HANDLE *Handles = nullptr;
  EFI_STATUS  Status = gBS->LocateHandleBuffer(ByProtocol, &gEfiSupplicantServiceBindingProtocolGuid, nullptr,
                                               &HandleCount, &Handles);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  for (UINTN Index = 0; Index < HandleCount; ++Index) {
    // The entry installs the service on the image handle. A binding on any
    // other handle belongs to another driver, or to another loaded copy of
    // this one, and is not ours to take apart.
    if (Handles[Index] != ImageHandle) {
      continue;
    }
    EFI_SERVICE_BINDING_PROTOCOL *ServiceBinding = nullptr;
    Status = gBS->OpenProtocol(Handles[Index], &gEfiSupplicantServiceBindingProtocolGuid,
                               reinterpret_cast<VOID **>(&ServiceBinding), ImageHandle, nullptr,
                               EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL);
    if (EFI_ERROR(Status)) {
      continue;
    }
    SUP_SERVICE *Service = SUP_SERVICE_FROM_THIS(ServiceBinding);

    // Children point into this image: none may outlive it. If one cannot be
    // destroyed, the driver stays loaded and everything keeps working.
    Status = DestroyAllChildren(Service);
    if (!EFI_ERROR(Status)) {
      Status = gBS->UninstallMultipleProtocolInterfaces(
          Handles[Index], &gEfiSupplicantServiceBindingProtocolGuid, &Service->ServiceBinding,
          &gEfiComponentNameProtocolGuid, &gNorvSupComponentName, &gEfiComponentName2ProtocolGuid,
          &gNorvSupComponentName2, nullptr);
    }
    if (EFI_ERROR(Status)) {
      FreePool(Handles);
      return Status;
    }
    FreePool(Service);

    EFI_DRIVER_BINDING_PROTOCOL *DriverBinding = nullptr;
    Status = gBS->HandleProtocol(Handles[Index], &gEfiDriverBindingProtocolGuid,
                                 reinterpret_cast<VOID **>(&DriverBinding));
    if (!EFI_ERROR(Status) && DriverBinding->ImageHandle == ImageHandle) {
      gBS->UninstallProtocolInterface(ImageHandle, &gEfiDriverBindingProtocolGuid, DriverBinding);
    }
  }

  FreePool(Handles);
  return EFI_SUCCESS;
}

// ---------------------------------------------------------------------------
// Driver binding
// ---------------------------------------------------------------------------

bool SupIsSupportedController(UINT16 VendorId, UINT16 DeviceId) {
  for (const SUP_PCI_ID &Id : SupSupportedControllers) {
    if (Id.VendorId == VendorId && Id.DeviceId == DeviceId) {
      return true;
    }
  }
  return false;
}

EFI_STATUS EFIAPI SupDriverBindingSupported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                            EFI_DEVICE_PATH_PROTOCOL *) {
  EFI_STATUS Status = gBS->OpenProtocol(Controller, &gEfiDevicePathProtocolGuid, nullptr,
                                        This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_TEST_PROTOCOL);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  EFI_PCI_IO_PROTOCOL *PciIo = nullptr;
  Status = gBS->OpenProtocol(Controller, &gEfiPciIoProtocolGuid, reinterpret_cast<VOID **>(&PciIo),
                             This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  UINT8 Config[64];
  Status = PciIo->Pci.Read(PciIo, EfiPciIoWidthUint8, 0, sizeof(Config), Config);
  if (!EFI_ERROR(Status)) {
    UINT16 VendorId = (UINT16)(Config[0] | (Config[1] << 8));
    UINT16 DeviceId = (UINT16)(Config[2] | (Config[3] << 8));
    Status = SupIsSupportedController(VendorId, DeviceId) ? EFI_SUCCESS : EFI_UNSUPPORTED;
  }

  gBS->CloseProtocol(Controller, &gEfiPciIoProtocolGuid, This->DriverBindingHandle, Controller);
  return Status;
}

// The supplicant service does not depend on a bound controller.
EFI_STATUS EFIAPI SupDriverBindingStart(EFI_DRIVER_BINDING_PROTOCOL *, EFI_HANDLE, EFI_DEVICE_PATH_PROTOCOL *) {
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SupDriverBindingStop(EFI_DRIVER_BINDING_PROTOCOL *, EFI_HANDLE, UINTN, EFI_HANDLE *) {
  return EFI_SUCCESS;
}

// ---------------------------------------------------------------------------
// Component name
// ---------------------------------------------------------------------------

EFI_STATUS EFIAPI SupComponentNameGetDriverName(EFI_COMPONENT_NAME_PROTOCOL *This, CHAR8 *Language,
                                                CHAR16 **DriverName) {
  return LookupUnicodeString2(Language, This->SupportedLanguages, DriverNameTable, DriverName,
                              This == &gNorvSupComponentName);
}

EFI_STATUS EFIAPI SupComponentNameGetControllerName(EFI_COMPONENT_NAME_PROTOCOL *, EFI_HANDLE, EFI_HANDLE,
                                                    CHAR8 *, CHAR16 **) {
  return EFI_UNSUPPORTED;
}

// ---------------------------------------------------------------------------
// Service binding
// ---------------------------------------------------------------------------

EFI_STATUS SupCreateService(EFI_HANDLE ImageHandle, SUP_SERVICE **Service) {
  ASSERT_NOT_NULL(Service);
  *Service = nullptr;
  auto *Record = static_cast<SUP_SERVICE *>(AllocateZeroPool(sizeof(SUP_SERVICE)));
  if (Record == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  Record->Signature = SUP_SERVICE_SIGNATURE;
  Record->ServiceBinding = {SupServiceBindingCreateChild, SupServiceBindingDestroyChild};
  Record->ChildrenNumber = 0;
  InitializeListHead(&Record->ChildrenList);
  Record->ImageHandle = ImageHandle;
  *Service = Record;
  return EFI_SUCCESS;
}

EFI_STATUS SupCreateInstance(SUP_SERVICE *Service, SUP_INSTANCE **Instance) {
  *Instance = nullptr;
  auto *Record = static_cast<SUP_INSTANCE *>(AllocateZeroPool(sizeof(SUP_INSTANCE)));
  if (Record == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  Record->Signature = SUP_INSTANCE_SIGNATURE;
  InitializeListHead(&Record->Link);
  Record->InDestroy = FALSE;
  Record->Service = Service;
  Record->Supplicant = {SupBuildResponsePacket, SupProcessPacket, SupSetData, SupGetData};
  Record->EapConfig = {EapConfigSetData, EapConfigGetData};
  *Instance = Record;
  return EFI_SUCCESS;
}

VOID SupFreeInstance(SUP_INSTANCE *Instance) {
  // The SAE context and an EAP-TLS exchange own mbedtls objects in pool
  // memory of their own.
  sae_clear(&Instance->Sae);
  SupEapRelease(Instance);
  FreePoolSecure(Instance, sizeof(*Instance));
}

EFI_STATUS EFIAPI SupServiceBindingCreateChild(EFI_SERVICE_BINDING_PROTOCOL *This, EFI_HANDLE *ChildHandle) {
  if (This == nullptr || ChildHandle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  SUP_SERVICE *Service = SUP_SERVICE_FROM_THIS(This);

  SUP_INSTANCE *SupInstance = nullptr;
  EFI_STATUS Status = SupCreateInstance(Service, &SupInstance);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  ASSERT_NOT_NULL(SupInstance);

  Status = gBS->InstallMultipleProtocolInterfaces(ChildHandle, &gEfiSupplicantProtocolGuid,
                                                  &SupInstance->Supplicant, &gEfiEapConfigurationProtocolGuid,
                                                  &SupInstance->EapConfig, nullptr);
  if (EFI_ERROR(Status)) {
    SupFreeInstance(SupInstance);
    return Status;
  }
  SupInstance->Handle = *ChildHandle;

  EFI_TPL OldTpl = gBS->RaiseTPL(TPL_CALLBACK);
  InsertTailList(&Service->ChildrenList, &SupInstance->Link);
  Service->ChildrenNumber++;
  gBS->RestoreTPL(OldTpl);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SupServiceBindingDestroyChild(EFI_SERVICE_BINDING_PROTOCOL *This, EFI_HANDLE ChildHandle) {
  if (This == nullptr || ChildHandle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  SUP_SERVICE *Service = SUP_SERVICE_FROM_THIS(This);

  EFI_SUPPLICANT_PROTOCOL *Supplicant = nullptr;
  EFI_STATUS Status = gBS->OpenProtocol(ChildHandle, &gEfiSupplicantProtocolGuid,
                                        reinterpret_cast<VOID **>(&Supplicant), Service->ImageHandle, nullptr,
                                        EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  SUP_INSTANCE *SupInstance = SUP_INSTANCE_FROM_SUPPLICANT(Supplicant);
  if (SupInstance->Service != Service) {
    return EFI_INVALID_PARAMETER;
  }
  if (SupInstance->InDestroy) {
    return EFI_SUCCESS;
  }

  EFI_TPL OldTpl = gBS->RaiseTPL(TPL_CALLBACK);
  SupInstance->InDestroy = TRUE;
  Status = SupRemoveChild(Service, SupInstance);
  gBS->RestoreTPL(OldTpl);
  return Status;
}

EFI_STATUS SupRemoveChild(SUP_SERVICE *Service, SUP_INSTANCE *Instance) {
  EFI_TPL OldTpl = gBS->RaiseTPL(TPL_CALLBACK);
  EFI_STATUS Status = gBS->UninstallMultipleProtocolInterfaces(Instance->Handle, &gEfiSupplicantProtocolGuid,
                                                               &Instance->Supplicant, &gEfiEapConfigurationProtocolGuid,
                                                               &Instance->EapConfig, nullptr);
  if (EFI_ERROR(Status)) {
    gBS->RestoreTPL(OldTpl);
    return Status;
  }
  RemoveEntryList(&Instance->Link);
  Service->ChildrenNumber--;
  gBS->RestoreTPL(OldTpl);

  SupFreeInstance(Instance);
  return EFI_SUCCESS;
}
