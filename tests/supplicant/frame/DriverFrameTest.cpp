// The supplicant driver frame in the host UEFI environment: entry, driver
// binding over PCI devices, service binding, unload, and the failure paths a
// connection manager or a short pool can drive it into.
#include <Library/BaseLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiLib.h>
#include <TestSupport/HostEnvTest.h>

#include "Random.h"
#include "SupProtocol.h"
#include "uefi_sup.h"

namespace {

using TestSupport::StatusIs;

class DriverFrame : public TestSupport::HostEnvTest {
 protected:
  EFI_STATUS LoadDriver() {
    Image_ = Env().LoadImage(NorvSupDxeModuleEntry);
    return Env().StartImage(Image_);
  }
  EFI_SERVICE_BINDING_PROTOCOL *ServiceBinding() {
    EFI_SERVICE_BINDING_PROTOCOL *Service = nullptr;
    BS()->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Service));
    return Service;
  }
  SUP_SERVICE *Service() { return SUP_SERVICE_FROM_THIS(ServiceBinding()); }
  UINT32 OpenCountByDriver(EFI_HANDLE Handle, EFI_GUID *Protocol) {
    EFI_OPEN_PROTOCOL_INFORMATION_ENTRY *Entries = nullptr;
    UINTN Count = 0;
    if (EFI_ERROR(BS()->OpenProtocolInformation(Handle, Protocol, &Entries, &Count))) {
      return 0;
    }
    UINT32 ByDriver = 0;
    for (UINTN Index = 0; Index < Count; ++Index) {
      if (Entries[Index].Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) {
        ++ByDriver;
      }
    }
    BS()->FreePool(Entries);
    return ByDriver;
  }
  void TearDown() override {
    if (Image_ != nullptr && Env().IsHandle(Image_)) {
      EXPECT_TRUE(StatusIs(Env().UnloadImage(Image_), EFI_SUCCESS));
    }
    HostEnvTest::TearDown();
  }
  EFI_HANDLE Image_ = nullptr;
};

TEST_F(DriverFrame, EntryPublishesBindingServiceAndNames) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  EXPECT_NE(Env().FindInterface(Image_, gEfiSupplicantServiceBindingProtocolGuid), nullptr);
  EXPECT_NE(Env().FindInterface(Image_, gEfiComponentNameProtocolGuid), nullptr);
  EXPECT_NE(Env().FindInterface(Image_, gEfiComponentName2ProtocolGuid), nullptr);
  auto *Binding = static_cast<EFI_DRIVER_BINDING_PROTOCOL *>(Env().FindInterface(Image_, gEfiDriverBindingProtocolGuid));
  ASSERT_NE(Binding, nullptr);
  EXPECT_EQ(Binding->Version, 0x2379138u);
  EXPECT_EQ(Binding->ImageHandle, Image_);
  EXPECT_EQ(Binding->DriverBindingHandle, Image_);
  EXPECT_EQ(Service()->Signature, SUP_SERVICE_SIGNATURE);
  EXPECT_EQ(Service()->ChildrenNumber, 0);
  EXPECT_EQ(Service()->ImageHandle, Image_);
}

TEST_F(DriverFrame, EntrySeedsTheGeneratorFromTheClock) {
  EFI_TIME Time = {2031, 2, 27, 23, 59, 58, 0, 0, 0, 0, 0};
  Env().SetTime(Time);
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  UINT64 Seed = (23u << 24) | (59u << 16) | (58u << 8) | 27u;
  EXPECT_EQ(random_next(), (Seed * 16807) % 2147483647);
}

