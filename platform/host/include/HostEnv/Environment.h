// The host UEFI environment: a small UEFI core with real EFIAPI system,
// boot-services and runtime-services tables, in which statically linked
// drivers are loaded and started as DXE dispatch would.
//
//   HostEnv::Environment Env;                         // fresh core, becomes Current()
//   EFI_HANDLE Image = Env.LoadImage(MyDriverEntry);  // image handle + EFI_LOADED_IMAGE_PROTOCOL
//   EFI_STATUS Status = Env.StartImage(Image);        // calls the entry with Env.SystemTable()
//   HostEnv::PciDevice &Nic = Env.AddPciDevice({.Location = {.Bus = 2}, .VendorId = 0x1234, .DeviceId = 0x5678});
//   Env.Pool().FailNthAllocation(1);                  // the next allocation fails
//   Env.BootServices()->UnloadImage(Image);           // honours LoadedImage->Unload
//   Env.StdErr().Text();                              // what the driver printed on StdErr
//
// One environment exists at a time; constructing a second while one is alive
// aborts. Destroying it releases every handle, event and pool block, so each
// test can start from a fresh one.
#pragma once

#include <HostEnv/MemoryPool.h>
#include <HostEnv/PciDevice.h>
#include <HostEnv/RngService.h>
#include <HostEnv/SimChipset.h>
#include <HostEnv/TextConsole.h>

#include <uefi/SystemTable.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace HostEnv {

constexpr UINT32 kRevision2_70  = (2 << 16) | 70;
constexpr UINT32 kRevision2_100 = (2 << 16) | 100;  // UEFI 2.10

// A device path that names a file: one MEDIA_FILEPATH_DP node and the end
// node. This is how gBS->LoadImage finds a registered image.
constexpr UINT8 kMediaDevicePath   = 0x04;
constexpr UINT8 kMediaFilePathNode = 0x04;
std::vector<UINT8> FilePathDevicePath(std::u16string_view FileName);

struct Options {
  UINT32   Revision   = kRevision2_70;
  bool     InstallRng = true;
  bool     EchoConOut = false;  // tools turn this on
  bool     EchoStdErr = true;   // so death tests and logs see assertion text
  EFI_TIME Time       = {2024, 6, 15, 12, 30, 45, 0, 0, 0, 0, 0};
};

enum class ImageKind { Driver, Application };

struct ImageOptions {
  ImageKind      Kind      = ImageKind::Driver;
  std::u16string FileName  = u"HostImage.efi";
  EFI_HANDLE     Parent    = nullptr;  // nullptr: the environment's core image
  UINT64         ImageSize = 4096;     // size of the zeroed stand-in image body
};

struct ResetRequest {
  EFI_RESET_TYPE     Type;
  EFI_STATUS         Status;
  std::vector<UINT8> Data;
};

struct Core;

class Environment {
 public:
  explicit Environment(const Options &Settings = {});
  ~Environment();
  Environment(const Environment &) = delete;
  Environment &operator=(const Environment &) = delete;

  // The live environment, or nullptr.
  static Environment *Current();
  // The live environment; aborts with a message when there is none.
  static Environment &Active();

  EFI_SYSTEM_TABLE     *SystemTable();
  EFI_BOOT_SERVICES    *BootServices();
  EFI_RUNTIME_SERVICES *RuntimeServices();
  // The environment's own image: parent of images it loads, agent of
  // HandleProtocol's open records.
  EFI_HANDLE CoreImageHandle() const;

  MemoryPool  &Pool();
  TextConsole &ConOut();
  TextConsole &StdErr();
  RngService  &Rng();
  SimChipset  &Chipset();

  // --- Images ---
  // Creates an image handle with EFI_LOADED_IMAGE_PROTOCOL for a statically
  // linked entry point. Nothing runs yet.
  EFI_HANDLE LoadImage(EFI_IMAGE_ENTRY_POINT Entry, const ImageOptions &Image = {});
  // Runs the entry point, as gBS->StartImage does. An application, or a
  // driver whose entry fails, is unloaded afterwards.
  EFI_STATUS StartImage(EFI_HANDLE Image);
  // gBS->UnloadImage.
  EFI_STATUS UnloadImage(EFI_HANDLE Image);
  // Makes gBS->LoadImage find Entry under FileName (compared without case,
  // by the last path component), as the shell's "load" would.
  void RegisterImage(std::u16string_view FileName, EFI_IMAGE_ENTRY_POINT Entry, ImageKind Kind = ImageKind::Driver);

  // --- Devices ---
  // Installs device path and PCI I/O on a new handle (notifying registered
  // listeners). Aborts if the location is already taken.
  PciDevice &AddPciDevice(const PciDeviceConfig &Config);
  // Uninstalls both protocols; refused (EFI_INVALID_PARAMETER) while a driver
  // holds them open BY_DRIVER, as UninstallMultipleProtocolInterfaces is.
  EFI_STATUS RemovePciDevice(PciDevice &Device);

  // --- Events and TPL ---
  void    SignalEventGroup(const EFI_GUID &Group);
  void    SignalReadyToBoot() { SignalEventGroup(gEfiEventReadyToBootGuid); }
  EFI_TPL CurrentTpl() const;

  // --- Protocol database, seen from the host side ---
  size_t HandleCount() const;
  bool   IsHandle(EFI_HANDLE Handle) const;
  VOID  *FindInterface(EFI_HANDLE Handle, const EFI_GUID &Protocol) const;

  // --- Runtime services ---
  EFI_TIME Time() const;
  void     SetTime(const EFI_TIME &Time);
  // The last ResetSystem call; in the host it returns to its caller.
  std::optional<ResetRequest> LastResetRequest() const;
  // Simulated time that gBS->Stall has let pass.
  UINT64 StalledMicroseconds() const;

  // --- Programming errors detected in the code under test ---
  const std::vector<std::string> &Faults() const;
  std::vector<std::string>        TakeFaults();

  // For the environment's own service layers and later platform services
  // built into this library (src/Core.h).
  Core &Internals() { return *Core_; }

 private:
  std::unique_ptr<Core> Core_;
};

}  // namespace HostEnv
