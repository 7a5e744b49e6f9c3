// ap-sim's relay of one EAP conversation to a RADIUS server (RFC 3579):
// every EAP-Response of the station goes out in an Access-Request (User-Name,
// the station's and access point's addresses, Framed-MTU, State echoed,
// Message-Authenticator), and the reply says what the station gets next: an
// Access-Challenge's EAP-Request, an Access-Accept's EAP-Success with the
// PMK (MS-MPPE-Recv-Key, first 32 octets), or an Access-Reject's
// EAP-Failure.
#pragma once
#include <string>

#include "RadiusClient.h"

namespace radius {

constexpr size_t kPmkLength = 32;
// Framed-MTU the relay announces: the EAP packets the server sends stay
// below it.
constexpr std::uint32_t kAnnouncedMtu = 1400;

struct RelayStation {
  std::string ApMac;       // "02-00-00-00-00-02" style (RFC 3580)
  std::string StationMac;
  std::string Ssid;
};

class EapRelay {
 public:
  explicit EapRelay(const RelayStation &Station) : Station_(Station) {}

  bool Open(const std::string &Server, const std::string &Secret, std::string *Error) {
    return Client_.Open(Server, Secret, Error);
  }

  enum class Kind { Challenge, Accept, Reject, Failed };
  struct Step {
    Kind        Result = Kind::Failed;
    Bytes       Eap;    // for the station: Request, Success or Failure
    Bytes       Pmk;    // Accept only
    std::string Error;  // Failed only
  };
  // One round: the station's EAP-Response (with the identity the station
  // gave first) out, the server's decision back.
  Step Forward(const Bytes &EapResponse, const std::string &Identity, Clock::time_point Deadline);

  unsigned RequestsSent() const { return Client_.RequestsSent(); }
  void SetNote(std::function<void(const std::string &)> Note) { Client_.Note = std::move(Note); }

 private:
  RelayStation Station_;
  Client       Client_;
  Bytes        State_;
};

// "02-00-00-00-00-01" from six octets.
std::string StationIdFromMac(const std::uint8_t *Mac);

}  // namespace radius
