// EFI_EAP_CONFIGURATION_PROTOCOL: EAP settings are kept by reference (the
// caller's buffers, not copies) with their sizes; EAP-TLS, the one method
// reported as supported, reads them when an exchange starts (eap/).
#include <Library/PrintLib.h>

#include "SupProtocol.h"

namespace {

struct EAP_FIELD {
  EFI_EAP_TYPE             EapType;
  EFI_EAP_CONFIG_DATA_TYPE DataType;
  const VOID *SUP_INSTANCE::*Pointer;
  UINTN SUP_INSTANCE::*Size;
};

// Connection managers hand the identity over as a string with its NUL; the
// EAP-Response/Identity carries the octets before it.
EFI_STATUS SetIdentity(SUP_INSTANCE *Instance, const VOID *Data, UINTN DataSize) {
  UINTN Size = DataSize;
  if (static_cast<const UINT8 *>(Data)[Size - 1] == 0) {
    --Size;
  }
  if (Size > SUP_EAP_IDENTITY_MAX) {
    return EFI_INVALID_PARAMETER;
  }
  Instance->EapIdentity = Data;
  Instance->EapIdentitySize = Size;
  return EFI_SUCCESS;
}

constexpr EAP_FIELD EapFields[] = {
    {EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, &SUP_INSTANCE::EapCaCert, &SUP_INSTANCE::EapCaCertSize},
    {EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientCert, &SUP_INSTANCE::EapClientCert,
     &SUP_INSTANCE::EapClientCertSize},
    {EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFile, &SUP_INSTANCE::EapPrivateKey,
     &SUP_INSTANCE::EapPrivateKeySize},
    {EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFilePassword, &SUP_INSTANCE::EapPrivateKeyPassword,
     &SUP_INSTANCE::EapPrivateKeyPasswordSize},
};

}  // namespace

EFI_STATUS EFIAPI EapConfigSetData(EFI_EAP_CONFIGURATION_PROTOCOL *This, EFI_EAP_TYPE EapType,
                                   EFI_EAP_CONFIG_DATA_TYPE DataType, VOID *Data, UINTN DataSize) {
  SUP_INSTANCE *Instance = SUP_INSTANCE_FROM_EAP_CONFIG(This);
  if (Data == nullptr || DataSize == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (EapType == EFI_EAP_TYPE_ATTRIBUTE && DataType == EfiEapConfigEapAuthMethod) {
    Instance->EapAuthMethod = static_cast<const UINT8 *>(Data)[0];
    return EFI_SUCCESS;
  }
  if (EapType == EFI_EAP_TYPE_IDENTITY && DataType == EfiEapConfigIdentityString) {
    return SetIdentity(Instance, Data, DataSize);
  }
  for (const EAP_FIELD &Field : EapFields) {
    if (Field.EapType == EapType && Field.DataType == DataType) {
      Instance->*Field.Pointer = Data;
      Instance->*Field.Size = DataSize;
      return EFI_SUCCESS;
    }
  }
  AsciiPrint("SetData with (EAPType, DataType) = (%u, %u) is not supported.\n", (UINT32)EapType, (UINT32)DataType);
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI EapConfigGetData(EFI_EAP_CONFIGURATION_PROTOCOL *, EFI_EAP_TYPE EapType,
                                   EFI_EAP_CONFIG_DATA_TYPE DataType, VOID *Data, UINTN *DataSize) {
  if (DataSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (EapType == EFI_EAP_TYPE_ATTRIBUTE && DataType == EfiEapConfigEapSupportedAuthMethod) {
    constexpr UINTN MethodListSize = 1;
    if (Data == nullptr) {
      *DataSize = MethodListSize;
      return EFI_SUCCESS;
    }
    if (*DataSize < MethodListSize) {
      *DataSize = MethodListSize;
      return EFI_BUFFER_TOO_SMALL;
    }
    static_cast<UINT8 *>(Data)[0] = EFI_EAP_TYPE_EAPTLS;
    return EFI_SUCCESS;
  }
  AsciiPrint("GetData with (EAPType, DataType) = (%u, %u) is not supported.\n", (UINT32)EapType, (UINT32)DataType);
  return EFI_UNSUPPORTED;
}
