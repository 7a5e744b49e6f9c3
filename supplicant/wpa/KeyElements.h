// Elements and key data encapsulations (KDEs) in decrypted key data: the
// element finder, the GTK and IGTK KDEs, and the BIGTK, operating channel
// and transition-disable KDEs current access points add.
#pragma once
#include <uefi/Uefi.h>

constexpr UINT8 SUP_KDE_ELEMENT_ID = 221;

struct SUP_ELEMENT {
  const UINT8 *Body;  // NULL when not found
  UINT8        Length;
};

// The first element with this id that lies wholly within the list; for id
// 221 its body must also start with the four-byte Selector (OUI and type).
SUP_ELEMENT SupFindElement(const UINT8 *List, UINTN ListLength, UINT8 ElementId, const UINT8 *Selector);

constexpr UINTN SUP_GTK_MAX_LEN = 32;
constexpr UINTN SUP_IGTK_MAX_LEN = 32;
constexpr UINTN SUP_IGTK_IPN_LEN = 6;

// A GTK KDE: key id from bits 0-1 of its first byte (0 read as 1), then the
// key after the two-byte header, at most 32 bytes of it.
struct SUP_GTK_KDE {
  BOOLEAN Found;
  UINT8   KeyId;
  UINT8   KeyLength;
  UINT8   Key[SUP_GTK_MAX_LEN];
};

// An IGTK KDE: two-byte key id (the first byte kept), 6-byte IPN, the key
// (at most 32 bytes).
struct SUP_IGTK_KDE {
  BOOLEAN Found;
  UINT8   KeyId;
  UINT8   Ipn[SUP_IGTK_IPN_LEN];
  UINT8   KeyLength;
  UINT8   Key[SUP_IGTK_MAX_LEN];
};

// Both KDEs of a decrypted key data block. FALSE when a KDE is present but
// carries no key at all (a malformed frame).
BOOLEAN SupParseKeyDataKdes(const UINT8 *KeyData, UINTN KeyDataLength, SUP_GTK_KDE *Gtk, SUP_IGTK_KDE *Igtk);

constexpr UINTN SUP_BIGTK_KDE_MAX_LEN = 32;
constexpr UINTN SUP_BIPN_KDE_LEN = 6;
constexpr UINTN SUP_OCI_KDE_MAX_LEN = 6;

// A BIGTK KDE: key id 6 or 7 (two bytes, little-endian), BIPN (6), the key
// (16 or 32 bytes).
struct SUP_BIGTK_KDE {
  BOOLEAN Found;
  UINT8   KeyId;
  UINT8   Bipn[SUP_BIPN_KDE_LEN];
  UINT8   KeyLength;
  UINT8   Key[SUP_BIGTK_KDE_MAX_LEN];
};

// The KDEs of WPA3 access points. The OCI keeps the fields this station
// knows (operating class, primary channel, frequency segment 1, and the
// three operating-channel-transition fields when present); octets after
// them are not kept. The transition-disable KDE keeps its bitmap octet.
struct SUP_R3_KDES {
  SUP_BIGTK_KDE Bigtk;
  BOOLEAN       OciFound;
  UINT8         OciLength;
  UINT8         Oci[SUP_OCI_KDE_MAX_LEN];
  BOOLEAN       TransitionDisableFound;
  UINT8         TransitionDisable;
};

// The BIGTK, OCI (00-0F-AC type 13) and transition-disable (50-6F-9A type
// 0x20) KDEs of a decrypted key data block. FALSE when one of them is
// present but malformed: a BIGTK KDE whose key id is not 6 or 7 or whose key
// is not 16 or 32 bytes, an OCI KDE shorter than its three fields, a
// transition-disable KDE without its bitmap.
BOOLEAN SupParseR3Kdes(const UINT8 *KeyData, UINTN KeyDataLength, SUP_R3_KDES *Kdes);
