// Members of EFI_SUPPLICANT_PROTOCOL and EFI_EAP_CONFIGURATION_PROTOCOL.
#pragma once
#include "SupInstance.h"

EFI_STATUS EFIAPI SupBuildResponsePacket(EFI_SUPPLICANT_PROTOCOL *This, UINT8 *RequestBuffer,
                                         UINTN RequestBufferSize, UINT8 *Buffer, UINTN *BufferSize);
EFI_STATUS EFIAPI SupProcessPacket(EFI_SUPPLICANT_PROTOCOL *This, EFI_SUPPLICANT_FRAGMENT_DATA **FragmentTable,
                                   UINT32 *FragmentCount, EFI_SUPPLICANT_CRYPT_MODE CryptMode);
EFI_STATUS EFIAPI SupSetData(EFI_SUPPLICANT_PROTOCOL *This, EFI_SUPPLICANT_DATA_TYPE DataType, VOID *Data,
                             UINTN DataSize);
EFI_STATUS EFIAPI SupGetData(EFI_SUPPLICANT_PROTOCOL *This, EFI_SUPPLICANT_DATA_TYPE DataType, UINT8 *Data,
                             UINTN *DataSize);

EFI_STATUS EFIAPI EapConfigSetData(EFI_EAP_CONFIGURATION_PROTOCOL *This, EFI_EAP_TYPE EapType,
                                   EFI_EAP_CONFIG_DATA_TYPE DataType, VOID *Data, UINTN DataSize);
EFI_STATUS EFIAPI EapConfigGetData(EFI_EAP_CONFIGURATION_PROTOCOL *This, EFI_EAP_TYPE EapType,
                                   EFI_EAP_CONFIG_DATA_TYPE DataType, VOID *Data, UINTN *DataSize);
