// Events, event groups and the TPL-ordered dispatch of notifications.
#include "TestGuids.h"

#include <TestSupport/HostEnvTest.h>

#include <string>
#include <vector>

namespace {

using TestSupport::HostEnvTest;
using TestSupport::StatusIs;

struct Call {
  std::string Name;
  EFI_TPL     Tpl;
  bool        operator==(const Call &) const = default;
};
std::vector<Call> gCalls;

struct Probe {
  std::string Name;
};

VOID EFIAPI RecordCall(EFI_EVENT, VOID *Context) {
  gCalls.push_back({static_cast<Probe *>(Context)->Name, HostEnv::Environment::Active().CurrentTpl()});
}

class EventTest : public HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    gCalls.clear();
  }
  void TearDown() override {
    for (EFI_EVENT Event : Created) {
      BS()->CloseEvent(Event);  // already closed ones just answer EFI_INVALID_PARAMETER
    }
    HostEnvTest::TearDown();
  }
  EFI_EVENT NotifyEvent(Probe &Probe, EFI_TPL Tpl, const EFI_GUID *Group = nullptr) {
    EFI_EVENT Event = nullptr;
    EXPECT_TRUE(StatusIs(BS()->CreateEventEx(EVT_NOTIFY_SIGNAL, Tpl, RecordCall, &Probe, Group, &Event), EFI_SUCCESS));
    Created.push_back(Event);
    return Event;
  }
  std::vector<EFI_EVENT> Created;
};

TEST_F(EventTest, NotificationAboveTheCurrentTplRunsAtOnceAtItsOwnTpl) {
  Probe     Callback{"callback"};
  EFI_EVENT Event = NotifyEvent(Callback, TPL_CALLBACK);
  ASSERT_TRUE(StatusIs(BS()->SignalEvent(Event), EFI_SUCCESS));
  EXPECT_EQ(gCalls, (std::vector<Call>{{"callback", TPL_CALLBACK}}));
  EXPECT_EQ(Env().CurrentTpl(), TPL_APPLICATION);

  // At its own TPL it is queued until the level drops.
  EFI_TPL Old = BS()->RaiseTPL(TPL_CALLBACK);
  BS()->SignalEvent(Event);
  EXPECT_EQ(gCalls.size(), 1u);
  BS()->RestoreTPL(Old);
  EXPECT_EQ(gCalls.size(), 2u);
}

TEST_F(EventTest, QueuedNotificationsRunHighestTplFirstAsTheLevelDrops) {
  Probe     First{"callback-1"}, Second{"notify"}, Third{"callback-2"};
  EFI_EVENT E1 = NotifyEvent(First, TPL_CALLBACK);
  EFI_EVENT E2 = NotifyEvent(Second, TPL_NOTIFY);
  EFI_EVENT E3 = NotifyEvent(Third, TPL_CALLBACK);

  EFI_TPL AtApplication = BS()->RaiseTPL(TPL_CALLBACK);
  EFI_TPL AtCallback    = BS()->RaiseTPL(TPL_HIGH_LEVEL);
  EXPECT_EQ(AtApplication, TPL_APPLICATION);
  EXPECT_EQ(AtCallback, TPL_CALLBACK);
  for (EFI_EVENT Event : {E1, E2, E3, E1}) {
    BS()->SignalEvent(Event);  // E1 twice: still one pending notification
  }
  EXPECT_TRUE(gCalls.empty());

  BS()->RestoreTPL(AtCallback);
  EXPECT_EQ(gCalls, (std::vector<Call>{{"notify", TPL_NOTIFY}}));
  BS()->RestoreTPL(AtApplication);
  EXPECT_EQ(gCalls, (std::vector<Call>{{"notify", TPL_NOTIFY}, {"callback-1", TPL_CALLBACK}, {"callback-2", TPL_CALLBACK}}));
  EXPECT_EQ(Env().CurrentTpl(), TPL_APPLICATION);

  // Once delivered, an event can be signalled again.
  BS()->SignalEvent(E1);
  EXPECT_EQ(gCalls.back(), (Call{"callback-1", TPL_CALLBACK}));
  EXPECT_EQ(gCalls.size(), 4u);
}

