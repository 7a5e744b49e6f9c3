#include "HmacDrbg.h"

#include "CryptoUtil.h"
#include "HmacCore.h"

using namespace crypto_util;

namespace {

struct ProvidedData {
  const UINT8 *Address[3];
  UINTN        Length[3];
  UINTN        Count;
  bool Empty() const {
    for (UINTN i = 0; i < Count; ++i) {
      if (Length[i] != 0) {
        return false;
      }
    }
    return true;
  }
};

// HMAC_DRBG_Update: K = HMAC(K, V || 0x00 || data), V = HMAC(K, V), and with
// non-empty data once more with 0x01.
void Update(hmac_drbg_state &State, const ProvidedData &Data) {
  for (UINT8 Round = 0; Round < 2; ++Round) {
    {
      const HmacKey<Sha256Hash> Mac(State.key, sizeof(State.key));
      auto Inner = Mac.Start();
      Sha256Hash::Update(Inner, State.value, sizeof(State.value));
      Sha256Hash::Update(Inner, &Round, 1);
      for (UINTN i = 0; i < Data.Count; ++i) {
        Sha256Hash::Update(Inner, Data.Address[i], Data.Length[i]);
      }
      Mac.Finish(Inner, State.key);
    }
    HmacKey<Sha256Hash>(State.key, sizeof(State.key)).Compute(State.value, sizeof(State.value), State.value);
    if (Data.Empty()) {
      return;
    }
  }
}

}  // namespace

int hmac_drbg_instantiate(hmac_drbg_state *State, const UINT8 *Entropy, UINTN EntropyLength, const UINT8 *Nonce,
                          UINTN NonceLength, const UINT8 *Personalization, UINTN PersonalizationLength) {
  WipeBytes(State, sizeof(*State));
  if (EntropyLength < HMAC_DRBG_MIN_ENTROPY) {
    return -1;
  }
  FillBytes(State->key, 0x00, sizeof(State->key));
  FillBytes(State->value, 0x01, sizeof(State->value));
  const ProvidedData Seed = {{Entropy, Nonce, Personalization}, {EntropyLength, NonceLength, PersonalizationLength}, 3};
  Update(*State, Seed);
  State->reseed_counter = 1;
  State->instantiated = TRUE;
  return 0;
}

int hmac_drbg_reseed(hmac_drbg_state *State, const UINT8 *Entropy, UINTN EntropyLength, const UINT8 *Additional,
                     UINTN AdditionalLength) {
  if (!State->instantiated || EntropyLength < HMAC_DRBG_MIN_ENTROPY) {
    return -1;
  }
  const ProvidedData Seed = {{Entropy, Additional, nullptr}, {EntropyLength, AdditionalLength, 0}, 2};
  Update(*State, Seed);
  State->reseed_counter = 1;
  return 0;
}

int hmac_drbg_generate(hmac_drbg_state *State, UINT8 *Out, UINTN OutLength, const UINT8 *Additional,
                       UINTN AdditionalLength) {
  if (!State->instantiated || State->reseed_counter > HMAC_DRBG_RESEED_INTERVAL ||
      OutLength > HMAC_DRBG_MAX_REQUEST) {
    return -1;
  }
  const ProvidedData Extra = {{Additional, nullptr, nullptr}, {AdditionalLength, 0, 0}, 1};
  if (AdditionalLength != 0) {
    Update(*State, Extra);
  }
  {
    const HmacKey<Sha256Hash> Mac(State->key, sizeof(State->key));
    UINTN Written = 0;
    while (Written < OutLength) {
      Mac.Compute(State->value, sizeof(State->value), State->value);
      const UINTN Take = Minimum(OutLength - Written, sizeof(State->value));
      CopyBytes(Out + Written, State->value, Take);
      Written += Take;
    }
  }
  Update(*State, Extra);
  ++State->reseed_counter;
  return 0;
}

void hmac_drbg_uninstantiate(hmac_drbg_state *State) { WipeBytes(State, sizeof(*State)); }
