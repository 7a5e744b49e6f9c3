// BM_EapTlsConnect: a whole WPA2-Enterprise connection of the driver (loaded
// into the host UEFI environment once): a new child configured for EAP-TLS
// with the test PKI's client certificate, the EAP conversation against the
// built-in EAP-TLS server behind the pass-through authenticator (as ap-sim
// runs them, without the line), then the 4-way and group-key handshakes
// with the PMK from the MSK; the keys are compared and the child destroyed.
// The access point's work is timed too: it is the other half of the
// connection. Counters: EAP round trips and requests per connection.
#include <benchmark/benchmark.h>

#include <Authenticator.h>
#include <EapAuthenticator.h>
#include <EapTlsServer.h>
#include <HostEnv/Environment.h>
#include <Library/UefiLib.h>
#include <uefi/Protocol/EapConfiguration.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "uefi_sup.h"

namespace {

using Bytes = std::vector<UINT8>;

constexpr UINT8 StationMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr UINT8 ApMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
constexpr UINT8 Rsn8021X[6] = {1, 0, 0x00, 0x0F, 0xAC, 1};
constexpr UINT8 Ccmp[6] = {1, 0, 0x00, 0x0F, 0xAC, 4};
constexpr char Identity[] = "station@example.test";

// The test PKI, made once by tools/radius/radius_server.py (openssl).
class Pki {
 public:
  Pki() {
    char Template[] = "/tmp/eap-bench-pki-XXXXXX";
    Dir_ = mkdtemp(Template);
    std::string Command = std::string("python3 ") + RADIUS_SERVER_SCRIPT + " pki " + Dir_ + " > /dev/null";
    Ok_ = std::system(Command.c_str()) == 0;
  }
  ~Pki() { std::filesystem::remove_all(Dir_); }
  bool Ok() const { return Ok_; }
  // PEM with its terminating NUL, as the driver and mbedtls take it.
  Bytes Pem(const char *Name) const {
    std::ifstream In(Dir_ + "/" + Name, std::ios::binary);
    Bytes Data((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    Data.push_back(0);
    return Data;
  }

 private:
  std::string Dir_;
  bool        Ok_ = false;
};

const Pki &ThePki() {
  static const Pki Instance;
  return Instance;
}

void FillRandom(VOID *Context, UINT8 *Buffer, UINTN Length) {
  auto *Generator = static_cast<std::mt19937 *>(Context);
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = (UINT8)(*Generator)();
  }
}

// The firmware clock reads the real time: the driver checks the server
// certificate's validity against it.
HostEnv::Options ClockNow() {
  HostEnv::Options Options;
  std::time_t Now = std::time(nullptr);
  std::tm Utc = *std::gmtime(&Now);
  Options.Time = {(UINT16)(Utc.tm_year + 1900), (UINT8)(Utc.tm_mon + 1), (UINT8)Utc.tm_mday, (UINT8)Utc.tm_hour,
                  (UINT8)Utc.tm_min, (UINT8)Utc.tm_sec, 0, 0, 0, 0, 0};
  return Options;
}

class LoadedDriver {
 public:
  LoadedDriver() : Env_(ClockNow()) {
    gST = Env_.SystemTable();
    gBS = Env_.BootServices();
    Image_ = Env_.LoadImage(NorvSupDxeModuleEntry);
    Env_.StartImage(Image_);
    Env_.BootServices()->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr,
                                        reinterpret_cast<VOID **>(&Service_));
  }
  ~LoadedDriver() { Env_.UnloadImage(Image_); }
  EFI_SERVICE_BINDING_PROTOCOL *Service() const { return Service_; }
  EFI_BOOT_SERVICES *BootServices() { return Env_.BootServices(); }

