// ap-sim's EAP relay against a RADIUS server played in the test (a UDP
// socket on loopback answering with replies built the server's way): the
// attributes of its requests, State echoed, the PMK from an Accept, the
// Reject, and the replies it must drop (forged, without
// Message-Authenticator, for another request) or refuse.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "EapRelay.h"

namespace {

using radius::Bytes;

const std::string kSecret = "relay secret";

// What the fake server answers to one request: datagrams to send back (in
// order), built from the request it got.
using Script = std::function<std::vector<Bytes>(const radius::Packet &Request)>;

class FakeServer {
 public:
  explicit FakeServer(std::vector<Script> Rounds) : Rounds_(std::move(Rounds)) {
    Socket_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(Socket_, reinterpret_cast<sockaddr *>(&Address), sizeof(Address));
    socklen_t Length = sizeof(Address);
    getsockname(Socket_, reinterpret_cast<sockaddr *>(&Address), &Length);
    Port_ = ntohs(Address.sin_port);
    Thread_ = std::thread([this] { Serve(); });
  }
  ~FakeServer() {
    Stop_ = true;
    Thread_.join();
    close(Socket_);
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port_); }
  const std::vector<radius::Packet> &Requests() const { return Requests_; }
  const std::vector<Bytes> &Wires() const { return Wires_; }

 private:
  void Serve() {
    size_t Round = 0;
    while (!Stop_) {
      pollfd Poll = {Socket_, POLLIN, 0};
      if (poll(&Poll, 1, 50) <= 0) {
        continue;
      }
      sockaddr_in From{};
      socklen_t FromLength = sizeof(From);
      Bytes Datagram(4096);
      ssize_t Got = recvfrom(Socket_, Datagram.data(), Datagram.size(), 0, reinterpret_cast<sockaddr *>(&From),
                             &FromLength);
      if (Got <= 0) {
        continue;
      }
      Datagram.resize((size_t)Got);
      std::string Error;
      std::optional<radius::Packet> Request = radius::Decode(Datagram, &Error);
      if (!Request) {
        continue;
      }
      Requests_.push_back(*Request);
      Wires_.push_back(Datagram);
      if (Round >= Rounds_.size()) {
        continue;  // silent from here on
      }
      for (const Bytes &Reply : Rounds_[Round](*Request)) {
        sendto(Socket_, Reply.data(), Reply.size(), 0, reinterpret_cast<sockaddr *>(&From), FromLength);
      }
      ++Round;
    }
  }

  int                         Socket_ = -1;
  std::uint16_t               Port_ = 0;
  std::vector<Script>         Rounds_;
  std::vector<radius::Packet> Requests_;
  std::vector<Bytes>          Wires_;
  std::thread                 Thread_;
  std::atomic<bool>           Stop_{false};
};

// A reply to Request as a server builds it.
Bytes Reply(const radius::Packet &Request, radius::Code Code, const Bytes &Eap,
            std::vector<radius::Attribute> Extra = {}, bool WithMessageAuthenticator = true,
            const std::string &Secret = kSecret) {
  radius::Packet P;
  P.PacketCode = Code;
  P.Identifier = Request.Identifier;
  P.Attributes = std::move(Extra);
  if (!Eap.empty()) {
    radius::AddEapMessage(P, Eap);
  }
  return *radius::EncodeReply(P, Request.Auth, Secret, WithMessageAuthenticator);
}

radius::Attribute RecvKey(const radius::Packet &Request, const Bytes &Key) {
  Bytes Hidden = radius::EncryptMppeKey(Key, 0x8A5C, kSecret, Request.Auth);
  Bytes Value = {0, 0, 0x01, 0x37, radius::kMsMppeRecvKey, (std::uint8_t)(2 + Hidden.size())};
  Value.insert(Value.end(), Hidden.begin(), Hidden.end());
  return {radius::kVendorSpecific, Value};
}

const Bytes kIdentity = {2, 3, 0, 10, 1, 'a', 'l', 'i', 'x', '!'};
const Bytes kStart = {1, 4, 0, 6, 13, 0x20};
const Bytes kTlsResponse = {2, 4, 0, 8, 13, 0, 0x16, 0x03};
const Bytes kSuccess = {3, 4, 0, 4};
const Bytes kFailure = {4, 4, 0, 4};

radius::RelayStation Station() { return {"02-00-00-00-00-02", "02-00-00-00-00-01", "Enterprise Net"}; }

radius::Clock::time_point Soon() { return radius::Clock::now() + std::chrono::seconds(10); }

Bytes KeyOf(std::uint8_t Seed, size_t Length) {
  Bytes Key(Length);
  for (size_t Index = 0; Index < Length; ++Index) {
    Key[Index] = (std::uint8_t)(Seed + Index);
  }
  return Key;
}

