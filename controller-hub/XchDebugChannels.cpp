#include "XchDebugChannels.h"

namespace {
BOOLEAN SerialUartSupported() { return FALSE; }
VOID SerialUartInitialize() {}
BOOLEAN PostCodeStringSupported() { return FALSE; }
VOID PostCodeStringInitialize() {}
}  // namespace

constexpr XCH_DEBUG_CHANNEL XchDebugChannels[2] = {
    {"serial UART", SerialUartSupported, SerialUartInitialize},
    {"port 0x80 string", PostCodeStringSupported, PostCodeStringInitialize},
};

EFI_STATUS XchDebugChannelsConstructor() {
  bool AnySupported = false;
  for (const XCH_DEBUG_CHANNEL &Channel : XchDebugChannels) {
    AnySupported = AnySupported || Channel.Supported();
  }
  if (AnySupported) {
    for (const XCH_DEBUG_CHANNEL &Channel : XchDebugChannels) {
      if (Channel.Supported()) {
        Channel.Initialize();
      }
    }
  }
  return EFI_SUCCESS;
}
