// EFI_SUPPLICANT_PROTOCOL and its service binding (UEFI 2.10, section 28),
// plus the IEEE 802.11 selector records it carries.
#pragma once
#include <uefi/Base.h>
#include <uefi/Protocol/ServiceBinding.h>

typedef struct {
  UINT8 Oui[3];
  UINT8 SuiteType;
} EFI_80211_SUITE_SELECTOR;
static_assert(sizeof(EFI_80211_SUITE_SELECTOR) == 4);

typedef struct {
  UINT16                   AKMSuiteCount;
  EFI_80211_SUITE_SELECTOR AKMSuiteList[1];
} EFI_80211_AKM_SUITE_SELECTOR;

typedef struct {
  UINT16                   CipherSuiteCount;
  EFI_80211_SUITE_SELECTOR CipherSuiteList[1];
} EFI_80211_CIPHER_SUITE_SELECTOR;
static_assert(offsetof(EFI_80211_AKM_SUITE_SELECTOR, AKMSuiteList) == 2);

typedef struct {
  UINT8 Addr[6];
} EFI_80211_MAC_ADDRESS;

constexpr UINTN EFI_MAX_SSID_LEN = 32;
typedef struct {
  UINT8 SSIdLen;
  UINT8 SSId[EFI_MAX_SSID_LEN];
} EFI_80211_SSID;
static_assert(sizeof(EFI_80211_SSID) == 33);

typedef enum {
  EfiSupplicant80211AKMSuite,                         // 0
  EfiSupplicant80211GroupDataCipherSuite,             // 1
  EfiSupplicant80211PairwiseCipherSuite,              // 2
  EfiSupplicant80211PskPassword,                      // 3
  EfiSupplicant80211TargetSSIDName,                   // 4
  EfiSupplicant80211StationMac,                       // 5
  EfiSupplicant80211TargetSSIDMac,                    // 6
  EfiSupplicant80211PTK,                              // 7
  EfiSupplicant80211GTK,                              // 8
  EfiSupplicantState,                                 // 9
  EfiSupplicant80211LinkState,                        // 10
  EfiSupplicantKeyRefresh,                            // 11
  EfiSupplicant80211SupportedAKMSuites,               // 12
  EfiSupplicant80211SupportedSoftwareCipherSuites,    // 13
  EfiSupplicant80211SupportedHardwareCipherSuites,    // 14
  EfiSupplicant80211IGTK,                             // 15
  EfiSupplicant80211PMK,                              // 16
  EfiSupplicantDataTypeMaximum,                       // 17
  // Data types of this driver beyond the UEFI set.
  EfiSupplicant80211GroupMgmtCipherSuite = 18,
  EfiSupplicant80211MfpCapability        = 19,
  EfiSupplicant80211IGTKKey              = 20,  // the IGTK as one EFI_SUPPLICANT_KEY
  EfiSupplicantSaeCommit                 = 21,
  EfiSupplicantSaeConfirm                = 22,
  // WPA3 as access points run it today: SAE hash-to-element and
  // anti-clogging, the beacon's elements for downgrade checks, and the key
  // data of current access points.
  EfiSupplicantSaePweMethod              = 23,  // UINT8: 0 hunting-and-pecking, 1 hash-to-element
  EfiSupplicantSaePasswordIdentifier     = 24,
  EfiSupplicantSaeAntiCloggingToken      = 25,
  EfiSupplicantSaeRejectedGroups         = 26,
  EfiSupplicantApRsnElement              = 27,  // the beacon's RSN element, or its WPA element for WPA
  EfiSupplicantApRsnxElement             = 28,
  EfiSupplicantStationRsnxElement        = 29,
  EfiSupplicantBigtk                     = 30,  // one EFI_SUPPLICANT_KEY
  EfiSupplicantTransitionDisable         = 31,
  EfiSupplicantOperatingChannelInfo      = 32,
} EFI_SUPPLICANT_DATA_TYPE;

typedef enum {
  EfiEapolSupplicantLogoff,
  EfiEapolSupplicantDisconnected,
  EfiEapolSupplicantConnecting,
  EfiEapolSupplicantAcquired,
  EfiEapolSupplicantAuthenticating,
  EfiEapolSupplicantHeld,
  EfiEapolSupplicantAuthenticated,
  EfiEapolSupplicantMaxSupplicantPaeState
} EFI_EAPOL_SUPPLICANT_PAE_STATE;

typedef enum { Group, Pairwise, Peerkey, IGTK } EFI_SUPPLICANT_KEY_TYPE;
typedef enum { Receive, Transmit, Both } EFI_SUPPLICANT_KEY_DIRECTION;

