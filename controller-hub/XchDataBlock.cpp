#include "XchDataBlock.h"

#include <Library/BaseMemoryLib.h>

#include "XchBytes.h"
#include "XchHob.h"
#include "XchIdsHook.h"
#include "XchPcd.h"
#include "XchRegisterAccess.h"

namespace {
// Single bytes of the hand-off block: HOB offset -> block offset.
struct HOB_BYTE {
  UINT16 HobOffset;
  UINT16 BlockOffset;
};
constexpr HOB_BYTE HobBytes[] = {
    {0x20, 0x0C1}, {0x21, 0x0C2}, {0x22, 0x123}, {0x23, 0x124}, {0x25, 0x125},
    {0x2C, 0x122}, {0x27, 0x126}, {0x28, 0x127}, {0x29, 0x346},
};

constexpr UINTN PcdFixedCpuFlagToken = 585;
constexpr UINTN PcdDeviceEnable = 83;
constexpr UINTN PcdDeviceDisable = 82;
constexpr UINTN PcdUartOptions = 769;
constexpr UINTN PcdForceUart = 577;
constexpr UINTN PcdForcedUart = 578;
constexpr UINTN PcdSerialBytes = 929;

struct PCD_U32_FIELD {
  UINT16 Token;
  UINT16 Offset;
};
constexpr PCD_U32_FIELD TailFields[] = {{292, 0x0F3}, {242, 0x11A}, {290, 0x163}, {331, 0x0D0}};

constexpr UINT32 Fixed1B = 0x0F050E03;
constexpr UINT32 Fixed1F = 0x040B0A10;
constexpr UINT16 Fixed23 = 0x1606;
constexpr UINT32 Fixed3D = 0xFEB00000;
constexpr UINT32 Fixed273 = 0xFED00000;
constexpr UINT8 LatePortValue = 0xBB;

constinit XCH_BYTE_TABLE mPlatformMmioTable = {nullptr, 0};

// The hand-off block's bytes, each only where the HOB really has it.
VOID CopyHob(UINT8 *Block, const EFI_HOB_GUID_TYPE *Hob) {
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Hob);
  UINTN HobLength = Hob->Header.HobLength;
  if (HobLength > XCH_HOB_COPY_SOURCE) {
    UINTN Available = HobLength - XCH_HOB_COPY_SOURCE;
    CopyMem(Block + XCH_BLK_HOB_COPY, Bytes + XCH_HOB_COPY_SOURCE,
            Available < XCH_HOB_COPY_LENGTH ? Available : XCH_HOB_COPY_LENGTH);
  }
  for (const HOB_BYTE &Byte : HobBytes) {
    if (Byte.HobOffset < HobLength) {
      Block[Byte.BlockOffset] = Bytes[Byte.HobOffset];
    }
  }
}

VOID ReadPcdField(UINT8 *Block, const XCH_PCD_FIELD &Field) {
  switch (Field.Kind) {
    case XchPcdKind::Bool:
      Block[Field.Offset] = XchPcdGetBool(Field.Token) ? 1 : 0;
      break;
    case XchPcdKind::U8:
      Block[Field.Offset] = XchPcdGet8(Field.Token);
      break;
    case XchPcdKind::U8ToU32:
      XchWriteField<UINT32>(Block, Field.Offset, XchPcdGet8(Field.Token));
      break;
    case XchPcdKind::U32:
      XchWriteField<UINT32>(Block, Field.Offset, XchPcdGet32(Field.Token));
      break;
    case XchPcdKind::Ptr:
      XchWriteField<UINT64>(Block, Field.Offset, reinterpret_cast<UINTN>(XchPcdGetPtr(Field.Token)));
      break;
  }
}

// The Env programming walks this table; only the PCD knows where it ends.
VOID RememberPlatformMmioTable(const UINT8 *Block, const XCH_PCD_FIELD &Field) {
  if (Field.Offset == XCH_BLK_PLATFORM_MMIO) {
    mPlatformMmioTable = {reinterpret_cast<const UINT8 *>(
                              static_cast<UINTN>(XchReadField<UINT64>(Block, XCH_BLK_PLATFORM_MMIO))),
                          XchPcdGetSize(Field.Token)};
  }
}

VOID ReadPcdFields(UINT8 *Block) {
  for (const XCH_PCD_FIELD &Field : XchDataBlockPcdFields) {
    ReadPcdField(Block, Field);
    RememberPlatformMmioTable(Block, Field);
    if (Field.Token == 609 && XchPcdGet8(PcdFixedCpuFlagToken) != 0) {
      XchWriteField<UINT32>(Block, 0x51, 1);
    }
    if (Field.Token == 113) {
      Block[XCH_BLK_LATE_PORT_VALUE] = LatePortValue;
    }
  }
}

VOID ReadOptionGroups(UINT8 *Block) {
  for (const XCH_OPTION_GROUP &Group : XchOptionGroups) {
    BOOLEAN Enabled = XchPcdGetBool(Group.FlagToken);
    Block[Group.GroupOffset] = Enabled ? 1 : 0;
    if (Enabled) {
      XchPcdCopyPtr(Group.FlagToken + 2u, Block + Group.GroupOffset, XCH_OPTION_GROUP_BYTES);
    }
    Block[Group.GroupOffset] = XchPcdGetBool(Group.FlagToken) ? 1 : 0;
    UINT64 Value = XchPcdGet64(Group.FlagToken + 1u);
    XchWriteField<UINT32>(Block, Group.LowOffset, static_cast<UINT32>(Value));
    XchWriteField<UINT32>(Block, Group.HighOffset, static_cast<UINT32>(Value >> 32));
  }
  XchWriteField<UINT32>(Block, XCH_BLK_DEVICE_ENABLE, XchPcdGet32(PcdDeviceEnable));
  XchWriteField<UINT32>(Block, XCH_BLK_DEVICE_DISABLE, XchPcdGet32(PcdDeviceDisable));
}

}  // namespace

