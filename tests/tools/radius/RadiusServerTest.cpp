// The RADIUS client against FreeRADIUS, started for each test by
// tools/radius/radius_server.py on a free loopback port: the server's
// replies verify (Response Authenticator, Message-Authenticator), the
// MS-MPPE keys it hides decrypt to the values it was configured with, an
// EAP conversation starts with an EAP-TLS Start, and a wrong shared secret
// gets no reply within the client's bounds.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "RadiusClient.h"

namespace {

using radius::Bytes;

// One server process; its id is the one we started (the script runs
// FreeRADIUS as its own child and stops it on SIGTERM).
class Server {
 public:
  explicit Server(const std::vector<std::string> &Extra) {
    int Pipe[2];
    if (pipe(Pipe) != 0) {
      return;
    }
    Pid_ = fork();
    if (Pid_ == 0) {
      dup2(Pipe[1], STDOUT_FILENO);
      close(Pipe[0]);
      close(Pipe[1]);
      std::vector<std::string> Args = {"python3", RADIUS_SERVER_SCRIPT, "run", "--dir", PkiDir()};
      Args.insert(Args.end(), Extra.begin(), Extra.end());
      std::vector<char *> Argv;
      for (std::string &A : Args) {
        Argv.push_back(A.data());
      }
      Argv.push_back(nullptr);
      execvp("python3", Argv.data());
      _exit(127);
    }
    close(Pipe[1]);
    // The first line is "PORT SECRET DIR" once the server is ready; the
    // script gives up after its own bound.
    FILE *Out = fdopen(Pipe[0], "r");
    char Line[512] = {};
    if (Out != nullptr && std::fgets(Line, sizeof(Line), Out) != nullptr) {
      std::istringstream(Line) >> Port_;
    }
    if (Out != nullptr) {
      std::fclose(Out);
    }
  }
  ~Server() {
    if (Pid_ > 0) {
      kill(Pid_, SIGTERM);
      int Status = 0;
      waitpid(Pid_, &Status, 0);
    }
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port_); }
  bool Ready() const { return Port_ != 0; }

  static std::string PkiDir() {
    static const std::string Dir = [] {
      char Template[] = "/tmp/radius-test-pki-XXXXXX";
      return std::string(mkdtemp(Template));
    }();
    return Dir;
  }

 private:
  pid_t    Pid_ = -1;
  unsigned Port_ = 0;
};

constexpr const char *kSecret = "radius test secret";

Bytes FromHex(const std::string &Hex) {
  Bytes Out;
  for (size_t Index = 0; Index + 1 < Hex.size(); Index += 2) {
    Out.push_back((std::uint8_t)std::stoul(Hex.substr(Index, 2), nullptr, 16));
  }
  return Out;
}

radius::Packet AccessRequest(const std::string &User) {
  radius::Packet Request;
  Request.Attributes.push_back({radius::kUserName, Bytes(User.begin(), User.end())});
  Request.Attributes.push_back({radius::kNasIpAddress, {127, 0, 0, 1}});
  return Request;
}

