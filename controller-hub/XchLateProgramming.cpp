#include "XchLateProgramming.h"

#include "XchDebug.h"

// The register sequences of tasks 2 and 3 arrive with the Late programming;
// until then each keeps its place and its test point.

VOID XchLateTestPointAF73(UINT8 *) { XchTestPoint(0xAF73); }

VOID XchLateHubProgramming(UINT8 *) { XchTestPoint(0xAF70); }

VOID XchLateSmnClears(UINT8 *) { XchTestPoint(0xAF78); }
