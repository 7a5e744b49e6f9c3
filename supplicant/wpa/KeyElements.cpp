#include "KeyElements.h"

#include <Library/BaseMemoryLib.h>

namespace {

constexpr UINTN ElementHeader = 2;  // id, length
constexpr UINTN SelectorLength = 4;
constexpr UINT8 GtkKdeSelector[SelectorLength] = {0x00, 0x0F, 0xAC, 0x01};
constexpr UINT8 IgtkKdeSelector[SelectorLength] = {0x00, 0x0F, 0xAC, 0x09};
constexpr UINT8 OciKdeSelector[SelectorLength] = {0x00, 0x0F, 0xAC, 0x0D};
constexpr UINT8 BigtkKdeSelector[SelectorLength] = {0x00, 0x0F, 0xAC, 0x0E};
constexpr UINT8 TransitionDisableKdeSelector[SelectorLength] = {0x50, 0x6F, 0x9A, 0x20};
constexpr UINTN GtkKdeHeader = SelectorLength + 2;                                      // key id byte, reserved
constexpr UINTN IgtkKdeHeader = SelectorLength + 2 + SUP_IGTK_IPN_LEN;                  // key id (2), IPN
constexpr UINTN BigtkKdeHeader = SelectorLength + 2 + SUP_BIPN_KDE_LEN;  // key id (2), BIPN
constexpr UINT8 BigtkKeyIdFirst = 6;
constexpr UINT8 BigtkKeyIdSecond = 7;
constexpr UINTN OciFields = 3;  // operating class, primary channel, frequency segment 1
constexpr UINT8 GtkKeyIdMask = 0x03;

bool Matches(const UINT8 *Element, UINT8 ElementId, const UINT8 *Selector) {
  if (Element[0] != ElementId) {
    return false;
  }
  if (ElementId != SUP_KDE_ELEMENT_ID) {
    return true;
  }
  return Element[1] >= SelectorLength && CompareMem(Element + ElementHeader, Selector, SelectorLength) == 0;
}

UINTN Minimum(UINTN A, UINTN B) { return A < B ? A : B; }

BOOLEAN ParseGtk(const UINT8 *KeyData, UINTN Length, SUP_GTK_KDE *Gtk) {
  ZeroMem(Gtk, sizeof(*Gtk));
  SUP_ELEMENT Kde = SupFindElement(KeyData, Length, SUP_KDE_ELEMENT_ID, GtkKdeSelector);
  if (Kde.Body == nullptr) {
    return TRUE;
  }
  if (Kde.Length <= GtkKdeHeader) {
    return FALSE;  // a GTK KDE without a key
  }
  Gtk->Found = TRUE;
  UINT8 KeyId = Kde.Body[SelectorLength] & GtkKeyIdMask;
  Gtk->KeyId = KeyId != 0 ? KeyId : 1;
  Gtk->KeyLength = (UINT8)Minimum(Kde.Length - GtkKdeHeader, SUP_GTK_MAX_LEN);
  CopyMem(Gtk->Key, Kde.Body + GtkKdeHeader, Gtk->KeyLength);
  return TRUE;
}

BOOLEAN ParseIgtk(const UINT8 *KeyData, UINTN Length, SUP_IGTK_KDE *Igtk) {
  ZeroMem(Igtk, sizeof(*Igtk));
  SUP_ELEMENT Kde = SupFindElement(KeyData, Length, SUP_KDE_ELEMENT_ID, IgtkKdeSelector);
  if (Kde.Body == nullptr) {
    return TRUE;
  }
  if (Kde.Length <= IgtkKdeHeader) {
    return FALSE;  // an IGTK KDE without a key
  }
  Igtk->Found = TRUE;
  Igtk->KeyId = Kde.Body[SelectorLength];
  CopyMem(Igtk->Ipn, Kde.Body + SelectorLength + 2, SUP_IGTK_IPN_LEN);
  Igtk->KeyLength = (UINT8)Minimum(Kde.Length - IgtkKdeHeader, SUP_IGTK_MAX_LEN);
  CopyMem(Igtk->Key, Kde.Body + IgtkKdeHeader, Igtk->KeyLength);
  return TRUE;
}

BOOLEAN ParseBigtk(const UINT8 *KeyData, UINTN Length, SUP_BIGTK_KDE *Bigtk) {
  SUP_ELEMENT Kde = SupFindElement(KeyData, Length, SUP_KDE_ELEMENT_ID, BigtkKdeSelector);
  if (Kde.Body == nullptr) {
    return TRUE;
  }
  // BIP-CMAC-128 and BIP-GMAC-128 keys take 16 bytes, their 256-bit forms 32.
  UINTN KeyLength = Kde.Length - BigtkKdeHeader;
  if (Kde.Length < BigtkKdeHeader || (KeyLength != 16 && KeyLength != 32)) {
    return FALSE;
  }
  UINT8 KeyId = Kde.Body[SelectorLength];
  if (Kde.Body[SelectorLength + 1] != 0 || (KeyId != BigtkKeyIdFirst && KeyId != BigtkKeyIdSecond)) {
    return FALSE;
  }
  Bigtk->Found = TRUE;
  Bigtk->KeyId = KeyId;
  CopyMem(Bigtk->Bipn, Kde.Body + SelectorLength + 2, SUP_BIPN_KDE_LEN);
  Bigtk->KeyLength = (UINT8)KeyLength;
  CopyMem(Bigtk->Key, Kde.Body + BigtkKdeHeader, KeyLength);
  return TRUE;
}

BOOLEAN ParseOci(const UINT8 *KeyData, UINTN Length, SUP_R3_KDES *Kdes) {
  SUP_ELEMENT Kde = SupFindElement(KeyData, Length, SUP_KDE_ELEMENT_ID, OciKdeSelector);
  if (Kde.Body == nullptr) {
    return TRUE;
  }
  if (Kde.Length < SelectorLength + OciFields) {
    return FALSE;
  }
  Kdes->OciFound = TRUE;
  Kdes->OciLength = (UINT8)Minimum(Kde.Length - SelectorLength, SUP_OCI_KDE_MAX_LEN);
  CopyMem(Kdes->Oci, Kde.Body + SelectorLength, Kdes->OciLength);
  return TRUE;
}

BOOLEAN ParseTransitionDisable(const UINT8 *KeyData, UINTN Length, SUP_R3_KDES *Kdes) {
  SUP_ELEMENT Kde = SupFindElement(KeyData, Length, SUP_KDE_ELEMENT_ID, TransitionDisableKdeSelector);
  if (Kde.Body == nullptr) {
    return TRUE;
  }
  if (Kde.Length < SelectorLength + 1) {
    return FALSE;
  }
  Kdes->TransitionDisableFound = TRUE;
  Kdes->TransitionDisable = Kde.Body[SelectorLength];
  return TRUE;
}

}  // namespace

