// sae-cost: the instruction counts behind sup-bench's WPA3 ratio, for a
// machine too busy to time reliably. Run under callgrind with collection off
// at the start:
//
//   valgrind --tool=callgrind --collect-atstart=no build/host/bin/sae-cost
//
// It collects, each into a dump of its own: one P-256 scalar multiplication
// by mbedtls (ecp-mul) and through the driver's EC layer (ecp-mul-own), one
// 256-bit modular exponentiation (mod-exp), and the station's
// side of a WPA3 connection (wpa3-connect: own commit, the peer's commit,
// both confirms, 4-way and group handshakes), the access point's work and
// the child's configuration left out. tools/bench.sh turns the dumps into
// the ratio wpa3-connect / (3 ecp-mul + 45 mod-exp).
#include <Authenticator.h>
#include <HostEnv/Environment.h>
#include <Library/UefiLib.h>
#include <SaeAuthenticator.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "Ecc.h"
#include "Random.h"
#include "MbedtlsPoint.h"
#include "uefi_sup.h"

namespace {

constexpr UINT8 StationMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr UINT8 ApMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
constexpr UINT8 RsnSae[6] = {1, 0, 0x00, 0x0F, 0xAC, 8};
constexpr UINT8 Ccmp[6] = {1, 0, 0x00, 0x0F, 0xAC, 4};
constexpr char Password[] = "sae bench password";

std::mt19937 Generator(17);
void FillRandom(VOID *, UINT8 *Buffer, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = static_cast<UINT8>(Generator());
  }
}

int DriverRandom(void *, unsigned char *Out, size_t Length) {
  random_bytes(Out, Length);
  return 0;
}

// Brackets one measured stretch; its instructions go to a dump named Name.
template <typename Work>
bool Measure(const char *Name, Work &&Body) {
  CALLGRIND_TOGGLE_COLLECT;
  bool Ok = Body();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT(Name);
  return Ok;
}

bool MeasurePrimitives() {
  mbedtls_ecp_group Group;
  mbedtls_ecp_point Base, Product;
  mbedtls_mpi Scalar, Exponent, Power;
  mbedtls_ecp_group_init(&Group);
  mbedtls_ecp_point_init(&Base);
  mbedtls_ecp_point_init(&Product);
  mbedtls_mpi_init(&Scalar);
  mbedtls_mpi_init(&Exponent);
  mbedtls_mpi_init(&Power);
  bool Ok = mbedtls_ecp_group_load(&Group, MBEDTLS_ECP_DP_SECP256R1) == 0 &&
            mbedtls_ecp_gen_privkey(&Group, &Scalar, DriverRandom, nullptr) == 0 &&
            mbedtls_ecp_mul(&Group, &Base, &Scalar, &Group.G, DriverRandom, nullptr) == 0 &&
            mbedtls_mpi_sub_int(&Exponent, &Group.P, 1) == 0 && mbedtls_mpi_shift_r(&Exponent, 1) == 0;
  Ok = Ok && Measure("ecp-mul", [&] {
         return mbedtls_ecp_mul(&Group, &Product, &Scalar, &Base, DriverRandom, nullptr) == 0;
       });
  ECC_GROUP *OwnGroup = mbedtls_ecc_init(SAE_GROUP_P256);
  Ok = Ok && OwnGroup != nullptr && Measure("ecp-mul-own", [&] {
         return ecc_point_mul(OwnGroup, &Product, &Scalar, &Base) == 0;
       });
  ecc_free(OwnGroup);
  Ok = Ok && Measure("mod-exp", [&] {
         return mbedtls_mpi_exp_mod(&Power, PointX(&Base), &Exponent, &Group.P, nullptr) == 0;
       });
  mbedtls_mpi_free(&Power);
  mbedtls_mpi_free(&Exponent);
  mbedtls_mpi_free(&Scalar);
  mbedtls_ecp_point_free(&Product);
  mbedtls_ecp_point_free(&Base);
  mbedtls_ecp_group_free(&Group);
  return Ok;
}

struct Station {
  EFI_SUPPLICANT_PROTOCOL *Protocol = nullptr;
  bool Set(EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size) const {
    return Protocol->SetData(Protocol, Type, const_cast<void *>(Data), Size) == EFI_SUCCESS;
  }
  bool Get(EFI_SUPPLICANT_DATA_TYPE Type, UINT8 *Data, UINTN Size) const {
    UINTN Room = Size;
    return Protocol->GetData(Protocol, Type, Data, &Room) == EFI_SUCCESS && Room == Size;
  }
  bool Respond(UINT8 *Frame, UINTN Length, UINT8 *Answer, UINTN *Size) const {
    *Size = 512;
    return Protocol->BuildResponsePacket(Protocol, Frame, Length, Answer, Size) == EFI_SUCCESS;
  }
};

