// The suites of the UEFI test application, run against the host environment
// exactly as SupTestApp runs them inside OVMF: load the driver, run every
// suite, unload it, check nothing of it is left. The two environments are
// held to the same behaviour.
#include <TestSupport/HostEnvTest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <Library/UefiLib.h>

#include "BootSequence.h"
#include "SupSuites.h"
#include "uefi_sup.h"

namespace {

void CollectLine(const CHAR8 *Line, void *Context) {
  static_cast<std::vector<std::string> *>(Context)->emplace_back(Line);
}

// OVMF's clock reads the host's time, and the EAP-TLS suite's certificates
// are checked against it: the host environment's clock reads it too.
HostEnv::Options ClockNow() {
  HostEnv::Options Options;
  std::time_t Now = std::time(nullptr);
  std::tm Utc = {};
  gmtime_r(&Now, &Utc);
  Options.Time = {(UINT16)(Utc.tm_year + 1900), (UINT8)(Utc.tm_mon + 1), (UINT8)Utc.tm_mday, (UINT8)Utc.tm_hour,
                  (UINT8)Utc.tm_min, (UINT8)Utc.tm_sec, 0, 0, 0, 0, 0};
  return Options;
}

class SupTestAppOnHost : public TestSupport::HostEnvTest {
 protected:
  HostEnv::Options EnvironmentOptions() const override { return ClockNow(); }
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

// SupTestApp's boot sequence, as the firmware runs it when it boots the
// application: the application itself loads the driver by its file path,
// starts it, runs the suites, unloads it and checks it is gone.
std::vector<std::string> *BootLines = nullptr;
bool BootPassed = false;
EFI_STATUS EFIAPI BootApplication(EFI_HANDLE Image, EFI_SYSTEM_TABLE *SystemTable) {
  UefiLibConstructor(Image, SystemTable);
  BootPassed = RunBootSequence(Image, {.ConnectAll = false}, CollectLine, BootLines);
  return EFI_SUCCESS;
}

class BootSequenceOnHost : public TestSupport::HostEnvTest {
 protected:
  HostEnv::Options EnvironmentOptions() const override { return ClockNow(); }
  std::vector<std::string> Boot() {
    std::vector<std::string> Lines;
    BootLines = &Lines;
    BootPassed = false;
    EFI_HANDLE App = Env().LoadImage(BootApplication, {.Kind = HostEnv::ImageKind::Application,
                                                       .FileName = u"\\EFI\\BOOT\\BOOTX64.EFI"});
    EXPECT_TRUE(TestSupport::StatusIs(Env().StartImage(App), EFI_SUCCESS));
    BootLines = nullptr;
    return Lines;
  }
  static std::vector<std::string> Starting(const std::vector<std::string> &Lines, const std::string &Prefix) {
    std::vector<std::string> Found;
    for (const std::string &Line : Lines) {
      if (Line.rfind(Prefix, 0) == 0) {
        Found.push_back(Line);
      }
    }
    return Found;
  }
};

TEST_F(BootSequenceOnHost, LoadsRunsAndUnloadsTheDriverItselfInThreePhases) {
  Env().RegisterImage(u"NorvSupDxe.efi", NorvSupDxeModuleEntry);
  const size_t HandlesBefore = Env().HandleCount();
  const std::vector<std::string> Lines = Boot();
  EXPECT_TRUE(BootPassed);
  EXPECT_TRUE(Starting(Lines, "FAIL").empty()) << Starting(Lines, "FAIL")[0];
  EXPECT_EQ(Starting(Lines, "INFO phase "),
            (std::vector<std::string>{"INFO phase load", "INFO phase unload", "INFO phase unloaded"}));
  // No \verify folder (no file system at all here): no verify phase.
  const std::vector<std::string> Summaries = Starting(Lines, "SUMMARY");
  ASSERT_EQ(Summaries.size(), 3u);
  size_t Counted = 0;
  for (const std::string &Summary : Summaries) {
    unsigned Passed = 0, Failed = 1;
    ASSERT_EQ(std::sscanf(Summary.c_str(), "SUMMARY passed=%u failed=%u", &Passed, &Failed), 2) << Summary;
    EXPECT_EQ(Failed, 0u) << Summary;
    Counted += Passed;
  }
  EXPECT_EQ(Counted, Starting(Lines, "PASS").size());
  for (const char *Check : {"PASS boot.driver-loaded", "PASS boot.driver-started",
                            "PASS boot.service-binding-on-driver-image", "PASS boot.driver-unloaded",
                            "PASS unload.service-binding-gone"}) {
    EXPECT_EQ(Starting(Lines, Check).size(), 1u) << Check;
  }
#if NORV_ENTERPRISE
  // The enterprise driver lists the 802.1X AKMs: the EAP-TLS suite connects.
  for (const char *Check : {"PASS eap-tls.akm1.pmk-from-msk", "PASS eap-tls.akm5.pmk-from-msk",
                            "PASS handshake.eap-tls-akm5.keys-after-4-way", "PASS eap-tls.untrusted-server.refused"}) {
    EXPECT_EQ(Starting(Lines, Check).size(), 1u) << Check;
  }
#endif
  EXPECT_EQ(Env().HandleCount(), HandlesBefore) << "the driver or the application left handles behind";
}

TEST_F(BootSequenceOnHost, AMissingDriverFailsTheLoadPhaseAndRunsNoSuite) {
  const std::vector<std::string> Lines = Boot();
  EXPECT_FALSE(BootPassed);
  EXPECT_EQ(Starting(Lines, "FAIL boot.driver-loaded").size(), 1u);
  EXPECT_EQ(Starting(Lines, "SUMMARY"), std::vector<std::string>{"SUMMARY passed=0 failed=1"});
  EXPECT_TRUE(Starting(Lines, "INFO phase unload").empty());
}

}  // namespace
