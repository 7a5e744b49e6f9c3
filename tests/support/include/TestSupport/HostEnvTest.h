// GoogleTest support for every suite that runs code in the host UEFI
// environment. Derive fixtures from HostEnvTest: each test gets a fresh
// environment, and a test fails when it ends with pool blocks still live or
// with programming errors the environment detected (freeing foreign memory,
// TPL misuse, ...).
#pragma once

#include <HostEnv/Environment.h>
#include <HostEnv/Text.h>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

// GoogleTest prints GUIDs in registry form.
void PrintTo(const EFI_GUID &Guid, std::ostream *Stream);

namespace TestSupport {

// Passes when Actual == Expected; the message names both statuses
// ("Access Denied, expected Not Found"). EFI_STATUS is an integer type, so
// plain EXPECT_EQ would print numbers.
::testing::AssertionResult StatusIs(EFI_STATUS Actual, EFI_STATUS Expected);

class HostEnvTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Override to start tests with other settings (revision, no RNG, ...).
  virtual HostEnv::Options EnvironmentOptions() const { return {}; }

  HostEnv::Environment &Env() { return *Env_; }
  EFI_SYSTEM_TABLE     *ST() { return Env_->SystemTable(); }
  EFI_BOOT_SERVICES    *BS() { return Env_->BootServices(); }
  EFI_RUNTIME_SERVICES *RT() { return Env_->RuntimeServices(); }

  std::string ConOutText() { return Env_->ConOut().Text(); }
  std::string StdErrText() { return Env_->StdErr().Text(); }

  // For tests that provoke a fault on purpose: returns the faults so far and
  // clears them, so TearDown does not count them.
  std::vector<std::string> TakeFaults() { return Env_->TakeFaults(); }

  // Replaces the environment with a fresh one (after checking the old one
  // as TearDown would).
  void RestartEnvironment(const HostEnv::Options &Settings);

 private:
  void CheckCleanEnd();
  std::unique_ptr<HostEnv::Environment> Env_;
};

}  // namespace TestSupport