 private:
  HostEnv::Environment          Env_;
  EFI_HANDLE                    Image_ = nullptr;
  EFI_SERVICE_BINDING_PROTOCOL *Service_ = nullptr;
};

struct Credentials {
  Bytes Ca = ThePki().Pem("ca.pem");
  Bytes ClientCert = ThePki().Pem("client.pem");
  Bytes ClientKey = ThePki().Pem("client.key");
  Bytes ServerCert = ThePki().Pem("server.pem");
  Bytes ServerKey = ThePki().Pem("server.key");
};

// BuildResponsePacket as the contract has it: 2048 bytes, again with the
// size the driver asks for.
bool Respond(EFI_SUPPLICANT_PROTOCOL *Station, Bytes &Request, Bytes *Response) {
  Response->assign(2048, 0);
  UINTN Size = Response->size();
  EFI_STATUS Status = Station->BuildResponsePacket(Station, Request.data(), Request.size(), Response->data(), &Size);
  if (Status == EFI_BUFFER_TOO_SMALL && Size > Response->size()) {
    Response->resize(Size);
    Status = Station->BuildResponsePacket(Station, Request.data(), Request.size(), Response->data(), &Size);
  }
  Response->resize(Status == EFI_SUCCESS ? Size : 0);
  return Status == EFI_SUCCESS;
}

struct Result {
  bool  Ok = false;
  UINTN Rounds = 0;
  UINTN Requests = 0;
};

Result Connect(LoadedDriver &Driver, const Credentials &C, std::mt19937 &Generator) {
  Result R;
  EFI_HANDLE Child = nullptr;
  EFI_SUPPLICANT_PROTOCOL *Station = nullptr;
  EFI_EAP_CONFIGURATION_PROTOCOL *Eap = nullptr;
  EFI_SERVICE_BINDING_PROTOCOL *Service = Driver.Service();
  Service->CreateChild(Service, &Child);
  Driver.BootServices()->HandleProtocol(Child, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Station));
  Driver.BootServices()->HandleProtocol(Child, &gEfiEapConfigurationProtocolGuid, reinterpret_cast<VOID **>(&Eap));
  EFI_80211_SSID SsidRecord = {4, {'C', 'o', 'r', 'p'}};
  auto Set = [&](EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size) {
    return Station->SetData(Station, Type, const_cast<void *>(Data), Size) == EFI_SUCCESS;
  };
  auto SetEap = [&](EFI_EAP_TYPE Type, EFI_EAP_CONFIG_DATA_TYPE DataType, const void *Data, UINTN Size) {
    return Eap->SetData(Eap, Type, DataType, const_cast<void *>(Data), Size) == EFI_SUCCESS;
  };
  const UINT8 Method = EFI_EAP_TYPE_EAPTLS;
  bool Ok = Set(EfiSupplicant80211AKMSuite, Rsn8021X, 6) && Set(EfiSupplicant80211PairwiseCipherSuite, Ccmp, 6) &&
            Set(EfiSupplicant80211GroupDataCipherSuite, Ccmp, 6) &&
            Set(EfiSupplicant80211TargetSSIDName, &SsidRecord, sizeof(SsidRecord)) &&
            Set(EfiSupplicant80211TargetSSIDMac, ApMac, 6) && Set(EfiSupplicant80211StationMac, StationMac, 6) &&
            SetEap(EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapAuthMethod, &Method, 1) &&
            SetEap(EFI_EAP_TYPE_IDENTITY, EfiEapConfigIdentityString, Identity, sizeof(Identity) - 1) &&
            SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, C.Ca.data(), C.Ca.size()) &&
            SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientCert, C.ClientCert.data(), C.ClientCert.size()) &&
            SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFile, C.ClientKey.data(), C.ClientKey.size());

  // The access point: authenticator, built-in server, key handshakes.
  auto Authenticator = std::make_unique<authenticator::EapAuthenticator>();
  auto Server = std::make_unique<authenticator::EapTlsServer>();
  authenticator::EAP_TLS_SERVER_CONFIG ServerConfig = {
      C.Ca.data(),        C.Ca.size(), C.ServerCert.data(), C.ServerCert.size(), C.ServerKey.data(),
      C.ServerKey.size(), 1024,        {FillRandom, &Generator}};
  Ok = Ok && Server->Setup(ServerConfig) == authenticator::EAP_TLS_SETUP::Ok;
  Authenticator->Start((UINT8)Generator());
  Bytes Frame(authenticator::EAPOL_HEADER_LEN + authenticator::EAP_MAX_PACKET_LEN), Response;
  Frame.resize(Authenticator->IdentityRequest(Frame.data(), Frame.size()));
  while (Ok && Authenticator->Outcome() == authenticator::EAP_OUTCOME::Running) {
    Ok = Respond(Station, Frame, &Response) &&
         Authenticator->AcceptResponse(Response.data(), Response.size()) == authenticator::EAP_VERDICT::Ok;
    Bytes Packet(authenticator::EAP_MAX_PACKET_LEN);
    UINTN Length = Ok ? Server->Answer(Authenticator->Response(), Authenticator->ResponseLength(), Packet.data(),
                                       Packet.size())
                      : 0;
    Frame.assign(authenticator::EAPOL_HEADER_LEN + authenticator::EAP_MAX_PACKET_LEN, 0);
    Length = Length != 0 ? Authenticator->Relay(Packet.data(), Length, Frame.data(), Frame.size()) : 0;
    Frame.resize(Length);
    Ok = Ok && Length != 0;
  }
  // EAP-Success to the station: no response.
  Ok = Ok && Authenticator->Outcome() == authenticator::EAP_OUTCOME::Success && Respond(Station, Frame, &Response) &&
       Response.empty();
  R.Rounds = Authenticator->Rounds();
  R.Requests = Server->Requests();

  authenticator::CONFIG Config = {};
  Config.Mode = authenticator::MODE::Wpa2Eap;
  std::memcpy(Config.ApMac, ApMac, 6);
  std::memcpy(Config.StaMac, StationMac, 6);
  std::memcpy(Config.Pmk, Server->Msk(), authenticator::PMK_LEN);
  Config.StationElementLength = authenticator::BuildSecurityElement(Config.Mode, {}, Config.StationElement);
  Config.ApElementLength = authenticator::BuildApElement(Config.Mode, {}, Config.ApElement);
  Config.Random = {FillRandom, &Generator};
  auto Ap = std::make_unique<authenticator::Authenticator>();
  Ap->Start(Config);
  using authenticator::Authenticator;
  auto Step = [&](UINTN Length, authenticator::VERDICT (Authenticator::*Accept)(const UINT8 *, UINTN)) {
    Frame.resize(Length);
    return Length != 0 && Respond(Station, Frame, &Response) &&
           ((*Ap).*Accept)(Response.data(), Response.size()) == authenticator::VERDICT::Ok;
  };
  Frame.assign(authenticator::MAX_FRAME_LEN, 0);
  Ok = Ok && Step(Ap->Message1(Frame.data(), Frame.size()), &Authenticator::AcceptMessage2);
  Frame.assign(authenticator::MAX_FRAME_LEN, 0);
  Ok = Ok && Step(Ap->Message3(Frame.data(), Frame.size()), &Authenticator::AcceptMessage4);
  Frame.assign(authenticator::MAX_FRAME_LEN, 0);
  Ok = Ok && Step(Ap->GroupMessage1(Frame.data(), Frame.size()), &Authenticator::AcceptGroupMessage2);
  EFI_SUPPLICANT_KEY Ptk;
  UINTN Size = sizeof(Ptk);
  Ok = Ok && Station->GetData(Station, EfiSupplicant80211PTK, reinterpret_cast<UINT8 *>(&Ptk), &Size) == EFI_SUCCESS &&
       std::memcmp(Ptk.Key, Ap->Tk(), 16) == 0;
  Service->DestroyChild(Service, Child);
  R.Ok = Ok;
  return R;
}

void BM_EapTlsConnect(benchmark::State &State) {
  if (!ThePki().Ok()) {
    State.SkipWithError("no test PKI (python3 and openssl are needed)");
    return;
  }
  LoadedDriver Driver;
  Credentials C;
  std::mt19937 Generator(11);
  Result Last;
  for (auto _ : State) {
    Last = Connect(Driver, C, Generator);
    if (!Last.Ok) {
      State.SkipWithError("the EAP-TLS connection did not complete with matching keys");
      break;
    }
  }
  State.counters["eap_round_trips"] = (double)Last.Rounds;
  State.counters["eap_requests"] = (double)Last.Requests;
}

}  // namespace

BENCHMARK(BM_EapTlsConnect)->Unit(benchmark::kMillisecond);

