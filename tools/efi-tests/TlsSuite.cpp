// Freestanding: the loopback pair, the test credentials and the reporter.
#include "TlsSuite.h"

#include <Library/BaseMemoryLib.h>

#include "TlsLoopback.h"
#include "mbedtls/ssl.h"
#include "mbedtls/x509.h"
#include "vectors/TlsTestCredentials.h"

using namespace tls_credentials;
using tls_loopback::Credentials;
using tls_loopback::Outcome;
using tls_loopback::Settings;

namespace {

constexpr Credentials EcServer = {EcRootCert, sizeof(EcRootCert), EcServerCert, sizeof(EcServerCert),
                                  EcServerKey, sizeof(EcServerKey), nullptr};
constexpr Credentials EcClientEncryptedKey = {EcRootCert, sizeof(EcRootCert), EcClientCert, sizeof(EcClientCert),
                                              EcClientKeyPbes2Sha256, sizeof(EcClientKeyPbes2Sha256),
                                              TlsKeyPassPhrase};
constexpr Credentials RsaServer = {RsaRootCert, sizeof(RsaRootCert), RsaServerCert, sizeof(RsaServerCert),
                                   RsaServerKey, sizeof(RsaServerKey), nullptr};
constexpr Credentials RsaClient = {RsaRootCert, sizeof(RsaRootCert), RsaClientCert, sizeof(RsaClientCert),
                                   RsaClientKey, sizeof(RsaClientKey), nullptr};
// Same names as the EC server, signed by a root the client does not trust.
constexpr Credentials RogueServer = {EcRootCert, sizeof(EcRootCert), RogueServerCert, sizeof(RogueServerCert),
                                     RogueServerKey, sizeof(RogueServerKey), nullptr};

// "tls.<case>.<what>", cut to the buffer.
class CheckName {
 public:
  CheckName(const CHAR8 *Case, const CHAR8 *What) {
    Append("tls.");
    Append(Case);
    Append(".");
    Append(What);
  }
  operator const CHAR8 *() const { return Text_; }

 private:
  void Append(const CHAR8 *Part) {
    while (*Part != '\0' && Length_ + 1 < sizeof(Text_)) {
      Text_[Length_++] = *Part++;
    }
    Text_[Length_] = '\0';
  }
  CHAR8 Text_[80] = {};
  UINTN Length_ = 0;
};

// A successful connection: both ends finish on the expected suite, derive
// the same EAP-TLS key material (which is the TLS PRF of the master secret),
// and carry application data both ways.
void CheckConnection(TestReporter &Report, const CHAR8 *Case, const Settings &Setup, int Suite) {
  Outcome Result;
  tls_loopback::RunHandshake(Setup, 0x7e57, &Result);
  if (!Report.Check(Result.SetupResult == 0 && Result.ClientResult == 0 && Result.ServerResult == 0,
                    CheckName(Case, "handshake"))) {
    Report.Info("%a: setup %d, client %d, server %d, client flags 0x%x, server flags 0x%x", Case, Result.SetupResult,
                Result.ClientResult, Result.ServerResult, Result.ClientVerifyFlags, Result.ServerVerifyFlags);
  }
  Report.CheckValue(static_cast<UINT64>(Result.ClientSuite), static_cast<UINT64>(Suite), CheckName(Case, "suite"));
  Report.Check(Result.KeysExported &&
                   CompareMem(Result.ClientKeyMaterial, Result.ServerKeyMaterial, sizeof(Result.ClientKeyMaterial)) ==
                       0 &&
                   CompareMem(Result.ClientKeyMaterial, Result.KeyMaterialFromMaster,
                              sizeof(Result.ClientKeyMaterial)) == 0,
               CheckName(Case, "eap-key-material"));
  Report.Check(Result.ApplicationDataExchanged, CheckName(Case, "application-data"));
}

}  // namespace

void RunTlsSuite(TestReporter &Report) {
  Settings Ecdsa;
  Ecdsa.Server = EcServer;
  Ecdsa.Client = EcClientEncryptedKey;
  Ecdsa.Hostname = tls_loopback::HostnameCheck::Name;
  Ecdsa.ServerName = ServerName;
  CheckConnection(Report, "ecdhe-ecdsa", Ecdsa, MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384);

  Settings Rsa;
  Rsa.Server = RsaServer;
  Rsa.Client = RsaClient;
  static constexpr int Aes128Only[] = {MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256, 0};
  Rsa.ClientSuites = Aes128Only;
  CheckConnection(Report, "ecdhe-rsa", Rsa, MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256);

  Settings Rogue = Ecdsa;
  Rogue.Server = RogueServer;
  Outcome Result;
  tls_loopback::RunHandshake(Rogue, 0x7e57, &Result);
  Report.Check(Result.ClientResult == MBEDTLS_ERR_X509_CERT_VERIFY_FAILED &&
                   (Result.ClientVerifyFlags & MBEDTLS_X509_BADCERT_NOT_TRUSTED) != 0,
               "tls.untrusted-server.refused");
}
