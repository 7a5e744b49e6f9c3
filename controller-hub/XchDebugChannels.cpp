#include "XchDebugChannels.h"

#include <Platform/Hardware.h>

#include "XchAoacUart.h"

namespace {
constexpr UINT16 PostCodePort = 0x80;
constexpr UINT32 PostCodeStringStart = 0x5F535452;
constexpr UINT32 PostCodeStringEnd = 0x5F454E44;

BOOLEAN SerialUartSupported() { return FALSE; }
VOID SerialUartInitialize() {}
BOOLEAN PostCodeStringSupported() { return FALSE; }
VOID PostCodeStringInitialize() {}
}  // namespace

constexpr XCH_DEBUG_CHANNEL XchDebugChannels[2] = {
    {"serial UART", SerialUartSupported, SerialUartInitialize, XchUartWriteBytes},
    {"port 0x80 string", PostCodeStringSupported, PostCodeStringInitialize, XchPostCodeStringWrite},
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

VOID XchPostCodeStringWrite(const UINT8 *Buffer, UINTN Length) {
  IoWrite32(PostCodePort, PostCodeStringStart);
  for (UINTN Index = 0; Index < Length; ++Index) {
    IoWrite8(PostCodePort, Buffer[Index]);
  }
  IoWrite32(PostCodePort, PostCodeStringEnd);
}
