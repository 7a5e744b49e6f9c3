// The password element by the plain first-residue rule, for comparison with
// the driver's constant-time derivation: counters tried in order, the
// Legendre symbol of each candidate computed directly, the loop left at the
// first residue. Also the search for passwords that need a given number of
// counters.
#pragma once

#include <string>

#include "EccTestSupport.h"
#include "SaeContext.h"

namespace sae_test {

struct ReferencePwe {
  int         Counter = 0;  // the successful counter; 0 when none
  std::string X;            // hex, 32 bytes
  std::string Y;
  UINT8       SeedLastByte = 0;
};

// Needs a context with Group, Prime and PrimeLen set.
ReferencePwe FirstResiduePwe(const SAE_CONTEXT &Ctx, const UINT8 *OwnMac, const UINT8 *PeerMac,
                             const std::string &Password);

// The first password "<Prefix><i>" (i = 0, 1, ...) whose first residue is at
// a counter in [MinCounter, MaxCounter].
std::string FindPassword(const SAE_CONTEXT &Ctx, const UINT8 *OwnMac, const UINT8 *PeerMac,
                         const std::string &Prefix, int MinCounter, int MaxCounter);

// A context with group 19 loaded the way the commit builder loads it; the
// caller releases it with sae_clear.
void LoadGroup19(SAE_CONTEXT &Ctx);

}  // namespace sae_test
