// Trace memory programming: after the Env task table, reserves a 1 MB
// non-PCI MMIO window for the hub's trace memory and points register
// 0xFED803FC at it (PCD 807), or clears a previous setting.
#pragma once
#include <uefi/Base.h>

constexpr UINTN XCH_PCD_TRACE_MEMORY_ENABLE = 807;
constexpr UINTN XCH_PCD_TRACE_MEMORY_BASE   = 806;

// Bits 20-31 base, bit 0 enable; bits 1-19 are kept by every write.
constexpr UINTN  XCH_TRACE_MEMORY_REGISTER = 0xFED803FC;
constexpr UINT64 XCH_TRACE_MEMORY_SIZE     = 0x100000;
constexpr UINT8  XCH_TRACE_MEMORY_ATTRIBUTE = 0x83;  // non-PCI below 4G, read and write enabled

// 0, or the allocation's error (the entry goes on either way).
EFI_STATUS XchProgramTraceMemory();
