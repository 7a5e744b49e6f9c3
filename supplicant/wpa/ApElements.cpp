#include "ApElements.h"

#include <Library/BaseMemoryLib.h>

#include "KeyElements.h"
#include "OwnElement.h"

namespace {

constexpr UINTN ElementHeader = 2;
constexpr UINTN SuiteLength = 4;
constexpr UINTN PmkidLength = 16;
constexpr UINT8 WpaElementSelector[4] = {0x00, 0x50, 0xF2, 0x01};

// Walks the fields of an element body, each of which may be absent from
// some point on but never cut short.
class FieldReader {
 public:
  FieldReader(const UINT8 *Body, UINTN Length) : Body_(Body), Length_(Length) {}
  bool AtEnd() const { return Offset_ == Length_; }
  // Takes Count bytes when they are all there; false when fewer remain.
  bool Take(UINTN Count) {
    if (Length_ - Offset_ < Count) {
      return false;
    }
    Offset_ += Count;
    return true;
  }
  UINT16 Le16At(UINTN Back) const { return (UINT16)(Body_[Offset_ - Back] | (Body_[Offset_ - Back + 1] << 8)); }
  // A count (two bytes) and that many items of ItemLength.
  bool TakeList(UINTN ItemLength) { return Take(2) && Take((UINTN)Le16At(2) * ItemLength); }

 private:
  const UINT8 *Body_;
  UINTN        Length_;
  UINTN        Offset_ = 0;
};

// The fields after the version: group suite, pairwise list, AKM list,
// capabilities, then for RSN the PMKID list and the group management suite.
// Each may be where the element ends.
bool SuiteFieldsWellFormed(FieldReader &Fields, bool Rsn) {
  if (Fields.AtEnd()) {
    return true;
  }
  if (!Fields.Take(SuiteLength)) {
    return false;
  }
  for (int List = 0; List < 2; ++List) {  // pairwise, AKM
    if (Fields.AtEnd()) {
      return true;
    }
    if (!Fields.TakeList(SuiteLength)) {
      return false;
    }
  }
  if (Fields.AtEnd()) {
    return true;
  }
  if (!Fields.Take(2)) {  // capabilities
    return false;
  }
  if (!Rsn || Fields.AtEnd()) {
    return Fields.AtEnd();
  }
  if (!Fields.TakeList(PmkidLength)) {
    return false;
  }
  if (Fields.AtEnd()) {
    return true;
  }
  return Fields.Take(SuiteLength) && Fields.AtEnd();
}

bool WholeElement(const UINT8 *Element, UINTN Size) {
  return Element != nullptr && Size >= ElementHeader && Element[1] == Size - ElementHeader;
}

// The element in a list with the id (and, for 221, the WPA selector) of the
// wanted one, compared whole.
bool ListRepeats(const UINT8 *List, UINTN ListLength, const UINT8 *Wanted, UINTN WantedLength) {
  SUP_ELEMENT Found = SupFindElement(List, ListLength, Wanted[0], WpaElementSelector);
  return Found.Body != nullptr && ElementHeader + Found.Length == WantedLength &&
         CompareMem(Found.Body - ElementHeader, Wanted, WantedLength) == 0;
}

}  // namespace

BOOLEAN SupApSecurityElementWellFormed(const UINT8 *Element, UINTN Size) {
  if (!WholeElement(Element, Size)) {
    return FALSE;
  }
  FieldReader Fields(Element + ElementHeader, Size - ElementHeader);
  bool Rsn = Element[0] == SUP_ELEMENT_RSN;
  if (!Rsn) {
    if (Element[0] != SUP_ELEMENT_VENDOR || !Fields.Take(sizeof(WpaElementSelector)) ||
        CompareMem(Element + ElementHeader, WpaElementSelector, sizeof(WpaElementSelector)) != 0) {
      return FALSE;
    }
  }
  if (!Fields.Take(2) || Fields.Le16At(2) != 1) {  // version 1
    return FALSE;
  }
  return SuiteFieldsWellFormed(Fields, Rsn);
}

BOOLEAN SupRsnxElementWellFormed(const UINT8 *Element, UINTN Size) {
  return WholeElement(Element, Size) && Element[0] == SUP_ELEMENT_RSNX && Size > ElementHeader;
}

BOOLEAN SupMessage3MatchesBeacon(const SUP_INSTANCE *Instance, const UINT8 *KeyData, UINTN KeyDataLength) {
  UINTN Rsne = Instance->ApRsnElementLen, Rsnxe = Instance->ApRsnxElementLen;
  if (Rsne == 0 && Rsnxe == 0) {
    return TRUE;
  }
  if (Rsne != 0 && !ListRepeats(KeyData, KeyDataLength, Instance->ApRsnElement, Rsne)) {
    return FALSE;
  }
  if (Rsnxe != 0) {
    return ListRepeats(KeyData, KeyDataLength, Instance->ApRsnxElement, Rsnxe);
  }
  // The beacon showed no RSNXE: message 3 must not bring one.
  return SupFindElement(KeyData, KeyDataLength, SUP_ELEMENT_RSNX, nullptr).Body == nullptr;
}
