// Shared by the sup_mbedtls tests: a fixture over the host environment
// (mbedtls allocates from its pool, which must be empty again after every
// test) and the test credentials as loopback settings.
#pragma once
#include <Library/UefiLib.h>
#include <TestSupport/HostEnvTest.h>

#include "TlsLoopback.h"
#include "vectors/TlsTestCredentials.h"

namespace tls_test {

using namespace tls_credentials;
using tls_loopback::Credentials;

class PoolTest : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    gST = ST();
    gBS = BS();
  }
  void TearDown() override {
    HostEnvTest::TearDown();
    gST = nullptr;
    gBS = nullptr;
  }
};

inline constexpr Credentials EcServer = {EcRootCert, sizeof(EcRootCert), EcServerCert, sizeof(EcServerCert),
                                         EcServerKey, sizeof(EcServerKey), nullptr};
inline constexpr Credentials EcClient = {EcRootCert, sizeof(EcRootCert), EcClientCert, sizeof(EcClientCert),
                                         EcClientKey, sizeof(EcClientKey), nullptr};
inline constexpr Credentials RsaServer = {RsaRootCert, sizeof(RsaRootCert), RsaServerCert, sizeof(RsaServerCert),
                                          RsaServerKey, sizeof(RsaServerKey), nullptr};
inline constexpr Credentials RsaClient = {RsaRootCert, sizeof(RsaRootCert), RsaClientCert, sizeof(RsaClientCert),
                                          RsaClientKey, sizeof(RsaClientKey), nullptr};

}  // namespace tls_test
