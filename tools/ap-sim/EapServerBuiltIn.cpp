#include <EapTlsServer.h>

#include <algorithm>
#include <iostream>
#include <random>

#include "EapServer.h"

namespace wifi {
namespace {

void FillRandom(VOID *, UINT8 *Buffer, UINTN Length) {
  static std::random_device Device;
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = (UINT8)Device();
  }
}

// PEM goes to mbedtls with its terminating NUL, DER as it is.
Bytes AsMbedtlsTakesIt(const Bytes &File) {
  static constexpr char Begin[] = "-----BEGIN ";
  Bytes Data = File;
  if (std::search(File.begin(), File.end(), Begin, Begin + sizeof(Begin) - 1) != File.end()) {
    Data.push_back(0);
  }
  return Data;
}

class BuiltInServer final : public EapServer {
 public:
  authenticator::EAP_TLS_SETUP Setup(const Bytes &CaCert, const Bytes &ServerCert, const Bytes &ServerKey,
                                     unsigned Mtu) {
    Ca_ = AsMbedtlsTakesIt(CaCert);
    Cert_ = AsMbedtlsTakesIt(ServerCert);
    Key_ = AsMbedtlsTakesIt(ServerKey);
    authenticator::EAP_TLS_SERVER_CONFIG Config = {Ca_.data(),  Ca_.size(), Cert_.data(),          Cert_.size(),
                                                   Key_.data(), Key_.size(), Mtu, {FillRandom, nullptr}};
    return Server_->Setup(Config);
  }

  Next Answer(const Bytes &Response, const std::string &, Clock::time_point) override {
    Bytes Packet(authenticator::EAP_MAX_PACKET_LEN);
    UINTN Length = Server_->Answer(Response.data(), Response.size(), Packet.data(), Packet.size());
    if (Length == 0) {
      throw EapServerError("the built-in EAP-TLS server has no answer");
    }
    Packet.resize(Length);
    Next Out = {Packet, {}};
    switch (Server_->Outcome()) {
      case authenticator::EAP_OUTCOME::Success:
        Out.Pmk.assign(Server_->Msk(), Server_->Msk() + authenticator::PMK_LEN);
        std::cerr << "ap-sim: EAP-TLS server: success after " << Server_->Requests() << " requests\n";
        break;
      case authenticator::EAP_OUTCOME::Failure:
        std::cerr << "ap-sim: EAP-TLS server: " << Server_->FailureReason();
        if (Server_->TlsError() != 0) {
          std::cerr << " (mbedtls -0x" << std::hex << -Server_->TlsError() << std::dec << ")";
        }
        std::cerr << "\n";
        break;
      case authenticator::EAP_OUTCOME::Running:
        break;
    }
    return Out;
  }

 private:
  Bytes Ca_, Cert_, Key_;
  std::unique_ptr<authenticator::EapTlsServer> Server_ = std::make_unique<authenticator::EapTlsServer>();
};

}  // namespace

std::unique_ptr<EapServer> BuiltInEapServer(const Bytes &CaCert, const Bytes &ServerCert, const Bytes &ServerKey,
                                            unsigned Mtu, std::string *Error) {
  auto Server = std::make_unique<BuiltInServer>();
  authenticator::EAP_TLS_SETUP Result = Server->Setup(CaCert, ServerCert, ServerKey, Mtu);
  if (Result != authenticator::EAP_TLS_SETUP::Ok) {
    *Error = std::string("the built-in EAP-TLS server: ") + authenticator::EapTlsSetupName(Result);
    return nullptr;
  }
  return Server;
}

}  // namespace wifi
