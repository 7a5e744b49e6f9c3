// Images: loading statically linked drivers, starting them with the system
// table, Unload, and the shell-style LoadImage/StartImage path.
#include "TestGuids.h"

#include <TestSupport/HostEnvTest.h>

#include <uefi/Protocol/LoadedImage.h>

namespace {

using TestSupport::HostEnvTest;
using TestSupport::StatusIs;

// What the fake drivers below saw and should do.
struct DriverScript {
  EFI_STATUS                 EntryStatus  = EFI_SUCCESS;
  EFI_STATUS                 UnloadStatus = EFI_SUCCESS;
  bool                       RegisterUnload = false;
  EFI_HANDLE                 OpenedDevice   = nullptr;  // opened BY_DRIVER at entry when set
  int                        EntryCalls     = 0;
  int                        UnloadCalls    = 0;
  EFI_HANDLE                 Image          = nullptr;
  EFI_SYSTEM_TABLE          *SystemTable    = nullptr;
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage    = nullptr;
};
DriverScript gDriver;
TestInterface gDriverProtocol{42};

EFI_STATUS EFIAPI DriverUnload(EFI_HANDLE Image) {
  ++gDriver.UnloadCalls;
  if (!EFI_ERROR(gDriver.UnloadStatus)) {
    gDriver.SystemTable->BootServices->UninstallProtocolInterface(Image, &gTestProtocolAGuid, &gDriverProtocol);
  }
  return gDriver.UnloadStatus;
}

EFI_STATUS EFIAPI DriverEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *SystemTable) {
  ++gDriver.EntryCalls;
  gDriver.Image       = Image;
  gDriver.SystemTable = SystemTable;
  EFI_BOOT_SERVICES *BS = SystemTable->BootServices;
  VOID              *Interface = nullptr;
  BS->HandleProtocol(Image, &gEfiLoadedImageProtocolGuid, &Interface);
  gDriver.LoadedImage = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(Interface);
  if (gDriver.RegisterUnload) {
    gDriver.LoadedImage->Unload = DriverUnload;
  }
  if (gDriver.OpenedDevice != nullptr) {
    BS->OpenProtocol(gDriver.OpenedDevice, &gTestProtocolBGuid, &Interface, Image, gDriver.OpenedDevice,
                     EFI_OPEN_PROTOCOL_BY_DRIVER);
  }
  EFI_HANDLE Handle = Image;
  BS->InstallProtocolInterface(&Handle, &gTestProtocolAGuid, EFI_NATIVE_INTERFACE, &gDriverProtocol);
  return gDriver.EntryStatus;
}

class ImageTest : public HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    gDriver = {};
  }
};

TEST_F(ImageTest, StartCallsTheEntryPointWithTheSystemTableAndALoadedImage) {
  EFI_HANDLE Image = Env().LoadImage(DriverEntry, {.FileName = u"Sample.efi"});
  ASSERT_NE(Image, nullptr);
  EXPECT_EQ(gDriver.EntryCalls, 0) << "loading runs nothing";
  ASSERT_TRUE(StatusIs(Env().StartImage(Image), EFI_SUCCESS));
  EXPECT_EQ(gDriver.EntryCalls, 1);
  EXPECT_EQ(gDriver.Image, Image);
  EXPECT_EQ(gDriver.SystemTable, ST());
  ASSERT_NE(gDriver.LoadedImage, nullptr);
  EXPECT_EQ(gDriver.LoadedImage->Revision, EFI_LOADED_IMAGE_PROTOCOL_REVISION);
  EXPECT_EQ(gDriver.LoadedImage->SystemTable, ST());
  EXPECT_EQ(gDriver.LoadedImage->ParentHandle, Env().CoreImageHandle());
  EXPECT_NE(gDriver.LoadedImage->ImageBase, nullptr);
  EXPECT_GT(gDriver.LoadedImage->ImageSize, 0u);
  EXPECT_EQ(gDriver.LoadedImage->ImageCodeType, EfiBootServicesCode);
  EXPECT_EQ(gDriver.LoadedImage->ImageDataType, EfiBootServicesData);
  ASSERT_NE(gDriver.LoadedImage->FilePath, nullptr);
  EXPECT_EQ(gDriver.LoadedImage->FilePath->Type, HostEnv::kMediaDevicePath);
  // A driver stays resident; it cannot be started twice.
  EXPECT_EQ(Env().FindInterface(Image, gEfiLoadedImageProtocolGuid), gDriver.LoadedImage);
  EXPECT_TRUE(StatusIs(Env().StartImage(Image), EFI_INVALID_PARAMETER));

  // Without an Unload function the driver cannot be unloaded.
  EXPECT_TRUE(StatusIs(BS()->UnloadImage(Image), EFI_UNSUPPORTED));
  EXPECT_NE(Env().FindInterface(Image, gEfiLoadedImageProtocolGuid), nullptr);
}

