#include "FrameSuite.h"

#include <Library/BaseLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiLib.h>
#include <uefi/Protocol/EapConfiguration.h>
#include <uefi/Protocol/Supplicant.h>

namespace {

// A protocol of the test's own, to give CreateChild an existing handle.
constinit EFI_GUID TestMarkerGuid = {0x6C1D9A2E, 0x3B57, 0x4E0F, {0x9A, 0x61, 0x2D, 0x7E, 0x40, 0x18, 0xC3, 0x5B}};
constinit UINT32 TestMarker = 0x4B52414D;

UINTN CountHandles(EFI_GUID *Protocol) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, Protocol, nullptr, &Count, &Handles))) {
    return 0;
  }
  FreePool(Handles);
  return Count;
}

bool HasProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol) {
  VOID *Interface = nullptr;
  return !EFI_ERROR(gBS->HandleProtocol(Handle, Protocol, &Interface)) && Interface != nullptr;
}

EFI_HANDLE DriverHandle() {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &gEfiSupplicantServiceBindingProtocolGuid, nullptr, &Count,
                                        &Handles))) {
    return nullptr;
  }
  EFI_HANDLE Handle = Count == 1 ? Handles[0] : nullptr;
  FreePool(Handles);
  return Handle;
}

void CheckChildProtocols(TestReporter &Report, EFI_HANDLE Child, bool Expected, const CHAR8 *Name) {
  bool Supplicant = HasProtocol(Child, &gEfiSupplicantProtocolGuid);
  bool Eap = HasProtocol(Child, &gEfiEapConfigurationProtocolGuid);
  Report.Check(Supplicant == Expected && Eap == Expected, Name);
}

void CheckDriverNames(TestReporter &Report, EFI_HANDLE Driver) {
  EFI_COMPONENT_NAME_PROTOCOL *Name1 = nullptr;
  EFI_COMPONENT_NAME2_PROTOCOL *Name2 = nullptr;
  Report.CheckStatus(gBS->HandleProtocol(Driver, &gEfiComponentNameProtocolGuid, reinterpret_cast<VOID **>(&Name1)),
                     EFI_SUCCESS, "frame.component-name.present");
  Report.CheckStatus(gBS->HandleProtocol(Driver, &gEfiComponentName2ProtocolGuid, reinterpret_cast<VOID **>(&Name2)),
                     EFI_SUCCESS, "frame.component-name2.present");
  if (Name1 == nullptr || Name2 == nullptr) {
    return;
  }
  static constexpr CHAR16 Expected[] = u"Norv UEFI SUPPLICANT Driver";
  CHAR8 Eng[] = "eng", En[] = "en", Fr[] = "fr";
  CHAR16 *Text = nullptr;
  Report.CheckStatus(Name1->GetDriverName(Name1, Eng, &Text), EFI_SUCCESS, "frame.component-name.eng");
  Report.Check(Text != nullptr && StrCmp(Text, Expected) == 0, "frame.component-name.eng.text");
  Text = nullptr;
  Report.CheckStatus(Name2->GetDriverName(Name2, En, &Text), EFI_SUCCESS, "frame.component-name2.en");
  Report.Check(Text != nullptr && StrCmp(Text, Expected) == 0, "frame.component-name2.en.text");
  Report.CheckStatus(Name1->GetDriverName(Name1, Fr, &Text), EFI_UNSUPPORTED, "frame.component-name.fr");
  Report.CheckStatus(Name2->GetDriverName(Name2, Fr, &Text), EFI_UNSUPPORTED, "frame.component-name2.fr");
  Report.CheckStatus(Name1->GetDriverName(Name1, En, &Text), EFI_UNSUPPORTED, "frame.component-name.en-is-not-iso639");
  Report.CheckStatus(Name2->GetDriverName(Name2, Eng, &Text), EFI_UNSUPPORTED, "frame.component-name2.eng-is-not-rfc4646");
  Report.CheckStatus(Name1->GetDriverName(Name1, nullptr, &Text), EFI_INVALID_PARAMETER,
                     "frame.component-name.null-language");
  Report.CheckStatus(Name1->GetDriverName(Name1, Eng, nullptr), EFI_INVALID_PARAMETER,
                     "frame.component-name.null-name");
  Report.CheckStatus(Name1->GetControllerName(Name1, Driver, nullptr, Eng, &Text), EFI_UNSUPPORTED,
                     "frame.component-name.controller-name");
}

}  // namespace