constexpr UINTN EFI_MAX_KEY_LEN = 64;
typedef struct {
  UINT8                        Key[EFI_MAX_KEY_LEN];
  UINT8                        KeyLen;
  UINT8                        KeyId;
  EFI_SUPPLICANT_KEY_TYPE      KeyType;
  EFI_80211_MAC_ADDRESS        Addr;
  UINT8                        Rsc[8];
  UINT8                        RscLen;
  BOOLEAN                      IsAuthenticator;
  EFI_80211_SUITE_SELECTOR     CipherSuite;
  EFI_SUPPLICANT_KEY_DIRECTION Direction;
} EFI_SUPPLICANT_KEY;
static_assert(sizeof(EFI_SUPPLICANT_KEY) == 96);
static_assert(offsetof(EFI_SUPPLICANT_KEY, KeyType) == 68);
static_assert(offsetof(EFI_SUPPLICANT_KEY, Addr) == 72);
static_assert(offsetof(EFI_SUPPLICANT_KEY, Rsc) == 78);
static_assert(offsetof(EFI_SUPPLICANT_KEY, RscLen) == 86);
static_assert(offsetof(EFI_SUPPLICANT_KEY, CipherSuite) == 88);
static_assert(offsetof(EFI_SUPPLICANT_KEY, Direction) == 92);

typedef struct {
  UINT8              GTKCount;
  EFI_SUPPLICANT_KEY GTKList[1];
} EFI_SUPPLICANT_GTK_LIST;
static_assert(offsetof(EFI_SUPPLICANT_GTK_LIST, GTKList) == 4);
static_assert(sizeof(EFI_SUPPLICANT_GTK_LIST) == 100);

typedef struct {
  UINT32 FragmentLength;
  VOID  *FragmentBuffer;
} EFI_SUPPLICANT_FRAGMENT_DATA;

typedef enum { EfiSupplicantEncrypt, EfiSupplicantDecrypt } EFI_SUPPLICANT_CRYPT_MODE;

typedef struct _EFI_SUPPLICANT_PROTOCOL EFI_SUPPLICANT_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_SUPPLICANT_BUILD_RESPONSE_PACKET)(IN EFI_SUPPLICANT_PROTOCOL *This,
                                                                 IN UINT8 *RequestBuffer OPTIONAL,
                                                                 IN UINTN RequestBufferSize OPTIONAL,
                                                                 OUT UINT8 *Buffer, IN OUT UINTN *BufferSize);
typedef EFI_STATUS(EFIAPI *EFI_SUPPLICANT_PROCESS_PACKET)(IN EFI_SUPPLICANT_PROTOCOL *This,
                                                          IN OUT EFI_SUPPLICANT_FRAGMENT_DATA **FragmentTable,
                                                          IN UINT32 *FragmentCount,
                                                          IN EFI_SUPPLICANT_CRYPT_MODE CryptMode);
typedef EFI_STATUS(EFIAPI *EFI_SUPPLICANT_SET_DATA)(IN EFI_SUPPLICANT_PROTOCOL *This,
                                                    IN EFI_SUPPLICANT_DATA_TYPE DataType, IN VOID *Data,
                                                    IN UINTN DataSize);
typedef EFI_STATUS(EFIAPI *EFI_SUPPLICANT_GET_DATA)(IN EFI_SUPPLICANT_PROTOCOL *This,
                                                    IN EFI_SUPPLICANT_DATA_TYPE DataType,
                                                    OUT UINT8 *Data OPTIONAL, IN OUT UINTN *DataSize);

struct _EFI_SUPPLICANT_PROTOCOL {
  EFI_SUPPLICANT_BUILD_RESPONSE_PACKET BuildResponsePacket;
  EFI_SUPPLICANT_PROCESS_PACKET        ProcessPacket;
  EFI_SUPPLICANT_SET_DATA              SetData;
  EFI_SUPPLICANT_GET_DATA              GetData;
};
static_assert(sizeof(EFI_SUPPLICANT_PROTOCOL) == 32);

inline constinit EFI_GUID gEfiSupplicantServiceBindingProtocolGuid = {0x45BCD98E, 0x59AD, 0x4174, {0x95, 0x46, 0x34, 0x4A, 0x07, 0x48, 0x58, 0x98}};
inline constinit EFI_GUID gEfiSupplicantProtocolGuid = {0x54FCC43E, 0xAA89, 0x4333, {0x9A, 0x85, 0xCD, 0xEA, 0x24, 0x05, 0x1E, 0x9E}};
