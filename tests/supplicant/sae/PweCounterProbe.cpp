// Helper of the password-element timing check, run under callgrind.
//
//   sae_pwe_counter_probe find            prints a password whose element is
//                                         found at counter 1 and one that
//                                         needs counter 3 or later
//   sae_pwe_counter_probe derive PASSWORD derives the element of PASSWORD
//                                         once (the measured call)
//
// The random source is seeded the same way in every run, so two runs differ
// only in the password: an instruction count of sae_derive_pwe that depended
// on the successful counter would show as a difference between the two.

#include <cstdio>
#include <cstring>
#include <string>

#include "CommitConfirm.h"
#include "PasswordElement.h"
#include "ProbeSupport.h"
#include "PweReference.h"

namespace {

constexpr UINT8 OWN_MAC[6] = {0x02, 0x00, 0x00, 0x5A, 0xE0, 0x01};
constexpr UINT8 PEER_MAC[6] = {0x02, 0x00, 0x00, 0x5A, 0xE0, 0x02};

}  // namespace

int main(int Argc, char **Argv) {
  if (Argc < 2 || (std::strcmp(Argv[1], "derive") == 0 && Argc < 3)) {
    std::fprintf(stderr, "usage: %s find | derive PASSWORD\n", Argv[0]);
    return 2;
  }
  sae_test::ProbeEnvironment Environment(0x5AE);
  SAE_CONTEXT Ctx = {};
  sae_test::LoadGroup19(Ctx);

  int Result = 0;
  if (std::strcmp(Argv[1], "find") == 0) {
    std::string Early = sae_test::FindPassword(Ctx, OWN_MAC, PEER_MAC, "probe-", 1, 1);
    std::string Late = sae_test::FindPassword(Ctx, OWN_MAC, PEER_MAC, "probe-", 3, 39);
    std::printf("%s %d\n%s %d\n", Early.c_str(), sae_test::FirstResiduePwe(Ctx, OWN_MAC, PEER_MAC, Early).Counter,
                Late.c_str(), sae_test::FirstResiduePwe(Ctx, OWN_MAC, PEER_MAC, Late).Counter);
  } else {
    const char *Password = Argv[2];
    Result = sae_derive_pwe(&Ctx, OWN_MAC, PEER_MAC, reinterpret_cast<const UINT8 *>(Password),
                            std::strlen(Password)) == 0
                 ? 0
                 : 1;
  }
  sae_clear(&Ctx);
  return Result;
}
