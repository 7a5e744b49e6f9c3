// EAP-TLS through ap-sim's RADIUS relay to FreeRADIUS, with an mbedtls TLS
// client as the station (tests/tools/support/EapTlsPeer.h): the PMK the relay
// takes from FreeRADIUS's MS-MPPE-Recv-Key equals the first half of the MSK
// the client derives from its master secret ("client EAP encryption"), the
// formula the built-in server uses too; a client certificate of another CA
// is rejected with EAP-Failure.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>

#include "EapRelay.h"
#include "EapTlsPeer.h"

namespace {

class RadiusEapTlsTest : public eaptest::PoolTest {};

using eaptest::Bytes;

// FreeRADIUS run by the script on the test PKI; stopped by the script's
// process id (the script stops FreeRADIUS by its own).
class Server {
 public:
  Server() {
    int Pipe[2];
    if (pipe(Pipe) != 0) {
      return;
    }
    Pid_ = fork();
    if (Pid_ == 0) {
      dup2(Pipe[1], STDOUT_FILENO);
      close(Pipe[0]);
      close(Pipe[1]);
      std::string Dir = eaptest::PkiDir();
      execlp("python3", "python3", RADIUS_SERVER_SCRIPT, "run", "--dir", Dir.c_str(), (char *)nullptr);
      _exit(127);
    }
    close(Pipe[1]);
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
  bool Ready() const { return Port_ != 0; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port_); }

 private:
  pid_t    Pid_ = -1;
  unsigned Port_ = 0;
};

struct Outcome {
  radius::EapRelay::Kind Last = radius::EapRelay::Kind::Failed;
  Bytes                  Eap;
  Bytes                  Pmk;
  unsigned               Rounds = 0;
  double                 Milliseconds = 0;
  std::string            Error;
};

Outcome Authenticate(const std::string &Address, eaptest::Peer &Station) {
  Outcome O;
  radius::EapRelay Relay({"02-00-00-00-00-02", "02-00-00-00-00-01", "Enterprise Net"});
  if (!Relay.Open(Address, "radius test secret", &O.Error)) {
    return O;
  }
  auto Start = std::chrono::steady_clock::now();
  Bytes Response = Station.Identity(1);
  for (O.Rounds = 1; O.Rounds <= 64; ++O.Rounds) {
    radius::EapRelay::Step Step =
        Relay.Forward(Response, "alix", radius::Clock::now() + std::chrono::seconds(10));
    O.Last = Step.Result;
    O.Eap = Step.Eap;
    O.Error = Step.Error;
    if (Step.Result != radius::EapRelay::Kind::Challenge) {
      O.Pmk = Step.Pmk;
      break;
    }
    Response = Station.Answer(Step.Eap);
  }
  O.Milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
  return O;
}

TEST_F(RadiusEapTlsTest, PmkFromFreeRadiusIsTheFirstHalfOfTheClientsMsk) {
  ASSERT_FALSE(eaptest::PkiDir().empty());
  Server S;
  ASSERT_TRUE(S.Ready());
  for (const char *Key : {"client", "rsa-client"}) {
    eaptest::Peer Station("ca.pem", std::string(Key) + ".pem", std::string(Key) + ".key", 1024);
    ASSERT_TRUE(Station.Ok());
    Outcome O = Authenticate(S.Address(), Station);
    ASSERT_EQ(O.Last, radius::EapRelay::Kind::Accept) << Key << ": " << O.Error;
    EXPECT_TRUE(Station.Done());
    EXPECT_EQ(O.Eap[0], 3) << "EAP-Success";
    ASSERT_EQ(O.Pmk.size(), 32u);
    EXPECT_EQ(O.Pmk, Bytes(Station.Msk(), Station.Msk() + 32)) << Key;
    std::printf("     %s: FreeRADIUS accepted after %u round trips in %.1f ms\n", Key, O.Rounds, O.Milliseconds);
  }
}

TEST_F(RadiusEapTlsTest, ClientOfAnotherCaIsRejected) {
  Server S;
  ASSERT_TRUE(S.Ready());
  eaptest::Peer Station("ca.pem", "other-client.pem", "other-client.key", 1024);
  ASSERT_TRUE(Station.Ok());
  Outcome O = Authenticate(S.Address(), Station);
  EXPECT_EQ(O.Last, radius::EapRelay::Kind::Reject) << O.Error;
  ASSERT_FALSE(O.Eap.empty());
  EXPECT_EQ(O.Eap[0], 4) << "EAP-Failure";
  EXPECT_TRUE(O.Pmk.empty());
}

}  // namespace
