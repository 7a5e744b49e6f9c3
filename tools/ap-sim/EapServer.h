// The authentication server behind ap-sim in EAP modes: a RADIUS server it
// relays to, or the built-in EAP-TLS server of the authenticator library.
#pragma once
#include <memory>
#include <stdexcept>
#include <string>

#include "EapRelay.h"
#include "Hex.h"
#include "LineChannel.h"

namespace wifi {

class EapServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EapServer {
 public:
  virtual ~EapServer() = default;
  struct Next {
    Bytes Eap;  // EAP-Request, EAP-Success or EAP-Failure for the station
    Bytes Pmk;  // with EAP-Success
  };
  // The server's answer to one EAP-Response of the station; throws
  // EapServerError when it has none (timeout, malformed reply).
  virtual Next Answer(const Bytes &Response, const std::string &Identity, Clock::time_point Deadline) = 0;
};

std::unique_ptr<EapServer> RadiusEapServer(const std::string &Server, const std::string &Secret,
                                           const radius::RelayStation &Station, std::string *Error);
// Credentials as file contents (PEM or DER); Mtu is the largest EAP packet
// the server sends.
std::unique_ptr<EapServer> BuiltInEapServer(const Bytes &CaCert, const Bytes &ServerCert, const Bytes &ServerKey,
                                            unsigned Mtu, std::string *Error);

}  // namespace wifi
