#include "XchEnvProgramming.h"

#include "XchAoacUart.h"
#include "XchDebug.h"
#include "XchSmuService.h"

// The register sequences of tasks 1-3 and 5-7 arrive with the Env
// programming; until then each keeps its place and its test point.

VOID XchEnvAcpiMmioDefaults(UINT8 *) { XchTestPoint(0xAF5F); }

VOID XchEnvHubProgramming(UINT8 *DataBlock) {
  XchTestPoint(0xAF50);
  XchAoacUartProgramming(DataBlock);
}

VOID XchEnvDevice14Fn3Identity(UINT8 *) { XchTestPoint(0xAF52); }

VOID XchEnvTestPointAF53(UINT8 *) { XchTestPoint(0xAF53); }

VOID XchEnvDevice14Fn6Options(UINT8 *) { XchTestPoint(0xAF55); }

VOID XchEnvSmnHostBridge(UINT8 *) {}

VOID XchEnvAbRegisterOptions(UINT8 *) { XchTestPoint(0xAF51); }

VOID XchEnvSmuRequest(UINT8 *) {
  UINT32 Arguments[6] = {};
  XchSmuServiceRequest(Arguments);
}
