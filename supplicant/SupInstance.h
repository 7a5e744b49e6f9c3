// The two records of the supplicant driver: SUP_SERVICE (one per image, the
// service binding) and SUP_INSTANCE (one per child, every piece of state of
// one connection). Both protocol interfaces of a child are embedded in its
// SUP_INSTANCE; members find the record from the interface pointer.
#pragma once
#include <uefi/Uefi.h>
#include <uefi/Protocol/EapConfiguration.h>
#include <uefi/Protocol/Supplicant.h>
#include <Library/DebugLib.h>

#include "sae/SaeContext.h"
#include "sae/SaeH2e.h"

constexpr UINT32 SUP_SERVICE_SIGNATURE  = SIGNATURE_32('S', 'U', 'P', 'S');
constexpr UINT32 SUP_INSTANCE_SIGNATURE = SIGNATURE_32('S', 'U', 'P', 'I');
static_assert(SUP_SERVICE_SIGNATURE == 0x53505553 && SUP_INSTANCE_SIGNATURE == 0x49505553);

struct SUP_SERVICE {
  UINT32                       Signature;
  EFI_SERVICE_BINDING_PROTOCOL ServiceBinding;
  UINT16                       ChildrenNumber;
  LIST_ENTRY                   ChildrenList;
  EFI_HANDLE                   ImageHandle;
};

// Pairwise and group cipher suite types, AKM flags and key-management modes
// as the configuration store records them.
constexpr UINT32 SUP_CIPHER_WEP40  = 1;
constexpr UINT32 SUP_CIPHER_TKIP   = 2;
constexpr UINT32 SUP_CIPHER_CCMP   = 4;
constexpr UINT32 SUP_CIPHER_WEP104 = 5;
constexpr UINT32 SUP_CIPHER_BIP_CMAC_128 = 64;

constexpr UINT32 SUP_AKM_WPA_PSK    = 2;
constexpr UINT32 SUP_AKM_RSN_PSK    = 32;
constexpr UINT32 SUP_AKM_PSK_SHA256 = 256;
constexpr UINT32 SUP_AKM_SAE        = 4096;
// IEEE 802.1X authentication (EAP) with the SHA-1 and the SHA-256 key
// hierarchy: AKM suites 00-0F-AC:1 and 00-0F-AC:5.
constexpr UINT32 SUP_AKM_8021X        = 16;
constexpr UINT32 SUP_AKM_8021X_SHA256 = 128;
// AKMs whose keys come from the SHA-256 hierarchy.
constexpr UINT32 SUP_AKM_SHA256_MASK = SUP_AKM_PSK_SHA256 | SUP_AKM_SAE | SUP_AKM_8021X_SHA256;
// AKMs whose PMK comes from an EAP exchange.
constexpr UINT32 SUP_AKM_8021X_MASK = SUP_AKM_8021X | SUP_AKM_8021X_SHA256;

constexpr UINT32 SUP_KEY_MGMT_WPA_PSK    = 4;
constexpr UINT32 SUP_KEY_MGMT_RSN_PSK    = 7;
constexpr UINT32 SUP_KEY_MGMT_PSK_SHA256 = 6;
constexpr UINT32 SUP_KEY_MGMT_SAE        = 12;
constexpr UINT32 SUP_KEY_MGMT_8021X        = 1;
constexpr UINT32 SUP_KEY_MGMT_8021X_SHA256 = 5;

constexpr INT32 SUP_PROTOCOL_NONE = 0;
constexpr INT32 SUP_PROTOCOL_WPA  = 1;
constexpr INT32 SUP_PROTOCOL_RSN  = 2;

// HandshakeState values: the last response built.
constexpr UINT32 SUP_HANDSHAKE_INITIAL   = 0;
constexpr UINT32 SUP_HANDSHAKE_MESSAGE_2 = 8;
constexpr UINT32 SUP_HANDSHAKE_MESSAGE_4 = 9;
constexpr UINT32 SUP_HANDSHAKE_GROUP_2   = 10;

