#include "Core.h"

#include <HostEnv/Text.h>

#include <uefi/Protocol/SimpleTextOut.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace HostEnv {
namespace {

Environment *gCurrent = nullptr;

[[noreturn]] void Fatal(const char *Message) {
  std::fflush(stdout);
  std::fprintf(stderr, "HostEnv: %s\n", Message);
  std::fflush(stderr);
  std::abort();
}

template <typename Table>
void SetHeader(Table &Target, UINT64 Signature, UINT32 Revision) {
  Target.Hdr.Signature  = Signature;
  Target.Hdr.Revision   = Revision;
  Target.Hdr.HeaderSize = sizeof(Table);
  Target.Hdr.CRC32      = 0;
  Target.Hdr.Reserved   = 0;
}

template <typename Table>
void UpdateChecksum(Table &Target) {
  Target.Hdr.CRC32 = 0;
  Target.Hdr.CRC32 = Crc32(&Target, Target.Hdr.HeaderSize);
}

}  // namespace

Core::Core(const Options &Chosen)
    : Settings(Chosen), ConOut(stdout, Chosen.EchoConOut), StdErr(stderr, Chosen.EchoStdErr), Time(Chosen.Time) {
  FillBootServices(BootServices);
  FillRuntimeServices(RuntimeServices);
  SetHeader(BootServices, EFI_BOOT_SERVICES_SIGNATURE, Settings.Revision);
  SetHeader(RuntimeServices, EFI_RUNTIME_SERVICES_SIGNATURE, Settings.Revision);
  SetHeader(SystemTable, EFI_SYSTEM_TABLE_SIGNATURE, Settings.Revision);
  SystemTable.FirmwareVendor   = FirmwareVendor.data();
  SystemTable.FirmwareRevision = 0x00010000;
  SystemTable.BootServices     = &BootServices;
  SystemTable.RuntimeServices  = &RuntimeServices;
  SystemTable.ConOut           = ConOut.Protocol();
  SystemTable.StdErr           = StdErr.Protocol();
  // No console input: nothing in this environment types.
  SystemTable.ConsoleInHandle  = nullptr;
  SystemTable.ConIn            = nullptr;
  Database.Install(&SystemTable.ConsoleOutHandle, &gEfiSimpleTextOutProtocolGuid, ConOut.Protocol());
  Database.Install(&SystemTable.StandardErrorHandle, &gEfiSimpleTextOutProtocolGuid, StdErr.Protocol());
  UpdateTableChecksums();
}

Core &Core::Get() {
  if (gCurrent == nullptr) {
    Fatal("a UEFI service or hardware access was used with no host environment alive");
  }
  return gCurrent->Internals();
}

void Core::CheckTpl(EFI_TPL Highest, const char *Service) {
  if (Events.Current() > Highest) {
    Faults.Report(std::string(Service) + " called at TPL " + std::to_string(Events.Current()) + ", above " +
                  std::to_string(Highest));
  }
}

void Core::UpdateTableChecksums() {
  SystemTable.NumberOfTableEntries = ConfigurationTables.size();
  SystemTable.ConfigurationTable   = ConfigurationTables.empty() ? nullptr : ConfigurationTables.data();
  UpdateChecksum(BootServices);
  UpdateChecksum(RuntimeServices);
  UpdateChecksum(SystemTable);
}

