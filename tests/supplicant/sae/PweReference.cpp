#include "PweReference.h"

#include <cstring>
#include <vector>

#include "crypto/Hmac.h"
#include "crypto/Kdf.h"

namespace sae_test {

void LoadGroup19(SAE_CONTEXT &Ctx) {
  Ctx.Group = mbedtls_ecc_init(SAE_GROUP_P256);
  ASSERT_NE(Ctx.Group, nullptr);
  Ctx.GroupId = SAE_GROUP_P256;
  ASSERT_EQ(ecc_get_order(Ctx.Group, &Ctx.Order), 0);
  ASSERT_EQ(ecc_get_prime(Ctx.Group, &Ctx.Prime), 0);
  Ctx.OrderLen = static_cast<UINT32>(bignum_bytes(&Ctx.Order));
  Ctx.PrimeLen = static_cast<UINT32>(bignum_bytes(&Ctx.Prime));
}

ReferencePwe FirstResiduePwe(const SAE_CONTEXT &Ctx, const UINT8 *OwnMac, const UINT8 *PeerMac,
                             const std::string &Password) {
  const UINT8 *High = std::memcmp(OwnMac, PeerMac, 6) >= 0 ? OwnMac : PeerMac;
  const UINT8 *Low = High == OwnMac ? PeerMac : OwnMac;
  UINT8 Key[12];
  std::memcpy(Key, High, 6);
  std::memcpy(Key + 6, Low, 6);
  std::vector<UINT8> PrimeBytes(32);
  EXPECT_EQ(bignum_to_bytes(&Ctx.Prime, PrimeBytes.data(), 32), 0);

  for (int Counter = 1; Counter <= 39; ++Counter) {
    std::vector<UINT8> Message(Password.begin(), Password.end());
    Message.push_back(static_cast<UINT8>(Counter));
    UINT8 Seed[32];
    hmac_sha256(Key, sizeof(Key), Message.data(), Message.size(), Seed);
    UINT8 Value[32];
    EXPECT_EQ(kdf_sha256_bits(Seed, 32, "SAE Hunting and Pecking", PrimeBytes.data(), 32, Value, 256), 0);
    BigNum X, V;
    EXPECT_EQ(bignum_from_bytes(X, Value, 32), 0);
    if (bignum_cmp(X, &Ctx.Prime) >= 0) {
      continue;
    }
    EXPECT_EQ(ecc_curve_y2(Ctx.Group, &Ctx.Prime, X, V), 0);
    if (bignum_legendre(V, &Ctx.Prime) != 1) {
      continue;
    }
    BigNum Y;
    EXPECT_EQ(bignum_sqrt_mod(Y, V, &Ctx.Prime), 0);
    if (bignum_get_bit(Y, 0) != (Seed[31] & 1)) {
      EXPECT_EQ(bignum_sub(Y, &Ctx.Prime, Y), 0);
    }
    return {Counter, ToHex(X), ToHex(Y), Seed[31]};
  }
  return {};
}

std::string FindPassword(const SAE_CONTEXT &Ctx, const UINT8 *OwnMac, const UINT8 *PeerMac,
                         const std::string &Prefix, int MinCounter, int MaxCounter) {
  for (int Index = 0; Index < 100000; ++Index) {
    std::string Password = Prefix + std::to_string(Index);
    int Counter = FirstResiduePwe(Ctx, OwnMac, PeerMac, Password).Counter;
    if (Counter >= MinCounter && Counter <= MaxCounter) {
      return Password;
    }
  }
  ADD_FAILURE() << "no password needs counters " << MinCounter << ".." << MaxCounter;
  return {};
}

}  // namespace sae_test
