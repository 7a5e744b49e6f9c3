// IDS hook dispatch: the built-in table, its status rules, the descriptor
// check and the fallback to the IDS hook extension protocol.
#include "HubTest.h"

#include "HubTrace.h"
#include "Protocol/QuorIdsHookExt.h"
#include "XchIdsHook.h"

namespace {

// What a stand-in extension saw.
struct ExtensionCall {
  EFI_BOOT_SERVICES *BootServices;
  UINT64             RecordWord0;
  VOID              *RecordData;
  UINT32             HookId;
};
std::vector<ExtensionCall> gExtensionCalls;
EFI_STATUS gExtensionStatus = EFI_SUCCESS;

EFI_STATUS EFIAPI RecordingExtension(EFI_BOOT_SERVICES *BootServices, VOID *Data, UINT32 HookId) {
  auto *Record = static_cast<UINT64 *>(Data);
  gExtensionCalls.push_back({BootServices, Record[0], reinterpret_cast<VOID *>(Record[1]), HookId});
  return gExtensionStatus;
}

// Built-in hooks of test descriptors.
std::vector<UINT32> gHookCalls;
UINTN HookReturning0(UINT32 HookId, UINTN Reserved, VOID *) {
  gHookCalls.push_back(HookId);
  return Reserved;  // 0, as the dispatch passes it
}
UINTN HookReturning9(UINT32 HookId, UINTN, VOID *) {
  gHookCalls.push_back(HookId);
  return 9;
}
UINTN HookReturning5(UINT32 HookId, UINTN, VOID *) {
  gHookCalls.push_back(HookId);
  return 5;
}

constexpr UINT32 kHook = 0xD0000010;

class IdsHookTest : public HubTest {
 protected:
  void SetUp() override {
    HubTest::SetUp();
    gExtensionCalls.clear();
    gHookCalls.clear();
    gExtensionStatus = EFI_SUCCESS;
  }
  void TearDown() override {
    if (ExtensionHandle != nullptr) {
      BS()->UninstallProtocolInterface(ExtensionHandle, &gQuorIdsHookExtProtocolGuid, &Extension);
    }
    HubTest::TearDown();
  }
  void InstallRecordingExtension() {
    ASSERT_EQ(BS()->InstallProtocolInterface(&ExtensionHandle, &gQuorIdsHookExtProtocolGuid, EFI_NATIVE_INTERFACE,
                                             &Extension),
              EFI_SUCCESS);
  }
  UINTN Dispatch(std::vector<XCH_IDS_HOOK_ENTRY> Table, UINT32 Signature = XCH_IDS_HOOK_SIGNATURE,
                 UINT32 Version = 1) {
    Table.push_back({XCH_IDS_HOOK_TABLE_END, 0, nullptr});
    XCH_IDS_HOOK_DESCRIPTOR Descriptor = {Signature, Version, {0, 0, 0}, Table.data()};
    return XchIdsHookDispatchWith(&Descriptor, kHook, &Data);
  }

  QUOR_IDS_HOOK_EXT_PROTOCOL Extension{RecordingExtension};
  EFI_HANDLE                 ExtensionHandle = nullptr;
  UINT64                     Data = 0x1234;
};

TEST_F(IdsHookTest, TheBuiltInInitEnvHookRunsAndReportsNothing) {
  Profile.Present.IdsHookExtension = true;
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);  // the entry's data-block build ran it once
  std::vector<UINT8> Block(1802, 0);
  EXPECT_EQ(XchIdsHookDispatch(XCH_IDS_HOOK_INIT_ENV, Block.data()), 4u);  // the hook returned 0
  EXPECT_EQ(DebugLinesWith("IdsHookFunc HookId d0000002\n"), 2u);
  EXPECT_EQ(DebugLinesWith("CmnHookFuncXchKryDxeInitEnv Options Update\n"), 2u);
  for (const HubSim::DebugLine &Line : Platform().DebugLog()) {
    if (Line.Text == "IdsHookFunc HookId d0000002\n") {
      EXPECT_EQ(Line.Level, 0x20000000000000u);
    }
  }
  // Only NV table requests reached the extension; the hook itself did not.
  for (UINT32 Hook : Platform().IdsHookCalls()) {
    EXPECT_EQ(Hook, 0xFFFFFFFEu);
  }
}

