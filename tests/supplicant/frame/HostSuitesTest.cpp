// The suites of the UEFI test application, run against the host environment
// exactly as SupTestApp runs them inside OVMF: load the driver, run every
// suite, unload it, check nothing of it is left. The two environments are
// held to the same behaviour.
#include <TestSupport/HostEnvTest.h>

#include <string>
#include <vector>

#include "SupSuites.h"
#include "uefi_sup.h"

namespace {

void CollectLine(const CHAR8 *Line, void *Context) {
  static_cast<std::vector<std::string> *>(Context)->emplace_back(Line);
}

class SupTestAppOnHost : public TestSupport::HostEnvTest {
 protected:
  // Runs the suites of one phase; every FAIL line fails the test.
  void RunPhase(SuitePhase Phase) {
    std::vector<std::string> Lines;
    TestReporter Report(CollectLine, &Lines);
    RunSupplicantSuites(Report, Phase);
    for (const std::string &Line : Lines) {
      EXPECT_EQ(Line.rfind("FAIL", 0), std::string::npos) << Line;
    }
    EXPECT_GT(Report.Passed(), 0u);
    EXPECT_EQ(Report.Failed(), 0u);
  }
};

TEST_F(SupTestAppOnHost, SuitesPassWithTheDriverLoadedThenUnloaded) {
  EFI_HANDLE Image = Env().LoadImage(NorvSupDxeModuleEntry);
  ASSERT_TRUE(TestSupport::StatusIs(Env().StartImage(Image), EFI_SUCCESS));
  RunPhase(SuitePhase::DriverLoaded);
  ASSERT_TRUE(TestSupport::StatusIs(Env().UnloadImage(Image), EFI_SUCCESS));
  RunPhase(SuitePhase::DriverUnloaded);
}

}  // namespace