EFI_STATUS Core::InstallConfigurationTable(const EFI_GUID *Guid, VOID *Table) {
  if (Guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto Existing = std::find_if(ConfigurationTables.begin(), ConfigurationTables.end(),
                               [&](const EFI_CONFIGURATION_TABLE &Entry) { return Entry.VendorGuid == *Guid; });
  if (Table == nullptr) {
    if (Existing == ConfigurationTables.end()) {
      return EFI_NOT_FOUND;
    }
    ConfigurationTables.erase(Existing);
  } else if (Existing != ConfigurationTables.end()) {
    Existing->VendorTable = Table;
  } else {
    ConfigurationTables.push_back({*Guid, Table});
  }
  UpdateTableChecksums();
  // Listeners for a table wait on the event group named by its GUID.
  Events.SignalGroup(*Guid);
  return EFI_SUCCESS;
}

// ---------------------------------------------------------------------------

Environment::Environment(const Options &Settings) {
  if (gCurrent != nullptr) {
    Fatal("a second Environment was constructed while one is alive");
  }
  Core_    = std::make_unique<Core>(Settings);
  gCurrent = this;
  Core_->CoreImage = Core_->CreateImage(nullptr, ImageKind::Driver, FilePathDevicePath(u"HostEnvCore.efi"), nullptr,
                                        ImageOptions{}.ImageSize);
  Core_->Images.back()->Started = true;
  if (Settings.InstallRng) {
    Core_->Rng.Offer();
  }
}

Environment::~Environment() {
  Core_.reset();
  gCurrent = nullptr;
}

Environment *Environment::Current() { return gCurrent; }

Environment &Environment::Active() {
  if (gCurrent == nullptr) {
    Fatal("no host environment is alive");
  }
  return *gCurrent;
}

EFI_SYSTEM_TABLE     *Environment::SystemTable() { return &Core_->SystemTable; }
EFI_BOOT_SERVICES    *Environment::BootServices() { return &Core_->BootServices; }
EFI_RUNTIME_SERVICES *Environment::RuntimeServices() { return &Core_->RuntimeServices; }
EFI_HANDLE            Environment::CoreImageHandle() const { return Core_->CoreImage; }

MemoryPool  &Environment::Pool() { return Core_->Pool; }
TextConsole &Environment::ConOut() { return Core_->ConOut; }
TextConsole &Environment::StdErr() { return Core_->StdErr; }
RngService  &Environment::Rng() { return Core_->Rng; }
SimChipset  &Environment::Chipset() { return Core_->Chipset; }

EFI_HANDLE Environment::LoadImage(EFI_IMAGE_ENTRY_POINT Entry, const ImageOptions &Image) {
  if (Entry == nullptr) {
    Fatal("LoadImage needs an entry point");
  }
  EFI_HANDLE Parent = Image.Parent != nullptr ? Image.Parent : Core_->CoreImage;
  return Core_->CreateImage(Entry, Image.Kind, FilePathDevicePath(Image.FileName), Parent, Image.ImageSize);
}

EFI_STATUS Environment::StartImage(EFI_HANDLE Image) { return Core_->StartImage(Image); }
EFI_STATUS Environment::UnloadImage(EFI_HANDLE Image) { return Core_->UnloadImage(Image); }

void Environment::RegisterImage(std::u16string_view FileName, EFI_IMAGE_ENTRY_POINT Entry, ImageKind Kind) {
  Core_->Registered.push_back({std::u16string(FileName), Entry, Kind});
}

PciDevice &Environment::AddPciDevice(const PciDeviceConfig &Config) {
  auto       Device = std::make_unique<PciDevice>(Config);
  std::vector<GuidInterface> Pairs = {{&gEfiDevicePathProtocolGuid, Device->DevicePath()},
                                      {&gEfiPciIoProtocolGuid, Device->PciIo()}};
  EFI_STATUS Status = Core_->Database.InstallMultiple(&Device->Handle_, Pairs);
  if (EFI_ERROR(Status)) {
    Fatal("AddPciDevice: a device already sits at that location");
  }
  Core_->PciDevices.push_back(std::move(Device));
  return *Core_->PciDevices.back();
}

EFI_STATUS Environment::RemovePciDevice(PciDevice &Device) {
  if (Device.Handle_ == nullptr) {
    return EFI_NOT_FOUND;
  }
  std::vector<GuidInterface> Pairs = {{&gEfiDevicePathProtocolGuid, Device.DevicePath()},
                                      {&gEfiPciIoProtocolGuid, Device.PciIo()}};
  EFI_STATUS Status = Core_->Database.UninstallMultiple(Device.Handle_, Pairs);
  if (!EFI_ERROR(Status)) {
    Device.Handle_ = nullptr;
  }
  return Status;
}

void    Environment::SignalEventGroup(const EFI_GUID &Group) { Core_->Events.SignalGroup(Group); }
EFI_TPL Environment::CurrentTpl() const { return Core_->Events.Current(); }

size_t Environment::HandleCount() const { return Core_->Database.HandleCount(); }
bool   Environment::IsHandle(EFI_HANDLE Handle) const { return Core_->Database.IsHandle(Handle); }
VOID  *Environment::FindInterface(EFI_HANDLE Handle, const EFI_GUID &Protocol) const {
  return Core_->Database.FindInterface(Handle, Protocol);
}

EFI_TIME Environment::Time() const { return Core_->Time; }
void     Environment::SetTime(const EFI_TIME &Time) {
  if (!IsValidTime(Time)) {
    Fatal("SetTime: not a valid calendar time");
  }
  Core_->Time = Time;
}
std::optional<ResetRequest> Environment::LastResetRequest() const { return Core_->LastReset; }
UINT64                      Environment::StalledMicroseconds() const { return Core_->StalledMicroseconds; }

const std::vector<std::string> &Environment::Faults() const { return Core_->Faults.All(); }
std::vector<std::string>        Environment::TakeFaults() { return Core_->Faults.Take(); }

}  // namespace HostEnv