TEST_F(DriverFrame, SupportedAcceptsOnlyTheListedControllers) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  EFI_DRIVER_BINDING_PROTOCOL *Binding = &gNorvSupDriverBinding;
  HostEnv::PciDevice &Known = Env().AddPciDevice({.Location = {.Bus = 3}, .VendorId = 0x8086, .DeviceId = 0x2725});
  HostEnv::PciDevice &OtherDevice =
      Env().AddPciDevice({.Location = {.Bus = 4}, .VendorId = 0x8086, .DeviceId = 0x1234});
  HostEnv::PciDevice &OtherVendor =
      Env().AddPciDevice({.Location = {.Bus = 5}, .VendorId = 0x10EC, .DeviceId = 0x2725});

  EXPECT_TRUE(StatusIs(Binding->Supported(Binding, Known.Handle(), nullptr), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Binding->Supported(Binding, OtherDevice.Handle(), nullptr), EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(Binding->Supported(Binding, OtherVendor.Handle(), nullptr), EFI_UNSUPPORTED));
  // PCI I/O is closed again on every path.
  for (HostEnv::PciDevice *Device : {&Known, &OtherDevice, &OtherVendor}) {
    EXPECT_EQ(OpenCountByDriver(Device->Handle(), &gEfiPciIoProtocolGuid), 0u);
  }
  for (const SUP_PCI_ID &Id : SupSupportedControllers) {
    EXPECT_TRUE(SupIsSupportedController(Id.VendorId, Id.DeviceId));
  }
  EXPECT_EQ(std::size(SupSupportedControllers), 6u);

  // A handle without a device path, and PCI I/O held by another driver.
  EFI_HANDLE Bare = nullptr;
  static UINT32 Marker;
  ASSERT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Bare, &gEfiPciIoProtocolGuid, EFI_NATIVE_INTERFACE, &Marker),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Binding->Supported(Binding, Bare, nullptr), EFI_UNSUPPORTED));
  BS()->UninstallProtocolInterface(Bare, &gEfiPciIoProtocolGuid, &Marker);

  EFI_HANDLE OtherAgent = Env().LoadImage(NorvSupDxeModuleEntry);
  VOID *Interface = nullptr;
  ASSERT_TRUE(StatusIs(BS()->OpenProtocol(Known.Handle(), &gEfiPciIoProtocolGuid, &Interface, OtherAgent,
                                          Known.Handle(), EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Binding->Supported(Binding, Known.Handle(), nullptr), EFI_ACCESS_DENIED));
  BS()->CloseProtocol(Known.Handle(), &gEfiPciIoProtocolGuid, OtherAgent, Known.Handle());
  EXPECT_TRUE(StatusIs(Env().UnloadImage(OtherAgent), EFI_SUCCESS));  // never started: simply unloaded
}

TEST_F(DriverFrame, ChildrenAreCountedAndListed) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  EFI_SERVICE_BINDING_PROTOCOL *Binding = ServiceBinding();
  EFI_HANDLE First = nullptr, Second = nullptr;
  ASSERT_TRUE(StatusIs(Binding->CreateChild(Binding, &First), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Binding->CreateChild(Binding, &Second), EFI_SUCCESS));
  EXPECT_EQ(Service()->ChildrenNumber, 2);
  auto *Record = SUP_INSTANCE_FROM_LINK(GetFirstNode(&Service()->ChildrenList));
  EXPECT_EQ(Record->Handle, First);  // appended at the tail
  EXPECT_EQ(Record->Service, Service());
  EXPECT_EQ(Env().CurrentTpl(), TPL_APPLICATION);

  ASSERT_TRUE(StatusIs(Binding->DestroyChild(Binding, First), EFI_SUCCESS));
  EXPECT_EQ(Service()->ChildrenNumber, 1);
  EXPECT_FALSE(Env().IsHandle(First));
  ASSERT_TRUE(StatusIs(Binding->DestroyChild(Binding, Second), EFI_SUCCESS));
  EXPECT_EQ(Service()->ChildrenNumber, 0);
  EXPECT_TRUE(IsListEmpty(&Service()->ChildrenList));
}

