// The branch-free helpers the password element and the confirm check rely
// on: the big-endian comparison that rejects candidates not below p must be
// decided by the most significant differing byte, wherever it is.
#include <gtest/gtest.h>

#include <vector>

#include "ConstantTime.h"

namespace {

using Bytes = std::vector<UINT8>;

UINT8 Less(const Bytes &A, const Bytes &B) { return sae_ct::IsLessBigEndian(A.data(), B.data(), A.size()); }

TEST(ConstantTimeTest, BigEndianComparisonIsDecidedByTheHighestDifferingByte) {
  const Bytes Prime = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF};
  EXPECT_EQ(Less(Prime, Prime), 0) << "equal is not below";
  for (size_t Index = 0; Index < Prime.size(); ++Index) {
    Bytes Above = Prime, Below = Prime;
    if (Prime[Index] != 0xFF) {
      ++Above[Index];
      EXPECT_EQ(Less(Above, Prime), 0) << "one more at byte " << Index;
      EXPECT_EQ(Less(Prime, Above), 1) << "one more at byte " << Index;
    }
    if (Prime[Index] != 0x00) {
      --Below[Index];
      EXPECT_EQ(Less(Below, Prime), 1) << "one less at byte " << Index;
      EXPECT_EQ(Less(Prime, Below), 0) << "one less at byte " << Index;
    }
  }
  // A lower byte pointing the other way does not outvote a higher one.
  EXPECT_EQ(Less({0x01, 0xFF, 0xFF}, {0x02, 0x00, 0x00}), 1);
  EXPECT_EQ(Less({0x02, 0x00, 0x00}, {0x01, 0xFF, 0xFF}), 0);
  EXPECT_EQ(Less({0x00, 0x00, 0x00}, {0x00, 0x00, 0x01}), 1);
  EXPECT_EQ(Less({0x80, 0x00}, {0x7F, 0xFF}), 0);
}

TEST(ConstantTimeTest, EqualitySelectionAndFlags) {
  const Bytes A = {1, 2, 3, 4}, B = {1, 2, 3, 5};
  EXPECT_EQ(sae_ct::IsEqualBytes(A.data(), A.data(), A.size()), 1);
  EXPECT_EQ(sae_ct::IsEqualBytes(A.data(), B.data(), A.size()), 0);
  EXPECT_EQ(sae_ct::IsEqualBytes(A.data(), B.data(), 3), 1);
  EXPECT_EQ(sae_ct::IsEqual(-1, -1), 1);
  EXPECT_EQ(sae_ct::IsEqual(1, -1), 0);
  EXPECT_EQ(sae_ct::IsEqual(0, INT32_MIN), 0);
  EXPECT_EQ(sae_ct::IsNonZero(0), 0);
  EXPECT_EQ(sae_ct::IsNonZero(0x80000000u), 1);
  EXPECT_EQ(sae_ct::Select(1, 0xAB, 0xCD), 0xAB);
  EXPECT_EQ(sae_ct::Select(0, 0xAB, 0xCD), 0xCD);
  EXPECT_EQ(sae_ct::MaskFromFlag(1), 0xFF);
  EXPECT_EQ(sae_ct::MaskFromFlag(0), 0x00);
}

}  // namespace
