#include "XchInit.h"

#include <Library/MemoryAllocationLib.h>
#include <Library/UefiLib.h>

#include "XchDataBlock.h"
#include "XchDebug.h"
#include "XchRegisterAccess.h"
#include "XchTaskTables.h"
#include "XchTraceMemory.h"

namespace {
constexpr UINT32 SystemTableRevision2 = 0x20000;

constinit XCH_PRIVATE *mPrivate = nullptr;
constinit VOID *mPciIoRegistration = nullptr;
constinit EFI_EVENT mMidEvent = nullptr;  // until XchInitMid closes it

VOID FillPrivate(XCH_PRIVATE *Private, UINT8 *DataBlock) {
  Private->Signature = XCH_PRIVATE_SIGNATURE;
  Private->Interface.Revision = XCH_INIT_PROTOCOL_REVISION;
  Private->Interface.HubRevision = XCH_HUB_REVISION;
  Private->Interface.DataBlock = DataBlock;
  Private->Interface.Reserved4 = 0;
  Private->Interface.Reserved5 = 0;
  Private->Interface.Reserved6 = 0;
  Private->Interface.MappingService = XchMappingService;
  Private->Interface.Reserved8 = 0;
  Private->Interface.LateEvent = nullptr;
}

VOID RegisterMidPhase(UINT8 *DataBlock) {
  EFI_EVENT Event = nullptr;
  if (!EFI_ERROR(gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, XchInitMid, DataBlock, &Event))) {
    mMidEvent = Event;
    gBS->RegisterProtocolNotify(&gEfiPciIoProtocolGuid, Event, &mPciIoRegistration);
  }
}

VOID CloseIfOpen(EFI_EVENT &Event) {
  if (Event != nullptr) {
    gBS->CloseEvent(Event);
    Event = nullptr;
  }
}

// A failing entry gets its image unloaded: the phases it registered and the
// protocol that publishes the mapping service must not outlive it.
VOID WithdrawPhases(EFI_HANDLE ImageHandle, XCH_PRIVATE *Private) {
  CloseIfOpen(mMidEvent);
  CloseIfOpen(Private->Interface.LateEvent);
  gBS->UninstallProtocolInterface(ImageHandle, &gXchInitProtocolGuid, &Private->Interface);
}
}  // namespace

EFI_STATUS XchInitEnv(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  XchTestPoint(0xAF14);
  auto *Private = static_cast<XCH_PRIVATE *>(AllocatePoolOfType(EfiACPIMemoryNVS, sizeof(XCH_PRIVATE)));
  auto *DataBlock = static_cast<UINT8 *>(AllocatePoolOfType(EfiACPIMemoryNVS, XCH_DATA_BLOCK_SIZE));
  if (Private == nullptr || DataBlock == nullptr) {
    return EFI_OUT_OF_RESOURCES;
  }
  XchBuildDataBlock(DataBlock);

  FillPrivate(Private, DataBlock);
  mPrivate = Private;
  EFI_STATUS Status = gBS->InstallProtocolInterface(&ImageHandle, &gXchInitProtocolGuid, EFI_NATIVE_INTERFACE,
                                                    &Private->Interface);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  XchTestPoint(0xAF06);
  XchRunTaskTable(XchInitEnvTaskTable, DataBlock);
  XchDebugPrint(XCH_DBG_TRACE, "  XchInitEnv Exit... Status = [0x%x]\n", 0);

  XchProgramTraceMemory();
  RegisterMidPhase(DataBlock);
  if (SystemTable->Hdr.Revision >= SystemTableRevision2) {
    gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, XchInitLate, DataBlock, &gEfiEventReadyToBootGuid,
                       &Private->Interface.LateEvent);
  }
  Status = gBS->InstallProtocolInterface(&ImageHandle, &gXchInitDoneProtocolGuid, EFI_NATIVE_INTERFACE, nullptr);
  if (EFI_ERROR(Status)) {
    WithdrawPhases(ImageHandle, Private);
  }
  XchTestPoint(0xAF15);
  return Status;
}

VOID EFIAPI XchInitMid(EFI_EVENT Event, VOID *DataBlock) {
  XchDebugPrint(XCH_DBG_TRACE, "  XchInitMid Enter... \n");
  XchTestPoint(0xAF07);
  XchRunTaskTable(XchInitMidTaskTable, static_cast<UINT8 *>(DataBlock));
  XchDebugPrint(XCH_DBG_TRACE, "  XchInitMid Exit... Status = [0x%x]\n", 0);
  gBS->CloseEvent(Event);
  if (Event == mMidEvent) {
    mMidEvent = nullptr;
  }
}

VOID EFIAPI XchInitLate(EFI_EVENT Event, VOID *DataBlock) {
  XchDebugPrint(XCH_DBG_TRACE, "  XchInitLate Enter... \n");
  XchTestPoint(0xAF08);
  XchRunTaskTable(XchInitLateTaskTable, static_cast<UINT8 *>(DataBlock));
  XchDebugPrint(XCH_DBG_TRACE, "  XchInitLate Exit... Status = [0x%x]\n", 0);
  gBS->CloseEvent(Event);
}

EFI_STATUS EFIAPI XchMappingService(UINTN, UINTN, UINT32 A, UINT32 B) {
  for (const XCH_MAPPING_ROW &Row : XchMappingRows) {
    UINT32 Bits = (((A >> Row.AShift) & Row.AMask) << 16) | ((B >> Row.BShift) & Row.BMask);
    XchSmnModify(Row.SmnAddress, Row.AndMask, Bits);
  }
  return EFI_SUCCESS;
}

XCH_PRIVATE *XchPrivate() { return mPrivate; }

VOID XchInitResetState() {
  mPrivate = nullptr;
  mPciIoRegistration = nullptr;
  mMidEvent = nullptr;
}
