// The three phase task tables: NULL-terminated lists of routines that each
// receive the data block, run in order by XchInitEnv, XchInitMid and
// XchInitLate.
#pragma once
#include <uefi/Base.h>

typedef VOID (*XCH_TASK)(UINT8 *DataBlock);

extern const XCH_TASK XchInitEnvTaskTable[];
extern const XCH_TASK XchInitMidTaskTable[];
extern const XCH_TASK XchInitLateTaskTable[];

VOID XchRunTaskTable(const XCH_TASK *Table, UINT8 *DataBlock);
