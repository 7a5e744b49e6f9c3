#include "XchAoacUart.h"

// The AOAC, pin-function and UART sequences and the Late port write arrive
// with the AOAC/UART programming; until then they keep their places.

VOID XchAoacUartProgramming(UINT8 *) {}

VOID XchLatePortWrite(UINT8 *) {}
