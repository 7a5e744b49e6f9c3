// Events and task priority levels. Notification functions of signalled
// EVT_NOTIFY_SIGNAL events run at once when their TPL is above the current
// one and are queued otherwise; queued ones run, highest TPL first and in
// signal order within a level, as soon as the TPL drops below their own.
#pragma once

#include <uefi/SystemTable.h>

#include <array>
#include <deque>
#include <memory>
#include <unordered_set>
#include <vector>

namespace HostEnv {

class FaultLog;

struct EventRecord {
  UINT32           Type = 0;
  EFI_TPL          NotifyTpl = 0;
  EFI_EVENT_NOTIFY Notify = nullptr;
  VOID            *Context = nullptr;
  bool             InGroup = false;
  EFI_GUID         Group{};
  bool             Signaled = false;
  bool             Queued = false;
  bool             Alive = true;
};

class EventQueue {
 public:
  explicit EventQueue(FaultLog &Faults) : Faults_(Faults) {}

  EFI_STATUS Create(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify, const VOID *Context,
                    const EFI_GUID *Group, EFI_EVENT *Event);
  EFI_STATUS Signal(EFI_EVENT Event);
  EFI_STATUS Check(EFI_EVENT Event);
  EFI_STATUS Close(EFI_EVENT Event);
  // Signals every event of the group, as signalling one member does.
  void SignalGroup(const EFI_GUID &Group);
  bool IsEvent(EFI_EVENT Event) const;

  EFI_TPL Raise(EFI_TPL NewTpl);
  void    Restore(EFI_TPL OldTpl);
  EFI_TPL Current() const { return Current_; }

 private:
  EventRecord *Find(EFI_EVENT Event) const;
  void         MarkSignaled(EventRecord &Event);
  void         Enqueue(EventRecord &Event);
  void         DispatchAbove(EFI_TPL Floor);

  FaultLog &Faults_;
  // Closed events stay allocated (not alive) so a stale EFI_EVENT is always
  // recognised as invalid and never aliases a newer event.
  std::vector<std::unique_ptr<EventRecord>>         All_;
  std::unordered_set<const EventRecord *>           Live_;
  std::array<std::deque<EventRecord *>, TPL_HIGH_LEVEL + 1> Pending_;
  EFI_TPL                                           Current_ = TPL_APPLICATION;
};

}  // namespace HostEnv
