// Helper of the hash-to-element timing check, run under callgrind:
//
//   sae_h2e_timing_probe SSID PASSWORD   derives PT, then PWE from it, once
//
// The random source is seeded the same way in every run, so two runs differ
// only in the password: instruction counts of sae_h2e_derive_pt or
// sae_h2e_derive_pwe that depended on it would show as a difference.

#include <cstdio>
#include <cstring>

#include "CommitConfirm.h"
#include "HashToElement.h"
#include "ProbeSupport.h"
#include "PweReference.h"

namespace {

constexpr UINT8 OWN_MAC[6] = {0x02, 0x00, 0x00, 0x5A, 0xE0, 0x01};
constexpr UINT8 PEER_MAC[6] = {0x02, 0x00, 0x00, 0x5A, 0xE0, 0x02};

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc < 3) {
    std::fprintf(stderr, "usage: %s SSID PASSWORD\n", Argv[0]);
    return 2;
  }
  sae_test::ProbeEnvironment Environment(0x126);
  SAE_CONTEXT Ctx = {};
  sae_test::LoadGroup19(Ctx);
  UINT8 Pt[SAE_PT_LEN];
  const int Result =
      sae_h2e_derive_pt(reinterpret_cast<const UINT8 *>(Argv[1]), std::strlen(Argv[1]),
                        reinterpret_cast<const UINT8 *>(Argv[2]), std::strlen(Argv[2]), nullptr, 0, Pt) == 0 &&
              sae_h2e_derive_pwe(&Ctx, Pt, OWN_MAC, PEER_MAC) == 0
          ? 0
          : 1;
  sae_clear(&Ctx);
  return Result;
}