// The station's steps are collected; the access point's are not.
bool MeasureConnection(const Station &Sta) {
  using authenticator::Authenticator;
  using authenticator::SAE_VERDICT;
  authenticator::SaeAuthenticator SaeAp;
  UINT8 ApCommit[authenticator::SAE_COMMIT_LEN], ApConfirm[authenticator::SAE_CONFIRM_LEN];
  UINT8 Commit[authenticator::SAE_COMMIT_LEN], Confirm[authenticator::SAE_CONFIRM_LEN];
  bool Ok = SaeAp.Start(ApMac, StationMac, reinterpret_cast<const UINT8 *>(Password), sizeof(Password) - 1,
                        {FillRandom, nullptr}) == SAE_VERDICT::Ok &&
            SaeAp.Commit(ApCommit, sizeof(ApCommit)) == sizeof(ApCommit);
  auto Station = [](auto &&Step) {
    CALLGRIND_TOGGLE_COLLECT;
    bool Ok = Step();
    CALLGRIND_TOGGLE_COLLECT;
    return Ok;
  };
  Ok = Ok && Station([&] {
         return Sta.Get(EfiSupplicantSaeCommit, Commit, sizeof(Commit)) &&
                Sta.Set(EfiSupplicantSaeCommit, ApCommit, sizeof(ApCommit)) &&
                Sta.Get(EfiSupplicantSaeConfirm, Confirm, sizeof(Confirm));
       });
  Ok = Ok && SaeAp.AcceptCommit(Commit, sizeof(Commit)) == SAE_VERDICT::Ok &&
       SaeAp.AcceptConfirm(Confirm, sizeof(Confirm)) == SAE_VERDICT::Ok &&
       SaeAp.Confirm(ApConfirm, sizeof(ApConfirm)) == sizeof(ApConfirm);
  Ok = Ok && Station([&] { return Sta.Set(EfiSupplicantSaeConfirm, ApConfirm, sizeof(ApConfirm)); });

  authenticator::CONFIG Config = {};
  Config.Mode = authenticator::MODE::Wpa3Sae;
  std::memcpy(Config.ApMac, ApMac, 6);
  std::memcpy(Config.StaMac, StationMac, 6);
  std::memcpy(Config.Pmk, SaeAp.Pmk(), authenticator::PMK_LEN);
  Config.StationElementLength = authenticator::BuildSecurityElement(Config.Mode, {}, Config.StationElement);
  Config.ApElementLength = authenticator::BuildSecurityElement(Config.Mode, {}, Config.ApElement);
  Config.Random = {FillRandom, nullptr};
  Authenticator Ap;
  Ap.Start(Config);
  UINT8 Frame[authenticator::MAX_FRAME_LEN], Answer[512];
  UINTN Size = 0;
  using Builder = UINTN (Authenticator::*)(UINT8 *, UINTN);
  using Checker = authenticator::VERDICT (Authenticator::*)(const UINT8 *, UINTN);
  const struct {
    Builder Build;
    Checker Accept;
  } Steps[] = {{&Authenticator::Message1, &Authenticator::AcceptMessage2},
               {&Authenticator::Message3, &Authenticator::AcceptMessage4},
               {&Authenticator::GroupMessage1, &Authenticator::AcceptGroupMessage2}};
  for (const auto &Step : Steps) {
    UINTN Length = (Ap.*Step.Build)(Frame, sizeof(Frame));
    Ok = Ok && Station([&] { return Sta.Respond(Frame, Length, Answer, &Size); }) &&
         (Ap.*Step.Accept)(Answer, Size) == authenticator::VERDICT::Ok;
  }
  CALLGRIND_DUMP_STATS_AT("wpa3-connect");
  return Ok;
}

}  // namespace

int main() {
  HostEnv::Environment Env;
  EFI_HANDLE Image = Env.LoadImage(NorvSupDxeModuleEntry);
  EFI_SERVICE_BINDING_PROTOCOL *Service = nullptr;
  EFI_HANDLE Child = nullptr;
  Station Sta;
  bool Ok = Env.StartImage(Image) == EFI_SUCCESS &&
            gBS->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr,
                                reinterpret_cast<VOID **>(&Service)) == EFI_SUCCESS &&
            Service->CreateChild(Service, &Child) == EFI_SUCCESS &&
            gBS->HandleProtocol(Child, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Sta.Protocol)) ==
                EFI_SUCCESS;
  EFI_80211_SSID Ssid = {4, {'I', 'E', 'E', 'E'}};
  Ok = Ok && Sta.Set(EfiSupplicant80211AKMSuite, RsnSae, 6) && Sta.Set(EfiSupplicant80211PairwiseCipherSuite, Ccmp, 6) &&
       Sta.Set(EfiSupplicant80211GroupDataCipherSuite, Ccmp, 6) &&
       Sta.Set(EfiSupplicant80211TargetSSIDName, &Ssid, sizeof(Ssid)) &&
       Sta.Set(EfiSupplicant80211TargetSSIDMac, ApMac, 6) && Sta.Set(EfiSupplicant80211StationMac, StationMac, 6) &&
       Sta.Set(EfiSupplicant80211PskPassword, Password, sizeof(Password) - 1);
  Ok = Ok && MeasurePrimitives() && MeasureConnection(Sta);
  if (Child != nullptr) {
    Service->DestroyChild(Service, Child);
  }
  Env.UnloadImage(Image);
  if (!Ok) {
    std::fprintf(stderr, "sae-cost: a step failed\n");
    return 1;
  }
  return 0;
}
