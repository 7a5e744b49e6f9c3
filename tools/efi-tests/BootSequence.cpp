#include "BootSequence.h"

#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/PrintLib.h>
#include <Library/UefiLib.h>
#include <uefi/Protocol/DevicePath.h>
#include <uefi/Protocol/LoadedImage.h>
#include <uefi/Protocol/SimpleFileSystem.h>
#include <uefi/Protocol/Supplicant.h>

#include "SupSuites.h"

namespace {

constinit EFI_GUID GlobalVariableGuid = {0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};

constexpr UINT8 MediaDevicePathType = 0x04;
constexpr UINT8 MediaFilePathSubType = 0x04;
constexpr UINTN DevicePathHeaderSize = sizeof(EFI_DEVICE_PATH_PROTOCOL);

UINTN NodeLength(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return static_cast<UINTN>(Node->Length[0]) | (static_cast<UINTN>(Node->Length[1]) << 8);
}

void SetNodeHeader(EFI_DEVICE_PATH_PROTOCOL *Node, UINT8 Type, UINT8 SubType, UINTN Length) {
  Node->Type = Type;
  Node->SubType = SubType;
  Node->Length[0] = static_cast<UINT8>(Length & 0xFF);
  Node->Length[1] = static_cast<UINT8>(Length >> 8);
}

// Bytes of Path before its first end node; 0 for a missing or malformed path,
// so a file node alone is used (the host environment finds images that way).
UINTN LeadingNodesSize(const EFI_DEVICE_PATH_PROTOCOL *Path) {
  UINTN Size = 0;
  for (const auto *Node = Path; Node != nullptr && Node->Type != END_DEVICE_PATH_TYPE;) {
    const UINTN Length = NodeLength(Node);
    if (Length < DevicePathHeaderSize) {
      return 0;
    }
    Size += Length;
    Node = reinterpret_cast<const EFI_DEVICE_PATH_PROTOCOL *>(reinterpret_cast<const UINT8 *>(Node) + Length);
  }
  return Size;
}

// The device path of FileName on the volume Device: the volume's own path,
// one file-path node, the end node. This is what the shell's "load" hands to
// LoadImage, and what Secure Boot's policy looks at.
PoolPtr<UINT8> FileDevicePath(EFI_HANDLE Device, const CHAR16 *FileName) {
  EFI_DEVICE_PATH_PROTOCOL *Volume = nullptr;
  if (Device == nullptr ||
      EFI_ERROR(gBS->HandleProtocol(Device, &gEfiDevicePathProtocolGuid, reinterpret_cast<VOID **>(&Volume)))) {
    Volume = nullptr;
  }
  const UINTN Prefix = LeadingNodesSize(Volume);
  const UINTN NameBytes = (StrLen(FileName) + 1) * sizeof(CHAR16);
  const UINTN FileNode = DevicePathHeaderSize + NameBytes;
  auto Path = PoolPtr<UINT8>::Zeroed(Prefix + FileNode + DevicePathHeaderSize);
  if (!Path) {
    return Path;
  }
  if (Prefix != 0) {
    CopyMem(Path.Get(), Volume, Prefix);
  }
  auto *Node = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Path.Get() + Prefix);
  SetNodeHeader(Node, MediaDevicePathType, MediaFilePathSubType, FileNode);
  CopyMem(Path.Get() + Prefix + DevicePathHeaderSize, FileName, NameBytes);
  auto *End = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Path.Get() + Prefix + FileNode);
  SetNodeHeader(End, END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, DevicePathHeaderSize);
  return Path;
}

// LoadImage of FileName from the volume AppImage was loaded from.
EFI_STATUS LoadFromOwnVolume(EFI_HANDLE AppImage, const CHAR16 *FileName, EFI_HANDLE *Image) {
  *Image = nullptr;
  EFI_LOADED_IMAGE_PROTOCOL *App = nullptr;
  EFI_STATUS Status = gBS->HandleProtocol(AppImage, &gEfiLoadedImageProtocolGuid, reinterpret_cast<VOID **>(&App));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  PoolPtr<UINT8> Path = FileDevicePath(App->DeviceHandle, FileName);
  if (!Path) {
    return EFI_OUT_OF_RESOURCES;
  }
  return gBS->LoadImage(FALSE, AppImage, reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Path.Get()), nullptr, 0,
                        Image);
}

// Closes a file handle when it goes out of scope.
class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(const FileHandle &) = delete;
  FileHandle &operator=(const FileHandle &) = delete;
  ~FileHandle() {
    if (File_ != nullptr) {
      File_->Close(File_);
    }
  }
  EFI_FILE_PROTOCOL **Out() { return &File_; }
  EFI_FILE_PROTOCOL *Get() const { return File_; }

 private:
  EFI_FILE_PROTOCOL *File_ = nullptr;
};