struct Chain {
  EFI_EVENT Next = nullptr;
};
VOID EFIAPI SignalNext(EFI_EVENT, VOID *Context) {
  gCalls.push_back({"outer", HostEnv::Environment::Active().CurrentTpl()});
  HostEnv::Environment::Active().BootServices()->SignalEvent(static_cast<Chain *>(Context)->Next);
  gCalls.push_back({"outer-end", HostEnv::Environment::Active().CurrentTpl()});
}

TEST_F(EventTest, NotificationSignalledFromANotificationRunsByTpl) {
  Probe     High{"inner-notify"}, Low{"inner-callback"};
  EFI_EVENT Higher = NotifyEvent(High, TPL_NOTIFY);
  EFI_EVENT Same   = NotifyEvent(Low, TPL_CALLBACK);
  Chain     ToHigher{Higher}, ToSame{Same};
  EFI_EVENT Outer1 = nullptr, Outer2 = nullptr;
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, SignalNext, &ToHigher, &Outer1), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, SignalNext, &ToSame, &Outer2), EFI_SUCCESS));
  Created.insert(Created.end(), {Outer1, Outer2});

  BS()->SignalEvent(Outer1);  // a higher TPL preempts the running notification
  EXPECT_EQ(gCalls, (std::vector<Call>{{"outer", TPL_CALLBACK}, {"inner-notify", TPL_NOTIFY}, {"outer-end", TPL_CALLBACK}}));
  gCalls.clear();
  BS()->SignalEvent(Outer2);  // the same TPL waits for it to return
  EXPECT_EQ(gCalls,
            (std::vector<Call>{{"outer", TPL_CALLBACK}, {"outer-end", TPL_CALLBACK}, {"inner-callback", TPL_CALLBACK}}));
}

TEST_F(EventTest, SignallingOneGroupMemberSignalsTheWholeGroup) {
  Probe     A{"a"}, B{"b"}, Outsider{"outsider"}, Boot{"ready-to-boot"};
  EFI_EVENT MemberA = NotifyEvent(A, TPL_CALLBACK, &gTestGroupGuid);
  NotifyEvent(B, TPL_NOTIFY, &gTestGroupGuid);
  NotifyEvent(Outsider, TPL_CALLBACK);
  NotifyEvent(Boot, TPL_CALLBACK, &gEfiEventReadyToBootGuid);

  BS()->SignalEvent(MemberA);
  EXPECT_EQ(gCalls, (std::vector<Call>{{"b", TPL_NOTIFY}, {"a", TPL_CALLBACK}}));

  gCalls.clear();
  Env().SignalReadyToBoot();
  EXPECT_EQ(gCalls, (std::vector<Call>{{"ready-to-boot", TPL_CALLBACK}}));

  // A closed member leaves the group.
  gCalls.clear();
  ASSERT_TRUE(StatusIs(BS()->CloseEvent(MemberA), EFI_SUCCESS));
  Env().SignalEventGroup(gTestGroupGuid);
  EXPECT_EQ(gCalls, (std::vector<Call>{{"b", TPL_NOTIFY}}));
  EXPECT_TRUE(StatusIs(BS()->SignalEvent(MemberA), EFI_INVALID_PARAMETER));
}

VOID EFIAPI SignalSelf(EFI_EVENT Event, VOID *) { HostEnv::Environment::Active().BootServices()->SignalEvent(Event); }
VOID EFIAPI CloseSelf(EFI_EVENT Event, VOID *Context) {
  *static_cast<int *>(Context) += 1;
  HostEnv::Environment::Active().BootServices()->CloseEvent(Event);
}

