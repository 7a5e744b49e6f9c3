// Handle and protocol database: install/uninstall, OpenProtocol attribute
// rules, the multiple-interface services, look-ups and protocol notify.
#include "TestGuids.h"

#include <TestSupport/HostEnvTest.h>

#include <uefi/Protocol/DevicePath.h>

#include <vector>

namespace {

using TestSupport::HostEnvTest;
using TestSupport::StatusIs;

class DatabaseTest : public HostEnvTest {
 protected:
  // A handle carrying only protocol C, to act as a driver's agent handle.
  EFI_HANDLE NewAgent() {
    EFI_HANDLE Handle = nullptr;
    EXPECT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Handle, &gTestProtocolCGuid, EFI_NATIVE_INTERFACE, &AgentMark),
                         EFI_SUCCESS));
    return Handle;
  }
  EFI_HANDLE InstallA(EFI_HANDLE Handle = nullptr) {
    EXPECT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Handle, &gTestProtocolAGuid, EFI_NATIVE_INTERFACE, &A),
                         EFI_SUCCESS));
    return Handle;
  }
  std::vector<EFI_HANDLE> HandlesWith(EFI_GUID &Protocol) {
    UINTN       Count  = 0;
    EFI_HANDLE *Buffer = nullptr;
    if (EFI_ERROR(BS()->LocateHandleBuffer(ByProtocol, &Protocol, nullptr, &Count, &Buffer))) {
      return {};
    }
    std::vector<EFI_HANDLE> Handles(Buffer, Buffer + Count);
    BS()->FreePool(Buffer);
    return Handles;
  }
  std::vector<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY> OpenRecords(EFI_HANDLE Handle, EFI_GUID &Protocol) {
    EFI_OPEN_PROTOCOL_INFORMATION_ENTRY *Entries = nullptr;
    UINTN                                Count   = 0;
    EXPECT_TRUE(StatusIs(BS()->OpenProtocolInformation(Handle, &Protocol, &Entries, &Count), EFI_SUCCESS));
    std::vector<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY> Records(Entries, Entries + Count);
    BS()->FreePool(Entries);
    return Records;
  }

  TestInterface A{1}, B{2}, Other{3}, AgentMark{9};
};

TEST_F(DatabaseTest, HandleLivesExactlyAsLongAsItHasProtocols) {
  size_t     Before = Env().HandleCount();
  EFI_HANDLE Handle = InstallA();
  ASSERT_NE(Handle, nullptr);
  EXPECT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Handle, &gTestProtocolBGuid, EFI_NATIVE_INTERFACE, &B),
                       EFI_SUCCESS));
  EXPECT_EQ(Env().HandleCount(), Before + 1);

  EFI_GUID **Guids = nullptr;
  UINTN      Count = 0;
  ASSERT_TRUE(StatusIs(BS()->ProtocolsPerHandle(Handle, &Guids, &Count), EFI_SUCCESS));
  ASSERT_EQ(Count, 2u);
  EXPECT_EQ(*Guids[0], gTestProtocolAGuid);
  EXPECT_EQ(*Guids[1], gTestProtocolBGuid);
  BS()->FreePool(Guids);

  // The same protocol twice on one handle, or a wrong interface to remove.
  EXPECT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Handle, &gTestProtocolAGuid, EFI_NATIVE_INTERFACE, &Other),
                       EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Handle, &gTestProtocolAGuid, &Other), EFI_NOT_FOUND));

  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Handle, &gTestProtocolAGuid, &A), EFI_SUCCESS));
  EXPECT_TRUE(Env().IsHandle(Handle));
  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Handle, &gTestProtocolBGuid, &B), EFI_SUCCESS));
  EXPECT_FALSE(Env().IsHandle(Handle));
  EXPECT_EQ(Env().HandleCount(), Before);

  // The stale value is rejected, not mistaken for a newer handle.
  VOID *Interface = nullptr;
  EXPECT_TRUE(StatusIs(BS()->HandleProtocol(Handle, &gTestProtocolAGuid, &Interface), EFI_INVALID_PARAMETER));
  EXPECT_NE(InstallA(), Handle);
}

