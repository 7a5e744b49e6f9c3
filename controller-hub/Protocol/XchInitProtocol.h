// The controller-hub init protocol: publishes the data block (layout in
// XchDataBlock.h) and the mapping service to every consumer. It sits inside
// the driver's private record, one 64-bit word after the signature. The
// init-done protocol (NULL interface) says that the Env phase has finished.
#pragma once
#include <uefi/Base.h>

// Arguments 1 and 2 are not read; A and B are the two mapping words.
typedef EFI_STATUS(EFIAPI *XCH_MAPPING_SERVICE)(IN UINTN Reserved1, IN UINTN Reserved2, IN UINT32 A, IN UINT32 B);

typedef struct {
  UINT64              Revision;     // 1
  UINT64              HubRevision;  // 0x803
  UINT8              *DataBlock;
  UINT64              Reserved4;
  UINT64              Reserved5;
  UINT64              Reserved6;
  XCH_MAPPING_SERVICE MappingService;
  UINT64              Reserved8;
  EFI_EVENT           LateEvent;  // the ready-to-boot event of XchInitLate
} XCH_INIT_PROTOCOL;
static_assert(sizeof(XCH_INIT_PROTOCOL) == 9 * 8);
static_assert(offsetof(XCH_INIT_PROTOCOL, MappingService) == 6 * 8);

constexpr UINT64 XCH_INIT_PROTOCOL_REVISION = 1;
constexpr UINT64 XCH_HUB_REVISION           = 0x803;

inline constinit EFI_GUID gXchInitProtocolGuid = {0xDB4A79AC, 0x5BBB, 0x4625, {0xA6, 0x9E, 0xFE, 0xBF, 0x9D, 0x6D, 0x95, 0xEB}};
inline constinit EFI_GUID gXchInitDoneProtocolGuid = {0xC63C0C73, 0xF612, 0x4C02, {0x84, 0xA3, 0xC6, 0x40, 0xAD, 0x0B, 0xA6, 0x22}};