TEST(RadiusServer, AcceptCarriesMppeKeysThatDecryptToTheConfiguredOnes) {
  const std::string Recv = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
  const std::string Send = "f0e1d2c3b4a5968778695a4b3c2d1e0ff0e1d2c3b4a5968778695a4b3c2d1e0f";
  Server S({"--reply-keys", Recv, Send});
  ASSERT_TRUE(S.Ready());
  radius::Client C;
  std::string Error;
  ASSERT_TRUE(C.Open(S.Address(), kSecret, &Error)) << Error;
  std::optional<radius::Packet> Reply =
      C.Transact(AccessRequest("mppe"), radius::Clock::now() + std::chrono::seconds(10), &Error);
  ASSERT_TRUE(Reply) << Error;
  EXPECT_EQ(Reply->PacketCode, radius::Code::AccessAccept);
  std::optional<Bytes> RecvKey = radius::MicrosoftAttribute(*Reply, radius::kMsMppeRecvKey);
  std::optional<Bytes> SendKey = radius::MicrosoftAttribute(*Reply, radius::kMsMppeSendKey);
  ASSERT_TRUE(RecvKey && SendKey);
  // Hidden: the wire value is salt and blocks, not the key.
  EXPECT_EQ(RecvKey->size(), 2u + 48u);
  EXPECT_NE(*RecvKey, FromHex(Recv));
  EXPECT_EQ(radius::DecryptMppeKey(*RecvKey, kSecret, C.LastRequestAuth()), FromHex(Recv));
  EXPECT_EQ(radius::DecryptMppeKey(*SendKey, kSecret, C.LastRequestAuth()), FromHex(Send));
  // Under another Request Authenticator the same value decrypts to noise.
  radius::Authenticator Other = C.LastRequestAuth();
  Other[0] ^= 1;
  std::optional<Bytes> Wrong = radius::DecryptMppeKey(*RecvKey, kSecret, Other);
  EXPECT_TRUE(!Wrong || *Wrong != FromHex(Recv));
}

TEST(RadiusServer, EapIdentityIsAnsweredWithAnEapTlsStartChallenge) {
  Server S({});
  ASSERT_TRUE(S.Ready());
  radius::Client C;
  std::string Error;
  ASSERT_TRUE(C.Open(S.Address(), kSecret, &Error)) << Error;
  radius::Packet Request = AccessRequest("station@example.test");
  // EAP-Response/Identity, identifier 7.
  const std::string Identity = "station@example.test";
  Bytes Eap(5 + Identity.size());
  Eap[0] = 2;
  Eap[1] = 7;
  Eap[3] = (std::uint8_t)Eap.size();
  Eap[4] = 1;
  std::copy(Identity.begin(), Identity.end(), Eap.begin() + 5);
  radius::AddEapMessage(Request, Eap);
  std::optional<radius::Packet> Reply = C.Transact(Request, radius::Clock::now() + std::chrono::seconds(10), &Error);
  ASSERT_TRUE(Reply) << Error;
  ASSERT_EQ(Reply->PacketCode, radius::Code::AccessChallenge);
  EXPECT_NE(Reply->Find(radius::kState), nullptr);
  EXPECT_NE(Reply->Find(radius::kMessageAuthenticator), nullptr);
  Bytes Start = Reply->EapMessage();
  // Request, new identifier, length 6, type 13, flags with S set.
  ASSERT_EQ(Start.size(), 6u);
  EXPECT_EQ(Start[0], 1);
  EXPECT_EQ(Start[4], 13);
  EXPECT_EQ(Start[5] & 0x20, 0x20);
}

TEST(RadiusServer, WrongSecretGetsNoReplyWithinTheClientsBounds) {
  Server S({"--reply-keys", std::string(64, '1'), std::string(64, '2')});
  ASSERT_TRUE(S.Ready());
  radius::Client C;
  std::string Error;
  ASSERT_TRUE(C.Open(S.Address(), "not the secret", &Error)) << Error;
  std::optional<radius::Packet> Reply =
      C.Transact(AccessRequest("mppe"), radius::Clock::now() + std::chrono::seconds(10), &Error);
  // The server drops what fails its Message-Authenticator check; the
  // client ends after its tries.
  EXPECT_FALSE(Reply);
  EXPECT_EQ(C.RequestsSent(), radius::Client::kMaxTries);
  EXPECT_NE(Error.find("no valid RADIUS reply"), std::string::npos) << Error;
}

// The PKI the servers share is made once and removed at the end.
class PkiCleanup : public ::testing::Environment {
 public:
  void TearDown() override { std::filesystem::remove_all(Server::PkiDir()); }
};
const auto *const Cleanup = ::testing::AddGlobalTestEnvironment(new PkiCleanup);

}  // namespace
