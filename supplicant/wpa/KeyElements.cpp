#include "KeyElements.h"

#include <Library/BaseMemoryLib.h>

namespace {

constexpr UINTN ElementHeader = 2;  // id, length
constexpr UINTN SelectorLength = 4;
constexpr UINT8 GtkKdeSelector[SelectorLength] = {0x00, 0x0F, 0xAC, 0x01};
constexpr UINT8 IgtkKdeSelector[SelectorLength] = {0x00, 0x0F, 0xAC, 0x09};
constexpr UINTN GtkKdeHeader = SelectorLength + 2;                                      // key id byte, reserved
constexpr UINTN IgtkKdeHeader = SelectorLength + 2 + SUP_IGTK_IPN_LEN;                  // key id (2), IPN
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
