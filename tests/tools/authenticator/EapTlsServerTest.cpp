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
#include "EapTlsServer.h"

namespace {

using namespace authenticator;
using Bytes = std::vector<UINT8>;

std::string PkiDir() {
  static const std::string Dir = [] {
    char Template[] = "/tmp/eap-tls-pki-XXXXXX";
    std::string Path = mkdtemp(Template);
    std::string Command = std::string("python3 ") + RADIUS_SERVER_SCRIPT + " pki " + Path + " > /dev/null";
    if (std::system(Command.c_str()) != 0) {
      return std::string();
    }
    return Path;
  }();
  return Dir;
}

class PkiCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!PkiDir().empty()) {
      std::filesystem::remove_all(PkiDir());
    }
  }
};
const auto *const Cleanup = ::testing::AddGlobalTestEnvironment(new PkiCleanup);

// A PEM file with its terminating NUL, as mbedtls takes PEM.
Bytes Pem(const std::string &Name) {
  std::ifstream In(PkiDir() + "/" + Name, std::ios::binary);
  Bytes Data((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  Data.push_back(0);
  return Data;
}

void FillRandom(VOID *, UINT8 *Buffer, UINTN Length) {
  static std::random_device Device;
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = (UINT8)Device();
  }
}

int ClientRandom(void *, unsigned char *Buffer, size_t Length) {
  FillRandom(nullptr, Buffer, Length);
  return 0;
}

// An EAP-TLS peer on mbedtls's TLS client, with its own framing: answers
// requests, acknowledges the server's fragments, fragments its own
// messages at its MTU with L on the first.
class Peer {
 public:
  Peer(const std::string &Ca, const std::string &Cert, const std::string &Key, UINTN Mtu) : Mtu_(Mtu) {
    mbedtls_ssl_init(&Ssl_);
    mbedtls_ssl_config_init(&Conf_);
    mbedtls_x509_crt_init(&Ca_);
    mbedtls_x509_crt_init(&Cert_);
    mbedtls_pk_init(&Key_);
    Bytes CaPem = Pem(Ca), CertPem = Pem(Cert), KeyPem = Pem(Key);
    Ok_ = mbedtls_x509_crt_parse(&Ca_, CaPem.data(), CaPem.size()) == 0 &&
          mbedtls_x509_crt_parse(&Cert_, CertPem.data(), CertPem.size()) == 0 &&
          mbedtls_pk_parse_key(&Key_, KeyPem.data(), KeyPem.size(), nullptr, 0, ClientRandom, nullptr) == 0 &&
          mbedtls_ssl_config_defaults(&Conf_, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                      MBEDTLS_SSL_PRESET_DEFAULT) == 0;
    mbedtls_ssl_conf_min_tls_version(&Conf_, MBEDTLS_SSL_VERSION_TLS1_2);
    mbedtls_ssl_conf_max_tls_version(&Conf_, MBEDTLS_SSL_VERSION_TLS1_2);
    mbedtls_ssl_conf_rng(&Conf_, ClientRandom, nullptr);
    mbedtls_ssl_conf_authmode(&Conf_, MBEDTLS_SSL_VERIFY_REQUIRED);
    mbedtls_ssl_conf_ca_chain(&Conf_, &Ca_, nullptr);
    Ok_ = Ok_ && mbedtls_ssl_conf_own_cert(&Conf_, &Cert_, &Key_) == 0 && mbedtls_ssl_setup(&Ssl_, &Conf_) == 0;
    // The station checks the chain to its CA, no host name (none is
    // configured for EAP-TLS here).
    Ok_ = Ok_ && mbedtls_ssl_set_hostname(&Ssl_, nullptr) == 0;
    mbedtls_ssl_set_bio(&Ssl_, this, SendHook, ReceiveHook, nullptr);
    mbedtls_ssl_set_export_keys_cb(&Ssl_, ExportHook, this);
  }
  ~Peer() {
    mbedtls_ssl_free(&Ssl_);
    mbedtls_ssl_config_free(&Conf_);
    mbedtls_x509_crt_free(&Ca_);
    mbedtls_x509_crt_free(&Cert_);
    mbedtls_pk_free(&Key_);
  }
  bool Ok() const { return Ok_; }

  Bytes Identity(UINT8 Id) const { return {EAP_CODE_RESPONSE, Id, 0, 9, EAP_TYPE_IDENTITY, 'a', 'l', 'i', 'x'}; }

  // The response to one EAP-TLS request; empty when the client gave up.
  Bytes Answer(const Bytes &Request) {
    UINT8 Flags = Request[5];
    UINTN Offset = EAP_TLS_HEADER_LEN + ((Flags & EAP_TLS_FLAG_LENGTH) != 0 ? 4 : 0);
    bool Empty = Offset == Request.size() && (Flags & EAP_TLS_FLAG_START) == 0;
    if (Empty && OutSent_ < Out_.size()) {
      return NextFragment(Request[1]);  // the server acknowledged our fragment
    }
    In_.insert(In_.end(), Request.begin() + (long)Offset, Request.end());
    if ((Flags & EAP_TLS_FLAG_MORE) != 0) {
      return Response(Request[1], 0, {});  // acknowledge
    }
    Out_.clear();
    OutSent_ = 0;
    while (!Done_) {
      int Result = mbedtls_ssl_handshake(&Ssl_);
      if (Result == 0) {
        Done_ = true;
      } else if (Result == MBEDTLS_ERR_SSL_WANT_READ) {
        break;
      } else {
        Error_ = Result;
        break;
      }
    }
    In_.clear();
    InRead_ = 0;
    // Nothing to send (also after a failure without an alert of its own):
    // an empty response, as a peer acknowledges an alert.
    if (Out_.empty()) {
      return Response(Request[1], 0, {});
    }
    return NextFragment(Request[1]);
  }

  bool         Done() const { return Done_; }
  int          Error() const { return Error_; }
  const UINT8 *Msk() const { return Msk_; }
  unsigned     Fragments() const { return Fragments_; }

 private:
  Bytes Response(UINT8 Id, UINT8 Flags, const Bytes &Data) {
    Bytes Out = {EAP_CODE_RESPONSE, Id, 0, 0, EAP_TYPE_TLS, Flags};
    Out.insert(Out.end(), Data.begin(), Data.end());
    Out[2] = (UINT8)(Out.size() >> 8);
    Out[3] = (UINT8)Out.size();
    return Out;
  }
  Bytes NextFragment(UINT8 Id) {
    bool First = OutSent_ == 0;
    bool Fragmented = Out_.size() > Mtu_ - EAP_TLS_HEADER_LEN;
    UINTN Room = Mtu_ - EAP_TLS_HEADER_LEN - (First && Fragmented ? 4 : 0);
    UINTN Count = std::min<UINTN>(Room, Out_.size() - OutSent_);
    Bytes Data;
    if (First && Fragmented) {
      UINTN L = Out_.size();
      Data = {(UINT8)(L >> 24), (UINT8)(L >> 16), (UINT8)(L >> 8), (UINT8)L};
    }
    Data.insert(Data.end(), Out_.begin() + (long)OutSent_, Out_.begin() + (long)(OutSent_ + Count));
    OutSent_ += Count;
    ++Fragments_;
    UINT8 Flags = (UINT8)((First && Fragmented ? EAP_TLS_FLAG_LENGTH : 0) |
                          (OutSent_ < Out_.size() ? EAP_TLS_FLAG_MORE : 0));
    return Response(Id, Flags, Data);
  }
  static int SendHook(void *Context, const unsigned char *Buffer, size_t Length) {
    Peer *Self = static_cast<Peer *>(Context);
    Self->Out_.insert(Self->Out_.end(), Buffer, Buffer + Length);
    return (int)Length;
  }
  static int ReceiveHook(void *Context, unsigned char *Buffer, size_t Length) {
    Peer *Self = static_cast<Peer *>(Context);
    size_t Count = std::min(Length, Self->In_.size() - Self->InRead_);
    if (Count == 0) {
      return MBEDTLS_ERR_SSL_WANT_READ;
    }
    std::copy(Self->In_.begin() + (long)Self->InRead_, Self->In_.begin() + (long)(Self->InRead_ + Count), Buffer);
    Self->InRead_ += Count;
    return (int)Count;
  }
  static void ExportHook(void *Context, mbedtls_ssl_key_export_type Type, const unsigned char *Secret,
                         size_t SecretLength, const unsigned char ClientRandom[32],
                         const unsigned char ServerRandom[32], mbedtls_tls_prf_types Prf) {
    if (Type != MBEDTLS_SSL_KEY_EXPORT_TLS12_MASTER_SECRET) {
      return;
    }
    unsigned char Randoms[64];
    std::copy(ClientRandom, ClientRandom + 32, Randoms);
    std::copy(ServerRandom, ServerRandom + 32, Randoms + 32);
    mbedtls_ssl_tls_prf(Prf, Secret, SecretLength, "client EAP encryption", Randoms, 64,
                        static_cast<Peer *>(Context)->Msk_, 64);
  }

  mbedtls_ssl_context Ssl_;
  mbedtls_ssl_config  Conf_;
  mbedtls_x509_crt    Ca_, Cert_;
  mbedtls_pk_context  Key_;
  bool  Ok_ = false;
  UINTN Mtu_;
  Bytes In_, Out_;
  size_t InRead_ = 0, OutSent_ = 0;
  bool  Done_ = false;
  int   Error_ = 0;
  unsigned Fragments_ = 0;
  UINT8 Msk_[64] = {};
};

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

TEST(EapTlsServer, ConversationSucceedsWithEqualMsksAtSeveralMtus) {
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

TEST(EapTlsServer, StationFragmentsAreAcknowledgedAndReassembled) {
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

TEST(EapTlsServer, ClientCertificateOfAnotherCaEndsInFailure) {
  Peer P("ca.pem", "other-client.pem", "other-client.key", 1024);
  ASSERT_TRUE(P.Ok());
  Conversation R = Converse(ServerSetup{}, P);
  EXPECT_EQ(R.Outcome, EAP_OUTCOME::Failure);
  EXPECT_STREQ(R.Reason.c_str(), "TLS handshake failed");
  EXPECT_FALSE(R.MskEqual && R.PeerDone);
}

TEST(EapTlsServer, ServerTheClientDoesNotTrustGetsNoSuccess) {
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
TEST(EapTlsServer, MisbehavingStationEndsInFailure) {
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

TEST(EapTlsServer, SetupRefusesBadCredentialsAndMtus) {
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
