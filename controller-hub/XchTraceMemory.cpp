#include "XchTraceMemory.h"

UINTN XchProgramTraceMemory() { return 0; }
