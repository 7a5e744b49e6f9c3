// AOAC power and UART: serial-device power, pin functions, legacy UART
// routing and the UART banner inside the hub Env programming, and the Late
// port write.
#pragma once
#include <uefi/Base.h>

VOID XchAoacUartProgramming(UINT8 *DataBlock);
VOID XchLatePortWrite(UINT8 *DataBlock);
