// The SAE exchange state embedded in every SUP_INSTANCE (field Sae). The
// big numbers, points and group of the exchange are added with the SAE
// layer; what is here is what the rest of the driver reads.
#pragma once
#include <uefi/Base.h>

struct SAE_CONTEXT {
  UINT16 SendConfirm;
  UINT16 GroupId;
  UINT8  SaePmk[32];
  UINT8  SaeKck[32];
};
