#include "ProtocolDatabase.h"

#include "EventQueue.h"

#include <uefi/Protocol/DevicePath.h>

#include <algorithm>
#include <cstring>

namespace HostEnv {
namespace {

constexpr UINT32 kAttributesThatPinAnInterface =
    EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER | EFI_OPEN_PROTOCOL_EXCLUSIVE;

bool PinsInterface(const ProtocolInterface &Protocol) {
  return std::any_of(Protocol.Opens.begin(), Protocol.Opens.end(),
                     [](const OpenRecord &Open) { return (Open.Attributes & kAttributesThatPinAnInterface) != 0; });
}

// Byte length of a device path including its end node, or 0 when it is
// malformed (a node shorter than its header, or no end within reach).
size_t DevicePathSize(const VOID *DevicePath) {
  const auto *Bytes = static_cast<const UINT8 *>(DevicePath);
  size_t      Offset = 0;
  for (int Nodes = 0; Nodes < 1024; ++Nodes) {
    const UINT8 *Node   = Bytes + Offset;
    size_t       Length = Node[2] | (size_t(Node[3]) << 8);
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      return 0;
    }
    Offset += Length;
    if (Node[0] == END_DEVICE_PATH_TYPE && Node[1] == END_ENTIRE_DEVICE_PATH_SUBTYPE) {
      return Offset;
    }
  }
  return 0;
}

// RAII raise to TPL_NOTIFY around a multi-step database change, so that
// notifications see the finished result (as the firmware's protocol lock does).
class NotifyLevelSection {
 public:
  explicit NotifyLevelSection(EventQueue &Events) : Events_(Events), OldTpl_(Events.Current()) {
    if (OldTpl_ < TPL_NOTIFY) {
      Events_.Raise(TPL_NOTIFY);
    }
  }
  ~NotifyLevelSection() { Events_.Restore(OldTpl_); }

 private:
  EventQueue &Events_;
  EFI_TPL     OldTpl_;
};

}  // namespace

HandleRecord *ProtocolDatabase::FindHandle(EFI_HANDLE Handle) const {
  auto *Record = static_cast<HandleRecord *>(Handle);
  return Live_.count(Record) != 0 ? Record : nullptr;
}

bool ProtocolDatabase::IsHandle(EFI_HANDLE Handle) const { return FindHandle(Handle) != nullptr; }

ProtocolInterface *ProtocolDatabase::FindProtocol(HandleRecord &Record, const EFI_GUID &Protocol) const {
  for (ProtocolInterface &Entry : Record.Protocols) {
    if (*Entry.Guid == Protocol) {
      return &Entry;
    }
  }
  return nullptr;
}

VOID *ProtocolDatabase::FindInterface(EFI_HANDLE Handle, const EFI_GUID &Protocol) const {
  HandleRecord      *Record = FindHandle(Handle);
  ProtocolInterface *Entry  = Record != nullptr ? FindProtocol(*Record, Protocol) : nullptr;
  return Entry != nullptr ? Entry->Interface : nullptr;
}

const EFI_GUID *ProtocolDatabase::Intern(const EFI_GUID &Guid) {
  for (const auto &Known : Guids_) {
    if (*Known == Guid) {
      return Known.get();
    }
  }
  Guids_.push_back(std::make_unique<EFI_GUID>(Guid));
  return Guids_.back().get();
}

void ProtocolDatabase::SignalAll(const std::vector<EFI_EVENT> &Events) {
  for (EFI_EVENT Event : Events) {
    Events_.Signal(Event);  // an event closed by an earlier notification is simply skipped
  }
}

void ProtocolDatabase::QueueNotifies(EFI_HANDLE Handle, const EFI_GUID &Protocol, std::vector<EFI_EVENT> &ToSignal) {
  for (const auto &Registration : Registrations_) {
    if (Registration->Alive && *Registration->Guid == Protocol) {
      Registration->Pending.push_back(Handle);
      ToSignal.push_back(Registration->Event);
    }
  }
}

