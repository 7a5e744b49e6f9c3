// CmnHookFuncXchKryDxeInitEnv, the built-in IDS hook of the Env data-block
// build: setup options from the IDS NV table update the serial-device PCDs
// (device flags 83, UART options 769, serial bytes 929), which the builder
// then reads into the data block.
#pragma once
#include <uefi/Base.h>

constexpr UINTN XCH_PCD_DEVICE_ENABLE = 83;
constexpr UINTN XCH_PCD_UART_OPTIONS  = 769;
constexpr UINTN XCH_PCD_SERIAL_BYTES  = 929;

// NV value that leaves an option as it is.
constexpr UINT64 XCH_IDS_NV_KEEP = 15;

// (hook ID, 0, data block) -> 0.
UINTN CmnHookFuncXchKryDxeInitEnv(UINT32 HookId, UINTN Reserved, VOID *DataBlock);