TEST_F(DriverFrame, DestroyChildRefusesAnotherServicesChildAndRepeats) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  EFI_SERVICE_BINDING_PROTOCOL *Binding = ServiceBinding();
  EFI_HANDLE Child = nullptr;
  ASSERT_TRUE(StatusIs(Binding->CreateChild(Binding, &Child), EFI_SUCCESS));

  SUP_SERVICE *Other = nullptr;
  ASSERT_TRUE(StatusIs(SupCreateService(Image_, &Other), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Other->ServiceBinding.DestroyChild(&Other->ServiceBinding, Child), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(Env().IsHandle(Child));
  EXPECT_EQ(Service()->ChildrenNumber, 1);
  FreePool(Other);

  // A second DestroyChild while the first is under way does nothing.
  auto *Supplicant = static_cast<EFI_SUPPLICANT_PROTOCOL *>(Env().FindInterface(Child, gEfiSupplicantProtocolGuid));
  SUP_INSTANCE *Record = SUP_INSTANCE_FROM_SUPPLICANT(Supplicant);
  Record->InDestroy = TRUE;
  EXPECT_TRUE(StatusIs(Binding->DestroyChild(Binding, Child), EFI_SUCCESS));
  EXPECT_TRUE(Env().IsHandle(Child));
  Record->InDestroy = FALSE;
  EXPECT_TRUE(StatusIs(Binding->DestroyChild(Binding, Child), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Binding->DestroyChild(Binding, Child), EFI_INVALID_PARAMETER));  // the handle is gone
}

TEST_F(DriverFrame, CreateChildLeavesNothingBehindWhenThePoolRunsOut) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  EFI_SERVICE_BINDING_PROTOCOL *Binding = ServiceBinding();
  size_t Handles = Env().HandleCount();
  size_t LiveBlocks = Env().Pool().TotalUsage().LiveBlocks;
  for (UINT64 Failing = 1;; ++Failing) {
    UINT64 FailuresBefore = Env().Pool().InjectedFailures();
    Env().Pool().FailNthAllocation(Failing);
    EFI_HANDLE Child = nullptr;
    EFI_STATUS Status = Binding->CreateChild(Binding, &Child);
    bool Injected = Env().Pool().InjectedFailures() > FailuresBefore;
    Env().Pool().StopFailing();
    if (!Injected) {
      ASSERT_TRUE(StatusIs(Status, EFI_SUCCESS));
      ASSERT_TRUE(StatusIs(Binding->DestroyChild(Binding, Child), EFI_SUCCESS));
      ASSERT_GT(Failing, 1u) << "creating a child allocates";
      break;
    }
    EXPECT_TRUE(StatusIs(Status, EFI_OUT_OF_RESOURCES)) << "allocation " << Failing;
    EXPECT_EQ(Env().HandleCount(), Handles) << "allocation " << Failing;
    EXPECT_EQ(Env().Pool().TotalUsage().LiveBlocks, LiveBlocks) << "allocation " << Failing;
    EXPECT_EQ(Service()->ChildrenNumber, 0);
  }
}

TEST_F(DriverFrame, EntryLeavesNothingBehindWhenThePoolRunsOut) {
  for (UINT64 Failing = 1;; ++Failing) {
    RestartEnvironment({});
    size_t Handles = Env().HandleCount();
    Env().Pool().FailNthAllocation(Failing);
    EFI_STATUS Status = LoadDriver();
    bool Injected = Env().Pool().InjectedFailures() > 0;
    Env().Pool().StopFailing();
    if (!Injected) {
      ASSERT_TRUE(StatusIs(Status, EFI_SUCCESS));
      ASSERT_GT(Failing, 1u) << "the entry allocates";
      break;
    }
    EXPECT_TRUE(StatusIs(Status, EFI_OUT_OF_RESOURCES)) << "allocation " << Failing;
    EXPECT_EQ(ServiceBinding(), nullptr);
    EXPECT_EQ(Env().Pool().TotalUsage().LiveBlocks, 0u) << Env().Pool().LeakReport();
    // Nothing that points into the (freed) image stays installed.
    EXPECT_EQ(Env().HandleCount(), Handles);
    Image_ = nullptr;
  }
}