SUP_ELEMENT SupFindElement(const UINT8 *List, UINTN ListLength, UINT8 ElementId, const UINT8 *Selector) {
  UINTN Offset = 0;
  while (Offset + ElementHeader <= ListLength) {
    const UINT8 *Element = List + Offset;
    UINTN End = Offset + ElementHeader + Element[1];
    if (End > ListLength) {
      break;  // the rest is truncated
    }
    if (Matches(Element, ElementId, Selector)) {
      return {Element + ElementHeader, Element[1]};
    }
    Offset = End;
  }
  return {nullptr, 0};
}

BOOLEAN SupParseKeyDataKdes(const UINT8 *KeyData, UINTN KeyDataLength, SUP_GTK_KDE *Gtk, SUP_IGTK_KDE *Igtk) {
  bool GtkOk = ParseGtk(KeyData, KeyDataLength, Gtk);
  bool IgtkOk = ParseIgtk(KeyData, KeyDataLength, Igtk);
  return GtkOk && IgtkOk;
}

BOOLEAN SupParseR3Kdes(const UINT8 *KeyData, UINTN KeyDataLength, SUP_R3_KDES *Kdes) {
  ZeroMem(Kdes, sizeof(*Kdes));
  bool BigtkOk = ParseBigtk(KeyData, KeyDataLength, &Kdes->Bigtk);
  bool OciOk = ParseOci(KeyData, KeyDataLength, Kdes);
  bool TransitionDisableOk = ParseTransitionDisable(KeyData, KeyDataLength, Kdes);
  return BigtkOk && OciOk && TransitionDisableOk;
}
