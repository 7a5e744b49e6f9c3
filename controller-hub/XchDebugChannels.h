// Debug output channels: a serial UART channel and a port 0x80 string
// channel, each with a support query and an init routine. In this build both
// answer that they are not supported, so neither is initialised.
#pragma once
#include <uefi/Base.h>

struct XCH_DEBUG_CHANNEL {
  const CHAR8 *Name;
  BOOLEAN (*Supported)();
  VOID (*Initialize)();
};

extern const XCH_DEBUG_CHANNEL XchDebugChannels[2];

// Constructor 8: initialise every channel that says it is supported.
EFI_STATUS XchDebugChannelsConstructor();
