// The two DXE interfaces to the platform configuration database:
// PCD_PROTOCOL (gPcdProtocolGuid), which addresses tokens of the default
// token space by number and other spaces with the ...Ex members, and the
// Platform Initialization EFI_PCD_PROTOCOL (gEfiPcdProtocolGuid), which
// always names the token space.
#pragma once
#include <uefi/Base.h>

// ---------------------------------------------------------------------------
// PCD_PROTOCOL
// ---------------------------------------------------------------------------
typedef VOID(EFIAPI *PCD_PROTOCOL_CALLBACK)(IN const EFI_GUID *CallBackGuid OPTIONAL, IN UINTN CallBackToken,
                                            IN OUT VOID *TokenData, IN UINTN TokenDataSize);

typedef VOID(EFIAPI *PCD_PROTOCOL_SET_SKU)(IN UINTN SkuId);
typedef UINT8(EFIAPI *PCD_PROTOCOL_GET8)(IN UINTN TokenNumber);
typedef UINT16(EFIAPI *PCD_PROTOCOL_GET16)(IN UINTN TokenNumber);
typedef UINT32(EFIAPI *PCD_PROTOCOL_GET32)(IN UINTN TokenNumber);
typedef UINT64(EFIAPI *PCD_PROTOCOL_GET64)(IN UINTN TokenNumber);
typedef VOID *(EFIAPI *PCD_PROTOCOL_GET_POINTER)(IN UINTN TokenNumber);
typedef BOOLEAN(EFIAPI *PCD_PROTOCOL_GET_BOOLEAN)(IN UINTN TokenNumber);
typedef UINTN(EFIAPI *PCD_PROTOCOL_GET_SIZE)(IN UINTN TokenNumber);
typedef UINT8(EFIAPI *PCD_PROTOCOL_GET_EX_8)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef UINT16(EFIAPI *PCD_PROTOCOL_GET_EX_16)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef UINT32(EFIAPI *PCD_PROTOCOL_GET_EX_32)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef UINT64(EFIAPI *PCD_PROTOCOL_GET_EX_64)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef VOID *(EFIAPI *PCD_PROTOCOL_GET_EX_POINTER)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef BOOLEAN(EFIAPI *PCD_PROTOCOL_GET_EX_BOOLEAN)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef UINTN(EFIAPI *PCD_PROTOCOL_GET_EX_SIZE)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET8)(IN UINTN TokenNumber, IN UINT8 Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET16)(IN UINTN TokenNumber, IN UINT16 Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET32)(IN UINTN TokenNumber, IN UINT32 Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET64)(IN UINTN TokenNumber, IN UINT64 Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET_POINTER)(IN UINTN TokenNumber, IN OUT UINTN *SizeOfBuffer,
                                                     IN VOID *Buffer);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET_BOOLEAN)(IN UINTN TokenNumber, IN BOOLEAN Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET_EX_8)(IN const EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT8 Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET_EX_16)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                   IN UINT16 Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET_EX_32)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                   IN UINT32 Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET_EX_64)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                   IN UINT64 Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET_EX_POINTER)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                        IN OUT UINTN *SizeOfBuffer, IN VOID *Buffer);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_SET_EX_BOOLEAN)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                        IN BOOLEAN Value);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_CALLBACK_ONSET)(IN const EFI_GUID *Guid OPTIONAL, IN UINTN TokenNumber,
                                                        IN PCD_PROTOCOL_CALLBACK CallBackFunction);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_CANCEL_CALLBACK)(IN const EFI_GUID *Guid OPTIONAL, IN UINTN TokenNumber,
                                                         IN PCD_PROTOCOL_CALLBACK CallBackFunction);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_GET_NEXT_TOKEN)(IN const EFI_GUID *Guid OPTIONAL,
                                                        IN OUT UINTN *TokenNumber);
typedef EFI_STATUS(EFIAPI *PCD_PROTOCOL_GET_NEXT_TOKENSPACE)(IN OUT const EFI_GUID **Guid);

typedef struct {
  PCD_PROTOCOL_SET_SKU             SetSku;
  PCD_PROTOCOL_GET8                Get8;
  PCD_PROTOCOL_GET16               Get16;
  PCD_PROTOCOL_GET32               Get32;
  PCD_PROTOCOL_GET64               Get64;
  PCD_PROTOCOL_GET_POINTER         GetPtr;
  PCD_PROTOCOL_GET_BOOLEAN         GetBool;
  PCD_PROTOCOL_GET_SIZE            GetSize;
  PCD_PROTOCOL_GET_EX_8            Get8Ex;
  PCD_PROTOCOL_GET_EX_16           Get16Ex;
  PCD_PROTOCOL_GET_EX_32           Get32Ex;
  PCD_PROTOCOL_GET_EX_64           Get64Ex;
  PCD_PROTOCOL_GET_EX_POINTER      GetPtrEx;
  PCD_PROTOCOL_GET_EX_BOOLEAN      GetBoolEx;
  PCD_PROTOCOL_GET_EX_SIZE         GetSizeEx;
  PCD_PROTOCOL_SET8                Set8;
  PCD_PROTOCOL_SET16               Set16;
  PCD_PROTOCOL_SET32               Set32;
  PCD_PROTOCOL_SET64               Set64;
  PCD_PROTOCOL_SET_POINTER         SetPtr;
  PCD_PROTOCOL_SET_BOOLEAN         SetBool;
  PCD_PROTOCOL_SET_EX_8            Set8Ex;
  PCD_PROTOCOL_SET_EX_16           Set16Ex;
  PCD_PROTOCOL_SET_EX_32           Set32Ex;
  PCD_PROTOCOL_SET_EX_64           Set64Ex;
  PCD_PROTOCOL_SET_EX_POINTER      SetPtrEx;
  PCD_PROTOCOL_SET_EX_BOOLEAN      SetBoolEx;
  PCD_PROTOCOL_CALLBACK_ONSET      CallbackOnSet;
  PCD_PROTOCOL_CANCEL_CALLBACK     CancelCallback;
  PCD_PROTOCOL_GET_NEXT_TOKEN      GetNextToken;
  PCD_PROTOCOL_GET_NEXT_TOKENSPACE GetNextTokenSpace;
} PCD_PROTOCOL;
static_assert(offsetof(PCD_PROTOCOL, Set8) == 15 * 8);
static_assert(sizeof(PCD_PROTOCOL) == 31 * 8);