void ProtocolDatabase::DropPending(EFI_HANDLE Handle, const EFI_GUID &Protocol) {
  for (const auto &Registration : Registrations_) {
    if (*Registration->Guid == Protocol) {
      auto &Pending = Registration->Pending;
      Pending.erase(std::remove(Pending.begin(), Pending.end(), Handle), Pending.end());
    }
  }
}

void ProtocolDatabase::RemoveIfEmpty(HandleRecord &Record) {
  if (Record.Alive && Record.Protocols.empty() && HoldEmptyHandles_ == 0) {
    Record.Alive = false;
    Live_.erase(&Record);
  }
}

EFI_STATUS ProtocolDatabase::InstallOne(EFI_HANDLE *Handle, const EFI_GUID *Protocol, VOID *Interface,
                                        std::vector<EFI_EVENT> &ToSignal) {
  if (Handle == nullptr || Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  HandleRecord *Record = nullptr;
  if (*Handle != nullptr) {
    Record = FindHandle(*Handle);
    if (Record == nullptr || FindProtocol(*Record, *Protocol) != nullptr) {
      return EFI_INVALID_PARAMETER;
    }
  } else {
    All_.push_back(std::make_unique<HandleRecord>());
    Record = All_.back().get();
    Live_.insert(Record);
    *Handle = Record;
  }
  Record->Protocols.push_back(ProtocolInterface{Intern(*Protocol), Interface, NextInstallSequence_++, {}});
  QueueNotifies(*Handle, *Protocol, ToSignal);
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::Install(EFI_HANDLE *Handle, const EFI_GUID *Protocol, VOID *Interface) {
  std::vector<EFI_EVENT> ToSignal;
  EFI_STATUS             Status = InstallOne(Handle, Protocol, Interface, ToSignal);
  SignalAll(ToSignal);
  return Status;
}

EFI_STATUS ProtocolDatabase::UninstallOne(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface,
                                          RemovedInterface *Removed) {
  HandleRecord *Record = FindHandle(Handle);
  if (Record == nullptr || Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolInterface *Entry = FindProtocol(*Record, *Protocol);
  if (Entry == nullptr || Entry->Interface != Interface) {
    return EFI_NOT_FOUND;
  }
  // A driver or a child controller still uses it. Firmware would try to
  // disconnect the driver first; this core has no driver connection, so the
  // request is refused and nothing changes.
  if (PinsInterface(*Entry)) {
    return EFI_ACCESS_DENIED;
  }
  size_t Index = Entry - Record->Protocols.data();
  if (Removed != nullptr) {
    *Removed = {Index, *Entry};
  }
  Record->Protocols.erase(Record->Protocols.begin() + Index);
  DropPending(Handle, *Protocol);
  RemoveIfEmpty(*Record);
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::Uninstall(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface) {
  return UninstallOne(Handle, Protocol, Interface, nullptr);
}

EFI_STATUS ProtocolDatabase::Reinstall(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *OldInterface,
                                       VOID *NewInterface) {
  HandleRecord *Record = FindHandle(Handle);
  if (Record == nullptr || Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolInterface *Entry = FindProtocol(*Record, *Protocol);
  if (Entry == nullptr || Entry->Interface != OldInterface) {
    return EFI_NOT_FOUND;
  }
  if (PinsInterface(*Entry)) {
    return EFI_ACCESS_DENIED;
  }
  Entry->Opens.clear();  // only GET/BY_HANDLE/TEST records are left, and they end here
  Entry->Interface       = NewInterface;
  Entry->InstallSequence = NextInstallSequence_++;
  DropPending(Handle, *Protocol);
  std::vector<EFI_EVENT> ToSignal;
  QueueNotifies(Handle, *Protocol, ToSignal);
  SignalAll(ToSignal);
  return EFI_SUCCESS;
}

bool ProtocolDatabase::DevicePathAlreadyInstalled(const VOID *DevicePath) const {
  size_t Size = DevicePath != nullptr ? DevicePathSize(DevicePath) : 0;
  if (Size == 0) {
    return false;
  }
  for (const auto &Record : All_) {
    if (!Record->Alive) {
      continue;
    }
    for (const ProtocolInterface &Entry : Record->Protocols) {
      if (*Entry.Guid == gEfiDevicePathProtocolGuid && Entry.Interface != nullptr &&
          DevicePathSize(Entry.Interface) == Size && std::memcmp(Entry.Interface, DevicePath, Size) == 0) {
        return true;
      }
    }
  }
  return false;
}

EFI_STATUS ProtocolDatabase::InstallMultiple(EFI_HANDLE *Handle, const std::vector<GuidInterface> &Pairs) {
  if (Handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  NotifyLevelSection Section(Events_);
  ++HoldEmptyHandles_;
  EFI_HANDLE             OriginalHandle = *Handle;
  EFI_STATUS             Status         = EFI_SUCCESS;
  size_t                 Installed      = 0;
  std::vector<EFI_EVENT> ToSignal;
  for (; Installed < Pairs.size(); ++Installed) {
    const GuidInterface &Pair = Pairs[Installed];
    // One device path identifies one device: a second handle with the same
    // path would make LocateDevicePath ambiguous.
    if (Pair.Guid != nullptr && *Pair.Guid == gEfiDevicePathProtocolGuid &&
        DevicePathAlreadyInstalled(Pair.Interface)) {
      Status = EFI_ALREADY_STARTED;
      break;
    }
    Status = InstallOne(Handle, Pair.Guid, Pair.Interface, ToSignal);
    if (EFI_ERROR(Status)) {
      break;
    }
  }
  if (EFI_ERROR(Status)) {
    while (Installed-- > 0) {
      UninstallOne(*Handle, Pairs[Installed].Guid, Pairs[Installed].Interface, nullptr);
    }
  }
  --HoldEmptyHandles_;
  if (HandleRecord *Record = FindHandle(*Handle)) {
    RemoveIfEmpty(*Record);
  }
  if (EFI_ERROR(Status)) {
    *Handle = OriginalHandle;
  }
  if (!EFI_ERROR(Status)) {
    SignalAll(ToSignal);  // queued at TPL_NOTIFY; they run when the section ends
  }
  return Status;
}

EFI_STATUS ProtocolDatabase::UninstallMultiple(EFI_HANDLE Handle, const std::vector<GuidInterface> &Pairs) {
  HandleRecord *Record = FindHandle(Handle);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  NotifyLevelSection Section(Events_);
  ++HoldEmptyHandles_;
  EFI_STATUS                    Status = EFI_SUCCESS;
  std::vector<RemovedInterface> Removed;
  for (const GuidInterface &Pair : Pairs) {
    Removed.emplace_back();
    Status = UninstallOne(Handle, Pair.Guid, Pair.Interface, &Removed.back());
    if (EFI_ERROR(Status)) {
      Removed.pop_back();
      break;
    }
  }
  if (EFI_ERROR(Status)) {
    // Put the removed entries back where they were, as if never touched:
    // listeners are not told about interfaces that never went away.
    for (auto Entry = Removed.rbegin(); Entry != Removed.rend(); ++Entry) {
      Record->Protocols.insert(Record->Protocols.begin() + Entry->Index, Entry->Entry);
    }
    // The one failure status UEFI defines for this service.
    Status = EFI_INVALID_PARAMETER;
  }
  --HoldEmptyHandles_;
  RemoveIfEmpty(*Record);
  return Status;
}

EFI_STATUS ProtocolDatabase::Open(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface, EFI_HANDLE Agent,
                                  EFI_HANDLE Controller, UINT32 Attributes) {
  const bool Testing = Attributes == EFI_OPEN_PROTOCOL_TEST_PROTOCOL;
  if (Protocol == nullptr || (!Testing && Interface == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  HandleRecord *Record = FindHandle(Handle);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  switch (Attributes) {
    case EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER:
      if (!IsHandle(Agent) || !IsHandle(Controller) || Handle == Controller) {
        return EFI_INVALID_PARAMETER;
      }
      break;
    case EFI_OPEN_PROTOCOL_BY_DRIVER:
    case EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if (!IsHandle(Agent) || !IsHandle(Controller)) {
        return EFI_INVALID_PARAMETER;
      }
      break;
    case EFI_OPEN_PROTOCOL_EXCLUSIVE:
      if (!IsHandle(Agent)) {
        return EFI_INVALID_PARAMETER;
      }
      break;
    case EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL:
    case EFI_OPEN_PROTOCOL_GET_PROTOCOL:
    case EFI_OPEN_PROTOCOL_TEST_PROTOCOL:
      break;
    default:
      return EFI_INVALID_PARAMETER;
  }
  ProtocolInterface *Entry = FindProtocol(*Record, *Protocol);
  if (Entry == nullptr) {
    if (!Testing) {
      *Interface = nullptr;
    }
    return EFI_UNSUPPORTED;
  }
  auto Deliver = [&](EFI_STATUS Status) {
    if (!Testing) {
      *Interface = Entry->Interface;
    }
    return Status;
  };

  bool ByDriver  = false;
  bool Exclusive = false;
  for (OpenRecord &Open : Entry->Opens) {
    bool ExactMatch = Open.Agent == Agent && Open.Attributes == Attributes && Open.Controller == Controller;
    if ((Open.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) != 0) {
      ByDriver = true;
      if (ExactMatch) {
        return Deliver(EFI_ALREADY_STARTED);
      }
    }
    if ((Open.Attributes & EFI_OPEN_PROTOCOL_EXCLUSIVE) != 0) {
      Exclusive = true;
    } else if (ExactMatch) {
      ++Open.OpenCount;
      return Deliver(EFI_SUCCESS);
    }
  }
  switch (Attributes) {
    case EFI_OPEN_PROTOCOL_BY_DRIVER:
      if (ByDriver || Exclusive) {
        return EFI_ACCESS_DENIED;
      }
      break;
    case EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE:
    case EFI_OPEN_PROTOCOL_EXCLUSIVE:
      // Firmware would disconnect the driver that has it; without driver
      // connection here, an interface held by a driver stays denied.
      if (ByDriver || Exclusive) {
        return EFI_ACCESS_DENIED;
      }
      break;
    default:
      break;
  }
  if (Agent != nullptr) {
    Entry->Opens.push_back(OpenRecord{Agent, Controller, Attributes, 1});
  }
  return Deliver(EFI_SUCCESS);
}

EFI_STATUS ProtocolDatabase::Close(EFI_HANDLE Handle, const EFI_GUID *Protocol, EFI_HANDLE Agent,
                                   EFI_HANDLE Controller) {
  HandleRecord *Record = FindHandle(Handle);
  if (Record == nullptr || Protocol == nullptr || !IsHandle(Agent) ||
      (Controller != nullptr && !IsHandle(Controller))) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolInterface *Entry = FindProtocol(*Record, *Protocol);
  if (Entry == nullptr) {
    return EFI_NOT_FOUND;
  }
  auto Closed = std::remove_if(Entry->Opens.begin(), Entry->Opens.end(), [&](const OpenRecord &Open) {
    return Open.Agent == Agent && Open.Controller == Controller;
  });
  if (Closed == Entry->Opens.end()) {
    return EFI_NOT_FOUND;
  }
  Entry->Opens.erase(Closed, Entry->Opens.end());
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::OpenInformation(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                             std::vector<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY> &Entries) const {
  HandleRecord *Record = FindHandle(Handle);
  if (Record == nullptr || Protocol == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolInterface *Entry = FindProtocol(*Record, *Protocol);
  if (Entry == nullptr) {
    return EFI_NOT_FOUND;
  }
  Entries.clear();
  for (const OpenRecord &Open : Entry->Opens) {
    Entries.push_back({Open.Agent, Open.Controller, Open.Attributes, Open.OpenCount});
  }
  return EFI_SUCCESS;
}

void ProtocolDatabase::CloseAllOpenedBy(EFI_HANDLE Agent) {
  for (const auto &Record : All_) {
    for (ProtocolInterface &Entry : Record->Protocols) {
      std::erase_if(Entry.Opens, [&](const OpenRecord &Open) { return Open.Agent == Agent; });
    }
  }
}

EFI_STATUS ProtocolDatabase::ProtocolsOn(EFI_HANDLE Handle, std::vector<EFI_GUID *> &Guids) const {
  HandleRecord *Record = FindHandle(Handle);
  if (Record == nullptr || Record->Protocols.empty()) {
    return EFI_INVALID_PARAMETER;
  }
  Guids.clear();
  for (const ProtocolInterface &Entry : Record->Protocols) {
    Guids.push_back(const_cast<EFI_GUID *>(Entry.Guid));
  }
  return EFI_SUCCESS;
}

NotifyRegistration *ProtocolDatabase::FindRegistration(VOID *Registration) const {
  for (const auto &Known : Registrations_) {
    if (Known.get() == Registration && Known->Alive) {
      return Known.get();
    }
  }
  return nullptr;
}

EFI_STATUS ProtocolDatabase::Locate(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol, VOID *SearchKey,
                                    std::vector<EFI_HANDLE> &Handles) const {
  Handles.clear();
  switch (SearchType) {
    case AllHandles:
      for (const auto &Record : All_) {
        if (Record->Alive) {
          Handles.push_back(Record.get());
        }
      }
      break;
    case ByProtocol: {
      if (Protocol == nullptr) {
        return EFI_INVALID_PARAMETER;
      }
      std::vector<std::pair<UINT64, EFI_HANDLE>> Found;
      for (const auto &Record : All_) {
        ProtocolInterface *Entry = Record->Alive ? FindProtocol(*Record, *Protocol) : nullptr;
        if (Entry != nullptr) {
          Found.emplace_back(Entry->InstallSequence, Record.get());
        }
      }
      std::sort(Found.begin(), Found.end());
      for (const auto &[Sequence, Handle] : Found) {
        Handles.push_back(Handle);
      }
      break;
    }
    case ByRegisterNotify: {
      NotifyRegistration *Registration = FindRegistration(SearchKey);
      if (Registration == nullptr) {
        return EFI_INVALID_PARAMETER;
      }
      if (!Registration->Pending.empty()) {
        Handles.push_back(Registration->Pending.front());
      }
      break;
    }
    default:
      return EFI_INVALID_PARAMETER;
  }
  return Handles.empty() ? EFI_NOT_FOUND : EFI_SUCCESS;
}

void ProtocolDatabase::ConsumeNotify(VOID *Registration) {
  if (NotifyRegistration *Found = FindRegistration(Registration); Found != nullptr && !Found->Pending.empty()) {
    Found->Pending.pop_front();
  }
}

EFI_STATUS ProtocolDatabase::RegisterNotify(const EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  if (Protocol == nullptr || Registration == nullptr || !Events_.IsEvent(Event)) {
    return EFI_INVALID_PARAMETER;
  }
  auto Record   = std::make_unique<NotifyRegistration>();
  Record->Guid  = Intern(*Protocol);
  Record->Event = Event;
  *Registration = Record.get();
  Registrations_.push_back(std::move(Record));
  return EFI_SUCCESS;
}

void ProtocolDatabase::ForgetEvent(EFI_EVENT Event) {
  for (const auto &Registration : Registrations_) {
    if (Registration->Event == Event) {
      Registration->Alive = false;
      Registration->Pending.clear();
    }
  }
}

}  // namespace HostEnv
