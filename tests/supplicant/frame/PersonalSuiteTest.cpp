// The EAP-TLS suite of the UEFI test application against the personal-only
// driver: that driver lists no 802.1X AKM, so the suite reports each
// connection as skipped and runs no check of it (and fails none).
#include <TestSupport/HostEnvTest.h>

#include <string>
#include <vector>

#include "EapTlsSuite.h"
#include "uefi_sup.h"

namespace {

void CollectLine(const CHAR8 *Line, void *Context) {
  static_cast<std::vector<std::string> *>(Context)->emplace_back(Line);
}

class EapTlsSuiteOnPersonalDriver : public TestSupport::HostEnvTest {};

TEST_F(EapTlsSuiteOnPersonalDriver, SkipsEveryConnectionByTheAkmsTheDriverLists) {
  EFI_HANDLE Image = Env().LoadImage(NorvSupDxeModuleEntry);
  ASSERT_TRUE(TestSupport::StatusIs(Env().StartImage(Image), EFI_SUCCESS));
  std::vector<std::string> Lines;
  TestReporter Report(CollectLine, &Lines);
  RunEapTlsSuite(Report);
  std::vector<std::string> Skipped, ConnectionChecks;
  for (const std::string &Line : Lines) {
    EXPECT_EQ(Line.rfind("FAIL", 0), std::string::npos) << Line;
    if (Line.rfind("INFO eap-tls.", 0) == 0 && Line.find(" skipped: ") != std::string::npos) {
      Skipped.push_back(Line.substr(5, Line.find(' ', 5) - 5));
    }
    const bool Check = Line.rfind("PASS ", 0) == 0 || Line.rfind("FAIL ", 0) == 0;
    const bool OfAConnection = Line.find(" eap-tls.akm") != std::string::npos ||
                               Line.find(" handshake.eap-tls-") != std::string::npos ||
                               Line.find(" eap-tls.untrusted-server") != std::string::npos;
    if (Check && OfAConnection) {
      ConnectionChecks.push_back(Line);
    }
  }
  EXPECT_EQ(Skipped, (std::vector<std::string>{"eap-tls.akm1", "eap-tls.akm5"}));
  EXPECT_TRUE(ConnectionChecks.empty()) << ConnectionChecks[0];
  EXPECT_EQ(Report.Failed(), 0u);
  ASSERT_TRUE(TestSupport::StatusIs(Env().UnloadImage(Image), EFI_SUCCESS));
}

}  // namespace
