// Pool exhaustion at each allocation of every SAE entry point: the call
// reports a failure (never a commit, keys or a confirm built from a failed
// step), changes nothing it should not, and leaks nothing. Past the first
// few hundred allocations only every Stride-th one would be failed; group
// 19's point arithmetic keeps every entry point well below that, so each
// allocation is failed in turn.
#include "SaeTestSupport.h"

namespace sae_test {
namespace {

using TestSupport::StatusIs;

constexpr UINT64 EACH_UP_TO = 300;
constexpr UINT64 STRIDE = 89;

class SaeExhaustionTest : public SaeDriverTest {
 protected:
  void SetUp() override {
    SaeDriverTest::SetUp();
    MakePair("exhausted", "exhausted");
  }
  size_t LiveBlocks() { return Env().Pool().TotalUsage().LiveBlocks; }
};

TEST_F(SaeExhaustionTest, OwnCommitIsNeverBuiltFromAFailedStep) {
  Bytes Commit;
  UINT64 Allocations = FailEachAllocation(
      Env(),
      [&] {
        EFI_STATUS Status = EFI_SUCCESS;
        Bytes Body = A().GetBody(EfiSupplicantSaeCommit, &Status, 98);
        if (Status == EFI_SUCCESS) {
          Commit = Body;
          return true;
        }
        EXPECT_TRUE(StatusIs(Status, EFI_UNSUPPORTED));
        EXPECT_EQ(Body, Bytes(98, 0xEE)) << "nothing written";
        EXPECT_EQ(A().Sae().Group, nullptr) << "a failed commit leaves no exchange behind";
        return false;
      },
      EACH_UP_TO, STRIDE);
  EXPECT_GT(Allocations, 20u);
  // The commit that finally succeeded is a good one.
  Bytes CommitB = B().Commit();
  ASSERT_TRUE(StatusIs(B().TakeCommit(Commit), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(A().TakeCommit(CommitB), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(B().TakeConfirm(A().Confirm()), EFI_SUCCESS));
}

TEST_F(SaeExhaustionTest, PeerCommitGivesNoKeysFromAFailedStep) {
  Bytes CommitA = A().Commit();
  Bytes CommitB = B().Commit();
  // The state every attempt is measured against: B's commit accepted.
  ASSERT_TRUE(StatusIs(A().TakeCommit(CommitB), EFI_SUCCESS));
  const size_t Accepted = LiveBlocks();
  const Bytes Keys(A().Sae().SaeKck, A().Sae().SaeKck + 64);
  UINT64 N = 1;
  for (; N < 1000000; N += N < EACH_UP_TO ? 1 : STRIDE) {
    UINT64 InjectedBefore = Env().Pool().InjectedFailures();
    Env().Pool().FailNthAllocation(N);
    EFI_STATUS Status = A().TakeCommit(CommitB);
    bool Injected = Env().Pool().InjectedFailures() != InjectedBefore;
    Env().Pool().StopFailing();
    if (!Injected) {
      EXPECT_TRUE(StatusIs(Status, EFI_SUCCESS));
      break;
    }
    EXPECT_TRUE(Status >= SAE_COMMIT_BAD_SCALAR && Status <= SAE_COMMIT_KEYS_FAILED)
        << "allocation " << N << " gave status " << Status;
    EFI_STATUS ConfirmStatus = EFI_SUCCESS;
    A().GetBody(EfiSupplicantSaeConfirm, &ConfirmStatus);
    EXPECT_TRUE(StatusIs(ConfirmStatus, EFI_PROTOCOL_ERROR)) << "allocation " << N;
    // Keys from before stay as they were rather than half-written.
    EXPECT_EQ(Bytes(A().Sae().SaeKck, A().Sae().SaeKck + 64), Keys);
    ASSERT_TRUE(StatusIs(A().TakeCommit(CommitB), EFI_SUCCESS));
    EXPECT_EQ(LiveBlocks(), Accepted) << "leak after failing allocation " << N;
  }
  EXPECT_GT(N, 10u);
  ASSERT_TRUE(StatusIs(B().TakeCommit(CommitA), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(B().TakeConfirm(A().Confirm()), EFI_SUCCESS));
}

TEST_F(SaeExhaustionTest, ConfirmIsNeverBuiltFromAFailedComputation) {
  ExchangeCommits();
  const Bytes PmkBefore(A().Record()->Pmk, A().Record()->Pmk + 32);
  Bytes Confirm;
  FailEachAllocation(Env(), [&] {
    EFI_STATUS Status = EFI_SUCCESS;
    Bytes Body = A().GetBody(EfiSupplicantSaeConfirm, &Status, 34);
    if (Status == EFI_SUCCESS) {
      Confirm = Body;
      return true;
    }
    EXPECT_TRUE(StatusIs(Status, EFI_UNSUPPORTED));
    EXPECT_EQ(Body, Bytes(34, 0xEE)) << "nothing written";
    EXPECT_EQ(A().Sae().SendConfirm, 0) << "no confirm was sent";
    EXPECT_EQ(Bytes(A().Record()->Pmk, A().Record()->Pmk + 32), PmkBefore);
    return false;
  });
  EXPECT_EQ(Confirm[0], 0) << "the first confirm actually built carries 0";
  EXPECT_TRUE(StatusIs(B().TakeConfirm(Confirm), EFI_SUCCESS));
}

TEST_F(SaeExhaustionTest, PeerConfirmIsNeverAcceptedUnverified) {
  ExchangeCommits();
  Bytes Genuine = B().Confirm();
  Bytes Forged = Genuine;
  Forged[20] ^= 0x40;
  FailEachAllocation(Env(), [&] {
    EFI_STATUS Status = A().TakeConfirm(Forged);
    EXPECT_NE(Status, EFI_SUCCESS);
    return Status == EFI_BUFFER_TOO_SMALL;
  });
  FailEachAllocation(Env(), [&] {
    EFI_STATUS Status = A().TakeConfirm(Genuine);
    if (Status != EFI_SUCCESS) {
      EXPECT_TRUE(StatusIs(Status, EFI_UNSUPPORTED));
    }
    return Status == EFI_SUCCESS;
  });
}

}  // namespace
}  // namespace sae_test
