// Full TLS 1.2 handshakes between sup_mbedtls's client and server in memory,
// with the driver's configuration: every configured suite, both
// certificate kinds, mutual authentication, the EAP-TLS key material, and
// the refusals the driver relies on. The pool must be empty afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TlsSuite.h"
#include "TlsTestSupport.h"
#include "mbedtls/ssl.h"
#include "mbedtls/x509.h"

namespace {

using namespace tls_test;
using tls_loopback::HostnameCheck;
using tls_loopback::Outcome;
using tls_loopback::Settings;

using TlsHandshakeTest = PoolTest;

Settings Between(const Credentials &Server, const Credentials &Client) {
  Settings Setup;
  Setup.Server = Server;
  Setup.Client = Client;
  return Setup;
}

void ExpectConnected(const Outcome &Result) {
  EXPECT_EQ(Result.SetupResult, 0);
  EXPECT_EQ(Result.ClientResult, 0);
  EXPECT_EQ(Result.ServerResult, 0);
  EXPECT_EQ(Result.ClientVerifyFlags, 0u);
  EXPECT_EQ(Result.ServerVerifyFlags, 0u);
  EXPECT_EQ(Result.ClientSuite, Result.ServerSuite);
  EXPECT_TRUE(Result.KeysExported);
  EXPECT_EQ(std::memcmp(Result.ClientKeyMaterial, Result.ServerKeyMaterial, sizeof(Result.ClientKeyMaterial)), 0);
  EXPECT_EQ(std::memcmp(Result.ClientKeyMaterial, Result.KeyMaterialFromMaster, sizeof(Result.ClientKeyMaterial)),
            0);
  EXPECT_TRUE(Result.ApplicationDataExchanged);
}

struct SuiteCase {
  int Suite;
  bool Ecdsa;
};

class EverySuite : public PoolTest, public ::testing::WithParamInterface<SuiteCase> {};

TEST_P(EverySuite, ConnectsWhenTheClientOffersOnlyIt) {
  const SuiteCase &Case = GetParam();
  Settings Setup = Case.Ecdsa ? Between(EcServer, EcClient) : Between(RsaServer, RsaClient);
  const int Offer[] = {Case.Suite, 0};
  Setup.ClientSuites = Offer;
  Outcome Result;
  tls_loopback::RunHandshake(Setup, 1, &Result);
  ExpectConnected(Result);
  EXPECT_EQ(Result.ClientSuite, Case.Suite);
}

INSTANTIATE_TEST_SUITE_P(Configured, EverySuite,
                         ::testing::Values(SuiteCase{MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384, true},
                                           SuiteCase{MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256, true},
                                           SuiteCase{MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384, false},
                                           SuiteCase{MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256, false}));

TEST_F(TlsHandshakeTest, OnlyTheConfiguredSuitesAreOffered) {
  const int *Suites = mbedtls_ssl_list_ciphersuites();
  std::vector<int> Listed;
  for (; *Suites != 0; ++Suites) {
    Listed.push_back(*Suites);
  }
  EXPECT_EQ(Listed, (std::vector<int>{MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384,
                                      MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,
                                      MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384,
                                      MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256}));
}

TEST_F(TlsHandshakeTest, DifferentSeedsGiveDifferentKeysBothEndsAgreeOn) {
  Outcome First, Second;
  tls_loopback::RunHandshake(Between(EcServer, EcClient), 1, &First);
  tls_loopback::RunHandshake(Between(EcServer, EcClient), 2, &Second);
  ExpectConnected(First);
  ExpectConnected(Second);
  EXPECT_NE(std::memcmp(First.ClientKeyMaterial, Second.ClientKeyMaterial, sizeof(First.ClientKeyMaterial)), 0);
}

TEST_F(TlsHandshakeTest, AnRsaClientCertificateAuthenticatesToAnEcdsaServer) {
  // The server trusts both roots; each end keeps its own kind of key.
  Credentials Server = EcServer;
  Credentials Client = RsaClient;
  Client.Root = EcRootCert;
  Client.RootSize = sizeof(EcRootCert);
  Server.Root = RsaRootCert;
  Server.RootSize = sizeof(RsaRootCert);
  Outcome Result;
  tls_loopback::RunHandshake(Between(Server, Client), 3, &Result);
  ExpectConnected(Result);
  EXPECT_EQ(Result.ClientSuite, MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384);
}

TEST_F(TlsHandshakeTest, AServerOutsideTheTrustedRootIsRefused) {
  Credentials Rogue = {EcRootCert, sizeof(EcRootCert), RogueServerCert, sizeof(RogueServerCert),
                       RogueServerKey, sizeof(RogueServerKey), nullptr};
  Outcome Result;
  tls_loopback::RunHandshake(Between(Rogue, EcClient), 4, &Result);
  EXPECT_EQ(Result.ClientResult, MBEDTLS_ERR_X509_CERT_VERIFY_FAILED);
  EXPECT_EQ(Result.ClientVerifyFlags, static_cast<UINT32>(MBEDTLS_X509_BADCERT_NOT_TRUSTED));
  EXPECT_FALSE(Result.KeysExported);
}

TEST_F(TlsHandshakeTest, AClientOutsideTheServersRootIsRefused) {
  Credentials Client = RsaClient;
  Client.Root = EcRootCert;
  Client.RootSize = sizeof(EcRootCert);
  Outcome Result;
  tls_loopback::RunHandshake(Between(EcServer, Client), 5, &Result);
  EXPECT_EQ(Result.ClientResult == 0 ? 0 : 1, 1) << "the client must learn of the refusal";
  EXPECT_EQ(Result.ServerResult, MBEDTLS_ERR_X509_CERT_VERIFY_FAILED);
  EXPECT_EQ(Result.ServerVerifyFlags, static_cast<UINT32>(MBEDTLS_X509_BADCERT_NOT_TRUSTED));
}

TEST_F(TlsHandshakeTest, NoSharedSuiteEndsTheHandshake) {
  Settings Setup = Between(EcServer, EcClient);
  const int RsaOnly[] = {MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256, 0};
  Setup.ClientSuites = RsaOnly;
  Outcome Result;
  tls_loopback::RunHandshake(Setup, 6, &Result);
  EXPECT_EQ(Result.ServerResult, MBEDTLS_ERR_SSL_HANDSHAKE_FAILURE);
  EXPECT_NE(Result.ClientResult, 0);
}

// mbedtls 3.6 refuses a certificate check without a decision about the
// server's name: the driver must call mbedtls_ssl_set_hostname, with the
// name to match or with NULL.
TEST_F(TlsHandshakeTest, TheClientMustDecideAboutTheServerName) {
  Settings Setup = Between(EcServer, EcClient);
  Outcome Result;
  Setup.Hostname = HostnameCheck::Skipped;
  tls_loopback::RunHandshake(Setup, 7, &Result);
  EXPECT_EQ(Result.ClientResult, MBEDTLS_ERR_SSL_CERTIFICATE_VERIFICATION_WITHOUT_HOSTNAME);

  Setup.Hostname = HostnameCheck::Name;
  Setup.ServerName = ServerName;
  tls_loopback::RunHandshake(Setup, 7, &Result);
  ExpectConnected(Result);

  Setup.ServerName = "other.test";
  tls_loopback::RunHandshake(Setup, 7, &Result);
  EXPECT_EQ(Result.ClientResult, MBEDTLS_ERR_X509_CERT_VERIFY_FAILED);
  EXPECT_EQ(Result.ClientVerifyFlags, static_cast<UINT32>(MBEDTLS_X509_BADCERT_CN_MISMATCH));
}

TEST_F(TlsHandshakeTest, AnEncryptedClientKeySignsTheHandshake) {
  Credentials Client = RsaClient;
  Client.Key = RsaClientKeyLegacyEncrypted;
  Client.KeySize = sizeof(RsaClientKeyLegacyEncrypted);
  Client.KeyPassPhrase = TlsKeyPassPhrase;
  Outcome Result;
  tls_loopback::RunHandshake(Between(RsaServer, Client), 8, &Result);
  ExpectConnected(Result);
}

void Collect(const CHAR8 *Line, void *Context) { static_cast<std::vector<std::string> *>(Context)->push_back(Line); }

TEST_F(TlsHandshakeTest, TheFirmwareSuitePassesOnTheHost) {
  std::vector<std::string> Lines;
  TestReporter Report(Collect, &Lines);
  RunTlsSuite(Report);
  size_t Passes = 0;
  for (const std::string &Line : Lines) {
    EXPECT_NE(Line.rfind("FAIL", 0), 0u) << Line;
    Passes += Line.rfind("PASS tls.", 0) == 0;
  }
  EXPECT_EQ(Passes, 9u);
  EXPECT_EQ(Report.Failed(), 0u);
}

}  // namespace