VOID XchApplyDeviceFixups(UINT8 *Block) {
  UINT16 Present = XchReadField<UINT16>(Block, XCH_BLK_DEVICE_PRESENT);
  UINT32 Enable = XchReadField<UINT32>(Block, XCH_BLK_DEVICE_ENABLE);
  UINT32 Disable = XchReadField<UINT32>(Block, XCH_BLK_DEVICE_DISABLE);
  for (const XCH_DEVICE_FIXUP &Fixup : XchDeviceFixups) {
    if ((Present & Fixup.Present) != 0) {
      Enable |= Fixup.Flag;
      Disable &= ~Fixup.Flag;
    }
  }
  XchWriteField<UINT32>(Block, XCH_BLK_DEVICE_ENABLE, Enable);
  XchWriteField<UINT32>(Block, XCH_BLK_DEVICE_DISABLE, Disable);
}

namespace {

VOID BuildLegacyRouting(UINT8 *Block) {
  UINT32 Enable = XchReadField<UINT32>(Block, XCH_BLK_DEVICE_ENABLE);
  UINT8 Ranges[4] = {};
  for (UINTN Index = 0; Index < 4; ++Index) {
    if ((Enable & XchLegacyUarts[Index].Flag) != 0) {
      Ranges[Index] = XchPcdGet8(XchLegacyUarts[Index].RangeToken);
    }
  }
  UINT16 Word = XchLegacyRoutingWord(Ranges);
  if (XchPcdGetBool(PcdForceUart)) {
    UINT8 Forced = XchPcdGet8(PcdForcedUart);
    if (Forced < 4) {
      XchWriteField<UINT32>(Block, XCH_BLK_DEVICE_ENABLE, Enable | XchLegacyUarts[Forced].Flag);
      XchWriteField<UINT16>(Block, XCH_BLK_LEGACY_FORCE,
                            static_cast<UINT16>(XchReadField<UINT16>(Block, XCH_BLK_LEGACY_FORCE) |
                                                XchLegacyUarts[Forced].ForceBit));
    }
  }
  XchWriteField<UINT16>(Block, XCH_BLK_LEGACY_ROUTING, Word);
}

VOID StoreTail(UINT8 *Block) {
  for (const PCD_U32_FIELD &Field : TailFields) {
    XchWriteField<UINT32>(Block, Field.Offset, XchPcdGet32(Field.Token));
  }
  XchWriteField<UINT32>(Block, XCH_BLK_FIXED_ROUTING, Fixed1B);
  XchWriteField<UINT32>(Block, XCH_BLK_FIXED_ROUTING + 4, Fixed1F);
  XchWriteField<UINT16>(Block, XCH_BLK_FIXED_ROUTING + 8, Fixed23);
  XchWriteField<UINT32>(Block, XCH_BLK_FIXED_3D, Fixed3D);
  XchWriteField<UINT32>(Block, XCH_BLK_FIXED_273, Fixed273);
  // The two u32 halves of the 8 bytes PCD 929 points to (as far as it has them).
  XchPcdCopyPtr(PcdSerialBytes, Block + XCH_BLK_SERIAL_BYTES, 8);
}
}  // namespace

UINT16 XchLegacyRoutingWord(const UINT8 Ranges[4]) {
  UINT64 Word = 0;
  for (UINT64 Index = 0; Index < 4; ++Index) {
    UINT64 Range = Ranges[Index];
    if (Range == 0) {
      continue;
    }
    // Shifts past the 64-bit word contribute nothing (the word keeps 16 bits).
    UINT64 RangeBit = Range - 1 < 64 ? 1ULL << (Range - 1) : 0;
    UINT64 IndexBits = 2 * Range + 6 < 64 ? Index << (2 * Range + 6) : 0;
    Word |= RangeBit + IndexBits;
  }
  return static_cast<UINT16>(Word);
}

VOID XchBuildDataBlock(UINT8 *Block) {
  mPlatformMmioTable = {nullptr, 0};
  CopyMem(Block, XchDataBlockTemplate.Bytes, XCH_DATA_BLOCK_SIZE);
  const EFI_HOB_GUID_TYPE *Hob = XchFindFirstGuidHob(&gXchDataHobGuid);
  if (Hob == nullptr) {
    return;
  }
  CopyHob(Block, Hob);
  XchIdsHookDispatch(XCH_IDS_HOOK_INIT_ENV, Block);
  ReadPcdFields(Block);
  ReadOptionGroups(Block);
  XchApplyDeviceFixups(Block);
  Block[XCH_BLK_UART_OPTIONS] = XchPcdGet8(PcdUartOptions);
  XchWriteField<UINT32>(Block, XCH_BLK_PCIE_BASE, static_cast<UINT32>(XCH_PCIE_BASE));
  BuildLegacyRouting(Block);
  StoreTail(Block);
}

XCH_BYTE_TABLE XchPlatformMmioTable() { return mPlatformMmioTable; }

VOID XchDataBlockResetState() { mPlatformMmioTable = {nullptr, 0}; }
