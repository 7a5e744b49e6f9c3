#include "XchTaskTables.h"

#include "XchAoacUart.h"
#include "XchEnvProgramming.h"
#include "XchLateProgramming.h"

namespace {
VOID XchMidNothing(UINT8 *) {}
}  // namespace

constexpr XCH_TASK XchInitEnvTaskTable[] = {
    XchEnvAcpiMmioDefaults,     // 1: ACPI MMIO and GPIO defaults
    XchEnvHubProgramming,       // 2: hub Env programming (AOAC and UART inside)
    XchEnvDevice14Fn3Identity,  // 3: device 0x14 function 3 identity
    XchEnvTestPointAF53,        // 4: test point 0xAF53 only
    XchEnvDevice14Fn6Options,   // 5: device 0x14 function 6 options
    XchEnvSmnHostBridge,        // 6: SMN and host-bridge writes
    XchEnvAbRegisterOptions,    // 7: AB register options
    XchEnvSmuRequest,           // 8: SMU request with an all-zero argument block
    nullptr,
};

constexpr XCH_TASK XchInitMidTaskTable[] = {
    XchMidNothing,
    nullptr,
};

constexpr XCH_TASK XchInitLateTaskTable[] = {
    XchLateTestPointAF73,   // 1: test point 0xAF73 only
    XchLateHubProgramming,  // 2: Late hub programming
    XchLateSmnClears,       // 3: SMN clears
    XchLatePortWrite,       // 4: port write of a data-block byte
    nullptr,
};

VOID XchRunTaskTable(const XCH_TASK *Table, UINT8 *DataBlock) {
  for (const XCH_TASK *Task = Table; *Task != nullptr; ++Task) {
    (*Task)(DataBlock);
  }
}
