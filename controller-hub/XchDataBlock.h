// The controller-hub data block: 1802 bytes whose layout is shared with
// every consumer of the init protocol. It starts as the built-in template and
// the Env-phase builder overrides fields from the controller-hub hand-off
// block, the IDS hook and the PCDs.
#pragma once
#include <uefi/Base.h>

constexpr UINTN XCH_DATA_BLOCK_SIZE = 1802;

// Fields this driver's own tasks and builder use.
constexpr UINTN XCH_BLK_PCIE_BASE        = 0x00;  // u32
constexpr UINTN XCH_BLK_DEVICE_ENABLE    = 0x04;  // u32 device-enable flags (PCD 83)
constexpr UINTN XCH_BLK_DEVICE_DISABLE   = 0x08;  // u32 (PCD 82)
constexpr UINTN XCH_BLK_LEGACY_FORCE     = 0x0C;  // u16, UARTs forced by PCD 577/578
constexpr UINTN XCH_BLK_LEGACY_ROUTING   = 0x18;  // u16 legacy UART routing word
constexpr UINTN XCH_BLK_UART_OPTIONS     = 0x1A;  // u8 (PCD 769)
constexpr UINTN XCH_BLK_FIXED_ROUTING    = 0x1B;  // 10 bytes
constexpr UINTN XCH_BLK_SERIAL_BYTES     = 0x25;  // 8 bytes (PCD 929)
constexpr UINTN XCH_BLK_DEVICE_PRESENT   = 0x2D;  // u16, template only
constexpr UINTN XCH_BLK_PLATFORM_MMIO    = 0x57;  // u64 address of an ACPI MMIO byte table (PCD 259), 0 = none
constexpr UINTN XCH_BLK_FIXED_3D         = 0x3D;  // u32, 0xFEB00000 once built
constexpr UINTN XCH_BLK_FIXED_273        = 0x273; // u32, 0xFED00000 once built
constexpr UINTN XCH_BLK_LATE_PORT_VALUE  = 0x368; // u8
constexpr UINTN XCH_BLK_HOB_COPY         = 0x45C; // 662 bytes of the hand-off block

constexpr UINTN XCH_HOB_COPY_SOURCE = 0x1C;  // offset in the HOB (data offset 4)
constexpr UINTN XCH_HOB_COPY_LENGTH = 662;

inline constinit EFI_GUID gXchDataHobGuid = {0x26AB8E31, 0x6C47, 0x480A, {0xA0, 0x39, 0x1E, 0x04, 0x3F, 0xA7, 0x93, 0xCD}};

// ---------------------------------------------------------------------------
// The template: all zero except these runs.
// ---------------------------------------------------------------------------
struct XCH_TEMPLATE_RUN {
  UINT16 Offset;
  UINT8  Length;
  UINT8  Bytes[18];
};

