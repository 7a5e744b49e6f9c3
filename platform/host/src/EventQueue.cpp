#include "EventQueue.h"

#include "FaultLog.h"

#include <algorithm>

namespace HostEnv {
namespace {

constexpr UINT32 kEventTypeBits = EVT_TIMER | EVT_RUNTIME | EVT_NOTIFY_WAIT | EVT_NOTIFY_SIGNAL;

// The two special signal types are whole values, not combinations of bits.
bool IsKnownType(UINT32 Type) {
  return Type == EVT_SIGNAL_EXIT_BOOT_SERVICES || Type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE ||
         (Type & ~kEventTypeBits) == 0;
}

constexpr EFI_GUID kVirtualAddressChangeGroup = {
    0x13FA7698, 0xC831, 0x49C7, {0x87, 0xEA, 0x8F, 0x43, 0xFC, 0xC2, 0x51, 0x96}};

bool HasNotify(UINT32 Type) { return (Type & (EVT_NOTIFY_WAIT | EVT_NOTIFY_SIGNAL)) != 0; }

}  // namespace

EventRecord *EventQueue::Find(EFI_EVENT Event) const {
  auto *Record = static_cast<EventRecord *>(Event);
  return Live_.count(Record) != 0 ? Record : nullptr;
}

bool EventQueue::IsEvent(EFI_EVENT Event) const { return Find(Event) != nullptr; }

EFI_STATUS EventQueue::Create(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY Notify, const VOID *Context,
                              const EFI_GUID *Group, EFI_EVENT *Event) {
  if (Event == nullptr || !IsKnownType(Type)) {
    return EFI_INVALID_PARAMETER;
  }
  // The two special signal types are event groups in disguise.
  const EFI_GUID *ImpliedGroup = nullptr;
  if (Type == EVT_SIGNAL_EXIT_BOOT_SERVICES) {
    ImpliedGroup = &gEfiEventExitBootServicesGuid;
  } else if (Type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE) {
    ImpliedGroup = &kVirtualAddressChangeGroup;
  }
  if (ImpliedGroup != nullptr) {
    if (Group != nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    Group = ImpliedGroup;
  }
  if ((Type & EVT_NOTIFY_WAIT) != 0 && (Type & EVT_NOTIFY_SIGNAL) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (HasNotify(Type) && (Notify == nullptr || NotifyTpl <= TPL_APPLICATION || NotifyTpl >= TPL_HIGH_LEVEL)) {
    return EFI_INVALID_PARAMETER;
  }
  auto Record       = std::make_unique<EventRecord>();
  Record->Type      = Type;
  Record->NotifyTpl = NotifyTpl;
  Record->Notify    = HasNotify(Type) ? Notify : nullptr;
  Record->Context   = const_cast<VOID *>(Context);
  if (Group != nullptr) {
    Record->InGroup = true;
    Record->Group   = *Group;
  }
  *Event = Record.get();
  Live_.insert(Record.get());
  All_.push_back(std::move(Record));
  return EFI_SUCCESS;
}

void EventQueue::MarkSignaled(EventRecord &Event) {
  Event.Signaled = true;
  if ((Event.Type & EVT_NOTIFY_SIGNAL) != 0) {
    Enqueue(Event);
  }
}

void EventQueue::Enqueue(EventRecord &Event) {
  if (!Event.Queued) {
    Event.Queued = true;
    Pending_[Event.NotifyTpl].push_back(&Event);
  }
}

EFI_STATUS EventQueue::Signal(EFI_EVENT Event) {
  EventRecord *Record = Find(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (!Record->Signaled) {
    if (Record->InGroup) {
      SignalGroup(Record->Group);
      return EFI_SUCCESS;
    }
    MarkSignaled(*Record);
    DispatchAbove(Current_);
  }
  return EFI_SUCCESS;
}

void EventQueue::SignalGroup(const EFI_GUID &Group) {
  for (const auto &Record : All_) {
    if (Record->Alive && Record->InGroup && Record->Group == Group && !Record->Signaled) {
      MarkSignaled(*Record);
    }
  }
  DispatchAbove(Current_);
}

EFI_STATUS EventQueue::Check(EFI_EVENT Event) {
  EventRecord *Record = Find(Event);
  if (Record == nullptr || (Record->Type & EVT_NOTIFY_SIGNAL) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (!Record->Signaled && (Record->Type & EVT_NOTIFY_WAIT) != 0) {
    // A wait event's notification function gets the chance to signal it.
    Enqueue(*Record);
    DispatchAbove(Current_);
  }
  if (Record->Alive && Record->Signaled) {
    Record->Signaled = false;
    return EFI_SUCCESS;
  }
  return EFI_NOT_READY;
}

EFI_STATUS EventQueue::Close(EFI_EVENT Event) {
  EventRecord *Record = Find(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Record->Queued) {
    auto &Queue = Pending_[Record->NotifyTpl];
    Queue.erase(std::remove(Queue.begin(), Queue.end(), Record), Queue.end());
    Record->Queued = false;
  }
  Record->Alive = false;
  Live_.erase(Record);
  return EFI_SUCCESS;
}

void EventQueue::DispatchAbove(EFI_TPL Floor) {
  for (;;) {
    EFI_TPL Level = TPL_HIGH_LEVEL;
    while (Level > Floor && Pending_[Level].empty()) {
      --Level;
    }
    if (Level <= Floor) {
      break;
    }
    EventRecord *Record = Pending_[Level].front();
    Pending_[Level].pop_front();
    Record->Queued = false;
    if ((Record->Type & EVT_NOTIFY_SIGNAL) != 0) {
      Record->Signaled = false;  // may be signalled again from now on
    }
    Current_ = Level;
    // The record may be closed by its own notification function; it stays
    // allocated, so nothing here touches freed memory.
    Record->Notify(Record, Record->Context);
  }
  Current_ = Floor;
}

EFI_TPL EventQueue::Raise(EFI_TPL NewTpl) {
  EFI_TPL OldTpl = Current_;
  if (NewTpl > TPL_HIGH_LEVEL) {
    Faults_.Report("RaiseTPL(" + std::to_string(NewTpl) + "): above TPL_HIGH_LEVEL");
    return OldTpl;
  }
  if (NewTpl < OldTpl) {
    Faults_.Report("RaiseTPL(" + std::to_string(NewTpl) + ") below the current TPL " + std::to_string(OldTpl));
    return OldTpl;
  }
  Current_ = NewTpl;
  return OldTpl;
}

void EventQueue::Restore(EFI_TPL OldTpl) {
  if (OldTpl > Current_) {
    Faults_.Report("RestoreTPL(" + std::to_string(OldTpl) + ") above the current TPL " + std::to_string(Current_));
    return;
  }
  DispatchAbove(OldTpl);
}

}  // namespace HostEnv
