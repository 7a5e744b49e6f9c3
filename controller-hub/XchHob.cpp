#include "XchHob.h"

#include <Library/UefiLib.h>

namespace {
constinit const VOID *mHobList = nullptr;

const EFI_HOB_GENERIC_HEADER *Header(const VOID *Hob) { return static_cast<const EFI_HOB_GENERIC_HEADER *>(Hob); }
}  // namespace

VOID *XchConfigurationTable(const EFI_GUID *Guid) {
  if (gST == nullptr || gST->ConfigurationTable == nullptr) {
    return nullptr;
  }
  for (UINTN Index = 0; Index < gST->NumberOfTableEntries; ++Index) {
    if (gST->ConfigurationTable[Index].VendorGuid == *Guid) {
      return gST->ConfigurationTable[Index].VendorTable;
    }
  }
  return nullptr;
}

EFI_STATUS XchHobListConstructor() {
  mHobList = XchConfigurationTable(&gEfiHobListGuid);
  return mHobList != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
}

const VOID *XchHobList() { return mHobList; }

const EFI_HOB_GUID_TYPE *XchFindNextGuidHob(const VOID *Start, const EFI_GUID *Guid) {
  for (const UINT8 *Hob = static_cast<const UINT8 *>(Start); Hob != nullptr;) {
    const EFI_HOB_GENERIC_HEADER *Generic = Header(Hob);
    if (Generic->HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || Generic->HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) {
      return nullptr;
    }
    if (Generic->HobType == EFI_HOB_TYPE_GUID_EXTENSION && Generic->HobLength >= sizeof(EFI_HOB_GUID_TYPE)) {
      const auto *GuidHob = reinterpret_cast<const EFI_HOB_GUID_TYPE *>(Hob);
      if (GuidHob->Name == *Guid) {
        return GuidHob;
      }
    }
    Hob += Generic->HobLength;
  }
  return nullptr;
}

const EFI_HOB_GUID_TYPE *XchFindFirstGuidHob(const EFI_GUID *Guid) {
  return mHobList != nullptr ? XchFindNextGuidHob(mHobList, Guid) : nullptr;
}

const VOID *XchNextHob(const EFI_HOB_GUID_TYPE *Hob) {
  return reinterpret_cast<const UINT8 *>(Hob) + Hob->Header.HobLength;
}

UINTN XchGuidHobDataSize(const EFI_HOB_GUID_TYPE *Hob) { return Hob->Header.HobLength - sizeof(EFI_HOB_GUID_TYPE); }

const UINT8 *XchGuidHobData(const EFI_HOB_GUID_TYPE *Hob) {
  return reinterpret_cast<const UINT8 *>(Hob) + sizeof(EFI_HOB_GUID_TYPE);
}

VOID XchHobResetState() { mHobList = nullptr; }
