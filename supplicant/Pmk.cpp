#include "Pmk.h"

#include <Library/BaseMemoryLib.h>

#include "crypto/Kdf.h"

namespace {
constinit UINT64 PassphraseDerivations = 0;

bool DerivedFromCurrentInputs(const SUP_INSTANCE *Instance) {
  return Instance->PmkInputsKept && Instance->PmkPasswordLen == Instance->PasswordLen &&
         Instance->PmkSsidLen == Instance->SsidLen &&
         CompareMem(Instance->PmkPassword, Instance->Password, sizeof(Instance->Password)) == 0 &&
         CompareMem(Instance->PmkSsid, Instance->Ssid, sizeof(Instance->Ssid)) == 0;
}
}  // namespace

VOID SupStartReplaySequence(SUP_INSTANCE *Instance) {
  Instance->ReplayCounterValid = FALSE;
  ZeroMem(Instance->ReplayCounter, sizeof(Instance->ReplayCounter));
}

VOID SupSetPmk(SUP_INSTANCE *Instance, const UINT8 *Pmk, SUP_PMK_SOURCE Source) {
  CopyMem(Instance->Pmk, Pmk, SUP_PMK_LEN);
  Instance->PmkSource = Source;
  // Whatever Pmk held before is gone, so the remembered pass-phrase inputs
  // no longer describe it; only a pass-phrase derivation records them anew.
  Instance->PmkInputsKept = FALSE;
  SecureZeroMem(Instance->PmkPassword, sizeof(Instance->PmkPassword));
  Instance->PmkPasswordLen = 0;
  SupStartReplaySequence(Instance);
}

VOID SupRefreshPassphrasePmk(SUP_INSTANCE *Instance) {
  if (Instance->PmkSource != SUP_PMK_SOURCE::Passphrase || DerivedFromCurrentInputs(Instance)) {
    return;
  }
  UINT8 Pmk[SUP_PMK_LEN];
  if (psk_from_passphrase(Instance->Password, Instance->PasswordLen, Instance->Ssid, Instance->SsidLen, Pmk) != 1) {
    return;
  }
  ++PassphraseDerivations;
  SupSetPmk(Instance, Pmk, SUP_PMK_SOURCE::Passphrase);
  SecureZeroMem(Pmk, sizeof(Pmk));
  CopyMem(Instance->PmkPassword, Instance->Password, sizeof(Instance->Password));
  Instance->PmkPasswordLen = Instance->PasswordLen;
  CopyMem(Instance->PmkSsid, Instance->Ssid, sizeof(Instance->Ssid));
  Instance->PmkSsidLen = Instance->SsidLen;
  Instance->PmkInputsKept = TRUE;
}

UINT64 SupPassphraseDerivationCount() { return PassphraseDerivations; }
