#include <TestSupport/HostEnvTest.h>

void PrintTo(const EFI_GUID &Guid, std::ostream *Stream) { *Stream << HostEnv::GuidToString(Guid); }

namespace TestSupport {

::testing::AssertionResult StatusIs(EFI_STATUS Actual, EFI_STATUS Expected) {
  if (Actual == Expected) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << HostEnv::StatusToString(Actual) << ", expected "
                                       << HostEnv::StatusToString(Expected);
}

void HostEnvTest::SetUp() { Env_ = std::make_unique<HostEnv::Environment>(EnvironmentOptions()); }

void HostEnvTest::TearDown() {
  CheckCleanEnd();
  Env_.reset();
}

void HostEnvTest::RestartEnvironment(const HostEnv::Options &Settings) {
  CheckCleanEnd();
  Env_.reset();
  Env_ = std::make_unique<HostEnv::Environment>(Settings);
}

void HostEnvTest::CheckCleanEnd() {
  std::string Leaks = Env_->Pool().LeakReport();
  EXPECT_TRUE(Leaks.empty()) << "pool blocks still live at the end of the test:\n" << Leaks;
  for (const std::string &Fault : Env_->TakeFaults()) {
    ADD_FAILURE() << "host environment fault: " << Fault;
  }
}

}  // namespace TestSupport
