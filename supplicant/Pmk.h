// The pairwise master key of a child: from the pass phrase (PBKDF2), given
// by the caller, or handed over by SAE.
#pragma once
#include "SupInstance.h"

// Stores a new PMK and its source. A new PMK starts a new replay-counter
// sequence for the EAPOL-Key exchange.
VOID SupSetPmk(SUP_INSTANCE *Instance, const UINT8 *Pmk, SUP_PMK_SOURCE Source);

// Forgets the replay counter of the last accepted EAPOL-Key frame: the next
// association's authenticator counts from its own start. Run whenever the
// PMK inputs are configured, changed or not, since a connection manager sets
// them up again for every association on the same child.
VOID SupStartReplaySequence(SUP_INSTANCE *Instance);

// For a pass-phrase PMK: derives Pmk from Password and Ssid unless it was
// already derived from exactly these inputs (a derivation costs 8192
// HMAC-SHA1 computations). Other PMK sources are left alone.
VOID SupRefreshPassphrasePmk(SUP_INSTANCE *Instance);

// How many pass-phrase derivations the driver has run (a diagnostic: tests
// use it to prove that frames and repeated configuration do not re-derive).
UINT64 SupPassphraseDerivationCount();