// Whether FileName exists on the volume AppImage was loaded from.
bool ExistsOnOwnVolume(EFI_HANDLE AppImage, const CHAR16 *FileName) {
  EFI_LOADED_IMAGE_PROTOCOL *App = nullptr;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume = nullptr;
  if (EFI_ERROR(gBS->HandleProtocol(AppImage, &gEfiLoadedImageProtocolGuid, reinterpret_cast<VOID **>(&App))) ||
      App->DeviceHandle == nullptr ||
      EFI_ERROR(gBS->HandleProtocol(App->DeviceHandle, &gEfiSimpleFileSystemProtocolGuid,
                                    reinterpret_cast<VOID **>(&Volume)))) {
    return false;
  }
  FileHandle Root;
  FileHandle File;
  return !EFI_ERROR(Volume->OpenVolume(Volume, Root.Out())) &&
         !EFI_ERROR(Root.Get()->Open(Root.Get(), File.Out(), const_cast<CHAR16 *>(FileName), EFI_FILE_MODE_READ, 0));
}

// The one handle carrying the supplicant service binding, or NULL.
EFI_HANDLE SupplicantServiceHandle() {
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

// A one-byte global variable (SecureBoot, SetupMode); false when it is
// missing or not one byte.
bool ReadGlobalFlag(CHAR16 *Name, UINT8 *Value) {
  UINTN Size = sizeof(*Value);
  return !EFI_ERROR(gRT->GetVariable(Name, &GlobalVariableGuid, nullptr, &Size, Value)) && Size == sizeof(*Value);
}

bool SecureBootEnabled() {
  CHAR16 Name[] = u"SecureBoot";
  UINT8 Value = 0;
  return ReadGlobalFlag(Name, &Value) && Value == 1;
}

UINTN CountHandlesWith(EFI_GUID *Protocol) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, Protocol, nullptr, &Count, &Handles))) {
    return 0;
  }
  FreePool(Handles);
  return Count;
}

// What the shell's "load" does after StartImage: connect every handle, so the
// driver binding's Supported() meets every device of the firmware (and opens
// and closes their PCI I/O). No device here is one the driver takes: each
// ConnectController ends in EFI_SUCCESS (other drivers, already connected) or
// EFI_NOT_FOUND (no driver), and no supplicant child appears.
void ConnectAllControllers(TestReporter &Report) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (!Report.CheckStatus(gBS->LocateHandleBuffer(AllHandles, nullptr, nullptr, &Count, &Handles), EFI_SUCCESS,
                          "boot.connect-all.handles")) {
    return;
  }
  UINTN Unexpected = 0;
  for (UINTN Index = 0; Index < Count; ++Index) {
    const EFI_STATUS Status = gBS->ConnectController(Handles[Index], nullptr, nullptr, TRUE);
    if (Status != EFI_SUCCESS && Status != EFI_NOT_FOUND) {
      Report.Info("ConnectController %p: %r", Handles[Index], Status);
      ++Unexpected;
    }
  }
  FreePool(Handles);
  Report.Info("ConnectController on %u handles", static_cast<UINT32>(Count));
  Report.CheckValue(Unexpected, 0, "boot.connect-all.statuses");
  Report.CheckValue(CountHandlesWith(&gEfiSupplicantProtocolGuid), 0, "boot.connect-all.no-child");
}

// Loads, starts and finds the driver under test; false when the suites
// cannot run.
bool LoadAndStartDriver(EFI_HANDLE AppImage, TestReporter &Report, EFI_HANDLE *Driver) {
  const EFI_STATUS Status = LoadFromOwnVolume(AppImage, DriverUnderTestPath, Driver);
  Report.Info("LoadImage %s: %r", DriverUnderTestPath, Status);
  if (!Report.CheckStatus(Status, EFI_SUCCESS, "boot.driver-loaded")) {
    return false;
  }
  if (!Report.CheckStatus(gBS->StartImage(*Driver, nullptr, nullptr), EFI_SUCCESS, "boot.driver-started")) {
    // A driver whose entry failed has been unloaded by the firmware already.
    *Driver = nullptr;
    return false;
  }
  return Report.Check(SupplicantServiceHandle() == *Driver, "boot.service-binding-on-driver-image");
}

// --- Secure Boot: which images the firmware lets in ---------------------------
// The Secure Boot runner puts these beside the signed driver under test; their
// folder's presence asks for the verify phase.
constexpr CHAR16 VerifyFolder[] = u"\\verify";
struct VerifyFile {
  const CHAR16 *Path;
  const CHAR8  *Check;  // prefix of the check names
};
constexpr VerifyFile RefusedFiles[] = {
    {u"\\verify\\unsigned\\NorvSupDxe.efi", "secure-boot.sup.unsigned"},
    {u"\\verify\\tampered\\NorvSupDxe.efi", "secure-boot.sup.tampered"},
    {u"\\verify\\unsigned\\XchKryDxe.efi", "secure-boot.hub.unsigned"},
    {u"\\verify\\tampered\\XchKryDxe.efi", "secure-boot.hub.tampered"},
};
// Signed, so it must load; its platform is not there, so it is never started.
constexpr VerifyFile AcceptedUnstartedFile = {u"\\verify\\signed\\XchKryDxe.efi", "secure-boot.hub.signed"};

