// Late task routines (XchInitLate table).
#pragma once
#include <uefi/Base.h>

VOID XchLateTestPointAF73(UINT8 *DataBlock);
VOID XchLateHubProgramming(UINT8 *DataBlock);
VOID XchLateSmnClears(UINT8 *DataBlock);
