// The built-in EAP-TLS server in whole conversations against a TLS client
// of mbedtls driven by EAP-TLS peer framing written here: success with
// equal MSKs at several MTUs, the station's fragments acknowledged, a
// client certificate of another CA, a server the client does not trust,
// station misbehaviour, and credentials that do not parse.
#include <gtest/gtest.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "EapAuthenticator.h"
#include "EapTlsPeer.h"
#include "EapTlsServer.h"

namespace {

class EapTlsServerTest : public eaptest::PoolTest {};

using namespace authenticator;
using eaptest::Bytes;
using eaptest::FillRandom;
using eaptest::Peer;
using eaptest::Pem;
using eaptest::PkiDir;

struct Conversation {
  EAP_OUTCOME Outcome = EAP_OUTCOME::Running;
  UINTN       Requests = 0;
  UINTN       LargestRequest = 0;
  bool        PeerDone = false;
  int         PeerError = 0;
  bool        MskEqual = false;
  std::string Reason;
};

struct ServerSetup {
  std::string Ca = "ca.pem", Cert = "server.pem", Key = "server.key";
  UINTN       Mtu = 1024;
};

Conversation Converse(const ServerSetup &S, Peer &P) {
  Conversation R;
  auto Server = std::make_unique<EapTlsServer>();
  Bytes Ca = Pem(S.Ca), Cert = Pem(S.Cert), Key = Pem(S.Key);
  EAP_TLS_SERVER_CONFIG Config = {Ca.data(),  Ca.size(), Cert.data(), Cert.size(), Key.data(), Key.size(),
                                  S.Mtu,      {FillRandom, nullptr}};
  EXPECT_EQ(Server->Setup(Config), EAP_TLS_SETUP::Ok);
  Bytes Response = P.Identity(5);
  for (int Round = 0; Round < 100; ++Round) {
    Bytes Packet(EAP_MAX_PACKET_LEN);
    UINTN Length = Server->Answer(Response.data(), Response.size(), Packet.data(), Packet.size());
    EXPECT_NE(Length, 0u);
    Packet.resize(Length);
    R.LargestRequest = std::max<UINTN>(R.LargestRequest, Length);
    if (Length == 0 || Server->Outcome() != EAP_OUTCOME::Running) {
      break;
    }
    EXPECT_EQ(Packet[1], (UINT8)(Response[1] + 1)) << "each request takes the next identifier";
    Response = P.Answer(Packet);
    if (Response.empty()) {
      break;  // the peer gave up: nothing more to say
    }
  }
  R.Outcome = Server->Outcome();
  R.Requests = Server->Requests();
  R.PeerDone = P.Done();
  R.PeerError = P.Error();
  R.MskEqual = std::equal(P.Msk(), P.Msk() + 64, Server->Msk());
  R.Reason = Server->FailureReason();
  return R;
}

TEST_F(EapTlsServerTest, ConversationSucceedsWithEqualMsksAtSeveralMtus) {
  ASSERT_FALSE(PkiDir().empty());
  UINTN PreviousRequests = 0;
  for (UINTN Mtu : {(UINTN)1400, (UINTN)1024, (UINTN)300, (UINTN)64}) {
    Peer P("ca.pem", "client.pem", "client.key", 1024);
    ASSERT_TRUE(P.Ok());
    ServerSetup S;
    S.Mtu = Mtu;
    Conversation R = Converse(S, P);
    EXPECT_EQ(R.Outcome, EAP_OUTCOME::Success) << Mtu << ": " << R.Reason;
    EXPECT_TRUE(R.PeerDone) << Mtu << " client error -0x" << std::hex << -R.PeerError;
    EXPECT_TRUE(R.MskEqual) << Mtu;
    EXPECT_LE(R.LargestRequest, Mtu);
    EXPECT_GE(R.Requests, PreviousRequests) << "a smaller MTU takes no fewer requests";
    PreviousRequests = R.Requests;
  }
  EXPECT_GT(PreviousRequests, 10u) << "at an MTU of 64 the server's flight takes many fragments";
}

TEST_F(EapTlsServerTest, StationFragmentsAreAcknowledgedAndReassembled) {
  Peer P("ca.pem", "rsa-client.pem", "rsa-client.key", 100);
  ASSERT_TRUE(P.Ok());
  ServerSetup S;
  S.Cert = "rsa-server.pem";
  S.Key = "rsa-server.key";
  Conversation R = Converse(S, P);
  EXPECT_EQ(R.Outcome, EAP_OUTCOME::Success) << R.Reason;
  EXPECT_TRUE(R.MskEqual);
  EXPECT_GT(P.Fragments(), 10u) << "the RSA client's flight went out in many fragments";
}

TEST_F(EapTlsServerTest, ClientCertificateOfAnotherCaEndsInFailure) {
  Peer P("ca.pem", "other-client.pem", "other-client.key", 1024);
  ASSERT_TRUE(P.Ok());
  Conversation R = Converse(ServerSetup{}, P);
  EXPECT_EQ(R.Outcome, EAP_OUTCOME::Failure);
  EXPECT_STREQ(R.Reason.c_str(), "TLS handshake failed");
  EXPECT_FALSE(R.MskEqual && R.PeerDone);
}

TEST_F(EapTlsServerTest, ServerTheClientDoesNotTrustGetsNoSuccess) {
  Peer P("ca.pem", "client.pem", "client.key", 1024);
  ASSERT_TRUE(P.Ok());
  ServerSetup S;
  S.Cert = "other-server.pem";
  S.Key = "other-server.key";
  Conversation R = Converse(S, P);
  EXPECT_NE(R.Outcome, EAP_OUTCOME::Success);
  EXPECT_NE(R.PeerError, 0) << "the client refused the server's certificate";
  EXPECT_FALSE(R.PeerDone);
}

// Responses a station may get wrong, each ending in EAP-Failure.
TEST_F(EapTlsServerTest, MisbehavingStationEndsInFailure) {
  ServerSetup S;
  Bytes Ca = Pem(S.Ca), Cert = Pem(S.Cert), Key = Pem(S.Key);
  EAP_TLS_SERVER_CONFIG Config = {Ca.data(), Ca.size(), Cert.data(), Cert.size(), Key.data(), Key.size(), 1024,
                                  {FillRandom, nullptr}};
  struct Case {
    const char *What;
    Bytes       Response;  // after the Start (identifier 6)
    const char *Reason;
  } Cases[] = {
      {"a Nak", {EAP_CODE_RESPONSE, 6, 0, 6, EAP_TYPE_NAK, 25}, "the station declined EAP-TLS"},
      {"another identifier", {EAP_CODE_RESPONSE, 7, 0, 6, EAP_TYPE_TLS, 0}, "response to another request"},
      {"an acknowledgement instead of a ClientHello", {EAP_CODE_RESPONSE, 6, 0, 6, EAP_TYPE_TLS, 0},
       "an acknowledgement where the station's TLS data was due"},
      {"garbage for a ClientHello", {EAP_CODE_RESPONSE, 6, 0, 12, EAP_TYPE_TLS, 0, 0x99, 3, 3, 0, 1, 0},
       "TLS handshake failed"},
      {"a length field that lies", {EAP_CODE_RESPONSE, 6, 0, 9, EAP_TYPE_TLS, 0}, "not an EAP-Response"},
  };
  for (const Case &C : Cases) {
    auto Server = std::make_unique<EapTlsServer>();
    ASSERT_EQ(Server->Setup(Config), EAP_TLS_SETUP::Ok);
    Bytes Identity = {EAP_CODE_RESPONSE, 5, 0, 6, EAP_TYPE_IDENTITY, 'x'};
    UINT8 Out[EAP_MAX_PACKET_LEN];
    UINTN Length = Server->Answer(Identity.data(), Identity.size(), Out, sizeof(Out));
    ASSERT_EQ(Length, 6u);
    EXPECT_EQ(Out[5], EAP_TLS_FLAG_START);
    EXPECT_EQ(Out[1], 6);
    Length = Server->Answer(C.Response.data(), C.Response.size(), Out, sizeof(Out));
    // A failed handshake may first send mbedtls's alert; the next response
    // then ends it.
    if (Length > 4 && Out[0] == EAP_CODE_REQUEST) {
      Bytes Ack = {EAP_CODE_RESPONSE, Out[1], 0, 6, EAP_TYPE_TLS, 0};
      Length = Server->Answer(Ack.data(), Ack.size(), Out, sizeof(Out));
    }
    EXPECT_EQ(Length, 4u) << C.What;
    EXPECT_EQ(Out[0], EAP_CODE_FAILURE) << C.What;
    EXPECT_EQ(Server->Outcome(), EAP_OUTCOME::Failure) << C.What;
    EXPECT_STREQ(Server->FailureReason(), C.Reason) << C.What;
    // Nothing after the end.
    EXPECT_EQ(Server->Answer(Identity.data(), Identity.size(), Out, sizeof(Out)), 0u);
  }
}

TEST_F(EapTlsServerTest, SetupRefusesBadCredentialsAndMtus) {
  Bytes Ca = Pem("ca.pem"), Cert = Pem("server.pem"), Key = Pem("server.key"), Junk = {'x', 0};
  struct Case {
    const Bytes  *Ca, *Cert, *Key;
    UINTN         Mtu;
    EAP_TLS_SETUP Expected;
  } Cases[] = {
      {&Ca, &Cert, &Key, EAP_TLS_MIN_MTU - 1, EAP_TLS_SETUP::BadMtu},
      {&Ca, &Cert, &Key, EAP_MAX_PACKET_LEN + 1, EAP_TLS_SETUP::BadMtu},
      {&Junk, &Cert, &Key, 1024, EAP_TLS_SETUP::BadCaCert},
      {&Ca, &Junk, &Key, 1024, EAP_TLS_SETUP::BadServerCert},
      {&Ca, &Cert, &Junk, 1024, EAP_TLS_SETUP::BadServerKey},
      {&Ca, &Cert, &Key, EAP_TLS_MIN_MTU, EAP_TLS_SETUP::Ok},
  };
  for (const Case &C : Cases) {
    auto Server = std::make_unique<EapTlsServer>();
    EAP_TLS_SERVER_CONFIG Config = {C.Ca->data(),  C.Ca->size(), C.Cert->data(), C.Cert->size(), C.Key->data(),
                                    C.Key->size(), C.Mtu,        {FillRandom, nullptr}};
    EXPECT_EQ(Server->Setup(Config), C.Expected) << EapTlsSetupName(C.Expected);
  }
}

}  // namespace
