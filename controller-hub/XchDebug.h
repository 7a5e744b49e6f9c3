// Progress and failure reporting shared by every part of the driver: test
// points (16-bit phase codes to port 0x80 and optionally an SMN register),
// the assertion stop, and debug print through the platform's debug-print
// protocol.
#pragma once
#include <uefi/Base.h>

// Level masks of the debug print.
constexpr UINT64 XCH_DBG_ERROR      = 0x80000000ULL;
constexpr UINT64 XCH_DBG_TRACE      = 0x10000000000ULL;     // controller-hub progress
constexpr UINT64 XCH_DBG_TEST_POINT = 0x4000000000000ULL;   // test points, S3 table
constexpr UINT64 XCH_DBG_IDS_HOOK   = 0x20000000000000ULL;
constexpr UINT64 XCH_DBG_MMIO       = 0x400ULL;             // MMIO allocation, IDS NV table
constexpr UINT64 XCH_DBG_SMU        = 0x100000ULL;
constexpr UINT64 XCH_DBG_SMU_ARGS   = 0x2000000ULL;

constexpr UINT32 XCH_TEST_POINT_TAG = 0xB0000000;

// Reports phase code Code as Code | 0xB0000000 on the channels the
// configuration byte buffer enables.
VOID XchTestPoint(UINT16 Code);

// Stops for a debugger when the configuration byte buffer enables it: shows
// 0xDEAD and Code on the POST ports, asks through CPUID whether to go on, and
// otherwise cycles the code on port 0x80 for ever. Returns at once when
// disabled.
VOID XchAssertStop(UINT32 Code);

// Prints through the debug-print protocol (located on first use). Returns
// the locate status when the protocol is absent.
EFI_STATUS EFIAPI XchDebugPrint(UINT64 Level, const CHAR8 *Format, ...);

VOID XchDebugResetState();
