// EFI_EAP_CONFIGURATION_PROTOCOL (UEFI 2.10, section 35).
#pragma once
#include <uefi/Base.h>

typedef UINT8 EFI_EAP_TYPE;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_ATTRIBUTE     = 0;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_IDENTITY      = 1;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_NOTIFICATION  = 2;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_NAK           = 3;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_MD5CHALLENGE  = 4;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_OTP           = 5;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_GTC           = 6;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_EAPTLS        = 13;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_EAPSIM        = 18;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_TTLS          = 21;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_PEAP          = 25;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_MSCHAPV2      = 26;
constexpr EFI_EAP_TYPE EFI_EAP_TYPE_EAP_EXTENSION = 33;

typedef enum {
  EfiEapConfigEapAuthMethod,                      // 0
  EfiEapConfigEapSupportedAuthMethod,             // 1
  EfiEapConfigIdentityString,                     // 2
  EfiEapConfigEapTlsCACert,                       // 3
  EfiEapConfigEapTlsClientCert,                   // 4
  EfiEapConfigEapTlsClientPrivateKeyFile,         // 5
  EfiEapConfigEapTlsClientPrivateKeyFilePassword, // 6
  EfiEapConfigEapTlsCipherSuite,                  // 7
  EfiEapConfigEapTlsSupportedCipherSuite,         // 8
  EfiEapConfigEapMSChapV2Password,                // 9
  EfiEapConfigEap2ndAuthMethod,                   // 10
  EfiEapConfigDataTypeMax
} EFI_EAP_CONFIG_DATA_TYPE;

typedef struct _EFI_EAP_CONFIGURATION_PROTOCOL EFI_EAP_CONFIGURATION_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_EAP_CONFIGURATION_SET_DATA)(IN EFI_EAP_CONFIGURATION_PROTOCOL *This,
                                                           IN EFI_EAP_TYPE EapType,
                                                           IN EFI_EAP_CONFIG_DATA_TYPE DataType, IN VOID *Data,
                                                           IN UINTN DataSize);
typedef EFI_STATUS(EFIAPI *EFI_EAP_CONFIGURATION_GET_DATA)(IN EFI_EAP_CONFIGURATION_PROTOCOL *This,
                                                           IN EFI_EAP_TYPE EapType,
                                                           IN EFI_EAP_CONFIG_DATA_TYPE DataType,
                                                           IN OUT VOID *Data, IN OUT UINTN *DataSize);

struct _EFI_EAP_CONFIGURATION_PROTOCOL {
  EFI_EAP_CONFIGURATION_SET_DATA SetData;
  EFI_EAP_CONFIGURATION_GET_DATA GetData;
};
static_assert(sizeof(EFI_EAP_CONFIGURATION_PROTOCOL) == 16);

inline constinit EFI_GUID gEfiEapConfigurationProtocolGuid = {0xE5B58DBB, 0x7688, 0x44B4, {0x97, 0xBF, 0x5F, 0x1D, 0x4B, 0x7C, 0xC8, 0xDB}};