TEST_F(DriverFrame, EntryReportsAFailedInstallAndFreesTheService) {
  // A component-name protocol already on the image handle makes the
  // multiple install fail.
  Image_ = Env().LoadImage(NorvSupDxeModuleEntry);
  static EFI_COMPONENT_NAME_PROTOCOL Squatter;
  ASSERT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Image_, &gEfiComponentNameProtocolGuid, EFI_NATIVE_INTERFACE,
                                                      &Squatter),
                       EFI_SUCCESS));
  size_t LiveBefore = Env().Pool().TotalUsage().LiveBlocks;
  EFI_STATUS Status = Env().StartImage(Image_);
  EXPECT_TRUE(EFI_ERROR(Status));
  EXPECT_NE(ConOutText().find("NorvSupDriverEntryPoint: InstallMultipleProtocolInterfaces "), std::string::npos)
      << ConOutText();
  EXPECT_EQ(Env().Pool().TotalUsage().LiveBlocks, LiveBefore);
  EXPECT_EQ(Env().FindInterface(Image_, gEfiDriverBindingProtocolGuid), nullptr);
  Image_ = nullptr;
}

TEST_F(DriverFrame, UnloadRemovesEverythingTheEntryInstalled) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Env().UnloadImage(Image_), EFI_SUCCESS));
  EXPECT_EQ(ServiceBinding(), nullptr);
  VOID *Interface = nullptr;
  EXPECT_TRUE(StatusIs(BS()->LocateProtocol(&gEfiComponentName2ProtocolGuid, nullptr, &Interface), EFI_NOT_FOUND));
  EXPECT_TRUE(StatusIs(BS()->LocateProtocol(&gEfiDriverBindingProtocolGuid, nullptr, &Interface), EFI_NOT_FOUND));
  Image_ = nullptr;
}

EFI_SUPPLICANT_PROTOCOL *SupplicantOf(HostEnv::Environment &Env, EFI_HANDLE Child) {
  return static_cast<EFI_SUPPLICANT_PROTOCOL *>(Env.FindInterface(Child, gEfiSupplicantProtocolGuid));
}

// Children point into the image: unloading destroys them all, so nothing of
// the driver is left for a caller to jump into (the pool-leak check at the
// end of every test sees their records freed).
TEST_F(DriverFrame, UnloadDestroysLiveChildren) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  EFI_SERVICE_BINDING_PROTOCOL *Binding = ServiceBinding();
  EFI_HANDLE First = nullptr, Second = nullptr;
  ASSERT_TRUE(StatusIs(Binding->CreateChild(Binding, &First), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Binding->CreateChild(Binding, &Second), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Env().UnloadImage(Image_), EFI_SUCCESS));
  Image_ = nullptr;
  EXPECT_EQ(ServiceBinding(), nullptr);
  EXPECT_FALSE(Env().IsHandle(First));
  EXPECT_FALSE(Env().IsHandle(Second));
}

// A child another agent holds open cannot be destroyed, so the unload is
// refused and the driver stays whole: the child answers, the service still
// makes children, and a later unload succeeds once the child is released.
TEST_F(DriverFrame, UnloadIsRefusedWhileAChildIsHeldOpen) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  EFI_SERVICE_BINDING_PROTOCOL *Binding = ServiceBinding();
  EFI_HANDLE Free = nullptr, Held = nullptr;
  ASSERT_TRUE(StatusIs(Binding->CreateChild(Binding, &Free), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Binding->CreateChild(Binding, &Held), EFI_SUCCESS));
  EFI_HANDLE Agent = Env().LoadImage(NorvSupDxeModuleEntry);
  VOID *Interface = nullptr;
  ASSERT_TRUE(StatusIs(BS()->OpenProtocol(Held, &gEfiSupplicantProtocolGuid, &Interface, Agent, Held,
                                          EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_SUCCESS));

  EFI_STATUS Refused = Env().UnloadImage(Image_);
  EXPECT_TRUE(EFI_ERROR(Refused));
  ASSERT_EQ(ServiceBinding(), Binding);
  EXPECT_EQ(Service()->ChildrenNumber, 1);
  EXPECT_FALSE(Env().IsHandle(Free));
  EFI_SUPPLICANT_PROTOCOL *Supplicant = SupplicantOf(Env(), Held);
  ASSERT_NE(Supplicant, nullptr);
  UINT8 Mac[6] = {2, 0, 0, 0, 0, 9};
  EXPECT_TRUE(StatusIs(Supplicant->SetData(Supplicant, EfiSupplicant80211StationMac, Mac, sizeof(Mac)), EFI_SUCCESS));
  EFI_HANDLE Another = nullptr;
  ASSERT_TRUE(StatusIs(Binding->CreateChild(Binding, &Another), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Binding->DestroyChild(Binding, Another), EFI_SUCCESS));

  ASSERT_TRUE(StatusIs(BS()->CloseProtocol(Held, &gEfiSupplicantProtocolGuid, Agent, Held), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Env().UnloadImage(Image_), EFI_SUCCESS));
  Image_ = nullptr;
  EXPECT_FALSE(Env().IsHandle(Held));
  EXPECT_TRUE(StatusIs(Env().UnloadImage(Agent), EFI_SUCCESS));
}

