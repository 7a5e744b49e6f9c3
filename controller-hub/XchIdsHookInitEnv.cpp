#include "XchIdsHookInitEnv.h"

#include "XchDataBlock.h"
#include "XchDebug.h"
#include "XchIdsNvTable.h"
#include "XchPcd.h"

namespace {
constexpr UINTN SerialByteCount = 8;

// The four serial devices: enable bit, alternate bit, NV mode and options.
struct SERIAL_DEVICE {
  UINT32 Enable;
  UINT32 Alternate;
  UINT16 ModeId;
  UINT16 OptionId;
};
constexpr SERIAL_DEVICE SerialDevices[] = {
    {0x20, 0x200000, 0xD10A, 0xD10B},
    {0x40, 0x2000, 0xD10C, 0xD10D},
    {0x80, 0x4000, 0xD10E, 0xD10F},
    {0x100, 0x8000, 0xD110, 0xD111},
};
enum SERIAL_MODE : UINT64 { SerialOff = 0, SerialAlternate = 1, SerialOn = 2 };

struct SINGLE_BIT_OPTION {
  UINT16 Id;
  UINT32 Flag;
};
constexpr SINGLE_BIT_OPTION SingleBitOptions[] = {
    {0xD122, 0x800}, {0xD124, 0x1000}, {0xD126, 0x10000}, {0xD128, 0x4000000}, {0xD12A, 0x100000}, {0xD130, 0x20000000},
};

// A switch with four byte options copied into the serial bytes when on.
struct BYTE_COPY_OPTION {
  UINT16 SwitchId;
  UINT16 FirstByteId;
  UINT8  BlockOffset;
  UINT32 Flag;
};
constexpr BYTE_COPY_OPTION ByteCopyOptions[] = {
    {0xD131, 0xD133, 0x25, 0x40000000},
    {0xD132, 0xD137, 0x29, 0x80000000},
};

bool NvValue(UINT16 Id, UINT64 &Value) {
  Value = 0;
  return XchIdsNvValue(Id, &Value) == XCH_IDS_NV_FOUND;
}

// 15 keeps the bit, other non-zero values set it, 0 clears it.
VOID ApplySwitch(UINT64 Value, UINT32 &Flags, UINT32 Flag) {
  if (Value == XCH_IDS_NV_KEEP) {
    return;
  }
  Flags = Value != 0 ? (Flags | Flag) : (Flags & ~Flag);
}

VOID ApplySerialDevice(UINTN Index, const SERIAL_DEVICE &Device, UINT32 &Flags, UINT8 &UartOptions) {
  UINT64 Mode = 0;
  if (!NvValue(Device.ModeId, Mode)) {
    return;
  }
  switch (Mode) {
    case SerialOff:
      Flags &= ~(Device.Enable | Device.Alternate);
      break;
    case SerialAlternate: {
      Flags = (Flags & ~Device.Enable) | Device.Alternate;
      UINT64 Option = 0;
      if (NvValue(Device.OptionId, Option) && Option != XCH_IDS_NV_KEEP) {
        UINT8 Bit = static_cast<UINT8>(1u << Index);
        UartOptions = static_cast<UINT8>(Option != 0 ? (UartOptions | Bit) : (UartOptions & ~Bit));
      }
      break;
    }
    case SerialOn:
      Flags = (Flags | Device.Enable) & ~Device.Alternate;
      break;
    default:
      break;
  }
}

VOID ApplyByteCopy(const BYTE_COPY_OPTION &Option, UINT8 *Block, UINT32 &Flags) {
  UINT64 Switch = 0;
  if (!NvValue(Option.SwitchId, Switch) || Switch == XCH_IDS_NV_KEEP) {
    return;
  }
  if (Switch == 0) {
    Flags &= ~Option.Flag;
    return;
  }
  for (UINT16 Index = 0; Index < 4; ++Index) {
    UINT64 Byte = 0;
    if (NvValue(static_cast<UINT16>(Option.FirstByteId + Index), Byte)) {
      Block[Option.BlockOffset + Index] = static_cast<UINT8>(Byte);
    }
  }
  Flags |= Option.Flag;
}
}  // namespace

UINTN CmnHookFuncXchKryDxeInitEnv(UINT32, UINTN, VOID *DataBlock) {
  auto *Block = static_cast<UINT8 *>(DataBlock);
  XchDebugPrint(XCH_DBG_TRACE, "CmnHookFuncXchKryDxeInitEnv Options Update\n");
  UINT32 Flags = XchPcdGet32(XCH_PCD_DEVICE_ENABLE);
  UINT8 UartOptions = XchPcdGet8(XCH_PCD_UART_OPTIONS);
  XchPcdCopyPtr(XCH_PCD_SERIAL_BYTES, Block + XCH_BLK_SERIAL_BYTES, SerialByteCount);

  for (UINTN Index = 0; Index < sizeof(SerialDevices) / sizeof(SerialDevices[0]); ++Index) {
    ApplySerialDevice(Index, SerialDevices[Index], Flags, UartOptions);
  }
  for (const SINGLE_BIT_OPTION &Option : SingleBitOptions) {
    UINT64 Value = 0;
    if (NvValue(Option.Id, Value)) {
      ApplySwitch(Value, Flags, Option.Flag);
    }
  }
  for (const BYTE_COPY_OPTION &Option : ByteCopyOptions) {
    ApplyByteCopy(Option, Block, Flags);
  }

  XchPcdSet32(XCH_PCD_DEVICE_ENABLE, Flags);
  XchPcdSet8(XCH_PCD_UART_OPTIONS, UartOptions);
  UINTN Size = SerialByteCount;
  XchPcdSetPtr(XCH_PCD_SERIAL_BYTES, &Size, Block + XCH_BLK_SERIAL_BYTES);
  return 0;
}