TEST_F(IdsHookTest, StatusRulesOfTheBuiltInTable) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallRecordingExtension();
  EXPECT_EQ(Dispatch({{kHook, 0, HookReturning0}}), 4u);
  EXPECT_EQ(Dispatch({{kHook, 0, HookReturning9}}), 9u);
  EXPECT_EQ(Dispatch({{kHook, 0, HookReturning9}, {kHook, 0, HookReturning0}}), 9u);
  EXPECT_EQ(Dispatch({{kHook, 0, HookReturning9}, {0xD0000011, 0, HookReturning0}, {kHook, 0, HookReturning5}}), 5u);
  EXPECT_EQ(gHookCalls, (std::vector<UINT32>{kHook, kHook, kHook, kHook, kHook, kHook}));
  EXPECT_TRUE(gExtensionCalls.empty());
}

TEST_F(IdsHookTest, WithoutAMatchingHookTheExtensionAnswers) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallRecordingExtension();
  EXPECT_EQ(Dispatch({{0xD0000011, 0, HookReturning9}}), 0u);
  EXPECT_EQ(Dispatch({}), 0u);
  gExtensionStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(Dispatch({}), 4u);
  gExtensionStatus = EFI_WARN_BUFFER_TOO_SMALL;  // a warning is not a failure
  EXPECT_EQ(Dispatch({}), 0u);
  EXPECT_TRUE(gHookCalls.empty());
  ASSERT_EQ(gExtensionCalls.size(), 4u);
  for (const ExtensionCall &Call : gExtensionCalls) {
    EXPECT_EQ(Call.BootServices, BS());
    EXPECT_EQ(Call.RecordWord0, 0u);
    EXPECT_EQ(Call.RecordData, &Data);
    EXPECT_EQ(Call.HookId, kHook);
  }
}

TEST_F(IdsHookTest, WithoutTheExtensionAnUnhandledHookFails) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(Dispatch({}), 4u);
  EXPECT_EQ(XchIdsHookDispatch(0xD0000055, &Data), 4u);
  EXPECT_EQ(XchIdsHookExtensionCall(kHook, &Data), 4u);
}

TEST_F(IdsHookTest, ADamagedDescriptorStopsAndFallsBackToTheExtension) {
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  InstallRecordingExtension();
  ClearTrace();
  EXPECT_EQ(Dispatch({{kHook, 0, HookReturning9}}, 0x53444925), 0u);
  EXPECT_EQ(Dispatch({{kHook, 0, HookReturning9}}, XCH_IDS_HOOK_SIGNATURE, 2), 0u);
  EXPECT_EQ(XchIdsHookDispatchWith(nullptr, kHook, &Data), 0u);
  EXPECT_TRUE(gHookCalls.empty());
  EXPECT_EQ(gExtensionCalls.size(), 3u);
  std::vector<Access> Expected;
  for (int Time = 0; Time < 3; ++Time) {
    for (const Access &Entry : AssertStopAccesses(0x20910056)) Expected.push_back(Entry);
  }
  EXPECT_EQ(Accesses(), Expected);
}

TEST_F(IdsHookTest, TheExtensionOfTheProfileAnswersWithItsStatuses) {
  Profile.Present.IdsHookExtension = true;
  Profile.IdsHooks = {{0xD0000020, EFI_SUCCESS}, {0xD0000021, EFI_DEVICE_ERROR}};
  ASSERT_EQ(RunEntry(), EFI_SUCCESS);
  EXPECT_EQ(XchIdsHookDispatch(0xD0000020, &Data), 0u);
  EXPECT_EQ(XchIdsHookDispatch(0xD0000021, &Data), 4u);
  EXPECT_EQ(XchIdsHookDispatch(0xD0000022, &Data), 4u);  // unanswered: EFI_UNSUPPORTED
  std::vector<UINT32> Calls = Platform().IdsHookCalls();
  ASSERT_GE(Calls.size(), 3u);
  EXPECT_EQ(std::vector<UINT32>(Calls.end() - 3, Calls.end()),
            (std::vector<UINT32>{0xD0000020, 0xD0000021, 0xD0000022}));
}

}  // namespace
