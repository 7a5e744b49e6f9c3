// The access point's pass-through EAP authenticator: the identity request
// it builds, every check of the station's EAPOL frames, the relay of the
// server's packets, the end on Success or Failure and the round bound.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "EapAuthenticator.h"

namespace {

using namespace authenticator;
using Bytes = std::vector<UINT8>;

Bytes Eapol(const Bytes &Eap, UINT8 Type = EAPOL_TYPE_EAP_PACKET) {
  Bytes Frame = {1, Type, (UINT8)(Eap.size() >> 8), (UINT8)Eap.size()};
  Frame.insert(Frame.end(), Eap.begin(), Eap.end());
  return Frame;
}

Bytes IdentityResponse(UINT8 Id, const std::string &Name) {
  Bytes Eap = {EAP_CODE_RESPONSE, Id, 0, (UINT8)(5 + Name.size()), EAP_TYPE_IDENTITY};
  Eap.insert(Eap.end(), Name.begin(), Name.end());
  return Eap;
}

class EapAuthenticatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Auth->Start(0x42, 3);
    UINT8 Frame[16];
    ASSERT_EQ(Auth->IdentityRequest(Frame, sizeof(Frame)), 9u);
    EXPECT_EQ(Bytes(Frame, Frame + 9), (Bytes{EAPOL_VERSION, 0, 0, 5, EAP_CODE_REQUEST, 0x42, 0, 5, EAP_TYPE_IDENTITY}));
  }
  EAP_VERDICT Accept(const Bytes &Frame) { return Auth->AcceptResponse(Frame.data(), Frame.size()); }
  UINTN Relay(const Bytes &Eap) {
    Out.assign(EAP_MAX_PACKET_LEN + EAPOL_HEADER_LEN, 0);
    UINTN Length = Auth->Relay(Eap.data(), Eap.size(), Out.data(), Out.size());
    Out.resize(Length);
    return Length;
  }
  std::unique_ptr<EapAuthenticator> Auth = std::make_unique<EapAuthenticator>();
  Bytes Out;
};

TEST_F(EapAuthenticatorTest, IdentityIsTakenAndRelayed) {
  UINT8 Frame[16];
  EXPECT_EQ(Auth->IdentityRequest(Frame, sizeof(Frame)), 0u) << "one identity request per conversation";
  Bytes Response = IdentityResponse(0x42, "alix@example.test");
  Bytes Padded = Eapol(Response);
  Padded.insert(Padded.end(), 10, 0);  // padding after the EAPOL body
  ASSERT_EQ(Accept(Padded), EAP_VERDICT::Ok);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(Auth->Identity()), Auth->IdentityLength()),
            "alix@example.test");
  EXPECT_EQ(Bytes(Auth->Response(), Auth->Response() + Auth->ResponseLength()), Response);
  EXPECT_EQ(Accept(Eapol(Response)), EAP_VERDICT::OutOfTurn) << "no request outstanding until the server answers";
}

TEST_F(EapAuthenticatorTest, StationFramesThatAreWrongAreRefused) {
  Bytes Good = IdentityResponse(0x42, "x");
  Bytes Short = {1, 0, 0};
  EXPECT_EQ(Accept(Short), EAP_VERDICT::Malformed);
  EXPECT_EQ(Accept(Eapol(Good, 1)), EAP_VERDICT::NotEapPacket);  // EAPOL-Start
  EXPECT_EQ(Accept(Eapol(Good, 3)), EAP_VERDICT::NotEapPacket);  // EAPOL-Key
  Bytes PastEnd = Eapol(Good);
  PastEnd[3] += 1;  // EAPOL body longer than the frame
  EXPECT_EQ(Accept(PastEnd), EAP_VERDICT::Malformed);
  Bytes EapLength = Good;
  EapLength[3] -= 1;  // EAP length disagrees with the EAPOL body
  EXPECT_EQ(Accept(Eapol(EapLength)), EAP_VERDICT::Malformed);
  Bytes Request = Good;
  Request[0] = EAP_CODE_REQUEST;
  EXPECT_EQ(Accept(Eapol(Request)), EAP_VERDICT::NotResponse);
  EXPECT_EQ(Accept(Eapol(IdentityResponse(0x43, "x"))), EAP_VERDICT::WrongIdentifier);
  Bytes Tls = {EAP_CODE_RESPONSE, 0x42, 0, 6, EAP_TYPE_TLS, 0};
  EXPECT_EQ(Accept(Eapol(Tls)), EAP_VERDICT::WrongType);
  Bytes NoType = {EAP_CODE_RESPONSE, 0x42, 0, 4};
  EXPECT_EQ(Accept(Eapol(NoType)), EAP_VERDICT::Malformed);
  Bytes Long = IdentityResponse(0x42, "");
  Long.insert(Long.end(), EAP_MAX_IDENTITY_LEN + 1, 'a');
  Long[2] = (UINT8)(Long.size() >> 8);
  Long[3] = (UINT8)Long.size();
  EXPECT_EQ(Accept(Eapol(Long)), EAP_VERDICT::Malformed);
  // None of these counted: the right answer is still taken.
  EXPECT_EQ(Accept(Eapol(Good)), EAP_VERDICT::Ok);
}

