#include "QuorCfgPcdBufLib.h"

#include <Library/BaseMemoryLib.h>
#include <Library/UefiLib.h>
#include <uefi/Protocol/Pcd.h>

#include "XchBytes.h"
#include "XchDebug.h"
#include "XchPcd.h"

namespace {
constinit UINT8 mCfgBuf[QUOR_CFG_BUF_SIZE] = {};

bool LocateOrReport(EFI_GUID *Guid, const CHAR8 *Text) {
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(Guid, nullptr, &Interface);
  if (EFI_ERROR(Status)) {
    XchDebugPrint(XCH_DBG_ERROR, Text, "QuorCfgPcdBufLibDxeConstructor", Status);
    return false;
  }
  return true;
}

VOID FillFromPcds() {
  mCfgBuf[0] = 1;
  mCfgBuf[1] = 3;
  mCfgBuf[2] = 0x80;
  mCfgBuf[3] = 0x00;
  mCfgBuf[4] = 1;
  mCfgBuf[5] = 0;
  mCfgBuf[6] = XchPcdGetBool(634);
  mCfgBuf[7] = XchPcdGet8(575);
  mCfgBuf[8] = 2;
  mCfgBuf[9] = 2;
  mCfgBuf[10] = 2;
  XchWriteField<UINT32>(mCfgBuf, 11, XchPcdGet32(637));
  mCfgBuf[15] = XchPcdGetBool(635);
  XchWriteField<UINT32>(mCfgBuf, 16, XchPcdGet32(584));
  XchWriteField<UINT32>(mCfgBuf, 20, XchPcdGet32(583));
  mCfgBuf[24] = XchPcdGet8(636);
  mCfgBuf[25] = 2;
}
}  // namespace

const UINT8 *QuorCfgPcdBuf() { return mCfgBuf; }

EFI_STATUS QuorCfgPcdBufLibDxeConstructor() {
  ZeroMem(mCfgBuf, sizeof(mCfgBuf));
  if (!LocateOrReport(&gPcdProtocolGuid, "[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n") ||
      !LocateOrReport(&gEfiPcdProtocolGuid, "[%a] LocateProtocol: gEfiPcdProtocolGuid, Status: %r\n")) {
    return EFI_SUCCESS;
  }
  FillFromPcds();
  return EFI_SUCCESS;
}

VOID QuorCfgPcdBufResetState() { ZeroMem(mCfgBuf, sizeof(mCfgBuf)); }
