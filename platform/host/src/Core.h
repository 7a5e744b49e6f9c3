// Everything one Environment owns, shared by the EFIAPI service layers
// (BootServices.cpp, RuntimeServices.cpp, Images.cpp) and Environment.cpp.
#pragma once

#include <HostEnv/Environment.h>

#include "EventQueue.h"
#include "FaultLog.h"
#include "ProtocolDatabase.h"

#include <uefi/Protocol/LoadedImage.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace HostEnv {

struct ImageRecord {
  EFI_HANDLE                Handle = nullptr;
  EFI_IMAGE_ENTRY_POINT     Entry  = nullptr;
  ImageKind                 Kind   = ImageKind::Driver;
  EFI_LOADED_IMAGE_PROTOCOL LoadedImage{};  // the installed interface
  std::vector<UINT8>        FilePath;       // device path bytes LoadedImage.FilePath points into
  std::vector<UINT8>        Body;           // zeroed stand-in for the image in memory
  bool                      Started = false;
  bool                      Loaded  = true;  // false once unloaded
};

struct RegisteredImage {
  std::u16string        FileName;
  EFI_IMAGE_ENTRY_POINT Entry;
  ImageKind             Kind;
};

struct Core {
  explicit Core(const Options &Settings);
  // The core of the live environment; aborts when there is none.
  static Core &Get();

  // --- Image services (Images.cpp) ---
  EFI_HANDLE      CreateImage(EFI_IMAGE_ENTRY_POINT Entry, ImageKind Kind, std::vector<UINT8> FilePath,
                              EFI_HANDLE Parent, UINT64 ImageSize);
  ImageRecord    *FindImage(EFI_HANDLE Handle);
  EFI_STATUS      StartImage(EFI_HANDLE Handle);
  EFI_STATUS      UnloadImage(EFI_HANDLE Handle);
  EFI_STATUS      LoadRegisteredImage(EFI_HANDLE Parent, const EFI_DEVICE_PATH_PROTOCOL *DevicePath,
                                      EFI_HANDLE *Image);

  // --- Helpers of the service layers ---
  // Reports a fault when a service is called above the TPL UEFI allows for it.
  void CheckTpl(EFI_TPL Highest, const char *Service);
  // Copies Items into a new boot-services pool buffer (the caller frees it).
  template <typename T>
  EFI_STATUS PoolCopy(const std::vector<T> &Items, T **Buffer);
  EFI_STATUS InstallConfigurationTable(const EFI_GUID *Guid, VOID *Table);
  void       UpdateTableChecksums();

  Options          Settings;
  FaultLog         Faults;
  EventQueue       Events{Faults};
  ProtocolDatabase Database{Events};
  MemoryPool       Pool{Faults};
  TextConsole      ConOut;
  TextConsole      StdErr;
  RngService       Rng{Database};
  SimChipset       Chipset;

  std::vector<std::unique_ptr<ImageRecord>> Images;
  std::vector<RegisteredImage>              Registered;
  std::vector<std::unique_ptr<PciDevice>>   PciDevices;
  std::vector<EFI_CONFIGURATION_TABLE>      ConfigurationTables;

  EFI_TIME                    Time;
  std::optional<ResetRequest> LastReset;
  UINT64                      StalledMicroseconds = 0;
  UINT64                      MonotonicCount      = 0;

  EFI_SYSTEM_TABLE     SystemTable{};
  EFI_BOOT_SERVICES    BootServices{};
  EFI_RUNTIME_SERVICES RuntimeServices{};
  EFI_HANDLE           CoreImage = nullptr;
  std::u16string       FirmwareVendor = u"HostEnv";
};

template <typename T>
EFI_STATUS Core::PoolCopy(const std::vector<T> &Items, T **Buffer) {
  VOID      *Memory = nullptr;
  // Never a zero-sized request: callers free the buffer even when empty.
  EFI_STATUS Status = Pool.AllocatePool(EfiBootServicesData, (Items.empty() ? 1 : Items.size()) * sizeof(T), &Memory);
  if (EFI_ERROR(Status)) {
    return EFI_OUT_OF_RESOURCES;
  }
  T *Out = static_cast<T *>(Memory);
  for (size_t Index = 0; Index < Items.size(); ++Index) {
    Out[Index] = Items[Index];
  }
  *Buffer = Out;
  return EFI_SUCCESS;
}

// The service tables' members (BootServices.cpp, RuntimeServices.cpp).
void FillBootServices(EFI_BOOT_SERVICES &Table);
void FillRuntimeServices(EFI_RUNTIME_SERVICES &Table);

// Whether Time is a calendar time SetTime accepts.
bool IsValidTime(const EFI_TIME &Time);

// CRC-32 of IEEE 802.3 as CalculateCrc32 and table headers use it.
UINT32 Crc32(const VOID *Data, UINTN Size);

}  // namespace HostEnv