// clang-format off
inline constexpr XCH_TEMPLATE_RUN XchDataBlockTemplateRuns[] = {
  {0x003,  1, {0xF8}},
  {0x019,  1, {0xE4}},
  {0x01B, 10, {0x03, 0x04, 0x03, 0x04, 0x0F, 0x0A, 0x0B, 0x04, 0x06, 0x0E}},
  {0x038,  3, {0x0B, 0x20, 0x0B}},
  {0x03C,  2, {0x0E, 0xF0}},
  {0x03F,  2, {0xC0, 0xFE}},
  {0x042, 10, {0x04, 0x04, 0x04, 0x08, 0x04, 0x10, 0x04, 0x20, 0x04, 0xB0}},
  {0x04E,  4, {0xFE, 0x01, 0x01, 0x03}},
  {0x05F,  1, {0x01}},
  {0x064,  2, {0xD8, 0xFE}},
  {0x06A,  8, {0x01, 0x01, 0x03, 0x03, 0x03, 0x03, 0x01, 0x01}},
  {0x07A,  1, {0x01}},
  {0x07C,  2, {0x01, 0x01}},
  {0x07F,  2, {0x01, 0x01}},
  {0x085,  2, {0x03, 0x03}},
  {0x09D,  1, {0x04}},
  {0x0B8,  1, {0x28}},
  {0x0BA,  7, {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}},
  {0x0D9, 18, {0x21, 0x21, 0x21, 0x21, 0x22, 0x22, 0x22, 0x22, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21, 0x24, 0x24,
               0x21, 0x21}},
  {0x0EE,  1, {0x01}},
  {0x0F7,  1, {0x01}},
  {0x128,  2, {0x01, 0x01}},
  {0x149,  1, {0x0F}},
  {0x152,  3, {0x10, 0xD6, 0xFE}},
  {0x167,  1, {0x04}},
  {0x16D,  2, {0x01, 0x03}},
  {0x270,  3, {0x23, 0x01, 0x01}},
  {0x275,  2, {0xD0, 0xFE}},
  {0x342,  1, {0x01}},
  {0x349,  2, {0xE8, 0x03}},
  {0x34D,  2, {0xFF, 0x7F}},
  {0x363,  1, {0x01}},
  {0x368,  1, {0xD7}},
  {0x373,  1, {0x01}},
  {0x412,  4, {0x01, 0x01, 0x01, 0x01}},
  {0x434,  2, {0x01, 0x01}},
};
// clang-format on

struct XCH_DATA_BLOCK_IMAGE {
  UINT8 Bytes[XCH_DATA_BLOCK_SIZE];
};

constexpr XCH_DATA_BLOCK_IMAGE XchExpandTemplate() {
  XCH_DATA_BLOCK_IMAGE Image = {};
  for (const XCH_TEMPLATE_RUN &Run : XchDataBlockTemplateRuns) {
    for (UINT8 Index = 0; Index < Run.Length; ++Index) {
      Image.Bytes[Run.Offset + Index] = Run.Bytes[Index];
    }
  }
  return Image;
}

inline constexpr XCH_DATA_BLOCK_IMAGE XchDataBlockTemplate = XchExpandTemplate();

// ---------------------------------------------------------------------------
// PCD fields of the builder, read in table order.
// ---------------------------------------------------------------------------
enum class XchPcdKind : UINT8 {
  Bool,     // GetBool stored as a byte
  U8,       // Get8 byte
  U8ToU32,  // Get8 zero-extended to a u32
  U32,      // Get32 u32
  Ptr,      // GetPtr stored as a 64-bit pointer
};

struct XCH_PCD_FIELD {
  UINT16     Token;
  UINT16     Offset;
  XchPcdKind Kind;
};

// clang-format off
inline constexpr XCH_PCD_FIELD XchDataBlockPcdFields[] = {
  {771, 0x071, XchPcdKind::U8},   {770, 0x06A, XchPcdKind::U8},   {787, 0x06B, XchPcdKind::U8},
  {772, 0x07D, XchPcdKind::Bool}, {833, 0x07F, XchPcdKind::Bool}, {832, 0x080, XchPcdKind::Bool},
  {849, 0x081, XchPcdKind::Bool}, {851, 0x082, XchPcdKind::Bool}, {852, 0x083, XchPcdKind::U8},
  {850, 0x084, XchPcdKind::Bool}, {836, 0x087, XchPcdKind::Bool}, {837, 0x088, XchPcdKind::Bool},
  {937, 0x07B, XchPcdKind::Bool}, {821, 0x271, XchPcdKind::Bool}, {822, 0x272, XchPcdKind::Bool},
  {299, 0x050, XchPcdKind::Bool}, {256, 0x353, XchPcdKind::Bool}, {609, 0x051, XchPcdKind::U8ToU32},
  {842, 0x055, XchPcdKind::U8},   {829, 0x061, XchPcdKind::Bool}, {221, 0x067, XchPcdKind::Bool},
  {804, 0x068, XchPcdKind::Bool}, {906, 0x066, XchPcdKind::Bool}, {259, 0x057, XchPcdKind::Ptr},
  {291, 0x0B2, XchPcdKind::Bool}, {843, 0x278, XchPcdKind::U8},   {794, 0x279, XchPcdKind::U8},
  {828, 0x342, XchPcdKind::Bool}, {223, 0x35E, XchPcdKind::Bool}, {113, 0x35F, XchPcdKind::U32},
  {289, 0x15D, XchPcdKind::U8ToU32}, {213, 0x373, XchPcdKind::U8}, {800, 0x374, XchPcdKind::U8},
  {798, 0x375, XchPcdKind::Bool}, {796, 0x376, XchPcdKind::Bool}, {797, 0x377, XchPcdKind::Bool},
  {801, 0x378, XchPcdKind::Bool}, {795, 0x379, XchPcdKind::Bool}, {799, 0x37A, XchPcdKind::Bool},
  {848, 0x412, XchPcdKind::Bool}, {847, 0x413, XchPcdKind::Bool}, {853, 0x40B, XchPcdKind::Bool},
  {854, 0x40C, XchPcdKind::Bool}, {867, 0x40D, XchPcdKind::Bool},
};
// clang-format on
// Follow-ups inside the table walk: after token 609, PCD 585 (8-bit) non-zero
// sets the u32 at 0x51 to 1; after token 113 the byte at 0x368 becomes 0xBB.