TEST(EapRelay, ChallengeThenAcceptGivesThePmkAndEchoesState) {
  const Bytes State = {'s', 't', 0};
  FakeServer Server({[&](const radius::Packet &R) {
                       return std::vector<Bytes>{Reply(R, radius::Code::AccessChallenge, kStart, {{radius::kState, State}})};
                     },
                     [&](const radius::Packet &R) {
                       return std::vector<Bytes>{Reply(R, radius::Code::AccessAccept, kSuccess, {RecvKey(R, KeyOf(1, 32))})};
                     }});
  radius::EapRelay Relay(Station());
  std::string Error;
  ASSERT_TRUE(Relay.Open(Server.Address(), kSecret, &Error)) << Error;
  radius::EapRelay::Step First = Relay.Forward(kIdentity, "alix!", Soon());
  ASSERT_EQ(First.Result, radius::EapRelay::Kind::Challenge) << First.Error;
  EXPECT_EQ(First.Eap, kStart);
  radius::EapRelay::Step Second = Relay.Forward(kTlsResponse, "alix!", Soon());
  ASSERT_EQ(Second.Result, radius::EapRelay::Kind::Accept) << Second.Error;
  EXPECT_EQ(Second.Eap, kSuccess);
  EXPECT_EQ(Second.Pmk, KeyOf(1, 32));

  ASSERT_EQ(Server.Requests().size(), 2u);
  const radius::Packet &A = Server.Requests()[0];
  const radius::Packet &B = Server.Requests()[1];
  EXPECT_EQ(A.Find(radius::kUserName)->Value, (Bytes{'a', 'l', 'i', 'x', '!'}));
  const radius::RelayStation Sta = Station();
  EXPECT_EQ(A.Find(radius::kCallingStationId)->Value, Bytes(Sta.StationMac.begin(), Sta.StationMac.end()));
  std::string Called = Sta.ApMac + ":" + Sta.Ssid;
  EXPECT_EQ(A.Find(radius::kCalledStationId)->Value, Bytes(Called.begin(), Called.end()));
  EXPECT_EQ(A.Find(radius::kFramedMtu)->Value, (Bytes{0, 0, 0x05, 0x78}));
  EXPECT_EQ(A.EapMessage(), kIdentity);
  EXPECT_EQ(A.Find(radius::kState), nullptr);
  ASSERT_NE(B.Find(radius::kState), nullptr);
  EXPECT_EQ(B.Find(radius::kState)->Value, State);
  EXPECT_EQ(B.EapMessage(), kTlsResponse);
  EXPECT_NE(A.Identifier, B.Identifier);
  EXPECT_NE(A.Auth, B.Auth);
  // Every request carries a Message-Authenticator that verifies.
  for (const Bytes &Wire : Server.Wires()) {
    Bytes Zeroed = Wire;
    ASSERT_GE(Zeroed.size(), 38u);
    ASSERT_EQ(Zeroed[Zeroed.size() - 18], radius::kMessageAuthenticator);
    std::fill(Zeroed.end() - 16, Zeroed.end(), 0);
    std::array<std::uint8_t, 16> Mac = radius::HmacMd5(kSecret, Zeroed);
    EXPECT_TRUE(std::equal(Mac.begin(), Mac.end(), Wire.end() - 16));
  }
}

TEST(EapRelay, RejectGivesTheServersFailureOrOneOfItsOwn) {
  FakeServer Server({[&](const radius::Packet &R) {
                       return std::vector<Bytes>{Reply(R, radius::Code::AccessReject, kFailure)};
                     },
                     [&](const radius::Packet &R) {
                       return std::vector<Bytes>{Reply(R, radius::Code::AccessReject, {})};
                     }});
  radius::EapRelay Relay(Station());
  std::string Error;
  ASSERT_TRUE(Relay.Open(Server.Address(), kSecret, &Error));
  radius::EapRelay::Step First = Relay.Forward(kTlsResponse, "alix!", Soon());
  EXPECT_EQ(First.Result, radius::EapRelay::Kind::Reject);
  EXPECT_EQ(First.Eap, kFailure);
  EXPECT_TRUE(First.Pmk.empty());
  radius::EapRelay::Step Second = Relay.Forward(kTlsResponse, "alix!", Soon());
  EXPECT_EQ(Second.Result, radius::EapRelay::Kind::Reject);
  EXPECT_EQ(Second.Eap, (Bytes{4, 4, 0, 4})) << "a Failure with the response's identifier";
}

