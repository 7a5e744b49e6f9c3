// Non-PCI MMIO allocation: hands out 1 MB-aligned MMIO space for devices that
// are not PCI functions (the trace-memory window) from the per-root-bridge
// regions the earlier boot phase left in the fabric MMIO manager buffer
// (heap buffer 0xA029), optionally claiming it in the GCD memory map. The
// data fabric registers it reads go through XchDfRead (XchRegisterAccess.h).
#pragma once
#include <uefi/Base.h>

constexpr UINT32 XCH_FABRIC_MMIO_HEAP_HANDLE = 0xA029;

// Layout of the fabric MMIO manager buffer, shared with the earlier boot
// phase.
constexpr UINTN XCH_FABRIC_SOCKETS          = 4;
constexpr UINTN XCH_FABRIC_ROOT_BRIDGES     = 20;  // per socket
constexpr UINTN XCH_FABRIC_RECORD_SIZE      = 88;  // eleven u64
constexpr UINTN XCH_FABRIC_ABOVE_4G_RECORDS = 0;
constexpr UINTN XCH_FABRIC_BELOW_4G_RECORDS = 7040;
constexpr UINTN XCH_FABRIC_ABOVE_4G_PRESENT = 14080;  // one byte per socket/root bridge
constexpr UINTN XCH_FABRIC_BELOW_4G_PRESENT = 14160;
constexpr UINTN XCH_FABRIC_SECOND_BELOW_4G  = 14240;  // u8: the primary root bridge has a second region
constexpr UINTN XCH_FABRIC_REPORT_TO_GCD    = 14241;  // u8
constexpr UINTN XCH_FABRIC_SECOND_LOCATION  = 14242;  // u8: socket << 4 | root bridge
constexpr UINTN XCH_FABRIC_GCD_IMAGE_HANDLE = 14243;  // u64, unaligned
constexpr UINTN XCH_FABRIC_BUFFER_SIZE      = 14251;

// Triples (base, size, used) of a region record, by byte offset.
constexpr UINTN XCH_FABRIC_NON_PCI          = 0;
constexpr UINTN XCH_FABRIC_NON_PREFETCHABLE = 24;
constexpr UINTN XCH_FABRIC_PREFETCHABLE     = 48;

// MmioType: bits 5-7 of the attribute byte.
constexpr UINT8 XCH_MMIO_NON_PCI_BELOW_4G = 4;
constexpr UINT8 XCH_MMIO_NON_PCI_ABOVE_4G = 5;
constexpr UINT8 XchMmioType(UINT8 Attribute) { return Attribute >> 5; }

constexpr UINT64 XCH_MMIO_ALIGNMENT = 0x100000;

// Target: bits 0-7 bus, 8-9 socket, 10-14 root bridge; bit 15 picks socket
// and root bridge directly instead of by bus.
constexpr UINT32 XCH_MMIO_TARGET_DIRECT = 0x8000;
constexpr UINT32 XchMmioTarget(UINT32 Socket, UINT32 RootBridge) {
  return XCH_MMIO_TARGET_DIRECT | (Socket << 8) | (RootBridge << 10);
}

// The fabric ID of every host bridge in this build.
constexpr UINT32 XCH_HOST_BRIDGE_FABRIC_ID = 0x13;

// Space a triple (base, size, used) can still give for a 1 MB-aligned
// allocation: free space less the padding up to the next boundary.
UINT64 XchMmioAvailable(UINT64 Base, UINT64 Size, UINT64 Used);

// Allocates *Length bytes of the MmioType that *Attribute names for Target.
// EFI_SUCCESS with *Base (and *Attribute read/write enabled); EFI_ABORTED for
// a missing or short manager buffer, a type other than non-PCI, an unmapped
// bus, a socket/root bridge out of range or a region marked absent;
// EFI_OUT_OF_RESOURCES with *Base 0 and *Length the largest space there is.
EFI_STATUS XchFabricAllocateMmio(UINT64 *Base, UINT64 *Length, UINT64 Unused, UINT32 Target, UINT8 *Attribute);