TEST_F(EapAuthenticatorTest, ServerPacketsAreRelayedUntilSuccess) {
  ASSERT_EQ(Accept(Eapol(IdentityResponse(0x42, "x"))), EAP_VERDICT::Ok);
  Bytes Start = {EAP_CODE_REQUEST, 0x07, 0, 6, EAP_TYPE_TLS, 0x20};
  ASSERT_EQ(Relay(Start), 10u);
  EXPECT_EQ(Out, (Bytes{EAPOL_VERSION, 0, 0, 6, 1, 7, 0, 6, 13, 0x20}));
  EXPECT_EQ(Relay(Start), 0u) << "the station's answer is outstanding";
  EXPECT_EQ(Accept(Eapol({EAP_CODE_RESPONSE, 0x42, 0, 6, EAP_TYPE_TLS, 0})), EAP_VERDICT::WrongIdentifier)
      << "the server's identifier is the one to answer";
  Bytes Answer = {EAP_CODE_RESPONSE, 0x07, 0, 8, EAP_TYPE_TLS, 0, 0x16, 0x03};
  ASSERT_EQ(Accept(Eapol(Answer)), EAP_VERDICT::Ok);
  EXPECT_EQ(Bytes(Auth->Response(), Auth->Response() + Auth->ResponseLength()), Answer);
  EXPECT_EQ(Relay({EAP_CODE_RESPONSE, 0x08, 0, 6, EAP_TYPE_TLS, 0}), 0u) << "a response is not relayed to the station";
  EXPECT_EQ(Relay({EAP_CODE_SUCCESS, 0x07, 0, 5, 0}), 0u) << "Success carries no data";
  ASSERT_EQ(Relay({EAP_CODE_SUCCESS, 0x07, 0, 4}), 8u);
  EXPECT_EQ(Auth->Outcome(), EAP_OUTCOME::Success);
  EXPECT_EQ(Auth->Rounds(), 1u);
  EXPECT_EQ(Accept(Eapol(Answer)), EAP_VERDICT::OutOfTurn);
  EXPECT_EQ(Relay(Start), 0u) << "nothing after the end";
}

TEST_F(EapAuthenticatorTest, FailureEndsTheConversation) {
  ASSERT_EQ(Accept(Eapol(IdentityResponse(0x42, "x"))), EAP_VERDICT::Ok);
  ASSERT_EQ(Relay({EAP_CODE_FAILURE, 0x42, 0, 4}), 8u);
  EXPECT_EQ(Auth->Outcome(), EAP_OUTCOME::Failure);
}

TEST_F(EapAuthenticatorTest, RoundTripsAreBounded) {
  ASSERT_EQ(Accept(Eapol(IdentityResponse(0x42, "x"))), EAP_VERDICT::Ok);
  for (UINT8 Id = 1; Id <= 3; ++Id) {
    ASSERT_NE(Relay({EAP_CODE_REQUEST, Id, 0, 6, EAP_TYPE_TLS, 0}), 0u) << (int)Id;
    ASSERT_EQ(Accept(Eapol({EAP_CODE_RESPONSE, Id, 0, 6, EAP_TYPE_TLS, 0})), EAP_VERDICT::Ok);
  }
  EXPECT_TRUE(Auth->OutOfRounds());
  EXPECT_EQ(Relay({EAP_CODE_REQUEST, 4, 0, 6, EAP_TYPE_TLS, 0}), 0u) << "a fourth request exceeds the bound of 3";
  // The end is still relayed.
  EXPECT_EQ(Relay({EAP_CODE_FAILURE, 3, 0, 4}), 8u);
}

}  // namespace