void RunFrameSuite(TestReporter &Report) {
  EFI_SERVICE_BINDING_PROTOCOL *Service = nullptr;
  if (!Report.CheckStatus(gBS->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr,
                                              reinterpret_cast<VOID **>(&Service)),
                          EFI_SUCCESS, "frame.locate-service-binding")) {
    return;
  }
  EFI_HANDLE Driver = DriverHandle();
  Report.Check(Driver != nullptr, "frame.service-binding-on-one-handle");

  UINTN ChildrenBefore = CountHandles(&gEfiSupplicantProtocolGuid);

  EFI_HANDLE NewChild = nullptr;
  Report.CheckStatus(Service->CreateChild(Service, &NewChild), EFI_SUCCESS, "frame.create-child.new-handle");
  Report.Check(NewChild != nullptr, "frame.create-child.new-handle.made");
  CheckChildProtocols(Report, NewChild, true, "frame.create-child.new-handle.protocols");

  EFI_HANDLE Existing = nullptr;
  Report.CheckStatus(gBS->InstallProtocolInterface(&Existing, &TestMarkerGuid, EFI_NATIVE_INTERFACE, &TestMarker),
                     EFI_SUCCESS, "frame.existing-handle.made");
  EFI_HANDLE SameChild = Existing;
  Report.CheckStatus(Service->CreateChild(Service, &SameChild), EFI_SUCCESS, "frame.create-child.existing-handle");
  Report.Check(SameChild == Existing, "frame.create-child.existing-handle.kept");
  CheckChildProtocols(Report, Existing, true, "frame.create-child.existing-handle.protocols");
  Report.CheckValue(CountHandles(&gEfiSupplicantProtocolGuid), ChildrenBefore + 2, "frame.children.two-more");

  EFI_SUPPLICANT_PROTOCOL *Supplicant = nullptr;
  gBS->HandleProtocol(NewChild, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Supplicant));
  if (Supplicant != nullptr) {
    Report.CheckStatus(Supplicant->ProcessPacket(Supplicant, nullptr, nullptr, EfiSupplicantDecrypt),
                       EFI_UNSUPPORTED, "frame.process-packet.unsupported");
  }

  Report.CheckStatus(Service->CreateChild(nullptr, &NewChild), EFI_INVALID_PARAMETER, "frame.create-child.null-this");
  Report.CheckStatus(Service->CreateChild(Service, nullptr), EFI_INVALID_PARAMETER, "frame.create-child.null-handle");
  Report.CheckStatus(Service->DestroyChild(Service, nullptr), EFI_INVALID_PARAMETER, "frame.destroy-child.null-handle");
  Report.CheckStatus(Service->DestroyChild(Service, Driver), EFI_UNSUPPORTED, "frame.destroy-child.not-a-child");

  Report.CheckStatus(Service->DestroyChild(Service, NewChild), EFI_SUCCESS, "frame.destroy-child.new-handle");
  Report.Check(!HasProtocol(NewChild, &gEfiSupplicantProtocolGuid), "frame.destroy-child.new-handle.gone");
  Report.CheckStatus(Service->DestroyChild(Service, SameChild), EFI_SUCCESS, "frame.destroy-child.existing-handle");
  CheckChildProtocols(Report, Existing, false, "frame.destroy-child.existing-handle.protocols-removed");
  Report.Check(HasProtocol(Existing, &TestMarkerGuid), "frame.destroy-child.existing-handle.other-protocol-kept");
  Report.CheckStatus(Service->DestroyChild(Service, SameChild), EFI_UNSUPPORTED, "frame.destroy-child.twice");
  Report.CheckValue(CountHandles(&gEfiSupplicantProtocolGuid), ChildrenBefore, "frame.children.back-to-before");
  gBS->UninstallProtocolInterface(Existing, &TestMarkerGuid, &TestMarker);

  if (Driver != nullptr) {
    CheckDriverNames(Report, Driver);
  }
}

