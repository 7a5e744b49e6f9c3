// Elements and key data encapsulations (KDEs) in decrypted key data: the
// element finder and the GTK and IGTK KDEs.
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
