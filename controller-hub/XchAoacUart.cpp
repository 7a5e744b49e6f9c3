#include "XchAoacUart.h"

#include <Platform/Hardware.h>

#include "XchBytes.h"
#include "XchDataBlock.h"
#include "XchDebug.h"
#include "XchDelay.h"
#include "XchRegisterAccess.h"

namespace {

constexpr UINT8 AoacStatusMask = 0x07;
constexpr UINT8 AoacPoweredOn = 0x07;
constexpr UINT8 AoacPowerOnRequest = 0x08;

constexpr UINTN BlkPinDevicesSkipped = 0x660;  // u8, non-zero skips the eight pin-function devices
constexpr UINTN BlkLatePortSkipped = 0x343;    // u8, non-zero skips the Late port write
constexpr UINTN BlkLatePort = 0x672;           // u16 I/O port of the Late port write

// --- The eight pin-function devices, in the order they are handled ---
struct PIN_FUNCTION_ROW {
  UINT32 Flag;  // device-enable flag
  UINT8  Device;
  UINT32 Pins[2];
  UINT8  Value;
};
// clang-format off
constexpr PIN_FUNCTION_ROW PinFunctionRows[] = {
  {0x00000020,  5, {0xFED80D91, 0xFED80D92}, 0},
  {0x00000040,  6, {0xFED80D93, 0xFED80D94}, 0},
  {0x00000080,  7, {0xFED80D71, 0xFED80D72}, 1},
  {0x00000100,  8, {0xFED80D13, 0xFED80D14}, 1},
  {0x00200000, 21, {0xFED80D91, 0xFED80D92}, 1},
  {0x00002000, 13, {0xFED80D93, 0xFED80D94}, 1},
  {0x00004000, 14, {0xFED80D71, 0xFED80D72}, 2},
  {0x00008000, 15, {0xFED80D13, 0xFED80D14}, 2},
};
// clang-format on

// --- The five serial devices handled always (the four legacy-routable
// UARTs of flag bits 11, 12, 16 and 26, then device 20): power, pin
// functions, then bit 23 cleared in each listed pad register. Unused slots
// hold address 0. ---
struct PIN_WRITE {
  UINT32 Address;
  UINT8  Value;
};
struct SERIAL_DEVICE {
  UINT32    Flag;
  UINT8     Device;
  PIN_WRITE Pins[5];
  UINT32    Bit23Clears[4];
};
// clang-format off
constexpr SERIAL_DEVICE SerialDevices[] = {
  {0x00000800, 11, {{0xFED80D8C, 1}, {0xFED80D8D, 1}, {0xFED80D8E, 1}, {0xFED80D8F, 1}, {0xFED80D90, 2}},
                   {0xFED81730, 0xFED81734, 0xFED81738, 0xFED81740}},
  {0x00001000, 12, {{0xFED80D8C, 2}, {0xFED80D8E, 2}},
                   {0xFED81738}},
  {0x00010000, 16, {{0xFED80D87, 1}, {0xFED80D88, 1}, {0xFED80D89, 1}, {0xFED80D8A, 1}, {0xFED80D8B, 1}},
                   {0xFED8171C, 0xFED81720, 0xFED81724, 0xFED8172C}},
  {0x04000000, 26, {{0xFED80D87, 2}, {0xFED80D89, 2}},
                   {0xFED81724}},
  {0x00100000, 20, {{0xFED80D99, 1}, {0xFED80D9A, 1}, {0xFED80D9B, 1}, {0xFED80D9C, 1}, {0xFED80D9D, 1}},
                   {0xFED81764, 0xFED81768, 0xFED8176C, 0xFED81774}},
};
// clang-format on
constexpr UINT32 Uart2EnableFlag = 0x00010000;
constexpr UINTN SerialDevicesBeforeUart2Message = 2;
constexpr UINT32 Bit23ClearMask = 0xFF7FFFFF;

// --- Legacy UART routing ---
constexpr UINT16 RoutingUartBanner = 0x0008;  // bit 3 of the low byte
constexpr UINTN LegacyDecodeBase = 0xFEC20044;  // u16
constexpr UINTN LegacyDecodeControl = 0xFEC20040;  // u16
constexpr UINT16 Com1Base = 0x3F8;
constexpr UINT16 LegacyDecodeBit8 = 0x0100;
constexpr UINTN LegacyRoutingRegister = 0xFEDC0020;  // u16
constexpr UINTN UartDecodeEnable = 0xFED800FC;        // u32
constexpr UINT32 UartDecodeBits28To31 = 0xF0000000;

// --- UART registers (8-bit, offsets from 0xFEDC9000) ---
constexpr UINTN UartData = 0x00;  // divisor low while the latch is open
constexpr UINTN UartInterruptEnable = 0x04;  // divisor high while the latch is open
constexpr UINTN UartFifoControl = 0x08;
constexpr UINTN UartLineControl = 0x0C;
constexpr UINTN UartModemControl = 0x10;
constexpr UINTN UartLineStatus = 0x14;
constexpr UINTN UartInitStatus = 0x18;
constexpr UINT8 UartTransmitterEmpty = 0x60;
constexpr UINT8 UartInitDone = 0xF0;

struct UART_WRITE {
  UINT8 Register;
  UINT8 Value;
};
// Divisor 1 through the open latch, 8 data bits, FIFO off then on,
// interrupts off, all modem-control bits on until the UART reports ready.
constexpr UART_WRITE UartInitWrites[] = {
    {UartLineControl, 0x80}, {UartInterruptEnable, 0x00}, {UartData, 0x01},         {UartLineControl, 0x03},
    {UartFifoControl, 0x00}, {UartFifoControl, 0x01},     {UartInterruptEnable, 0x00}, {UartModemControl, 0x1F},
};
constexpr CHAR8 UartBanner[] = " --- Init Xch Uart --- ";  // 23 bytes sent, no line break

VOID UartWrite(UINTN Register, UINT8 Value) { MmioWrite8(XCH_UART_BASE + Register, Value); }

VOID WritePins(const UINT32 (&Pins)[2], UINT8 Value) {
  for (UINT32 Pin : Pins) {
    XchMmioModify(Pin, XCH_WIDTH_8, 0, Value);
  }
}

VOID ProgramPinFunctionDevices(UINT32 Flags) {
  for (const PIN_FUNCTION_ROW &Row : PinFunctionRows) {
    if ((Flags & Row.Flag) != 0) {
      XchAoacPower(Row.Device, TRUE);
      WritePins(Row.Pins, Row.Value);
    } else {
      XchAoacPower(Row.Device, FALSE);
    }
  }
}

VOID ProgramSerialDevice(const SERIAL_DEVICE &Serial, UINT32 Flags) {
  if ((Flags & Serial.Flag) == 0) {
    XchAoacPower(Serial.Device, FALSE);
    return;
  }
  XchAoacPower(Serial.Device, TRUE);
  for (const PIN_WRITE &Pin : Serial.Pins) {
    if (Pin.Address != 0) {
      XchMmioModify(Pin.Address, XCH_WIDTH_8, 0, Pin.Value);
    }
  }
  for (UINT32 Pad : Serial.Bit23Clears) {
    if (Pad != 0) {
      XchMmioModify(Pad, XCH_WIDTH_32, Bit23ClearMask, 0);
    }
  }
}

VOID InitializeUartAndSendBanner() {
  for (const UART_WRITE &Write : UartInitWrites) {
    UartWrite(Write.Register, Write.Value);
  }
  while (MmioRead8(XCH_UART_BASE + UartInitStatus) < UartInitDone) {
    CpuPause();
  }
  UartWrite(UartModemControl, 0x00);
  XchUartWriteBytes(reinterpret_cast<const UINT8 *>(UartBanner), sizeof(UartBanner) - 1);
}

VOID RouteLegacyUarts(UINT16 Routing) {
  if ((Routing & RoutingUartBanner) != 0 && MmioRead16(LegacyDecodeBase) == Com1Base) {
    MmioWrite16(LegacyDecodeControl, static_cast<UINT16>(MmioRead16(LegacyDecodeControl) & ~LegacyDecodeBit8));
  }
  MmioWrite16(LegacyRoutingRegister, Routing);
  MmioWrite32(UartDecodeEnable, MmioRead32(UartDecodeEnable) | UartDecodeBits28To31);
  if ((Routing & RoutingUartBanner) != 0) {
    InitializeUartAndSendBanner();
  }
}

VOID PowerOn(UINT8 Device) {
  UINTN Control = XchAoacControl(Device);
  UINT8 Status = MmioRead8(XchAoacStatus(Device));
  for (UINTN Poll = 0; Poll < XCH_AOAC_POLL_LIMIT && (Status & AoacStatusMask) != AoacPoweredOn; ++Poll) {
    MmioWrite8(Control, static_cast<UINT8>((MmioRead8(Control) & 0x7C) | AoacPowerOnRequest));
    XchShortStall();
    Status = MmioRead8(XchAoacStatus(Device));
  }
  if ((Status & AoacStatusMask) != AoacPoweredOn) {
    XchDebugPrint(XCH_DBG_ERROR, "[XCH]XchAoacPowerOnDev Power ON Device 0x%x failed!\n", Device);
    MmioWrite8(Control, static_cast<UINT8>(MmioRead8(Control) | AoacPowerOnRequest));
  }
}

VOID PowerOff(UINT8 Device) {
  UINTN Control = XchAoacControl(Device);
  UINT8 Status = MmioRead8(XchAoacStatus(Device));
  for (UINTN Poll = 0; Poll < XCH_AOAC_POLL_LIMIT && (Status & AoacStatusMask) != 0; ++Poll) {
    MmioWrite8(Control, static_cast<UINT8>(MmioRead8(Control) & 0x77));
    XchShortStall();
    Status = MmioRead8(XchAoacStatus(Device));
  }
  if ((Status & AoacStatusMask) != 0) {
    XchDebugPrint(XCH_DBG_ERROR, "[XCH]XchAoacPowerOnDev Power OFF Device 0x%x failed!\n", Device);
    MmioWrite8(Control, 0x80);
  }
  MmioWrite8(Control, static_cast<UINT8>(MmioRead8(Control) | 0x03));
}

}  // namespace

