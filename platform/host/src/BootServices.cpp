// The EFIAPI members of EFI_BOOT_SERVICES. Each one finds the live core,
// checks what UEFI asks of its caller, and hands over to the component that
// owns the state. Services this core does not model answer EFI_UNSUPPORTED.
#include "Core.h"

#include <array>
#include <cstring>

namespace HostEnv {
namespace {

Core &C() { return Core::Get(); }

// --- Task priority ---
EFI_TPL EFIAPI RaiseTpl(EFI_TPL NewTpl) { return C().Events.Raise(NewTpl); }
VOID EFIAPI    RestoreTpl(EFI_TPL OldTpl) { C().Events.Restore(OldTpl); }

// --- Memory ---
EFI_STATUS EFIAPI AllocatePages(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                EFI_PHYSICAL_ADDRESS *Memory) {
  C().CheckTpl(TPL_NOTIFY, "AllocatePages");
  return C().Pool.AllocatePages(Type, MemoryType, Pages, Memory);
}
EFI_STATUS EFIAPI FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  C().CheckTpl(TPL_NOTIFY, "FreePages");
  return C().Pool.FreePages(Memory, Pages);
}
EFI_STATUS EFIAPI GetMemoryMap(UINTN *, EFI_MEMORY_DESCRIPTOR *, UINTN *, UINTN *, UINT32 *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  C().CheckTpl(TPL_NOTIFY, "AllocatePool");
  return C().Pool.AllocatePool(PoolType, Size, Buffer);
}
EFI_STATUS EFIAPI FreePool(VOID *Buffer) {
  C().CheckTpl(TPL_NOTIFY, "FreePool");
  return C().Pool.FreePool(Buffer);
}

// --- Events ---
EFI_STATUS EFIAPI CreateEvent(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify, VOID *Context,
                              EFI_EVENT *Event) {
  C().CheckTpl(TPL_NOTIFY, "CreateEvent");
  return C().Events.Create(Type, NotifyTpl, Notify, Context, nullptr, Event);
}
EFI_STATUS EFIAPI CreateEventEx(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify, const VOID *Context,
                                const EFI_GUID *Group, EFI_EVENT *Event) {
  C().CheckTpl(TPL_NOTIFY, "CreateEventEx");
  // The two special signal types have their own groups and take none here.
  if (Group != nullptr && (Type == EVT_SIGNAL_EXIT_BOOT_SERVICES || Type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE)) {
    return EFI_INVALID_PARAMETER;
  }
  return C().Events.Create(Type, NotifyTpl, Notify, Context, Group, Event);
}
EFI_STATUS EFIAPI SetTimer(EFI_EVENT, EFI_TIMER_DELAY, UINT64) { return EFI_UNSUPPORTED; }
// Nothing could ever signal a waited-for event here (no timers, one thread).
EFI_STATUS EFIAPI WaitForEvent(UINTN, EFI_EVENT *, UINTN *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI SignalEvent(EFI_EVENT Event) { return C().Events.Signal(Event); }
EFI_STATUS EFIAPI CloseEvent(EFI_EVENT Event) {
  C().CheckTpl(TPL_NOTIFY, "CloseEvent");
  if (!C().Events.IsEvent(Event)) {
    return EFI_INVALID_PARAMETER;
  }
  C().Database.ForgetEvent(Event);
  return C().Events.Close(Event);
}
EFI_STATUS EFIAPI CheckEvent(EFI_EVENT Event) { return C().Events.Check(Event); }

// --- Protocol handler services ---
EFI_STATUS EFIAPI InstallProtocolInterface(EFI_HANDLE *Handle, EFI_GUID *Protocol, EFI_INTERFACE_TYPE InterfaceType,
                                           VOID *Interface) {
  C().CheckTpl(TPL_NOTIFY, "InstallProtocolInterface");
  if (InterfaceType != EFI_NATIVE_INTERFACE) {
    return EFI_INVALID_PARAMETER;
  }
  return C().Database.Install(Handle, Protocol, Interface);
}
EFI_STATUS EFIAPI ReinstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID *OldInterface,
                                             VOID *NewInterface) {
  C().CheckTpl(TPL_NOTIFY, "ReinstallProtocolInterface");
  return C().Database.Reinstall(Handle, Protocol, OldInterface, NewInterface);
}
EFI_STATUS EFIAPI UninstallProtocolInterface(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID *Interface) {
  C().CheckTpl(TPL_NOTIFY, "UninstallProtocolInterface");
  return C().Database.Uninstall(Handle, Protocol, Interface);
}
EFI_STATUS EFIAPI OpenProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface, EFI_HANDLE Agent,
                               EFI_HANDLE Controller, UINT32 Attributes) {
  C().CheckTpl(TPL_NOTIFY, "OpenProtocol");
  return C().Database.Open(Handle, Protocol, Interface, Agent, Controller, Attributes);
}
EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface) {
  C().CheckTpl(TPL_NOTIFY, "HandleProtocol");
  return C().Database.Open(Handle, Protocol, Interface, C().CoreImage, nullptr, EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL);
}
EFI_STATUS EFIAPI CloseProtocol(EFI_HANDLE Handle, EFI_GUID *Protocol, EFI_HANDLE Agent, EFI_HANDLE Controller) {
  C().CheckTpl(TPL_NOTIFY, "CloseProtocol");
  return C().Database.Close(Handle, Protocol, Agent, Controller);
}
EFI_STATUS EFIAPI OpenProtocolInformation(EFI_HANDLE Handle, EFI_GUID *Protocol,
                                          EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **EntryBuffer, UINTN *EntryCount) {
  C().CheckTpl(TPL_NOTIFY, "OpenProtocolInformation");
  if (EntryBuffer == nullptr || EntryCount == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY> Entries;
  EFI_STATUS Status = C().Database.OpenInformation(Handle, Protocol, Entries);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = C().PoolCopy(Entries, EntryBuffer);
  if (!EFI_ERROR(Status)) {
    *EntryCount = Entries.size();
  }
  return Status;
}
EFI_STATUS EFIAPI ProtocolsPerHandle(EFI_HANDLE Handle, EFI_GUID ***ProtocolBuffer, UINTN *ProtocolBufferCount) {
  C().CheckTpl(TPL_NOTIFY, "ProtocolsPerHandle");
  if (ProtocolBuffer == nullptr || ProtocolBufferCount == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_GUID *> Guids;
  EFI_STATUS              Status = C().Database.ProtocolsOn(Handle, Guids);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = C().PoolCopy(Guids, ProtocolBuffer);
  if (!EFI_ERROR(Status)) {
    *ProtocolBufferCount = Guids.size();
  }
  return Status;
}
EFI_STATUS EFIAPI RegisterProtocolNotify(EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  C().CheckTpl(TPL_NOTIFY, "RegisterProtocolNotify");
  return C().Database.RegisterNotify(Protocol, Event, Registration);
}
EFI_STATUS EFIAPI LocateHandle(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol, VOID *SearchKey,
                               UINTN *BufferSize, EFI_HANDLE *Buffer) {
  C().CheckTpl(TPL_NOTIFY, "LocateHandle");
  if (BufferSize == nullptr || (*BufferSize > 0 && Buffer == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> Handles;
  EFI_STATUS              Status = C().Database.Locate(SearchType, Protocol, SearchKey, Handles);
  if (EFI_ERROR(Status)) {
    if (Status == EFI_NOT_FOUND) {
      *BufferSize = 0;
    }
    return Status;
  }
  UINTN Needed = Handles.size() * sizeof(EFI_HANDLE);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(Buffer, Handles.data(), Needed);
  *BufferSize = Needed;
  if (SearchType == ByRegisterNotify) {
    C().Database.ConsumeNotify(SearchKey);
  }
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol, VOID *SearchKey,
                                     UINTN *NoHandles, EFI_HANDLE **Buffer) {
  C().CheckTpl(TPL_NOTIFY, "LocateHandleBuffer");
  if (NoHandles == nullptr || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *NoHandles = 0;
  *Buffer    = nullptr;
  std::vector<EFI_HANDLE> Handles;
  EFI_STATUS              Status = C().Database.Locate(SearchType, Protocol, SearchKey, Handles);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = C().PoolCopy(Handles, Buffer);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *NoHandles = Handles.size();
  if (SearchType == ByRegisterNotify) {
    C().Database.ConsumeNotify(SearchKey);
  }
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI LocateProtocol(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  C().CheckTpl(TPL_NOTIFY, "LocateProtocol");
  if (Protocol == nullptr || Interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Interface = nullptr;
  std::vector<EFI_HANDLE> Handles;
  EFI_STATUS              Status;
  if (Registration == nullptr) {
    Status = C().Database.Locate(ByProtocol, Protocol, nullptr, Handles);
  } else {
    // The next handle that got the registered protocol since the last look.
    const NotifyRegistration *Found = C().Database.FindRegistration(Registration);
    if (Found == nullptr || !(*Found->Guid == *Protocol)) {
      return EFI_INVALID_PARAMETER;
    }
    Status = C().Database.Locate(ByRegisterNotify, nullptr, Registration, Handles);
    if (!EFI_ERROR(Status)) {
      C().Database.ConsumeNotify(Registration);
    }
  }
  if (EFI_ERROR(Status)) {
    return Status == EFI_INVALID_PARAMETER ? Status : EFI_NOT_FOUND;
  }
  *Interface = C().Database.FindInterface(Handles.front(), *Protocol);
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI LocateDevicePath(EFI_GUID *, EFI_DEVICE_PATH_PROTOCOL **, EFI_HANDLE *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI InstallConfigurationTable(EFI_GUID *Guid, VOID *Table) {
  C().CheckTpl(TPL_NOTIFY, "InstallConfigurationTable");
  return C().InstallConfigurationTable(Guid, Table);
}

std::vector<GuidInterface> ReadPairs(EFI_VA_LIST &Args) {
  std::vector<GuidInterface> Pairs;
  for (;;) {
    auto *Guid = EFI_VA_ARG(Args, EFI_GUID *);
    if (Guid == nullptr) {
      break;
    }
    auto *Interface = EFI_VA_ARG(Args, VOID *);
    Pairs.push_back({Guid, Interface});
  }
  return Pairs;
}

EFI_STATUS EFIAPI InstallMultipleProtocolInterfaces(EFI_HANDLE *Handle, ...) {
  C().CheckTpl(TPL_NOTIFY, "InstallMultipleProtocolInterfaces");
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Handle);
  std::vector<GuidInterface> Pairs = ReadPairs(Args);
  EFI_VA_END(Args);
  return C().Database.InstallMultiple(Handle, Pairs);
}
EFI_STATUS EFIAPI UninstallMultipleProtocolInterfaces(EFI_HANDLE Handle, ...) {
  C().CheckTpl(TPL_NOTIFY, "UninstallMultipleProtocolInterfaces");
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Handle);
  std::vector<GuidInterface> Pairs = ReadPairs(Args);
  EFI_VA_END(Args);
  return C().Database.UninstallMultiple(Handle, Pairs);
}

// --- Images ---
EFI_STATUS EFIAPI LoadImage(BOOLEAN, EFI_HANDLE Parent, EFI_DEVICE_PATH_PROTOCOL *DevicePath, VOID *SourceBuffer,
                            UINTN, EFI_HANDLE *ImageHandle) {
  if (ImageHandle == nullptr || C().FindImage(Parent) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (SourceBuffer != nullptr) {
    return EFI_UNSUPPORTED;  // no PE/COFF loader: images are linked into the host program
  }
  if (DevicePath == nullptr) {
    return EFI_NOT_FOUND;
  }
  return C().LoadRegisteredImage(Parent, DevicePath, ImageHandle);
}
EFI_STATUS EFIAPI StartImage(EFI_HANDLE ImageHandle, UINTN *ExitDataSize, CHAR16 **ExitData) {
  if (ExitDataSize != nullptr) {
    *ExitDataSize = 0;
  }
  if (ExitData != nullptr) {
    *ExitData = nullptr;
  }
  return C().StartImage(ImageHandle);
}
EFI_STATUS EFIAPI Exit(EFI_HANDLE, EFI_STATUS, UINTN, CHAR16 *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI UnloadImage(EFI_HANDLE ImageHandle) { return C().UnloadImage(ImageHandle); }
EFI_STATUS EFIAPI ExitBootServices(EFI_HANDLE, UINTN) { return EFI_UNSUPPORTED; }

// --- Miscellaneous ---
EFI_STATUS EFIAPI GetNextMonotonicCount(UINT64 *Count) {
  if (Count == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Count = C().MonotonicCount++;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI Stall(UINTN Microseconds) {
  C().StalledMicroseconds += Microseconds;
  return EFI_SUCCESS;
}
// Accepted and ignored: without timers no watchdog can fire.
EFI_STATUS EFIAPI SetWatchdogTimer(UINTN, UINT64, UINTN, CHAR16 *) { return EFI_SUCCESS; }
EFI_STATUS EFIAPI ConnectController(EFI_HANDLE, EFI_HANDLE *, EFI_DEVICE_PATH_PROTOCOL *, BOOLEAN) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI DisconnectController(EFI_HANDLE, EFI_HANDLE, EFI_HANDLE) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI CalculateCrc32(VOID *Data, UINTN DataSize, UINT32 *Crc) {
  if (Data == nullptr || DataSize == 0 || Crc == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Crc = Crc32(Data, DataSize);
  return EFI_SUCCESS;
}
VOID EFIAPI CopyMem(VOID *Destination, VOID *Source, UINTN Length) {
  if (Length != 0) {
    std::memmove(Destination, Source, Length);
  }
}
VOID EFIAPI SetMem(VOID *Buffer, UINTN Size, UINT8 Value) {
  if (Size != 0) {
    std::memset(Buffer, Value, Size);
  }
}

constexpr std::array<UINT32, 256> MakeCrcTable() {
  std::array<UINT32, 256> Table{};
  for (UINT32 Index = 0; Index < 256; ++Index) {
    UINT32 Value = Index;
    for (int Bit = 0; Bit < 8; ++Bit) {
      Value = (Value & 1) != 0 ? 0xEDB88320u ^ (Value >> 1) : Value >> 1;
    }
    Table[Index] = Value;
  }
  return Table;
}
constexpr std::array<UINT32, 256> kCrcTable = MakeCrcTable();

}  // namespace

UINT32 Crc32(const VOID *Data, UINTN Size) {
  const auto *Bytes = static_cast<const UINT8 *>(Data);
  UINT32      Crc   = 0xFFFFFFFFu;
  for (UINTN Index = 0; Index < Size; ++Index) {
    Crc = kCrcTable[(Crc ^ Bytes[Index]) & 0xFF] ^ (Crc >> 8);
  }
  return ~Crc;
}

void FillBootServices(EFI_BOOT_SERVICES &Table) {
  Table.RaiseTPL                            = RaiseTpl;
  Table.RestoreTPL                          = RestoreTpl;
  Table.AllocatePages                       = AllocatePages;
  Table.FreePages                           = FreePages;
  Table.GetMemoryMap                        = GetMemoryMap;
  Table.AllocatePool                        = AllocatePool;
  Table.FreePool                            = FreePool;
  Table.CreateEvent                         = CreateEvent;
  Table.SetTimer                            = SetTimer;
  Table.WaitForEvent                        = WaitForEvent;
  Table.SignalEvent                         = SignalEvent;
  Table.CloseEvent                          = CloseEvent;
  Table.CheckEvent                          = CheckEvent;
  Table.InstallProtocolInterface            = InstallProtocolInterface;
  Table.ReinstallProtocolInterface          = ReinstallProtocolInterface;
  Table.UninstallProtocolInterface          = UninstallProtocolInterface;
  Table.HandleProtocol                      = HandleProtocol;
  Table.Reserved                            = nullptr;
  Table.RegisterProtocolNotify              = RegisterProtocolNotify;
  Table.LocateHandle                        = LocateHandle;
  Table.LocateDevicePath                    = LocateDevicePath;
  Table.InstallConfigurationTable           = InstallConfigurationTable;
  Table.LoadImage                           = LoadImage;
  Table.StartImage                          = StartImage;
  Table.Exit                                = Exit;
  Table.UnloadImage                         = UnloadImage;
  Table.ExitBootServices                    = ExitBootServices;
  Table.GetNextMonotonicCount               = GetNextMonotonicCount;
  Table.Stall                               = Stall;
  Table.SetWatchdogTimer                    = SetWatchdogTimer;
  Table.ConnectController                   = ConnectController;
  Table.DisconnectController                = DisconnectController;
  Table.OpenProtocol                        = OpenProtocol;
  Table.CloseProtocol                       = CloseProtocol;
  Table.OpenProtocolInformation             = OpenProtocolInformation;
  Table.ProtocolsPerHandle                  = ProtocolsPerHandle;
  Table.LocateHandleBuffer                  = LocateHandleBuffer;
  Table.LocateProtocol                      = LocateProtocol;
  Table.InstallMultipleProtocolInterfaces   = InstallMultipleProtocolInterfaces;
  Table.UninstallMultipleProtocolInterfaces = UninstallMultipleProtocolInterfaces;
  Table.CalculateCrc32                      = CalculateCrc32;
  Table.CopyMem                             = CopyMem;
  Table.SetMem                              = SetMem;
  Table.CreateEventEx                       = CreateEventEx;
}

}  // namespace HostEnv