// Option groups: flag token F (GetBool), 64-bit token F + 1, pointer token
// F + 2 (28 bytes copied over the group byte G), the 64-bit value's halves at L/H.
struct XCH_OPTION_GROUP {
  UINT16 FlagToken;
  UINT16 GroupOffset;
  UINT16 LowOffset;
  UINT16 HighOffset;
};
inline constexpr XCH_OPTION_GROUP XchOptionGroups[] = {
    {855, 0x37B, 0x3EB, 0x3EF},
    {858, 0x397, 0x3F3, 0x3F7},
    {861, 0x3B3, 0x3FB, 0x3FF},
    {864, 0x3CF, 0x403, 0x407},
};
constexpr UINTN XCH_OPTION_GROUP_BYTES = 28;

// Device-flag fix-ups from the u16 at 0x2D: any of Present's bits sets Flag
// in the enable flags (0x04) and clears it in the disable flags (0x08).
struct XCH_DEVICE_FIXUP {
  UINT16 Present;
  UINT32 Flag;
};
inline constexpr XCH_DEVICE_FIXUP XchDeviceFixups[] = {
    {0x101, 0x00000800},
    {0x202, 0x00001000},
    {0x404, 0x00010000},
    {0x808, 0x04000000},
    {0x010, 0x00100000},
};

// Legacy UART routing: the four UART flag bits and the PCD that gives each
// one's legacy range; with PCD 577 set, PCD 578 forces one of them.
struct XCH_LEGACY_UART {
  UINT32 Flag;
  UINT16 RangeToken;
  UINT16 ForceBit;  // ORed into the u16 at 0x0C when forced
};
inline constexpr XCH_LEGACY_UART XchLegacyUarts[] = {
    {0x00000800, 335, 1},
    {0x00001000, 336, 2},
    {0x00010000, 337, 4},
    {0x04000000, 338, 8},
};

// Builds the block at Block (XCH_DATA_BLOCK_SIZE bytes).
VOID XchBuildDataBlock(UINT8 *Block);

// A byte table a block field points to, with the size its PCD gave.
struct XCH_BYTE_TABLE {
  const UINT8 *Address;
  UINTN        Size;
};
// The ACPI MMIO byte table the last build took from PCD 259 for
// XCH_BLK_PLATFORM_MMIO (the shared layout has no room for its size);
// {NULL, 0} when the build did not read the PCD.
XCH_BYTE_TABLE XchPlatformMmioTable();

VOID XchDataBlockResetState();

// Builder step: the device-flag fix-ups from the u16 at 0x2D.
VOID XchApplyDeviceFixups(UINT8 *Block);

// The legacy routing word for the four range values (0 = none), truncated to
// 16 bits as the block stores it.
UINT16 XchLegacyRoutingWord(const UINT8 Ranges[4]);
