#include "XchDxeServices.h"

#include "XchHob.h"

namespace {
constinit EFI_DXE_SERVICES *mDxeServices = nullptr;
}  // namespace

EFI_STATUS XchDxeServicesConstructor() {
  mDxeServices = static_cast<EFI_DXE_SERVICES *>(XchConfigurationTable(&gEfiDxeServicesTableGuid));
  return mDxeServices != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
}

EFI_DXE_SERVICES *XchDxeServices() { return mDxeServices; }

VOID XchDxeServicesResetState() { mDxeServices = nullptr; }
