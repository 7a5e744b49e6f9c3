// Debug output channels: a serial UART channel and a port 0x80 string
// channel, each with a support query, an init routine and its byte output.
// In this build both answer that they are not supported, so neither is
// initialised.
#pragma once
#include <uefi/Base.h>

struct XCH_DEBUG_CHANNEL {
  const CHAR8 *Name;
  BOOLEAN (*Supported)();
  VOID (*Initialize)();
  VOID (*Write)(const UINT8 *Buffer, UINTN Length);
};

extern const XCH_DEBUG_CHANNEL XchDebugChannels[2];

// Constructor 8: initialise every channel that says it is supported.
EFI_STATUS XchDebugChannelsConstructor();

// The port 0x80 string channel's output: the u32 start marker 0x5F535452
// ("_STR" read as a number), each byte, the u32 end marker 0x5F454E44
// ("_END"), all to port 0x80.
VOID XchPostCodeStringWrite(const UINT8 *Buffer, UINTN Length);