// Check name Prefix + Suffix.
class CheckName {
 public:
  CheckName(const CHAR8 *Prefix, const CHAR8 *Suffix) { AsciiSPrint(Text_, sizeof(Text_), "%a-%a", Prefix, Suffix); }
  operator const CHAR8 *() const { return Text_; }

 private:
  CHAR8 Text_[96];
};

void CheckRefused(EFI_HANDLE AppImage, TestReporter &Report, const VerifyFile &File) {
  EFI_HANDLE Image = nullptr;
  const EFI_STATUS Status = LoadFromOwnVolume(AppImage, File.Path, &Image);
  Report.Info("LoadImage %s: %r, handle %p", File.Path, Status, Image);
  Report.CheckStatus(Status, EFI_ACCESS_DENIED, CheckName(File.Check, "refused"));
  if (!Report.Check(Image == nullptr, CheckName(File.Check, "no-handle"))) {
    gBS->UnloadImage(Image);
  }
}

void CheckAcceptedButNotStarted(EFI_HANDLE AppImage, TestReporter &Report, const VerifyFile &File) {
  EFI_HANDLE Image = nullptr;
  const EFI_STATUS Status = LoadFromOwnVolume(AppImage, File.Path, &Image);
  Report.Info("LoadImage %s: %r, handle %p", File.Path, Status, Image);
  Report.CheckStatus(Status, EFI_SUCCESS, CheckName(File.Check, "loaded"));
  if (!Report.Check(Image != nullptr, CheckName(File.Check, "handle"))) {
    return;
  }
  // Unloading an image that never started frees it without running any of it.
  Report.CheckStatus(gBS->UnloadImage(Image), EFI_SUCCESS, CheckName(File.Check, "unloaded-unstarted"));
}

void RunVerifyPhase(EFI_HANDLE AppImage, TestReporter &Report) {
  Report.Check(SecureBootEnabled(), "secure-boot.enabled");
  CHAR16 SetupModeName[] = u"SetupMode";
  UINT8 SetupMode = 1;
  Report.Check(ReadGlobalFlag(SetupModeName, &SetupMode) && SetupMode == 0, "secure-boot.user-mode");
  for (const VerifyFile &File : RefusedFiles) {
    CheckRefused(AppImage, Report, File);
  }
  CheckAcceptedButNotStarted(AppImage, Report, AcceptedUnstartedFile);
}

// One phase: its own counts, closed by its SUMMARY line.
class Phase {
 public:
  Phase(const CHAR8 *Name, TestReporter::LineSink Sink, void *Context) : Report_(Sink, Context) {
    Report_.Info("phase %a", Name);
  }
  Phase(const Phase &) = delete;
  Phase &operator=(const Phase &) = delete;
  ~Phase() { Report_.Summary(); }
  TestReporter &Report() { return Report_; }
  bool Passed() const { return Report_.Failed() == 0; }

 private:
  TestReporter Report_;
};

}  // namespace

bool RunBootSequence(EFI_HANDLE AppImage, const BootOptions &Options, TestReporter::LineSink Sink, void *Context) {
  TestReporter(Sink, Context).Info("Secure Boot %a", SecureBootEnabled() ? "on" : "off");

  bool AllPassed = true;
  EFI_HANDLE Driver = nullptr;
  {
    Phase Load("load", Sink, Context);
    if (!LoadAndStartDriver(AppImage, Load.Report(), &Driver)) {
      return false;
    }
    if (Options.ConnectAll) {
      ConnectAllControllers(Load.Report());
    }
    RunSupplicantSuites(Load.Report(), SuitePhase::DriverLoaded);
    AllPassed = Load.Passed();
  }
  {
    Phase Unload("unload", Sink, Context);
    Unload.Report().CheckStatus(gBS->UnloadImage(Driver), EFI_SUCCESS, "boot.driver-unloaded");
    AllPassed = Unload.Passed() && AllPassed;
  }
  {
    Phase Unloaded("unloaded", Sink, Context);
    RunSupplicantSuites(Unloaded.Report(), SuitePhase::DriverUnloaded);
    AllPassed = Unloaded.Passed() && AllPassed;
  }
  if (ExistsOnOwnVolume(AppImage, VerifyFolder)) {
    Phase Verify("verify", Sink, Context);
    RunVerifyPhase(AppImage, Verify.Report());
    AllPassed = Verify.Passed() && AllPassed;
  }
  return AllPassed;
}
