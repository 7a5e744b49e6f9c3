#include "SupSuites.h"

#include "ConfigSuite.h"
#include "CryptoSuite.h"
#include "EapTlsSuite.h"
#include "FrameSuite.h"
#include "HandshakeSuite.h"
#include "SaeSuite.h"
#include "TlsSuite.h"

void RunSupplicantSuites(TestReporter &Report, SuitePhase Phase) {
  if (Phase == SuitePhase::DriverUnloaded) {
    RunUnloadedSuite(Report);
    return;
  }
  RunFrameSuite(Report);
  RunConfigSuite(Report);
  RunCryptoSuite(Report);
  RunHandshakeSuite(Report);
  RunSaeSuite(Report);
  RunTlsSuite(Report);
  RunEapTlsSuite(Report);
  RunUnloadGuardSuite(Report);
}
