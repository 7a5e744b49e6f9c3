#include "XchLateProgramming.h"

#include <Platform/Hardware.h>

#include "XchBytes.h"
#include "XchDebug.h"
#include "XchHubTables.h"
#include "XchRegisterAccess.h"

namespace {

// Data-block fields the Late tasks read (byte offsets).
constexpr UINTN BlkResetRequest = 0x55;  // u8: 1-3 reset, 4 becomes 3
constexpr UINTN BlkOptionB2 = 0xB2;      // u8

// Step 2: the register at 0xFED803A0 keeps the bits of KeepMask and takes
// one bit group per data-block byte that is set.
constexpr UINTN Register3A0 = 0xFED803A0;
constexpr UINT32 Register3A0KeepMask = 0xC07F00A0;
struct OPTION_BITS {
  UINT16 BlockOffset;
  UINT32 Bits;
};
constexpr OPTION_BITS Register3A0Options[] = {
    {0x277, 0x00000001}, {0x278, 0x00000002}, {0x279, 0x00000400}, {0x27A, 0x00002000},
    {0x27B, 0x00008000}, {0x27C, 0x00800000}, {0x27D, 0x0000005C},
};

// Step 4: reset requests.
struct RESET_REQUEST {
  UINT8  Request;
  UINT16 Port;
  UINT8  Value;
};
constexpr RESET_REQUEST ResetRequests[] = {
    {1, 0x64, 0xFE},   // keyboard controller pulse
    {2, 0xCF9, 0x06},  // reset control: soft reset
    {3, 0xCF9, 0x0E},  // reset control: hard reset
};
constexpr UINT8 ResetRequestDowngraded = 4;  // becomes request 3, without a reset now

// Step 7: interrupt routing through the index/data ports.
constexpr UINT16 IrqIndexPort = 0xC00;
constexpr UINT16 IrqDataPort = 0xC01;
constexpr UINT8 IrqIndexSharedBits = 0x08;
constexpr UINT8 IrqValueBits45 = 0x0E;  // this value also sets bits 4-5 at index 8
constexpr UINT8 IrqValueBits67 = 0x0F;  // this value also sets bits 6-7 at index 8

// Step 8: the bytes that each name a bit of the u32 at 0xFED8020C.
constexpr UINTN Register20C = 0xFED8020C;
constexpr UINTN BitNamingBytes[] = {0xFED80278, 0xFED80279, 0xFED8026A, 0xFED8027D, 0xFED8027E};
constexpr UINTN BitNamingByte265 = 0xFED80265;

// Late task 3: SMN registers cleared in two groups.
constexpr UINT32 SmnClearBits24To26[] = {0x10134608, 0x10134808, 0x10136608, 0x10136808};
constexpr UINT32 SmnClearBits5To15[] = {0x1013461C, 0x1013481C, 0x1013661C, 0x1013681C};

VOID ProgramRegister3A0(const UINT8 *Block) {
  UINT32 Value = MmioRead32(Register3A0) & Register3A0KeepMask;
  for (const OPTION_BITS &Option : Register3A0Options) {
    if (Block[Option.BlockOffset] != 0) {
      Value |= Option.Bits;
    }
  }
  MmioWrite32(Register3A0, Value);
}

// A request the platform honours does not come back; until the reset takes
// effect the processor waits on the request byte.
VOID HandleResetRequest(UINT8 *Block) {
  volatile UINT8 *Request = Block + BlkResetRequest;
  if (*Request == ResetRequestDowngraded) {
    *Request = 3;
    return;
  }
  for (const RESET_REQUEST &Reset : ResetRequests) {
    if (*Request == Reset.Request) {
      IoWrite8(Reset.Port, Reset.Value);
      while (*Request != 0) {
        CpuPause();
      }
      return;
    }
  }
}

VOID ModifyByte(UINTN Address, UINT8 Clear, UINT8 Set) {
  MmioWrite8(Address, static_cast<UINT8>((MmioRead8(Address) & ~Clear) | Set));
}

VOID ModifyDword(UINTN Address, UINT32 Clear, UINT32 Set) {
  MmioWrite32(Address, (MmioRead32(Address) & ~Clear) | Set);
}

VOID SetIrqIndex8Bits(UINT8 Bits) {
  IoWrite8(IrqIndexPort, IrqIndexSharedBits);
  IoWrite8(IrqDataPort, static_cast<UINT8>(IoRead8(IrqDataPort) | Bits));
}

VOID ProgramInterruptRouting(const UINT8 *Block) {
  XCH_IRQ_ROUTE Routes[sizeof(XchInterruptRouting) / sizeof(XchInterruptRouting[0])];
  for (UINTN Index = 0; Index < sizeof(Routes) / sizeof(Routes[0]); ++Index) {
    Routes[Index] = XchInterruptRouting[Index];
    for (const XCH_IRQ_FROM_BLOCK &Source : XchInterruptRoutingFromBlock) {
      if (Routes[Index].Index == Source.Index) {
        Routes[Index].Value = Block[Source.BlockOffset];
      }
    }
  }
  for (const XCH_IRQ_ROUTE &Route : Routes) {
    IoWrite8(IrqIndexPort, Route.Index);
    IoWrite8(IrqDataPort, Route.Value);
    if (Route.Value == IrqValueBits45) {
      SetIrqIndex8Bits(0x30);
    } else if (Route.Value == IrqValueBits67) {
      SetIrqIndex8Bits(0xC0);
    }
  }
}

VOID SetBitsNamedByBytes() {
  UINT32 Bits = 0;
  for (UINTN Address : BitNamingBytes) {
    UINT8 Named = MmioRead8(Address);
    if (Named != 0) {
      Bits |= 1u << (Named & 31);
    }
  }
  MmioWrite32(Register20C, MmioRead32(Register20C) | Bits);

  MmioRead8(BitNamingByte265);  // read twice: the second value names the bit
  UINT8 Named = MmioRead8(BitNamingByte265);
  MmioWrite32(Register20C, MmioRead32(Register20C) | 1u << (Named & 31));
}

}  // namespace

VOID XchLateTestPointAF73(UINT8 *) { XchTestPoint(0xAF73); }

VOID XchLateHubProgramming(UINT8 *DataBlock) {
  XchTestPoint(0xAF70);
  ProgramRegister3A0(DataBlock);
  if (DataBlock[BlkOptionB2] == 1) {
    XchMmioModify(0xFED81000, XCH_WIDTH_8, 0xFF, 5);
  }
  HandleResetRequest(DataBlock);
  ModifyDword(0xFED802B0, 0x0000000C, 0);
  ModifyDword(0xFED802B0, 0, 0x00000004);
  ModifyByte(0xFED803BE, 0x20, 0);
  ModifyByte(0xFED8030B, 0x03, 0);
  ModifyByte(0xFED8030B, 0, 0x02);
  ProgramInterruptRouting(DataBlock);
  SetBitsNamedByBytes();
}

VOID XchLateSmnClears(UINT8 *) {
  XchTestPoint(0xAF78);
  for (UINT32 Register : SmnClearBits24To26) {
    XchSmnModify(Register, 0xF8FFFFFF, 0);
  }
  for (UINT32 Register : SmnClearBits5To15) {
    XchSmnModify(Register, 0xFFFF001F, 0);
  }
}