TEST_F(DatabaseTest, ByDriverIsExclusiveAndPinsTheInterface) {
  EFI_HANDLE Device = InstallA();
  EFI_HANDLE Driver1 = NewAgent(), Driver2 = NewAgent();
  VOID      *Interface = nullptr;

  ASSERT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Driver1, Device,
                                          EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_SUCCESS));
  EXPECT_EQ(Interface, &A);

  Interface = nullptr;
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Driver1, Device,
                                          EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_ALREADY_STARTED));
  EXPECT_EQ(Interface, &A) << "ALREADY_STARTED still delivers the interface";

  Interface = &Other;
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Driver2, Device,
                                          EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_ACCESS_DENIED));
  EXPECT_EQ(Interface, &Other) << "a refused open leaves *Interface alone";
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Driver2, Device,
                                          EFI_OPEN_PROTOCOL_EXCLUSIVE),
                       EFI_ACCESS_DENIED));
  // Non-exclusive users are still served.
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Driver2, nullptr,
                                          EFI_OPEN_PROTOCOL_GET_PROTOCOL),
                       EFI_SUCCESS));

  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Device, &gTestProtocolAGuid, &A), EFI_ACCESS_DENIED));
  EXPECT_TRUE(StatusIs(BS()->ReinstallProtocolInterface(Device, &gTestProtocolAGuid, &A, &Other), EFI_ACCESS_DENIED));

  EXPECT_TRUE(StatusIs(BS()->CloseProtocol(Device, &gTestProtocolAGuid, Driver1, Device), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->CloseProtocol(Device, &gTestProtocolAGuid, Driver1, Device), EFI_NOT_FOUND));
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Driver2, Device,
                                          EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->CloseProtocol(Device, &gTestProtocolAGuid, Driver2, Device), EFI_SUCCESS));
  // Only the GET_PROTOCOL record is left: it does not block the removal.
  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Device, &gTestProtocolAGuid, &A), EFI_SUCCESS));
}

TEST_F(DatabaseTest, ChildControllerAndExclusiveOpensAlsoBlockUninstall) {
  EFI_HANDLE Bus = InstallA(), Child = NewAgent(), Driver = NewAgent();
  VOID      *Interface = nullptr;
  ASSERT_TRUE(StatusIs(BS()->OpenProtocol(Bus, &gTestProtocolAGuid, &Interface, Driver, Child,
                                          EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Bus, &gTestProtocolAGuid, &A), EFI_ACCESS_DENIED));
  EXPECT_TRUE(StatusIs(BS()->CloseProtocol(Bus, &gTestProtocolAGuid, Driver, Child), EFI_SUCCESS));

  ASSERT_TRUE(StatusIs(BS()->OpenProtocol(Bus, &gTestProtocolAGuid, &Interface, Driver, nullptr,
                                          EFI_OPEN_PROTOCOL_EXCLUSIVE),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Bus, &gTestProtocolAGuid, &A), EFI_ACCESS_DENIED));
  EXPECT_TRUE(StatusIs(BS()->CloseProtocol(Bus, &gTestProtocolAGuid, Driver, nullptr), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Bus, &gTestProtocolAGuid, &A), EFI_SUCCESS));
}

TEST_F(DatabaseTest, OpenProtocolValidatesItsParameters) {
  EFI_HANDLE Device = InstallA(), Agent = NewAgent();
  VOID      *Interface = nullptr;
  // TEST_PROTOCOL takes no interface pointer; every other mode needs one.
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, nullptr, Agent, Device,
                                          EFI_OPEN_PROTOCOL_TEST_PROTOCOL),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolBGuid, nullptr, Agent, Device,
                                          EFI_OPEN_PROTOCOL_TEST_PROTOCOL),
                       EFI_UNSUPPORTED));
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, nullptr, Agent, Device,
                                          EFI_OPEN_PROTOCOL_GET_PROTOCOL),
                       EFI_INVALID_PARAMETER));
  Interface = &Other;
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolBGuid, &Interface, Agent, nullptr,
                                          EFI_OPEN_PROTOCOL_GET_PROTOCOL),
                       EFI_UNSUPPORTED));
  EXPECT_EQ(Interface, nullptr);
  // Unknown attribute combinations, missing agent or controller handles.
  for (UINT32 Attributes : {0u, 3u, 0x40u, EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_GET_PROTOCOL}) {
    EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Agent, Device, Attributes),
                         EFI_INVALID_PARAMETER))
        << Attributes;
  }
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Agent, nullptr,
                                          EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, nullptr, Device,
                                          EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Agent, Device,
                                          EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER),
                       EFI_INVALID_PARAMETER))
      << "a handle cannot be its own child";
  EXPECT_TRUE(StatusIs(BS()->OpenProtocol(nullptr, &gTestProtocolAGuid, &Interface, Agent, nullptr,
                                          EFI_OPEN_PROTOCOL_GET_PROTOCOL),
                       EFI_INVALID_PARAMETER));
}

