// Trace memory programming: after the Env task table, reserves a 1 MB
// non-PCI MMIO window for the hub's trace memory and points register
// 0xFED803FC at it (PCD 807), or clears a previous setting.
#pragma once
#include <uefi/Base.h>

constexpr UINTN XCH_PCD_TRACE_MEMORY_ENABLE = 807;
constexpr UINTN XCH_PCD_TRACE_MEMORY_BASE   = 806;

// (The programming arrives with the MMIO allocator; until then it does
// nothing.)
UINTN XchProgramTraceMemory();
