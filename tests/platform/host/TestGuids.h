// Protocol GUIDs and interfaces that exist only in these tests.
#pragma once
#include <uefi/Base.h>

inline EFI_GUID gTestProtocolAGuid = {0xA0A0A0A0, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};
inline EFI_GUID gTestProtocolBGuid = {0xB0B0B0B0, 0x0002, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x02}};
inline EFI_GUID gTestProtocolCGuid = {0xC0C0C0C0, 0x0003, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x03}};
inline EFI_GUID gTestGroupGuid     = {0xD0D0D0D0, 0x0004, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x04}};

// Distinct addresses to install as interfaces.
struct TestInterface {
  int Id;
};
