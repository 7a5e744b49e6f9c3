// HMAC-DRBG with SHA-256 (NIST SP 800-90A, section 10.1.2), without
// prediction resistance: instantiate, reseed, generate, uninstantiate.
// Security strength 256 bits.
#pragma once
#include <uefi/Base.h>

constexpr UINTN  HMAC_DRBG_MIN_ENTROPY      = 32;            // octets per instantiate / reseed
constexpr UINTN  HMAC_DRBG_MAX_REQUEST      = 65536;         // octets per generate (2^19 bits)
constexpr UINT64 HMAC_DRBG_RESEED_INTERVAL  = 1ULL << 48;    // generate calls between reseeds

struct hmac_drbg_state {
  UINT8   key[32];
  UINT8   value[32];
  UINT64  reseed_counter;
  BOOLEAN instantiated;
};

// 0, or -1 (state left uninstantiated) with fewer than 32 octets of entropy.
int hmac_drbg_instantiate(hmac_drbg_state *State, const UINT8 *Entropy, UINTN EntropyLength, const UINT8 *Nonce,
                          UINTN NonceLength, const UINT8 *Personalization, UINTN PersonalizationLength);
// 0, or -1 (state unchanged) with fewer than 32 octets of entropy or an
// uninstantiated state.
int hmac_drbg_reseed(hmac_drbg_state *State, const UINT8 *Entropy, UINTN EntropyLength, const UINT8 *Additional,
                     UINTN AdditionalLength);
// 0, or -1 with nothing written when the state is uninstantiated, a reseed
// is due (the caller reseeds and asks again) or more than 65536 octets are
// requested.
int hmac_drbg_generate(hmac_drbg_state *State, UINT8 *Out, UINTN OutLength, const UINT8 *Additional,
                       UINTN AdditionalLength);
// Wipes the state.
void hmac_drbg_uninstantiate(hmac_drbg_state *State);
