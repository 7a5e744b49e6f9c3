#include "EapServer.h"

namespace wifi {

// Built where the shared mbedtls has no TLS server: EAP modes need --radius.
std::unique_ptr<EapServer> BuiltInEapServer(const Bytes &, const Bytes &, const Bytes &, unsigned, std::string *Error) {
  *Error = "this build has no built-in EAP-TLS server (its mbedtls lacks TLS); use --radius";
  return nullptr;
}

}  // namespace wifi
