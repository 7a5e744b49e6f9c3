// Env task routines (XchInitEnv table).
#pragma once
#include <uefi/Base.h>

VOID XchEnvAcpiMmioDefaults(UINT8 *DataBlock);
VOID XchEnvHubProgramming(UINT8 *DataBlock);
VOID XchEnvDevice14Fn3Identity(UINT8 *DataBlock);
VOID XchEnvTestPointAF53(UINT8 *DataBlock);
VOID XchEnvDevice14Fn6Options(UINT8 *DataBlock);
VOID XchEnvSmnHostBridge(UINT8 *DataBlock);
VOID XchEnvAbRegisterOptions(UINT8 *DataBlock);
VOID XchEnvSmuRequest(UINT8 *DataBlock);