inline constinit EFI_GUID gPcdProtocolGuid = {0x11B34006, 0xD85B, 0x4D0A, {0xA2, 0x90, 0xD5, 0xA5, 0x71, 0x31, 0x0E, 0xF7}};

// ---------------------------------------------------------------------------
// EFI_PCD_PROTOCOL
// ---------------------------------------------------------------------------
typedef VOID(EFIAPI *EFI_PCD_PROTOCOL_CALLBACK)(IN EFI_GUID *Guid OPTIONAL, IN UINTN CallBackToken,
                                                IN OUT VOID *TokenData, IN UINTN TokenDataSize);

typedef VOID(EFIAPI *EFI_PCD_PROTOCOL_SET_SKU)(IN UINTN SkuId);
typedef UINT8(EFIAPI *EFI_PCD_PROTOCOL_GET_8)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef UINT16(EFIAPI *EFI_PCD_PROTOCOL_GET_16)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef UINT32(EFIAPI *EFI_PCD_PROTOCOL_GET_32)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef UINT64(EFIAPI *EFI_PCD_PROTOCOL_GET_64)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef VOID *(EFIAPI *EFI_PCD_PROTOCOL_GET_POINTER)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef BOOLEAN(EFIAPI *EFI_PCD_PROTOCOL_GET_BOOLEAN)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef UINTN(EFIAPI *EFI_PCD_PROTOCOL_GET_SIZE)(IN const EFI_GUID *Guid, IN UINTN TokenNumber);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_SET_8)(IN const EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT8 Value);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_SET_16)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                    IN UINT16 Value);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_SET_32)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                    IN UINT32 Value);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_SET_64)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                    IN UINT64 Value);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_SET_POINTER)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                         IN OUT UINTN *SizeOfValue, IN VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_SET_BOOLEAN)(IN const EFI_GUID *Guid, IN UINTN TokenNumber,
                                                         IN BOOLEAN Value);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_CALLBACK_ON_SET)(IN const EFI_GUID *Guid OPTIONAL,
                                                             IN UINTN CallBackToken,
                                                             IN EFI_PCD_PROTOCOL_CALLBACK CallBackFunction);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_CANCEL_CALLBACK)(IN const EFI_GUID *Guid OPTIONAL,
                                                             IN UINTN CallBackToken,
                                                             IN EFI_PCD_PROTOCOL_CALLBACK CallBackFunction);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_GET_NEXT_TOKEN)(IN const EFI_GUID *Guid OPTIONAL,
                                                            IN OUT UINTN *TokenNumber);
typedef EFI_STATUS(EFIAPI *EFI_PCD_PROTOCOL_GET_NEXT_TOKEN_SPACE)(IN OUT const EFI_GUID **Guid);

typedef struct {
  EFI_PCD_PROTOCOL_SET_SKU              SetSku;
  EFI_PCD_PROTOCOL_GET_8                Get8;
  EFI_PCD_PROTOCOL_GET_16               Get16;
  EFI_PCD_PROTOCOL_GET_32               Get32;
  EFI_PCD_PROTOCOL_GET_64               Get64;
  EFI_PCD_PROTOCOL_GET_POINTER          GetPtr;
  EFI_PCD_PROTOCOL_GET_BOOLEAN          GetBool;
  EFI_PCD_PROTOCOL_GET_SIZE             GetSize;
  EFI_PCD_PROTOCOL_SET_8                Set8;
  EFI_PCD_PROTOCOL_SET_16               Set16;
  EFI_PCD_PROTOCOL_SET_32               Set32;
  EFI_PCD_PROTOCOL_SET_64               Set64;
  EFI_PCD_PROTOCOL_SET_POINTER          SetPtr;
  EFI_PCD_PROTOCOL_SET_BOOLEAN          SetBool;
  EFI_PCD_PROTOCOL_CALLBACK_ON_SET      CallbackOnSet;
  EFI_PCD_PROTOCOL_CANCEL_CALLBACK      CancelCallback;
  EFI_PCD_PROTOCOL_GET_NEXT_TOKEN       GetNextToken;
  EFI_PCD_PROTOCOL_GET_NEXT_TOKEN_SPACE GetNextTokenSpace;
} EFI_PCD_PROTOCOL;
static_assert(offsetof(EFI_PCD_PROTOCOL, Get64) == 4 * 8);
static_assert(sizeof(EFI_PCD_PROTOCOL) == 18 * 8);

inline constinit EFI_GUID gEfiPcdProtocolGuid = {0x13A3F0F6, 0x264A, 0x3EF0, {0xF2, 0xE0, 0xDE, 0xC5, 0x12, 0x34, 0x2F, 0x34}};