TEST_F(EventTest, CheckEventFollowsTheEventType) {
  EFI_EVENT Plain = nullptr, Wait = nullptr, Signal = nullptr;
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(0, 0, nullptr, nullptr, &Plain), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->CheckEvent(Plain), EFI_NOT_READY));
  BS()->SignalEvent(Plain);
  EXPECT_TRUE(StatusIs(BS()->CheckEvent(Plain), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->CheckEvent(Plain), EFI_NOT_READY)) << "checking clears the signal";

  // A wait event's notification runs on CheckEvent and may signal it.
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(EVT_NOTIFY_WAIT, TPL_CALLBACK, SignalSelf, nullptr, &Wait), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->CheckEvent(Wait), EFI_SUCCESS));

  Probe Unused{"signal"};
  Signal = NotifyEvent(Unused, TPL_CALLBACK);
  EXPECT_TRUE(StatusIs(BS()->CheckEvent(Signal), EFI_INVALID_PARAMETER));
  Created.insert(Created.end(), {Plain, Wait});
}

TEST_F(EventTest, NotificationMayCloseItsOwnEvent) {
  int       Calls = 0;
  EFI_EVENT Event = nullptr;
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, CloseSelf, &Calls, &Event), EFI_SUCCESS));
  BS()->SignalEvent(Event);
  EXPECT_EQ(Calls, 1);
  EXPECT_TRUE(StatusIs(BS()->SignalEvent(Event), EFI_INVALID_PARAMETER));
}

TEST_F(EventTest, CreateEventRejectsInvalidCombinations) {
  EFI_EVENT Event = nullptr;
  EXPECT_TRUE(StatusIs(BS()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, nullptr, &Event), EFI_INVALID_PARAMETER));
  for (EFI_TPL Tpl : {TPL_APPLICATION, TPL_HIGH_LEVEL, EFI_TPL(40)}) {
    EXPECT_TRUE(StatusIs(BS()->CreateEvent(EVT_NOTIFY_SIGNAL, Tpl, RecordCall, nullptr, &Event), EFI_INVALID_PARAMETER))
        << Tpl;
  }
  EXPECT_TRUE(StatusIs(BS()->CreateEvent(EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT, TPL_CALLBACK, RecordCall, nullptr, &Event),
                       EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->CreateEvent(0x1, 0, nullptr, nullptr, &Event), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->CreateEvent(0, 0, nullptr, nullptr, nullptr), EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->CreateEventEx(EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_CALLBACK, RecordCall, nullptr,
                                           &gTestGroupGuid, &Event),
                       EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->CloseEvent(nullptr), EFI_INVALID_PARAMETER));
  int Local = 0;
  EXPECT_TRUE(StatusIs(BS()->SignalEvent(&Local), EFI_INVALID_PARAMETER));
}

TEST_F(EventTest, ExitBootServicesEventsFormTheirGroup) {
  Probe     Exit{"exit"};
  EFI_EVENT Event = nullptr;
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_NOTIFY, RecordCall, &Exit, &Event),
                       EFI_SUCCESS));
  Created.push_back(Event);
  Env().SignalEventGroup(gEfiEventExitBootServicesGuid);
  EXPECT_EQ(gCalls, (std::vector<Call>{{"exit", TPL_NOTIFY}}));
}

TEST_F(EventTest, TplMisuseIsReportedAsAFault) {
  EFI_TPL Old = BS()->RaiseTPL(TPL_NOTIFY);
  BS()->RaiseTPL(TPL_CALLBACK);  // lowering with RaiseTPL
  VOID *Buffer = nullptr;
  BS()->RaiseTPL(TPL_HIGH_LEVEL);
  BS()->AllocatePool(EfiBootServicesData, 8, &Buffer);  // allocation above TPL_NOTIFY
  BS()->RestoreTPL(TPL_NOTIFY);
  BS()->FreePool(Buffer);
  BS()->RestoreTPL(Old);
  BS()->RestoreTPL(TPL_NOTIFY);  // raising with RestoreTPL
  auto Faults = TakeFaults();
  ASSERT_EQ(Faults.size(), 3u);
  EXPECT_NE(Faults[0].find("RaiseTPL(8) below the current TPL 16"), std::string::npos) << Faults[0];
  EXPECT_NE(Faults[1].find("AllocatePool called at TPL 31"), std::string::npos) << Faults[1];
  EXPECT_NE(Faults[2].find("RestoreTPL(16) above the current TPL 4"), std::string::npos) << Faults[2];
  EXPECT_EQ(Env().CurrentTpl(), TPL_APPLICATION);
}

}  // namespace