constexpr UINTN SUP_OWN_IE_BUFFER_SIZE = 256;
constexpr UINTN SUP_MAX_PASSWORD_LEN   = 63;
constexpr UINTN SUP_PMK_LEN            = 32;
// A whole element: id, length, up to 255 bytes of body.
constexpr UINTN SUP_ELEMENT_MAX_SIZE   = 2 + 255;
constexpr UINTN SUP_BIGTK_MAX_LEN      = 32;
constexpr UINTN SUP_BIPN_LEN           = 6;
// Operating class, primary channel, frequency segment 1 channel and the
// three operating-channel-transition fields that may follow them.
constexpr UINTN SUP_OCI_MAX_LEN        = 6;

// Where the PMK in SUP_INSTANCE.Pmk came from; only a pass-phrase PMK is
// ever re-derived. Eap: the first half of the MSK of a successful EAP-TLS
// exchange.
enum class SUP_PMK_SOURCE : UINT8 { None, Passphrase, Given, Sae, Eap };

// The child's EAP exchange: none yet, under way (Identity answered or
// EAP-TLS started), ended by an EAP-Success that delivered the PMK, or ended
// without one (EAP-Failure, or the TLS handshake refused).
enum class SUP_EAP_STATE : UINT8 { Idle, Running, Succeeded, Failed };

// The longest EAP response frame the station builds (an EAP-TLS fragment
// with its headers); eap/EapPacket.h checks it.
constexpr UINTN SUP_EAP_RESPONSE_MAX = 1034;
// Identities longer than a RADIUS User-Name attribute can carry would never
// reach the server whole.
constexpr UINTN SUP_EAP_IDENTITY_MAX = 253;

// The EAP-TLS method's per-child context (pool memory, eap/EapTls.h).
struct EAP_TLS_CONTEXT;

struct SUP_INSTANCE {
  UINT32                         Signature;
  LIST_ENTRY                     Link;
  BOOLEAN                        InDestroy;
  SUP_SERVICE                   *Service;
  EFI_HANDLE                     Handle;
  EFI_SUPPLICANT_PROTOCOL        Supplicant;
  EFI_EAP_CONFIGURATION_PROTOCOL EapConfig;

  // Connection: configuration, keys, handshake progress.
  UINT8       *RxPacket;
  UINT16       RxPacketSize;
  UINT8       *RxKeyDesc;
  UINT32       PairwiseCipher;
  UINT32       GroupCipher;
  UINT32       GroupMgmtCipher;
  UINT32       KeyMgmt;
  UINT32       AkmFlags;
  INT32        Protocol;
  UINT8        Gtk[32];
  UINT8        ANonce[32];
  UINT8        SNonce[32];
  union {
    UINT8 Ptk[64];
    struct {
      UINT8 Kck[16];
      UINT8 Kek[16];
      UINT8 Tk[32];
    };
  };
  UINT8        Pmk[SUP_PMK_LEN];
  UINT8        Igtk[32];
  UINT32       IgtkKeyId;
  UINT8        IgtkIpn[6];
  UINT32       IgtkLen;
  BOOLEAN      GtkRefreshed;
  UINT32       GtkKeyId;
  UINT8        GtkRsc[8];
  UINT8       *OwnIe;
  UINT16       OwnIeLen;
  UINT8        OwnIeBuf[SUP_OWN_IE_BUFFER_SIZE];
  UINT8        Ssid[32];
  UINT8        SsidLen;
  UINT8        TargetMac[6];
  UINT8        StationMac[6];
  UINT8        Password[64];
  UINT8        PasswordLen;
  UINT32       HandshakeState;
  UINT8        MfpCapable;
  UINT8        MfpRequired;
  SAE_CONTEXT  Sae;
  UINT8        SaePweMethod;  // SAE_PWE_HUNTING_AND_PECKING or SAE_PWE_HASH_TO_ELEMENT
  SAE_H2E_STATE SaeH2e;
  const VOID  *EapIdentity;
  UINTN        EapIdentitySize;  // without a trailing NUL
  UINT8        EapAuthMethod;
  UINTN        EapCaCertSize;
  const VOID  *EapCaCert;
  const VOID  *EapClientCert;
  UINTN        EapClientCertSize;
  const VOID  *EapPrivateKey;
  UINTN        EapPrivateKeySize;
  const VOID  *EapPrivateKeyPassword;
  UINTN        EapPrivateKeyPasswordSize;