void RunUnloadGuardSuite(TestReporter &Report) {
  EFI_SERVICE_BINDING_PROTOCOL *Service = nullptr;
  EFI_HANDLE Driver = DriverHandle();
  if (Driver == nullptr ||
      !Report.CheckStatus(gBS->HandleProtocol(Driver, &gEfiSupplicantServiceBindingProtocolGuid,
                                              reinterpret_cast<VOID **>(&Service)),
                          EFI_SUCCESS, "unload.guard.service-binding")) {
    return;
  }

  // Another agent holds a child open, as a connection manager bound to it
  // would: the child cannot be destroyed, so the unload must be refused and
  // leave the driver whole.
  EFI_HANDLE Held = nullptr, Agent = nullptr;
  Report.CheckStatus(Service->CreateChild(Service, &Held), EFI_SUCCESS, "unload.guard.child-created");
  Report.CheckStatus(gBS->InstallProtocolInterface(&Agent, &TestMarkerGuid, EFI_NATIVE_INTERFACE, &TestMarker),
                     EFI_SUCCESS, "unload.guard.agent-made");
  EFI_SUPPLICANT_PROTOCOL *Supplicant = nullptr;
  Report.CheckStatus(gBS->OpenProtocol(Held, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Supplicant),
                                       Agent, Held, EFI_OPEN_PROTOCOL_BY_DRIVER),
                     EFI_SUCCESS, "unload.guard.child-held-open");
  Report.Check(EFI_ERROR(gBS->UnloadImage(Driver)), "unload.guard.refused-with-child-held-open");
  Report.Check(DriverHandle() == Driver, "unload.guard.service-binding-kept");
  CheckChildProtocols(Report, Held, true, "unload.guard.held-child-kept");
  UINT8 Mac[6] = {0x02, 0, 0, 0, 0, 0x44};
  if (Supplicant != nullptr) {
    Report.CheckStatus(Supplicant->SetData(Supplicant, EfiSupplicant80211StationMac, Mac, sizeof(Mac)), EFI_SUCCESS,
                       "unload.guard.held-child-answers");
  }
  EFI_HANDLE Another = nullptr;
  Report.CheckStatus(Service->CreateChild(Service, &Another), EFI_SUCCESS, "unload.guard.still-makes-children");
  Report.CheckStatus(Service->DestroyChild(Service, Another), EFI_SUCCESS, "unload.guard.still-destroys-children");
  gBS->CloseProtocol(Held, &gEfiSupplicantProtocolGuid, Agent, Held);
  Report.CheckStatus(Service->DestroyChild(Service, Held), EFI_SUCCESS, "unload.guard.released-child-destroyed");
  gBS->UninstallProtocolInterface(Agent, &TestMarkerGuid, &TestMarker);

  // A child left alive: unloading the driver must take it along.
  EFI_HANDLE Left = nullptr;
  Report.CheckStatus(Service->CreateChild(Service, &Left), EFI_SUCCESS, "unload.guard.child-left-alive");
}

void RunUnloadedSuite(TestReporter &Report) {
  VOID *Interface = nullptr;
  Report.CheckStatus(gBS->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr, &Interface),
                     EFI_NOT_FOUND, "unload.service-binding-gone");
  Report.Check(DriverHandle() == nullptr, "unload.no-handle-carries-service-binding");
  Report.CheckValue(CountHandles(&gEfiSupplicantProtocolGuid), 0, "unload.no-child-left");
  Report.CheckValue(CountHandles(&gEfiEapConfigurationProtocolGuid), 0, "unload.no-eap-configuration-left");
}
