// Peer commits and confirms an attacker would send: every malformed shape of
// the commit gets its status value (7, 8, 9, 10) and never keys; a reflected
// commit or confirm is refused; invalid scalars and elements are caught
// before they reach the point arithmetic.
#include "SaeTestSupport.h"

namespace sae_test {
namespace {

using TestSupport::StatusIs;

class SaeAttackTest : public SaeDriverTest {
 protected:
  void SetUp() override {
    SaeDriverTest::SetUp();
    MakePair("under attack", "under attack");
    OwnCommit_ = A().Commit();
    PeerCommit_ = B().Commit();
  }
  // The victim is A; B's genuine commit is the material the attacks reshape.
  EFI_STATUS Send(const Bytes &Commit) { return A().TakeCommit(Commit); }
  Bytes Scalar() const { return Slice(PeerCommit_, 2, 32); }
  Bytes Element() const { return Slice(PeerCommit_, 34, 64); }
  Bytes Group19() const { return GroupField(19); }

  // After a refused commit the victim has no keys: no confirm either way.
  void ExpectNoKeys(const char *Attack) {
    EFI_STATUS Status = EFI_SUCCESS;
    A().GetBody(EfiSupplicantSaeConfirm, &Status);
    EXPECT_TRUE(StatusIs(Status, EFI_PROTOCOL_ERROR)) << Attack;
    EXPECT_NE(A().Record()->PmkSource, SUP_PMK_SOURCE::Sae) << Attack;
  }
  void ExpectRefused(const Bytes &Commit, EFI_STATUS Expected, const char *Attack) {
    EFI_STATUS Status = Send(Commit);
    EXPECT_EQ(Status, Expected) << Attack;
    EXPECT_FALSE(EFI_ERROR(Status)) << Attack << ": plain value, no error bit";
    ExpectNoKeys(Attack);
  }