// Replies that do not verify are dropped and the right one still taken.
TEST(EapRelay, ForgedAndStrayRepliesAreDropped) {
  FakeServer Server({[&](const radius::Packet &R) {
    radius::Packet Other = R;
    Other.Identifier = (std::uint8_t)(R.Identifier + 1);
    return std::vector<Bytes>{
        Reply(R, radius::Code::AccessChallenge, kStart, {}, true, "another secret"),  // forged
        Reply(R, radius::Code::AccessChallenge, kStart, {}, false),                  // no Message-Authenticator
        Reply(Other, radius::Code::AccessChallenge, kStart),                         // another request's
        Bytes{11, R.Identifier, 0, 2},                                               // malformed
        Reply(R, radius::Code::AccessChallenge, kStart),                             // the real one
    };
  }});
  radius::EapRelay Relay(Station());
  std::vector<std::string> Notes;
  Relay.SetNote([&](const std::string &Note) { Notes.push_back(Note); });
  std::string Error;
  ASSERT_TRUE(Relay.Open(Server.Address(), kSecret, &Error));
  radius::EapRelay::Step Step = Relay.Forward(kIdentity, "alix!", Soon());
  EXPECT_EQ(Step.Result, radius::EapRelay::Kind::Challenge) << Step.Error;
  ASSERT_EQ(Notes.size(), 4u);
  EXPECT_NE(Notes[0].find("Response Authenticator"), std::string::npos) << Notes[0];
  EXPECT_NE(Notes[1].find("without Message-Authenticator"), std::string::npos) << Notes[1];
  EXPECT_NE(Notes[2].find("identifier"), std::string::npos) << Notes[2];
  EXPECT_NE(Notes[3].find("malformed"), std::string::npos) << Notes[3];
}

TEST(EapRelay, AcceptWithoutAUsableKeyOrChallengeWithoutEapFails) {
  FakeServer Server({[&](const radius::Packet &R) {
                       return std::vector<Bytes>{Reply(R, radius::Code::AccessAccept, kSuccess)};
                     },
                     [&](const radius::Packet &R) {
                       return std::vector<Bytes>{Reply(R, radius::Code::AccessAccept, kSuccess, {RecvKey(R, KeyOf(9, 16))})};
                     },
                     [&](const radius::Packet &R) {
                       return std::vector<Bytes>{Reply(R, radius::Code::AccessChallenge, {}, {{radius::kState, {1}}})};
                     },
                     [&](const radius::Packet &R) {
                       return std::vector<Bytes>{Reply(R, radius::Code::AccessAccept, kFailure, {RecvKey(R, KeyOf(1, 32))})};
                     }});
  radius::EapRelay Relay(Station());
  std::string Error;
  ASSERT_TRUE(Relay.Open(Server.Address(), kSecret, &Error));
  radius::EapRelay::Step Step = Relay.Forward(kTlsResponse, "alix!", Soon());
  EXPECT_EQ(Step.Result, radius::EapRelay::Kind::Failed);
  EXPECT_NE(Step.Error.find("MS-MPPE-Recv-Key"), std::string::npos) << Step.Error;
  Step = Relay.Forward(kTlsResponse, "alix!", Soon());
  EXPECT_EQ(Step.Result, radius::EapRelay::Kind::Failed) << "a 16-octet key is no PMK";
  Step = Relay.Forward(kTlsResponse, "alix!", Soon());
  EXPECT_EQ(Step.Result, radius::EapRelay::Kind::Failed);
  EXPECT_NE(Step.Error.find("without an EAP-Request"), std::string::npos) << Step.Error;
  Step = Relay.Forward(kTlsResponse, "alix!", Soon());
  EXPECT_EQ(Step.Result, radius::EapRelay::Kind::Failed) << "an Accept carrying EAP-Failure";
}

TEST(EapRelay, SilentServerEndsAfterTheRetransmissions) {
  FakeServer Server({});
  radius::EapRelay Relay(Station());
  std::string Error;
  ASSERT_TRUE(Relay.Open(Server.Address(), kSecret, &Error));
  auto Start = radius::Clock::now();
  radius::EapRelay::Step Step = Relay.Forward(kIdentity, "alix!", Soon());
  EXPECT_EQ(Step.Result, radius::EapRelay::Kind::Failed);
  EXPECT_EQ(Relay.RequestsSent(), radius::Client::kMaxTries);
  EXPECT_LT(radius::Clock::now() - Start, std::chrono::seconds(5));
  // The same request each time (a retransmission, not a new one).
  ASSERT_EQ(Server.Wires().size(), radius::Client::kMaxTries);
  EXPECT_EQ(Server.Wires()[0], Server.Wires()[1]);
  // A deadline sooner than the retransmissions wins.
  radius::EapRelay Hurried(Station());
  ASSERT_TRUE(Hurried.Open(Server.Address(), kSecret, &Error));
  Start = radius::Clock::now();
  Step = Hurried.Forward(kIdentity, "alix!", radius::Clock::now() + std::chrono::milliseconds(300));
  EXPECT_EQ(Step.Result, radius::EapRelay::Kind::Failed);
  EXPECT_LT(radius::Clock::now() - Start, std::chrono::milliseconds(900));
}

TEST(EapRelay, OpenRefusesWhatIsNotAnAddressOrHasNoSecret) {
  radius::EapRelay Relay(Station());
  std::string Error;
  EXPECT_FALSE(Relay.Open("localhost:1812", kSecret, &Error));
  EXPECT_FALSE(Relay.Open("127.0.0.1", kSecret, &Error));
  EXPECT_FALSE(Relay.Open("127.0.0.1:0", kSecret, &Error));
  EXPECT_FALSE(Relay.Open("127.0.0.1:70000", kSecret, &Error));
  EXPECT_FALSE(Relay.Open("127.0.0.1:1812", "", &Error));
}

}  // namespace