TEST_F(DatabaseTest, OpenRecordsCountRepeatsAndCloseRemovesThem) {
  EFI_HANDLE Device = InstallA(), Agent1 = NewAgent(), Agent2 = NewAgent();
  VOID      *Interface = nullptr;
  for (int Repeat = 0; Repeat < 2; ++Repeat) {
    ASSERT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, &Interface, Agent1, nullptr,
                                            EFI_OPEN_PROTOCOL_GET_PROTOCOL),
                         EFI_SUCCESS));
  }
  ASSERT_TRUE(StatusIs(BS()->OpenProtocol(Device, &gTestProtocolAGuid, nullptr, Agent2, Device,
                                          EFI_OPEN_PROTOCOL_TEST_PROTOCOL),
                       EFI_SUCCESS));
  auto Records = OpenRecords(Device, gTestProtocolAGuid);
  ASSERT_EQ(Records.size(), 2u);
  EXPECT_EQ(Records[0].AgentHandle, Agent1);
  EXPECT_EQ(Records[0].ControllerHandle, nullptr);
  EXPECT_EQ(Records[0].Attributes, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  EXPECT_EQ(Records[0].OpenCount, 2u);
  EXPECT_EQ(Records[1].AgentHandle, Agent2);
  EXPECT_EQ(Records[1].Attributes, EFI_OPEN_PROTOCOL_TEST_PROTOCOL);

  // HandleProtocol opens on behalf of the environment's own image.
  ASSERT_TRUE(StatusIs(BS()->HandleProtocol(Device, &gTestProtocolAGuid, &Interface), EFI_SUCCESS));
  Records = OpenRecords(Device, gTestProtocolAGuid);
  ASSERT_EQ(Records.size(), 3u);
  EXPECT_EQ(Records[2].AgentHandle, Env().CoreImageHandle());

  EXPECT_TRUE(StatusIs(BS()->CloseProtocol(Device, &gTestProtocolAGuid, Agent1, nullptr), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->CloseProtocol(Device, &gTestProtocolAGuid, Agent2, nullptr), EFI_NOT_FOUND))
      << "the controller handle must match too";
  EXPECT_TRUE(StatusIs(BS()->CloseProtocol(Device, &gTestProtocolBGuid, Agent2, Device), EFI_NOT_FOUND));
  EXPECT_EQ(OpenRecords(Device, gTestProtocolAGuid).size(), 2u);

  // Reinstalling drops the remaining non-driver records with the old interface.
  ASSERT_TRUE(StatusIs(BS()->ReinstallProtocolInterface(Device, &gTestProtocolAGuid, &A, &Other), EFI_SUCCESS));
  EXPECT_TRUE(OpenRecords(Device, gTestProtocolAGuid).empty());
  EXPECT_EQ(Env().FindInterface(Device, gTestProtocolAGuid), &Other);
}

