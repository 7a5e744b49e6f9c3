// The heap buffer protocol: lets every module that uses the heap buffer
// library share one list of tagged buffers. The interface is a revision word
// followed by the circular list head the nodes hang from.
//
// The GUID is ours (no published definition exists for this interface):
// AF013BCF-C93D-4D4C-A8DF-4C65B08B456C.
#pragma once
#include <uefi/Base.h>

typedef struct {
  UINT64     Revision;  // 1
  LIST_ENTRY ListHead;
} QUOR_HEAP_BUFFER_PROTOCOL;
static_assert(offsetof(QUOR_HEAP_BUFFER_PROTOCOL, ListHead) == 8);

constexpr UINT64 QUOR_HEAP_BUFFER_PROTOCOL_REVISION = 1;

inline constinit EFI_GUID gQuorHeapBufferProtocolGuid = {0xAF013BCF, 0xC93D, 0x4D4C, {0xA8, 0xDF, 0x4C, 0x65, 0xB0, 0x8B, 0x45, 0x6C}};
