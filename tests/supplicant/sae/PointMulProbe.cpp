// Helper of the scalar-multiplication timing check, run under callgrind.
//
//   sae_point_mul_probe SCALAR   multiplies a fixed point of group 19 by
//                                SCALAR (64 hex digits) once through
//                                ecc_point_mul (the measured call)
//
// The random source is seeded the same way in every run, so two runs differ
// only in the scalar.

#include <cstdio>
#include <cstring>

#include "EccTestSupport.h"
#include "ProbeSupport.h"

int main(int Argc, char **Argv) {
  if (Argc != 2 || std::strlen(Argv[1]) != 64) {
    std::fprintf(stderr, "usage: %s SCALAR (64 hex digits)\n", Argv[0]);
    return 2;
  }
  sae_test::ProbeEnvironment Environment(0x256);
  int Result = 1;
  {
    EcGroup Group = EcGroup::Create(SAE_GROUP_P256);
    BigNum Gx, Gy, Scalar;
    EcPoint G, R;
    sae_test::SetHex(Gx, sae_test::P256_GX);
    sae_test::SetHex(Gy, sae_test::P256_GY);
    // Read from all 32 bytes, as SAE reads its scalars: the same limb count
    // for every value.
    sae_test::SetHex(Scalar, Argv[1]);
    if (Group && ecc_point_from_xy(Group, Gx, Gy, G) == 0 && ecc_point_mul(Group, R, Scalar, G) == 0) {
      Result = 0;
    }
  }
  return Result;
}