// Unload takes apart only the service on its own image handle: another
// driver's supplicant binding (here one whose record is not ours at all) is
// left installed and is never taken for this driver's record.
TEST_F(DriverFrame, UnloadLeavesAnotherDriversServiceAlone) {
  EFI_SERVICE_BINDING_PROTOCOL Foreign = {SupServiceBindingCreateChild, SupServiceBindingDestroyChild};
  EFI_HANDLE ForeignHandle = nullptr;
  ASSERT_TRUE(StatusIs(BS()->InstallProtocolInterface(&ForeignHandle, &gEfiSupplicantServiceBindingProtocolGuid,
                                                      EFI_NATIVE_INTERFACE, &Foreign),
                       EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Env().UnloadImage(Image_), EFI_SUCCESS));
  Image_ = nullptr;
  EXPECT_EQ(Env().FindInterface(ForeignHandle, gEfiSupplicantServiceBindingProtocolGuid), &Foreign);
  VOID *Interface = nullptr;
  EXPECT_TRUE(StatusIs(BS()->LocateProtocol(&gEfiComponentName2ProtocolGuid, nullptr, &Interface), EFI_NOT_FOUND));
  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(ForeignHandle, &gEfiSupplicantServiceBindingProtocolGuid,
                                                        &Foreign),
                       EFI_SUCCESS));
}

TEST_F(DriverFrame, NullArgumentsAreRefused) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  EFI_SERVICE_BINDING_PROTOCOL *Binding = ServiceBinding();
  EFI_HANDLE Child = nullptr;
  EXPECT_TRUE(StatusIs(Binding->CreateChild(nullptr, &Child), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Binding->CreateChild(Binding, nullptr), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Binding->DestroyChild(nullptr, Child), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Binding->DestroyChild(Binding, nullptr), EFI_INVALID_PARAMETER));
  EXPECT_EQ(Service()->ChildrenNumber, 0);
}

// A record whose signature is wrong is a programming error: the driver stops
// with an assertion naming the file that found it.
using DriverFrameDeathTest = DriverFrame;

TEST_F(DriverFrameDeathTest, BadInstanceSignatureStopsInSupProtocol) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  SUP_INSTANCE Forged = {};
  Forged.Signature = SIGNATURE_32('B', 'A', 'D', '!');
  Forged.Supplicant = {SupBuildResponsePacket, SupProcessPacket, SupSetData, SupGetData};
  UINTN Size = 0;
  EXPECT_DEATH(Forged.Supplicant.GetData(&Forged.Supplicant, EfiSupplicantState, nullptr, &Size),
               "ASSERT \\[NorvSupDxe\\] SupProtocol.cpp\\([0-9]+\\): CR has Bad Signature");
}

TEST_F(DriverFrameDeathTest, BadServiceSignatureStopsInUefiSup) {
  ASSERT_TRUE(StatusIs(LoadDriver(), EFI_SUCCESS));
  SUP_SERVICE Forged = {};
  Forged.ServiceBinding = {SupServiceBindingCreateChild, SupServiceBindingDestroyChild};
  EFI_HANDLE Child = nullptr;
  EXPECT_DEATH(Forged.ServiceBinding.CreateChild(&Forged.ServiceBinding, &Child),
               "ASSERT \\[NorvSupDxe\\] uefi_sup.cpp\\([0-9]+\\): CR has Bad Signature");
}

}  // namespace
