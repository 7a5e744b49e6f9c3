// EFI_SMM_COMMUNICATION_PROTOCOL of the Platform Initialization
// specification: hands a buffer to the SMM handler named by its header GUID.
#pragma once
#include <uefi/Base.h>

// Communication buffer header; the message follows at offset 24.
typedef struct {
  EFI_GUID HeaderGuid;
  UINTN    MessageLength;
  UINT8    Data[1];
} EFI_SMM_COMMUNICATE_HEADER;
static_assert(offsetof(EFI_SMM_COMMUNICATE_HEADER, Data) == 24);

typedef struct _EFI_SMM_COMMUNICATION_PROTOCOL EFI_SMM_COMMUNICATION_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_SMM_COMMUNICATE2)(IN const EFI_SMM_COMMUNICATION_PROTOCOL *This,
                                                 IN OUT VOID *CommBuffer, IN OUT UINTN *CommSize OPTIONAL);

struct _EFI_SMM_COMMUNICATION_PROTOCOL {
  EFI_SMM_COMMUNICATE2 Communicate;
};

inline constinit EFI_GUID gEfiSmmCommunicationProtocolGuid = {0xC68ED8E2, 0x9DC6, 0x4CBD, {0x9D, 0x94, 0xDB, 0x65, 0xAC, 0xC5, 0xC3, 0x32}};
