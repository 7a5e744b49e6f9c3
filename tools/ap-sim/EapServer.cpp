#include "EapServer.h"

#include <iostream>

namespace wifi {
namespace {

class RadiusServer final : public EapServer {
 public:
  explicit RadiusServer(const radius::RelayStation &Station) : Relay_(Station) {
    Relay_.SetNote([](const std::string &Note) { std::cerr << "ap-sim: " << Note << "\n"; });
  }
  bool Open(const std::string &Server, const std::string &Secret, std::string *Error) {
    return Relay_.Open(Server, Secret, Error);
  }

  Next Answer(const Bytes &Response, const std::string &Identity, Clock::time_point Deadline) override {
    radius::EapRelay::Step Step = Relay_.Forward(Response, Identity, Deadline);
    switch (Step.Result) {
      case radius::EapRelay::Kind::Challenge:
        return {Step.Eap, {}};
      case radius::EapRelay::Kind::Accept:
        std::cerr << "ap-sim: Access-Accept after " << Relay_.RequestsSent() << " Access-Requests\n";
        return {Step.Eap, Step.Pmk};
      case radius::EapRelay::Kind::Reject:
        std::cerr << "ap-sim: Access-Reject after " << Relay_.RequestsSent() << " Access-Requests\n";
        return {Step.Eap, {}};
      case radius::EapRelay::Kind::Failed:
        break;
    }
    throw EapServerError("RADIUS: " + Step.Error);
  }

 private:
  radius::EapRelay Relay_;
};

}  // namespace

std::unique_ptr<EapServer> RadiusEapServer(const std::string &Server, const std::string &Secret,
                                           const radius::RelayStation &Station, std::string *Error) {
  auto Relay = std::make_unique<RadiusServer>(Station);
  if (!Relay->Open(Server, Secret, Error)) {
    return nullptr;
  }
  return Relay;
}

}  // namespace wifi