  Bytes OwnCommit_;
  Bytes PeerCommit_;
};

TEST_F(SaeAttackTest, TheGenuineCommitIsAccepted) {
  // The baseline every attack below is a variation of.
  EXPECT_TRUE(StatusIs(Send(PeerCommit_), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(B().TakeCommit(OwnCommit_), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(B().TakeConfirm(A().Confirm()), EFI_SUCCESS));
}

TEST_F(SaeAttackTest, ShortCommitsAndOtherGroupsAreStatus7) {
  ExpectRefused({}, SAE_COMMIT_BAD_GROUP, "empty");
  ExpectRefused({0x13}, SAE_COMMIT_BAD_GROUP, "one byte");
  for (UINT16 Group : {20, 21, 0, 0x1300, 0xFFFF}) {
    ExpectRefused(Concat({GroupField(Group), Scalar(), Element()}), SAE_COMMIT_BAD_GROUP, "other group");
  }
}

TEST_F(SaeAttackTest, BadScalarsAreStatus8) {
  BigNum Order, OrderPlusOne;
  ASSERT_EQ(bignum_copy(Order, &A().Sae().Order), 0);
  ASSERT_EQ(bignum_add_int(OrderPlusOne, Order, 1), 0);
  Bytes One(32, 0);
  One[31] = 1;
  ExpectRefused(Group19(), SAE_COMMIT_BAD_SCALAR, "no scalar");
  ExpectRefused(Concat({Group19(), Slice(Scalar(), 0, 31)}), SAE_COMMIT_BAD_SCALAR, "ends inside the scalar");
  ExpectRefused(Concat({Group19(), Bytes(32, 0), Element()}), SAE_COMMIT_BAD_SCALAR, "scalar 0");
  ExpectRefused(Concat({Group19(), One, Element()}), SAE_COMMIT_BAD_SCALAR, "scalar 1");
  ExpectRefused(Concat({Group19(), NumberBytes(Order), Element()}), SAE_COMMIT_BAD_SCALAR, "scalar r");
  ExpectRefused(Concat({Group19(), NumberBytes(OrderPlusOne), Element()}), SAE_COMMIT_BAD_SCALAR, "scalar r + 1");
  ExpectRefused(Concat({Group19(), Bytes(32, 0xFF), Element()}), SAE_COMMIT_BAD_SCALAR, "scalar 2^256 - 1");
  EXPECT_EQ(bignum_cmp_int(&A().Sae().PeerScalar, 0), 0) << "a refused scalar is released";
}

TEST_F(SaeAttackTest, ScalarsJustInsideTheRangeAreTaken) {
  // 2 and r - 1 are valid scalars: with the genuine element they give keys
  // (which then do not match B's, as the scalar is not B's).
  BigNum OrderMinusOne;
  ASSERT_EQ(bignum_sub_int(OrderMinusOne, &A().Sae().Order, 1), 0);
  Bytes Two(32, 0);
  Two[31] = 2;
  EXPECT_TRUE(StatusIs(Send(Concat({Group19(), Two, Element()})), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Send(Concat({Group19(), NumberBytes(OrderMinusOne), Element()})), EFI_SUCCESS));
}

TEST_F(SaeAttackTest, BadElementsAreStatus9) {
  const Bytes Prime = NumberBytes(&A().Sae().Prime);
  const Bytes X = Slice(Element(), 0, 32), Y = Slice(Element(), 32, 32);
  Bytes OffCurveY = Y;
  OffCurveY[31] ^= 1;
  ExpectRefused(Concat({Group19(), Scalar()}), SAE_COMMIT_BAD_ELEMENT, "no element");
  ExpectRefused(Concat({Group19(), Scalar(), Slice(Element(), 0, 63)}), SAE_COMMIT_BAD_ELEMENT,
                "ends inside the element");
  ExpectRefused(Concat({Group19(), Scalar(), X, OffCurveY}), SAE_COMMIT_BAD_ELEMENT, "off the curve");
  ExpectRefused(Concat({Group19(), Scalar(), Prime, Y}), SAE_COMMIT_BAD_ELEMENT, "x = p");
  ExpectRefused(Concat({Group19(), Scalar(), X, Prime}), SAE_COMMIT_BAD_ELEMENT, "y = p");
  ExpectRefused(Concat({Group19(), Scalar(), Bytes(32, 0xFF), Y}), SAE_COMMIT_BAD_ELEMENT, "x = 2^256 - 1");
  // The point at infinity has no affine coordinates; its encoding as zeros
  // is not a point of the curve.
  ExpectRefused(Concat({Group19(), Scalar(), Bytes(64, 0)}), SAE_COMMIT_BAD_ELEMENT, "infinity as zeros");

  // x + p: the same x modulo p, but not a reduced coordinate.
  BigNum Xp, Yp;
  ASSERT_EQ(bignum_from_bytes(Xp, X.data(), 32), 0);
  ASSERT_EQ(bignum_add(Xp, Xp, &A().Sae().Prime), 0);
  if (bignum_bytes(Xp) <= 32) {
    ExpectRefused(Concat({Group19(), Scalar(), NumberBytes(Xp), Y}), SAE_COMMIT_BAD_ELEMENT, "x + p");
  }
  EXPECT_EQ(ecc_point_is_infinity(&A().Sae().PeerElement), 1) << "a refused element is released";
}

TEST_F(SaeAttackTest, ReflectedCommitIsRefused) {
  ExpectRefused(OwnCommit_, SAE_COMMIT_BAD_ELEMENT, "reflected commit");
  ExpectRefused(Concat({OwnCommit_, Bytes(8, 0)}), SAE_COMMIT_BAD_ELEMENT, "reflected commit with trailing bytes");
  // Only both together are a reflection: the own element with another
  // scalar is a (useless) commit like any other.
  Bytes Two(32, 0);
  Two[31] = 2;
  EXPECT_TRUE(StatusIs(Send(Concat({Group19(), Two, Slice(OwnCommit_, 34, 64)})), EFI_SUCCESS));
}

TEST_F(SaeAttackTest, ReflectedConfirmIsRefused) {
  ASSERT_TRUE(StatusIs(Send(PeerCommit_), EFI_SUCCESS));
  Bytes OwnConfirm = A().Confirm();
  EXPECT_TRUE(StatusIs(A().TakeConfirm(OwnConfirm), EFI_BUFFER_TOO_SMALL));
}

TEST_F(SaeAttackTest, ElementCancellingTheScalarTimesPweIsStatus10) {
  // With knowledge of the PWE an attacker could send E = -(s * PWE), making
  // s * PWE + E the point at infinity: no shared secret may come of it.
  SAE_CONTEXT &Sae = A().Sae();
  Bytes Two(32, 0);
  Two[31] = 2;
  BigNum S, X, Y;
  ASSERT_EQ(bignum_from_bytes(S, Two.data(), 32), 0);
  EcPoint Cancelling;
  ASSERT_EQ(ecc_point_mul(Sae.Group, Cancelling, S, &Sae.Pwe), 0);
  ASSERT_EQ(ecc_point_negate(Sae.Group, Cancelling), 0);
  ASSERT_EQ(ecc_point_to_xy(Sae.Group, X, Y, Cancelling), 0);
  ExpectRefused(Concat({Group19(), Two, NumberBytes(X), NumberBytes(Y)}), SAE_COMMIT_NO_SECRET, "K at infinity");
}

TEST_F(SaeAttackTest, CommitWithoutOwnCommitGetsNoKeys) {
  Station &Fresh = NewStation();
  Fresh.Configure(STATION_A, STATION_B, "under attack");
  EXPECT_EQ(Fresh.TakeCommit(PeerCommit_), SAE_COMMIT_BAD_SCALAR);
  EFI_STATUS Status = EFI_SUCCESS;
  Fresh.GetBody(EfiSupplicantSaeConfirm, &Status);
  EXPECT_TRUE(StatusIs(Status, EFI_PROTOCOL_ERROR));
}

}  // namespace
}  // namespace sae_test
