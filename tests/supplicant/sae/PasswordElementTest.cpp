// The SAE password element: the constant-time derivation gives the point of
// the first-residue rule, whatever counter succeeds, from either side, with
// any random source; every counter is evaluated; the blinded residue test and
// the qr/qnr draw answer correctly; failures leave the PWE alone and leak
// nothing.
#include "PasswordElement.h"

#include "CommitConfirm.h"
#include "PweReference.h"

namespace sae_test {
namespace {

constexpr UINT8 OWN_MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr UINT8 PEER_MAC[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

struct ContextObjects {
  ContextObjects() { LoadGroup19(Ctx); }
  ~ContextObjects() { sae_clear(&Ctx); }
  SAE_CONTEXT Ctx = {};
};

class PasswordElementTest : public SaeLayerTest<ContextObjects> {
 protected:
  SAE_CONTEXT &Ctx() { return Objects().Ctx; }

  int Derive(const std::string &Password, const UINT8 *Own = OWN_MAC, const UINT8 *Peer = PEER_MAC) {
    return sae_derive_pwe(&Ctx(), Own, Peer, reinterpret_cast<const UINT8 *>(Password.data()), Password.size());
  }
  std::string PweX() {
    BigNum X, Y;
    EXPECT_EQ(ecc_point_to_xy(Ctx().Group, X, Y, &Ctx().Pwe), 0);
    return ToHex(X);
  }
  std::string PweY() {
    BigNum X, Y;
    EXPECT_EQ(ecc_point_to_xy(Ctx().Group, X, Y, &Ctx().Pwe), 0);
    return ToHex(Y);
  }
  void ExpectReferencePwe(const std::string &Password, const UINT8 *Own = OWN_MAC, const UINT8 *Peer = PEER_MAC) {
    ReferencePwe Expected = FirstResiduePwe(Ctx(), Own, Peer, Password);
    ASSERT_NE(Expected.Counter, 0);
    ASSERT_EQ(Derive(Password, Own, Peer), 0) << Password;
    EXPECT_EQ(PweX(), Expected.X) << Password << " (counter " << Expected.Counter << ")";
    EXPECT_EQ(PweY(), Expected.Y) << Password << " (counter " << Expected.Counter << ")";
    EXPECT_EQ(ecc_point_check(Ctx().Group, &Ctx().Pwe), 0);
    EXPECT_EQ(bignum_get_bit(PointY(&Ctx().Pwe), 0), Expected.SeedLastByte & 1) << "y parity from pwd-seed byte 32";
  }
  // The next value of the random source, as a fingerprint of how much has
  // been drawn from it.
  std::string NextRandom() {
    UINT8 Bytes[16];
    random_bytes(Bytes, sizeof(Bytes));
    BigNum Value;
    EXPECT_EQ(bignum_from_bytes(Value, Bytes, sizeof(Bytes)), 0);
    return ToHex(Value, 16);
  }
};

TEST_F(PasswordElementTest, EqualsTheFirstResidueRuleWhicheverCounterSucceeds) {
  int CountersSeen[40] = {};
  for (int Index = 0; Index < 24; ++Index) {
    std::string Password = "correct horse " + std::to_string(Index);
    ExpectReferencePwe(Password);
    ++CountersSeen[FirstResiduePwe(Ctx(), OWN_MAC, PEER_MAC, Password).Counter];
  }
  // Passwords chosen to need a late counter.
  for (int Counter : {2, 3, 4, 5}) {
    std::string Password = FindPassword(Ctx(), OWN_MAC, PEER_MAC, "late-", Counter, Counter);
    ExpectReferencePwe(Password);
    ++CountersSeen[Counter];
  }
  EXPECT_GT(CountersSeen[1], 0);
  EXPECT_GT(CountersSeen[3], 0);
}

TEST_F(PasswordElementTest, SwappedAddressesGiveTheSameElement) {
  ASSERT_EQ(Derive("swap me", OWN_MAC, PEER_MAC), 0);
  std::string X = PweX(), Y = PweY();
  ASSERT_EQ(Derive("swap me", PEER_MAC, OWN_MAC), 0);
  EXPECT_EQ(PweX(), X);
  EXPECT_EQ(PweY(), Y);
  // Addresses that differ only in a late, high byte still order correctly.
  const UINT8 Low[6] = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const UINT8 High[6] = {0x80, 0x00, 0x00, 0x00, 0x00, 0x00};
  ExpectReferencePwe("order", Low, High);
  ExpectReferencePwe("order", High, Low);
}

TEST_F(PasswordElementTest, DoesNotDependOnTheRandomSource) {
  SeedRandomSource(1);
  ASSERT_EQ(Derive("independent"), 0);
  std::string X = PweX(), Y = PweY();
  SeedRandomSource(0xDEADBEEF00000000ull);
  ASSERT_EQ(Derive("independent"), 0);
  EXPECT_EQ(PweX(), X);
  EXPECT_EQ(PweY(), Y);
}

TEST_F(PasswordElementTest, EveryCounterIsEvaluatedWhicheverSucceeds) {
  // Each counter's blinded test draws from the random source; with the same
  // seed the source must end in the same state for a password that succeeds
  // at once and one that needs several counters.
  std::string Early = FindPassword(Ctx(), OWN_MAC, PEER_MAC, "early-", 1, 1);
  std::string Late = FindPassword(Ctx(), OWN_MAC, PEER_MAC, "late-", 4, 39);
  SeedRandomSource(77);
  ASSERT_EQ(Derive(Early), 0);
  std::string AfterEarly = NextRandom();
  SeedRandomSource(77);
  ASSERT_EQ(Derive(Late), 0);
  EXPECT_EQ(NextRandom(), AfterEarly);
}

TEST_F(PasswordElementTest, LongestPasswordIsHashedWhole) {
  std::string Longest(63, 'p');
  Longest[62] = 'q';
  ExpectReferencePwe(Longest);
  std::string X = PweX();
  ASSERT_EQ(Derive(Longest.substr(0, 62) + "r"), 0);
  EXPECT_NE(PweX(), X) << "the last password byte must count";
}

TEST_F(PasswordElementTest, FailsWithoutContextGroupOrPasswordAndKeepsThePwe) {
  ASSERT_EQ(Derive("keep"), 0);
  std::string X = PweX();
  EXPECT_EQ(sae_derive_pwe(nullptr, OWN_MAC, PEER_MAC, reinterpret_cast<const UINT8 *>("x"), 1), -1);
  EXPECT_EQ(Derive(""), -1);
  EXPECT_EQ(sae_derive_pwe(&Ctx(), OWN_MAC, PEER_MAC, nullptr, 1), -1);
  ECC_GROUP *Group = Ctx().Group;
  Ctx().Group = nullptr;
  EXPECT_EQ(Derive("other"), -1);
  Ctx().Group = Group;
  EXPECT_EQ(PweX(), X);
}

TEST_F(PasswordElementTest, BlindedResidueTestAnswersCorrectlyEveryTime) {
  BigNum Qr, Qnr, Four, MinusOne, Zero, Square;
  ASSERT_EQ(sae_get_qr_qnr(&Ctx().Prime, Ctx().PrimeLen, Qr, Qnr), 0);
  SetInt(Four, 4);
  ASSERT_EQ(bignum_sub_int(MinusOne, &Ctx().Prime, 1), 0);
  SetInt(Zero, 0);
  SetHex(Square, P256_GY);
  ASSERT_EQ(bignum_mul_mod(Square, Square, Square, &Ctx().Prime), 0);
  // Every call blinds differently; the answer must not change.
  for (int Round = 0; Round < 32; ++Round) {
    EXPECT_EQ(sae_is_residue_blind(&Ctx(), Ctx().Group, Qr, Qnr, Four), 1);
    EXPECT_EQ(sae_is_residue_blind(&Ctx(), Ctx().Group, Qr, Qnr, Square), 1);
    EXPECT_EQ(sae_is_residue_blind(&Ctx(), Ctx().Group, Qr, Qnr, MinusOne), 0);
    EXPECT_EQ(sae_is_residue_blind(&Ctx(), Ctx().Group, Qr, Qnr, Zero), 0);
  }
  SAE_CONTEXT Empty = {};
  EXPECT_EQ(sae_is_residue_blind(&Empty, nullptr, Qr, Qnr, Four), -1);
}

TEST_F(PasswordElementTest, QrAndQnrAreAResidueAndANonResidueBelowP) {
  for (int Round = 0; Round < 8; ++Round) {
    BigNum Qr, Qnr;
    ASSERT_EQ(sae_get_qr_qnr(&Ctx().Prime, Ctx().PrimeLen, Qr, Qnr), 0);
    EXPECT_EQ(bignum_legendre(Qr, &Ctx().Prime), 1);
    EXPECT_EQ(bignum_legendre(Qnr, &Ctx().Prime), -1);
    EXPECT_LT(bignum_cmp(Qr, &Ctx().Prime), 0);
    EXPECT_LT(bignum_cmp(Qnr, &Ctx().Prime), 0);
  }
  BigNum Qr, Qnr, NoPrime;
  EXPECT_EQ(sae_get_qr_qnr(&Ctx().Prime, 0, Qr, Qnr), -1);
  EXPECT_EQ(sae_get_qr_qnr(NoPrime, 32, Qr, Qnr), -1);
}

TEST_F(PasswordElementTest, PoolExhaustionAnywhereFailsCleanlyAndKeepsThePwe) {
  ASSERT_EQ(Derive("before"), 0);
  std::string X = PweX();
  UINT64 Allocations = FailEachAllocation(
      [&] {
        if (Derive("exhausted") == 0) {
          return true;
        }
        EXPECT_EQ(PweX(), X);
        return false;
      },
      400, 37);
  // The buffers, qr and qnr and the point allocate; the counters do not.
  EXPECT_GT(Allocations, 3u);
  EXPECT_LT(Allocations, static_cast<UINT64>(SAE_PWE_COUNTERS));
  ExpectReferencePwe("exhausted");
}

}  // namespace
}  // namespace sae_test
