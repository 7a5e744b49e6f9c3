// AOAC power and UART: serial-device power, pin functions, legacy UART
// routing and the UART banner inside the hub Env programming, the UART byte
// output the serial debug channel shares, and the Late port write.
#pragma once
#include <uefi/Base.h>

// AOAC registers of device D: control byte and status byte.
constexpr UINTN XchAoacControl(UINT8 Device) { return 0xFED81E40 + 2u * Device; }
constexpr UINTN XchAoacStatus(UINT8 Device) { return 0xFED81E41 + 2u * Device; }

constexpr UINTN XCH_AOAC_POLL_LIMIT = 100;
constexpr UINTN XCH_UART_BASE = 0xFEDC9000;
constexpr UINTN XCH_UART_POLL_LIMIT = 2000;

// Powers Device on (status bits 0-2 all set) or off (all clear), polling up
// to 100 times; a device that does not get there is reported and left with
// the documented control value, and the caller goes on.
VOID XchAoacPower(UINT8 Device, BOOLEAN On);

// Sends Length bytes to the UART at 0xFEDC9000, each once the transmitter
// reports empty; a byte whose wait runs out is dropped.
VOID XchUartWriteBytes(const UINT8 *Buffer, UINTN Length);

// Step 11 of the hub Env programming: the eight pin-function devices, the
// five serial devices, legacy UART routing and the UART banner.
VOID XchAoacUartProgramming(UINT8 *DataBlock);

// Last Late task: a data-block byte to the data block's I/O port.
VOID XchLatePortWrite(UINT8 *DataBlock);