  // PMK bookkeeping: the source of Pmk and, for a pass-phrase PMK, the
  // inputs it was derived from, so it is derived once per distinct input.
  // PmkInputsKept says the inputs describe what Pmk holds now.
  SUP_PMK_SOURCE PmkSource;
  BOOLEAN        PmkInputsKept;
  UINT8          PmkPassword[64];
  UINT8          PmkPasswordLen;
  UINT8          PmkSsid[32];
  UINT8          PmkSsidLen;

  // Replay protection: the counter of the last EAPOL-Key frame accepted with
  // a valid MIC. Cleared whenever the PMK inputs change.
  UINT8   ReplayCounter[8];
  BOOLEAN ReplayCounterValid;

  // The PTK a message 1 derives waits in TPtk until a message 3 proves with
  // its MIC that the authenticator holds the same key; only then does it
  // replace Ptk. An unauthenticated message 1 thus never disturbs the keys in
  // use. TPtkValid also says that ANonce and SNonce belong together.
  UINT8   TPtk[64];
  BOOLEAN TPtkValid;
  // A message 3 was accepted: Kck and Kek protect the group-key handshake.
  BOOLEAN PtkValid;

  // The access point's RSN element (its WPA element for WPA) and RSNXE as
  // its beacon showed them, whole; length 0 when not handed in. Message 3
  // must repeat them byte for byte, or it is a downgrade.
  UINT8  ApRsnElement[SUP_ELEMENT_MAX_SIZE];
  UINT16 ApRsnElementLen;
  UINT8  ApRsnxElement[SUP_ELEMENT_MAX_SIZE];
  UINT16 ApRsnxElementLen;

  // Key data of current access points, each from the last verified frame
  // that carried it (an accepted message 3 first forgets all three): the
  // beacon integrity key (BigtkLen 0: none), the transition-disable bitmap
  // and the access point's operating channel information (OciLen 0: none).
  UINT8   Bigtk[SUP_BIGTK_MAX_LEN];
  UINT8   BigtkLen;
  UINT8   BigtkKeyId;
  UINT8   BigtkBipn[SUP_BIPN_LEN];
  BOOLEAN TransitionDisableValid;
  UINT8   TransitionDisable;
  UINT8   Oci[SUP_OCI_MAX_LEN];
  UINT8   OciLen;

  // The EAP exchange. The last response built is kept with the identifier
  // and type of the request it answers: a retransmitted request (same
  // identifier, RFC 3748) gets it again, and so does a caller retrying with
  // a larger buffer. EapTls holds the TLS handshake from EAP-TLS Start until
  // the exchange ends.
  SUP_EAP_STATE    EapState;
  BOOLEAN          EapPendingValid;
  UINT8            EapPendingIdentifier;
  UINT8            EapPendingType;
  UINT16           EapPendingSize;
  UINT8            EapPending[SUP_EAP_RESPONSE_MAX];
  EAP_TLS_CONTEXT *EapTls;
};
static_assert(sizeof(SUP_INSTANCE::Ptk) == 64 && offsetof(SUP_INSTANCE, Tk) == offsetof(SUP_INSTANCE, Ptk) + 32);

// Record recovery with the signature check; a mismatch is the assertion
// "CR has Bad Signature" naming the calling file.
#define SUP_SERVICE_FROM_THIS(a) CR(a, SUP_SERVICE, ServiceBinding, SUP_SERVICE_SIGNATURE)
#define SUP_INSTANCE_FROM_SUPPLICANT(a) CR(a, SUP_INSTANCE, Supplicant, SUP_INSTANCE_SIGNATURE)
#define SUP_INSTANCE_FROM_EAP_CONFIG(a) CR(a, SUP_INSTANCE, EapConfig, SUP_INSTANCE_SIGNATURE)
#define SUP_INSTANCE_FROM_LINK(a) CR(a, SUP_INSTANCE, Link, SUP_INSTANCE_SIGNATURE)