TEST_F(ImageTest, UnloadImageCallsTheDriversUnloadAndRemovesTheImage) {
  gDriver.RegisterUnload = true;
  gDriver.UnloadStatus   = EFI_ACCESS_DENIED;
  EFI_HANDLE Image       = Env().LoadImage(DriverEntry);
  ASSERT_TRUE(StatusIs(Env().StartImage(Image), EFI_SUCCESS));

  // An Unload that refuses keeps the driver loaded.
  EXPECT_TRUE(StatusIs(BS()->UnloadImage(Image), EFI_ACCESS_DENIED));
  EXPECT_EQ(gDriver.UnloadCalls, 1);
  EXPECT_NE(Env().FindInterface(Image, gEfiLoadedImageProtocolGuid), nullptr);

  gDriver.UnloadStatus = EFI_SUCCESS;
  EXPECT_TRUE(StatusIs(BS()->UnloadImage(Image), EFI_SUCCESS));
  EXPECT_EQ(gDriver.UnloadCalls, 2);
  EXPECT_FALSE(Env().IsHandle(Image)) << "Unload removed the driver's protocol, the core the loaded image";
  EXPECT_TRUE(StatusIs(BS()->UnloadImage(Image), EFI_INVALID_PARAMETER));
}

TEST_F(ImageTest, FailingEntryPointUnloadsTheImageAndClosesWhatItOpened) {
  EFI_HANDLE Device = nullptr;
  ASSERT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Device, &gTestProtocolBGuid, EFI_NATIVE_INTERFACE, &gDriverProtocol),
                       EFI_SUCCESS));
  gDriver.OpenedDevice = Device;
  gDriver.EntryStatus  = EFI_DEVICE_ERROR;
  EFI_HANDLE Image     = Env().LoadImage(DriverEntry);
  EXPECT_TRUE(StatusIs(Env().StartImage(Image), EFI_DEVICE_ERROR));
  EXPECT_EQ(Env().FindInterface(Image, gEfiLoadedImageProtocolGuid), nullptr);
  // What the failed driver installed is still there (as in firmware) ...
  EXPECT_EQ(Env().FindInterface(Image, gTestProtocolAGuid), &gDriverProtocol);
  // ... but its BY_DRIVER open is gone, so the device can be removed.
  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Device, &gTestProtocolBGuid, &gDriverProtocol), EFI_SUCCESS));
  BS()->UninstallProtocolInterface(Image, &gTestProtocolAGuid, &gDriverProtocol);
}

TEST_F(ImageTest, ApplicationIsUnloadedWhenItReturns) {
  EFI_HANDLE App = Env().LoadImage(DriverEntry, {.Kind = HostEnv::ImageKind::Application});
  ASSERT_TRUE(StatusIs(Env().StartImage(App), EFI_SUCCESS));
  EXPECT_EQ(gDriver.LoadedImage->ImageCodeType, EfiLoaderCode);
  EXPECT_EQ(Env().FindInterface(App, gEfiLoadedImageProtocolGuid), nullptr);
  BS()->UninstallProtocolInterface(App, &gTestProtocolAGuid, &gDriverProtocol);
}

// A test application that loads and starts a driver by file name, as the
// shell's "load" command does.
struct ShellScript {
  const char16_t *Path;
  EFI_STATUS      LoadStatus  = EFI_SUCCESS;
  EFI_STATUS      StartStatus = EFI_SUCCESS;
  EFI_HANDLE      AppImage    = nullptr;
  EFI_HANDLE      Loaded      = nullptr;
};
ShellScript gShell;

EFI_STATUS EFIAPI ShellEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *SystemTable) {
  gShell.AppImage         = Image;
  std::vector<UINT8> Path = HostEnv::FilePathDevicePath(gShell.Path);
  gShell.LoadStatus       = SystemTable->BootServices->LoadImage(
      FALSE, Image, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Path.data()), nullptr, 0, &gShell.Loaded);
  if (!EFI_ERROR(gShell.LoadStatus)) {
    gShell.StartStatus = SystemTable->BootServices->StartImage(gShell.Loaded, nullptr, nullptr);
  }
  return EFI_SUCCESS;
}

TEST_F(ImageTest, ApplicationLoadsARegisteredDriverByFileName) {
  Env().RegisterImage(u"NorvSample.efi", DriverEntry);
  gShell = {u"fs0:\\EFI\\Drivers\\NORVSAMPLE.EFI"};
  ASSERT_TRUE(StatusIs(Env().StartImage(Env().LoadImage(ShellEntry, {.Kind = HostEnv::ImageKind::Application})),
                       EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(gShell.LoadStatus, EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(gShell.StartStatus, EFI_SUCCESS));
  EXPECT_EQ(gDriver.Image, gShell.Loaded);
  EXPECT_EQ(gDriver.LoadedImage->ParentHandle, gShell.AppImage);
  EXPECT_NE(Env().FindInterface(gShell.Loaded, gEfiLoadedImageProtocolGuid), nullptr) << "the driver stays";
  BS()->UninstallProtocolInterface(gShell.Loaded, &gTestProtocolAGuid, &gDriverProtocol);

  gShell = {u"Missing.efi"};
  Env().StartImage(Env().LoadImage(ShellEntry, {.Kind = HostEnv::ImageKind::Application}));
  EXPECT_TRUE(StatusIs(gShell.LoadStatus, EFI_NOT_FOUND));

  EFI_HANDLE Loaded = nullptr;
  UINT8      Buffer[16] = {};
  EXPECT_TRUE(StatusIs(BS()->LoadImage(FALSE, Env().CoreImageHandle(), nullptr, Buffer, sizeof(Buffer), &Loaded),
                       EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(BS()->LoadImage(FALSE, nullptr, nullptr, nullptr, 0, &Loaded), EFI_INVALID_PARAMETER));
}

}  // namespace
