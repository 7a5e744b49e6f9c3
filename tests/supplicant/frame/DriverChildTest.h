// A fixture for the tests of one child's protocols: the driver loaded into
// the host environment and one child created; both released at the end, so
// the environment's leak check sees everything the child held freed.
#pragma once
#include <TestSupport/HostEnvTest.h>

#include "SupProtocol.h"
#include "uefi_sup.h"

class DriverChildTest : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    Image_ = Env().LoadImage(NorvSupDxeModuleEntry);
    ASSERT_TRUE(TestSupport::StatusIs(Env().StartImage(Image_), EFI_SUCCESS));
    // The entry names its entropy source on the console (EntropySourceTest);
    // the tests here read what the child's calls print.
    Env().ConOut().Clear();
    BS()->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Service_));
    ASSERT_TRUE(TestSupport::StatusIs(Service_->CreateChild(Service_, &Child_), EFI_SUCCESS));
    Supplicant_ = static_cast<EFI_SUPPLICANT_PROTOCOL *>(Env().FindInterface(Child_, gEfiSupplicantProtocolGuid));
    Eap_ = static_cast<EFI_EAP_CONFIGURATION_PROTOCOL *>(Env().FindInterface(Child_, gEfiEapConfigurationProtocolGuid));
  }
  void TearDown() override {
    EXPECT_TRUE(TestSupport::StatusIs(Service_->DestroyChild(Service_, Child_), EFI_SUCCESS));
    EXPECT_TRUE(TestSupport::StatusIs(Env().UnloadImage(Image_), EFI_SUCCESS));
    HostEnvTest::TearDown();
  }

  EFI_HANDLE Image_ = nullptr, Child_ = nullptr;
  EFI_SERVICE_BINDING_PROTOCOL *Service_ = nullptr;
  EFI_SUPPLICANT_PROTOCOL *Supplicant_ = nullptr;
  EFI_EAP_CONFIGURATION_PROTOCOL *Eap_ = nullptr;
};
