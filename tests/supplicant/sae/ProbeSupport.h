// What every callgrind probe sets up before its measured call: a failed
// assertion in the shared test helpers aborts (a probe that failed cannot be
// trusted), the host environment stands behind gST and gBS, and the random
// source starts from a fixed seed, so that two runs differ only in their
// argument.
#pragma once
#include <HostEnv/Environment.h>
#include <Library/UefiLib.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "EccTestSupport.h"

namespace sae_test {

class ProbeEnvironment {
 public:
  explicit ProbeEnvironment(UINT64 Seed) {
    ::testing::UnitTest::GetInstance()->listeners().Append(new AbortOnFailure);
    gST = Env_.SystemTable();
    gBS = Env_.BootServices();
    SeedRandomSource(Seed);
  }

 private:
  class AbortOnFailure : public ::testing::EmptyTestEventListener {
    void OnTestPartResult(const ::testing::TestPartResult &Result) override {
      if (Result.failed()) {
        std::fprintf(stderr, "%s\n", Result.summary());
        std::abort();
      }
    }
  };

  HostEnv::Environment Env_;
};

}  // namespace sae_test
