// The SAE exchange state embedded in every SUP_INSTANCE (field Sae).
//
// The instance is zero-filled when it is created, and an all-zero big number
// or point is an initialised, empty one, so a new context needs no set-up.
// sae_clear releases everything the context owns (and initialises it again)
// before each new own commit and when the instance is destroyed.
#pragma once
#include <uefi/Base.h>

#include "Bignum.h"
#include "Ecc.h"

constexpr UINTN SAE_PMK_LEN = 32;
constexpr UINTN SAE_KCK_LEN = 32;

// How far the current exchange has come. Only a peer commit that passed
// every check and gave keys lets a confirm be built or verified.
enum class SAE_EXCHANGE_STATE : UINT8 {
  None,                // no own commit since the instance was created
  OwnCommitBuilt,      // own commit handed out; no valid peer commit for it yet
  PeerCommitAccepted,  // SaeKck and SaePmk belong to this exchange
};

struct SAE_CONTEXT {
  UINT16             SendConfirm;  // never reset by a new commit
  UINT16             GroupId;
  UINT8              SaePmk[SAE_PMK_LEN];
  UINT8              SaeKck[SAE_KCK_LEN];
  mbedtls_mpi        Order;      // r
  UINT32             OrderLen;   // bytes of r
  mbedtls_mpi        Prime;      // p
  UINT32             PrimeLen;   // bytes of p: every scalar and coordinate on the wire
  mbedtls_mpi        Rand;
  mbedtls_mpi        Mask;
  mbedtls_mpi        OwnScalar;  // (Rand + Mask) mod r
  mbedtls_mpi        PeerScalar;
  ECC_GROUP         *Group;      // NULL when none
  mbedtls_ecp_point  Pwe;
  mbedtls_ecp_point  OwnElement;  // -(Mask * Pwe)
  mbedtls_ecp_point  PeerElement;
  SAE_EXCHANGE_STATE State;
};