TEST_F(DatabaseTest, InstallMultipleIsAllOrNothing) {
  size_t     Before = Env().HandleCount();
  EFI_HANDLE Handle = nullptr;
  // The third pair repeats the first: everything is undone.
  EXPECT_TRUE(StatusIs(BS()->InstallMultipleProtocolInterfaces(&Handle, &gTestProtocolAGuid, &A, &gTestProtocolBGuid,
                                                                &B, &gTestProtocolAGuid, &Other, nullptr),
                       EFI_INVALID_PARAMETER));
  EXPECT_EQ(Handle, nullptr);
  EXPECT_EQ(Env().HandleCount(), Before);
  EXPECT_TRUE(HandlesWith(gTestProtocolAGuid).empty());
  EXPECT_TRUE(HandlesWith(gTestProtocolBGuid).empty());

  // On an existing handle the handle survives with what it had.
  Handle = InstallA();
  EXPECT_TRUE(StatusIs(BS()->InstallMultipleProtocolInterfaces(&Handle, &gTestProtocolBGuid, &B, &gTestProtocolAGuid,
                                                                &Other, nullptr),
                       EFI_INVALID_PARAMETER));
  EXPECT_EQ(Env().FindInterface(Handle, gTestProtocolBGuid), nullptr);
  EXPECT_EQ(Env().FindInterface(Handle, gTestProtocolAGuid), &A);

  EFI_HANDLE Second = nullptr;
  ASSERT_TRUE(StatusIs(BS()->InstallMultipleProtocolInterfaces(&Second, &gTestProtocolAGuid, &Other,
                                                                &gTestProtocolBGuid, &B, nullptr),
                       EFI_SUCCESS));
  EXPECT_EQ(HandlesWith(gTestProtocolAGuid), (std::vector<EFI_HANDLE>{Handle, Second}));
}

TEST_F(DatabaseTest, InstallMultipleRefusesASecondHandleWithTheSameDevicePath) {
  struct {
    EFI_DEVICE_PATH_PROTOCOL Vendor;
    UINT8                    Payload[4];
    EFI_DEVICE_PATH_PROTOCOL End;
  } Path = {{HARDWARE_DEVICE_PATH, 4, {8, 0}}, {1, 2, 3, 4}, {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}}};
  auto       Copy  = Path;
  EFI_HANDLE First = nullptr, Second = nullptr;
  ASSERT_TRUE(StatusIs(BS()->InstallMultipleProtocolInterfaces(&First, &gEfiDevicePathProtocolGuid, &Path, nullptr),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->InstallMultipleProtocolInterfaces(&Second, &gTestProtocolAGuid, &A,
                                                                &gEfiDevicePathProtocolGuid, &Copy, nullptr),
                       EFI_ALREADY_STARTED));
  EXPECT_EQ(Second, nullptr);
  Copy.Payload[3] = 5;
  EXPECT_TRUE(StatusIs(BS()->InstallMultipleProtocolInterfaces(&Second, &gEfiDevicePathProtocolGuid, &Copy, nullptr),
                       EFI_SUCCESS));
}

TEST_F(DatabaseTest, UninstallMultipleRestoresEverythingOnFailure) {
  EFI_HANDLE Handle = InstallA();
  EFI_EVENT  Listener     = nullptr;
  VOID      *Registration = nullptr;
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(0, 0, nullptr, nullptr, &Listener), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(BS()->RegisterProtocolNotify(&gTestProtocolAGuid, Listener, &Registration), EFI_SUCCESS));
  // B is not there: A comes back, on the same handle, although it was the
  // handle's last protocol for a moment, and nobody is told it was installed.
  EXPECT_TRUE(StatusIs(BS()->UninstallMultipleProtocolInterfaces(Handle, &gTestProtocolAGuid, &A, &gTestProtocolBGuid,
                                                                  &B, nullptr),
                       EFI_INVALID_PARAMETER));
  EXPECT_TRUE(Env().IsHandle(Handle));
  EXPECT_EQ(Env().FindInterface(Handle, gTestProtocolAGuid), &A);
  EXPECT_TRUE(StatusIs(BS()->CheckEvent(Listener), EFI_NOT_READY));
  BS()->CloseEvent(Listener);

  // An interface held BY_DRIVER refuses the whole request.
  ASSERT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Handle, &gTestProtocolBGuid, EFI_NATIVE_INTERFACE, &B),
                       EFI_SUCCESS));
  EFI_HANDLE Driver    = NewAgent();
  VOID      *Interface = nullptr;
  ASSERT_TRUE(StatusIs(BS()->OpenProtocol(Handle, &gTestProtocolBGuid, &Interface, Driver, Handle,
                                          EFI_OPEN_PROTOCOL_BY_DRIVER),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->UninstallMultipleProtocolInterfaces(Handle, &gTestProtocolAGuid, &A, &gTestProtocolBGuid,
                                                                  &B, nullptr),
                       EFI_INVALID_PARAMETER));
  EXPECT_EQ(Env().FindInterface(Handle, gTestProtocolAGuid), &A);
  EXPECT_EQ(OpenRecords(Handle, gTestProtocolBGuid).size(), 1u);

  ASSERT_TRUE(StatusIs(BS()->CloseProtocol(Handle, &gTestProtocolBGuid, Driver, Handle), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->UninstallMultipleProtocolInterfaces(Handle, &gTestProtocolAGuid, &A, &gTestProtocolBGuid,
                                                                  &B, nullptr),
                       EFI_SUCCESS));
  EXPECT_FALSE(Env().IsHandle(Handle));
}

