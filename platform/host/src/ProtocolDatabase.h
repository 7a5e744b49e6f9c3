// The handle and protocol database: handles, the interfaces installed on
// them, the open records of OpenProtocol, and protocol-notify registrations.
// It keeps UEFI's rules (see each member); the EFIAPI layer in
// BootServices.cpp only converts results into caller buffers.
#pragma once

#include <uefi/SystemTable.h>

#include <deque>
#include <memory>
#include <unordered_set>
#include <vector>

namespace HostEnv {

class EventQueue;

struct OpenRecord {
  EFI_HANDLE Agent;
  EFI_HANDLE Controller;
  UINT32     Attributes;
  UINT32     OpenCount;
};

struct ProtocolInterface {
  const EFI_GUID         *Guid;             // interned: stable for the database's lifetime
  VOID                   *Interface;
  UINT64                  InstallSequence;  // order of LocateHandle(ByProtocol)
  std::vector<OpenRecord> Opens;
};

struct HandleRecord {
  bool                           Alive = true;
  std::vector<ProtocolInterface> Protocols;
};

struct NotifyRegistration {
  const EFI_GUID        *Guid;
  EFI_EVENT              Event;
  bool                   Alive = true;
  std::deque<EFI_HANDLE> Pending;  // handles that got the protocol since the last look-up
};

struct GuidInterface {
  EFI_GUID *Guid;
  VOID     *Interface;
};

class ProtocolDatabase {
 public:
  explicit ProtocolDatabase(EventQueue &Events) : Events_(Events) {}

  bool IsHandle(EFI_HANDLE Handle) const;
  size_t HandleCount() const { return Live_.size(); }

  EFI_STATUS Install(EFI_HANDLE *Handle, const EFI_GUID *Protocol, VOID *Interface);
  EFI_STATUS Uninstall(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface);
  EFI_STATUS Reinstall(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *OldInterface, VOID *NewInterface);
  // All or nothing; notifications run once everything is installed.
  EFI_STATUS InstallMultiple(EFI_HANDLE *Handle, const std::vector<GuidInterface> &Pairs);
  EFI_STATUS UninstallMultiple(EFI_HANDLE Handle, const std::vector<GuidInterface> &Pairs);

  EFI_STATUS Open(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface, EFI_HANDLE Agent,
                  EFI_HANDLE Controller, UINT32 Attributes);
  EFI_STATUS Close(EFI_HANDLE Handle, const EFI_GUID *Protocol, EFI_HANDLE Agent, EFI_HANDLE Controller);
  EFI_STATUS OpenInformation(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                             std::vector<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY> &Entries) const;
  // Drops every open record whose agent is Agent (an image being unloaded).
  void CloseAllOpenedBy(EFI_HANDLE Agent);

  EFI_STATUS ProtocolsOn(EFI_HANDLE Handle, std::vector<EFI_GUID *> &Guids) const;
  VOID *FindInterface(EFI_HANDLE Handle, const EFI_GUID &Protocol) const;

  // Handles for LocateHandle. ByRegisterNotify yields at most the next
  // pending handle and does not consume it; ConsumeNotify does, once the
  // caller has delivered it.
  EFI_STATUS Locate(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol, VOID *SearchKey,
                    std::vector<EFI_HANDLE> &Handles) const;
  void ConsumeNotify(VOID *Registration);
  NotifyRegistration *FindRegistration(VOID *Registration) const;

  EFI_STATUS RegisterNotify(const EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration);
  // Called when an event is closed: its registrations end with it.
  void ForgetEvent(EFI_EVENT Event);

 private:
  HandleRecord      *FindHandle(EFI_HANDLE Handle) const;
  ProtocolInterface *FindProtocol(HandleRecord &Record, const EFI_GUID &Protocol) const;
  const EFI_GUID    *Intern(const EFI_GUID &Guid);
  EFI_STATUS         InstallOne(EFI_HANDLE *Handle, const EFI_GUID *Protocol, VOID *Interface,
                                std::vector<EFI_EVENT> &ToSignal);
  struct RemovedInterface {
    size_t            Index = 0;  // position on the handle
    ProtocolInterface Entry{};
  };
  EFI_STATUS         UninstallOne(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface,
                                  RemovedInterface *Removed);
  void               QueueNotifies(EFI_HANDLE Handle, const EFI_GUID &Protocol, std::vector<EFI_EVENT> &ToSignal);
  void               DropPending(EFI_HANDLE Handle, const EFI_GUID &Protocol);
  void               RemoveIfEmpty(HandleRecord &Record);
  bool               DevicePathAlreadyInstalled(const VOID *DevicePath) const;
  void               SignalAll(const std::vector<EFI_EVENT> &Events);

  EventQueue &Events_;
  // Removed handles and ended registrations stay allocated (not alive): a
  // stale value is recognised as invalid and never aliases a newer one.
  std::vector<std::unique_ptr<HandleRecord>>       All_;
  std::unordered_set<const HandleRecord *>         Live_;
  std::vector<std::unique_ptr<NotifyRegistration>> Registrations_;
  std::vector<std::unique_ptr<EFI_GUID>>           Guids_;
  UINT64                                           NextInstallSequence_ = 1;
  // While positive (inside the multiple install/uninstall services) handles
  // left without protocols are kept until the whole call is done, so an undo
  // can put interfaces back on the same handle.
  int                                              HoldEmptyHandles_ = 0;
};

}  // namespace HostEnv