VOID XchAoacPower(UINT8 Device, BOOLEAN On) {
  if (On) {
    PowerOn(Device);
  } else {
    PowerOff(Device);
  }
}

VOID XchUartWriteBytes(const UINT8 *Buffer, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    bool Ready = false;
    for (UINTN Poll = 0; Poll < XCH_UART_POLL_LIMIT && !Ready; ++Poll) {
      Ready = (MmioRead8(XCH_UART_BASE + UartLineStatus) & UartTransmitterEmpty) == UartTransmitterEmpty;
    }
    if (Ready) {
      UartWrite(UartData, Buffer[Index]);
    }
  }
}

VOID XchAoacUartProgramming(UINT8 *DataBlock) {
  UINT32 Flags = XchReadField<UINT32>(DataBlock, XCH_BLK_DEVICE_ENABLE);
  if (DataBlock[BlkPinDevicesSkipped] == 0) {
    ProgramPinFunctionDevices(Flags);
  }
  for (UINTN Index = 0; Index < sizeof(SerialDevices) / sizeof(SerialDevices[0]); ++Index) {
    if (Index == SerialDevicesBeforeUart2Message) {
      XchDebugPrint(XCH_DBG_TRACE, "UART2 enable bit value is 0x%x.\n", Flags & Uart2EnableFlag);
    }
    ProgramSerialDevice(SerialDevices[Index], Flags);
  }
  UINT16 Routing = XchReadField<UINT16>(DataBlock, XCH_BLK_LEGACY_ROUTING);
  if (Routing != 0) {
    RouteLegacyUarts(Routing);
  }
}

VOID XchLatePortWrite(UINT8 *DataBlock) {
  if (DataBlock[BlkLatePortSkipped] != 0) {
    return;
  }
  IoWrite16(XchReadField<UINT16>(DataBlock, BlkLatePort), DataBlock[XCH_BLK_LATE_PORT_VALUE]);
}