TEST_F(DatabaseTest, LocateServicesFindHandlesInInstallOrder) {
  EFI_HANDLE First = InstallA();
  EFI_HANDLE Second = nullptr;
  ASSERT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Second, &gTestProtocolAGuid, EFI_NATIVE_INTERFACE, &Other),
                       EFI_SUCCESS));

  EFI_HANDLE One[1];
  UINTN      Size = sizeof(One);
  EXPECT_TRUE(StatusIs(BS()->LocateHandle(ByProtocol, &gTestProtocolAGuid, nullptr, &Size, One), EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Size, 2 * sizeof(EFI_HANDLE));
  EFI_HANDLE Two[2];
  ASSERT_TRUE(StatusIs(BS()->LocateHandle(ByProtocol, &gTestProtocolAGuid, nullptr, &Size, Two), EFI_SUCCESS));
  EXPECT_EQ(Two[0], First);
  EXPECT_EQ(Two[1], Second);
  Size = 0;
  EXPECT_TRUE(StatusIs(BS()->LocateHandle(ByProtocol, &gTestProtocolBGuid, nullptr, &Size, nullptr), EFI_NOT_FOUND));
  EXPECT_TRUE(StatusIs(BS()->LocateHandle(ByProtocol, nullptr, nullptr, &Size, nullptr), EFI_INVALID_PARAMETER));

  UINTN       Count = 0;
  EFI_HANDLE *All   = nullptr;
  ASSERT_TRUE(StatusIs(BS()->LocateHandleBuffer(AllHandles, nullptr, nullptr, &Count, &All), EFI_SUCCESS));
  EXPECT_EQ(Count, Env().HandleCount());
  BS()->FreePool(All);

  VOID *Interface = nullptr;
  EXPECT_TRUE(StatusIs(BS()->LocateProtocol(&gTestProtocolAGuid, nullptr, &Interface), EFI_SUCCESS));
  EXPECT_EQ(Interface, &A);
  EXPECT_TRUE(StatusIs(BS()->LocateProtocol(&gTestProtocolBGuid, nullptr, &Interface), EFI_NOT_FOUND));
  EXPECT_EQ(Interface, nullptr);
}

struct NotifyLog {
  VOID                   *Registration = nullptr;
  int                     Calls        = 0;
  std::vector<EFI_HANDLE> Seen;
};

// What a driver's protocol-notify function does: drain the new handles.
VOID EFIAPI DrainNewHandles(EFI_EVENT, VOID *Context) {
  auto              *Log = static_cast<NotifyLog *>(Context);
  EFI_BOOT_SERVICES *BS  = HostEnv::Environment::Active().BootServices();
  ++Log->Calls;
  for (;;) {
    EFI_HANDLE Handle;
    UINTN      Size = sizeof(Handle);
    if (EFI_ERROR(BS->LocateHandle(ByRegisterNotify, nullptr, Log->Registration, &Size, &Handle))) {
      break;
    }
    Log->Seen.push_back(Handle);
  }
}

TEST_F(DatabaseTest, ProtocolNotifyDeliversEachNewHandleOnce) {
  InstallA();  // installed before the registration: never reported
  NotifyLog Log;
  EFI_EVENT Event = nullptr;
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, DrainNewHandles, &Log, &Event), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(BS()->RegisterProtocolNotify(&gTestProtocolAGuid, Event, &Log.Registration), EFI_SUCCESS));
  EXPECT_EQ(Log.Calls, 0);

  EFI_HANDLE First = InstallA(NewAgent());
  EXPECT_EQ(Log.Calls, 1) << "a notification above the caller's TPL runs before Install returns";
  EXPECT_EQ(Log.Seen, std::vector<EFI_HANDLE>{First});

  // Two installs while notifications are held back: one call, both handles.
  EFI_TPL    Old    = BS()->RaiseTPL(TPL_NOTIFY);
  EFI_HANDLE Second = InstallA(), Third = InstallA();
  EXPECT_EQ(Log.Calls, 1);
  BS()->RestoreTPL(Old);
  EXPECT_EQ(Log.Calls, 2);
  EXPECT_EQ(Log.Seen, (std::vector<EFI_HANDLE>{First, Second, Third}));

  // A reinstall counts as a new installation.
  ASSERT_TRUE(StatusIs(BS()->ReinstallProtocolInterface(Second, &gTestProtocolAGuid, &A, &Other), EFI_SUCCESS));
  EXPECT_EQ(Log.Seen.back(), Second);

  // Handles that lose the protocol before anyone looked are not reported.
  Old = BS()->RaiseTPL(TPL_NOTIFY);
  EFI_HANDLE Gone = InstallA();
  ASSERT_TRUE(StatusIs(BS()->UninstallProtocolInterface(Gone, &gTestProtocolAGuid, &A), EFI_SUCCESS));
  size_t SeenBefore = Log.Seen.size();
  BS()->RestoreTPL(Old);
  EXPECT_EQ(Log.Seen.size(), SeenBefore);

  // Closing the event ends the registration.
  ASSERT_TRUE(StatusIs(BS()->CloseEvent(Event), EFI_SUCCESS));
  int Calls = Log.Calls;
  InstallA();
  EXPECT_EQ(Log.Calls, Calls);
  UINTN      Size = sizeof(EFI_HANDLE);
  EFI_HANDLE Handle;
  EXPECT_TRUE(StatusIs(BS()->LocateHandle(ByRegisterNotify, nullptr, Log.Registration, &Size, &Handle),
                       EFI_INVALID_PARAMETER));
}

TEST_F(DatabaseTest, LocateProtocolWithRegistrationReturnsOnlyNewInterfaces) {
  InstallA();
  EFI_EVENT Event        = nullptr;
  VOID     *Registration = nullptr;
  ASSERT_TRUE(StatusIs(BS()->CreateEvent(0, 0, nullptr, nullptr, &Event), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(BS()->RegisterProtocolNotify(&gTestProtocolAGuid, Event, &Registration), EFI_SUCCESS));
  VOID *Interface = &Other;
  EXPECT_TRUE(StatusIs(BS()->LocateProtocol(&gTestProtocolAGuid, Registration, &Interface), EFI_NOT_FOUND));
  EXPECT_EQ(Interface, nullptr);

  EFI_HANDLE Handle = nullptr;
  ASSERT_TRUE(StatusIs(BS()->InstallProtocolInterface(&Handle, &gTestProtocolAGuid, EFI_NATIVE_INTERFACE, &Other),
                       EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(BS()->CheckEvent(Event), EFI_SUCCESS)) << "the registered event was signalled";
  EXPECT_TRUE(StatusIs(BS()->LocateProtocol(&gTestProtocolAGuid, Registration, &Interface), EFI_SUCCESS));
  EXPECT_EQ(Interface, &Other);
  EXPECT_TRUE(StatusIs(BS()->LocateProtocol(&gTestProtocolAGuid, Registration, &Interface), EFI_NOT_FOUND));
  EXPECT_TRUE(StatusIs(BS()->LocateProtocol(&gTestProtocolBGuid, Registration, &Interface), EFI_INVALID_PARAMETER));
  BS()->CloseEvent(Event);
}

}  // namespace
