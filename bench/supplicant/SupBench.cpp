// BM_Wpa2Connect: a child of the driver (loaded into the host UEFI
// environment) is created, configured with a pass phrase, and runs a
// complete WPA2-PSK 4-way and group-key handshake against in-process
// authenticator frames; its keys are read back and the child destroyed.
// BM_Pbkdf2Psk/own is the pass-phrase derivation alone, the one cost the
// connection cannot avoid: the goal is Wpa2Connect <= 1.05 x Pbkdf2Psk.
//
// WPA3-SAE: BM_SaeCommit (the own commit, password element included),
// BM_SaePeerCommit (the peer's commit: checks, shared secret, keys) and
// BM_Wpa3Connect (own commit, peer commit, both confirms, then the 4-way
// and group handshakes) against an access point whose own work is not
// timed. They are read as counts of the primitives SAE is built from,
// measured in the same run: BM_EcpMulP256 (one P-256 scalar multiplication
// of an arbitrary point) and BM_ModExpP256 (one 256-bit modular
// exponentiation). BM_EcpMulP256 comes three ways: /own through the driver's
// EC layer (group 19's own arithmetic), /mbedtls and /openssl (OpenSSL 3's
// EC_POINT_mul, the baseline only). Goals: own <= 1.5 x openssl, and
// Wpa3Connect <= 3 EcpMul/mbedtls + 45 ModExp.
//
// Hash to element: BM_SaeH2ePt (PT from SSID and password alone),
// BM_SaeH2eCommit (the own commit with PT already cached) and
// BM_Wpa3ConnectH2e (BM_Wpa3Connect by hash to element on a new child, PT
// derivation included), read in the same units.
#include <benchmark/benchmark.h>

#include <Authenticator.h>
#include <HostEnv/Environment.h>
#include <Library/UefiLib.h>
#include <SaeAuthenticator.h>

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include "Ecc.h"
#include "Random.h"
#include "MbedtlsPoint.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "HashToElement.h"
#include "crypto/Kdf.h"
#include "uefi_sup.h"

namespace {

constexpr char Passphrase[] = "password";
constexpr char Ssid[] = "IEEE";
constexpr UINT8 StationMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr UINT8 ApMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
constexpr UINT8 RsnPsk[6] = {1, 0, 0x00, 0x0F, 0xAC, 2};
constexpr UINT8 Ccmp[6] = {1, 0, 0x00, 0x0F, 0xAC, 4};

void BM_Pbkdf2Psk(benchmark::State &State) {
  UINT8 Psk[32];
  for (auto _ : State) {
    psk_from_passphrase(Passphrase, 8, Ssid, 4, Psk);
    benchmark::DoNotOptimize(Psk);
  }
}

void FillRandom(VOID *Context, UINT8 *Buffer, UINTN Length) {
  auto *Generator = static_cast<std::mt19937 *>(Context);
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = (UINT8)(*Generator)();
  }
}

// The driver loaded once; each iteration works on a child of its own.
class LoadedDriver {
 public:
  LoadedDriver() {
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

// Hands a frame to the station and the answer to the authenticator.
bool Exchange(EFI_SUPPLICANT_PROTOCOL *Station, UINT8 *Frame, UINTN Length, authenticator::Authenticator &Ap,
              authenticator::VERDICT (authenticator::Authenticator::*Accept)(const UINT8 *, UINTN)) {
  UINT8 Answer[512];
  UINTN Size = sizeof(Answer);
  return Station->BuildResponsePacket(Station, Frame, Length, Answer, &Size) == EFI_SUCCESS &&
         (Ap.*Accept)(Answer, Size) == authenticator::VERDICT::Ok;
}

bool Connect(LoadedDriver &Driver, authenticator::Authenticator &Ap, const authenticator::CONFIG &Config) {
  EFI_HANDLE Child = nullptr;
  EFI_SUPPLICANT_PROTOCOL *Station = nullptr;
  EFI_SERVICE_BINDING_PROTOCOL *Service = Driver.Service();
  Service->CreateChild(Service, &Child);
  Driver.BootServices()->HandleProtocol(Child, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Station));
  EFI_80211_SSID SsidRecord = {4, {'I', 'E', 'E', 'E'}};
  auto Set = [&](EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size) {
    return Station->SetData(Station, Type, const_cast<void *>(Data), Size) == EFI_SUCCESS;
  };
  bool Ok = Set(EfiSupplicant80211AKMSuite, RsnPsk, 6) && Set(EfiSupplicant80211PairwiseCipherSuite, Ccmp, 6) &&
            Set(EfiSupplicant80211GroupDataCipherSuite, Ccmp, 6) &&
            Set(EfiSupplicant80211TargetSSIDName, &SsidRecord, sizeof(SsidRecord)) &&
            Set(EfiSupplicant80211TargetSSIDMac, ApMac, 6) && Set(EfiSupplicant80211StationMac, StationMac, 6) &&
            Set(EfiSupplicant80211PskPassword, Passphrase, 8);

  Ap.Start(Config);
  UINT8 Frame[authenticator::MAX_FRAME_LEN];
  using authenticator::Authenticator;
  Ok = Ok && Exchange(Station, Frame, Ap.Message1(Frame, sizeof(Frame)), Ap, &Authenticator::AcceptMessage2) &&
       Exchange(Station, Frame, Ap.Message3(Frame, sizeof(Frame)), Ap, &Authenticator::AcceptMessage4) &&
       Exchange(Station, Frame, Ap.GroupMessage1(Frame, sizeof(Frame)), Ap, &Authenticator::AcceptGroupMessage2);

  EFI_SUPPLICANT_KEY Ptk;
  EFI_SUPPLICANT_GTK_LIST Gtk;
  UINTN Size = sizeof(Ptk);
  Ok = Ok && Station->GetData(Station, EfiSupplicant80211PTK, reinterpret_cast<UINT8 *>(&Ptk), &Size) == EFI_SUCCESS &&
       std::memcmp(Ptk.Key, Ap.Tk(), 16) == 0;
  Size = sizeof(Gtk);
  Ok = Ok && Station->GetData(Station, EfiSupplicant80211GTK, reinterpret_cast<UINT8 *>(&Gtk), &Size) == EFI_SUCCESS &&
       std::memcmp(Gtk.GTKList[0].Key, Ap.Gtk().Key, 16) == 0;
  Service->DestroyChild(Service, Child);
  return Ok;
}

void BM_Wpa2Connect(benchmark::State &State) {
  LoadedDriver Driver;
  std::mt19937 Generator(7);
  authenticator::CONFIG Config = {};
  Config.Mode = authenticator::MODE::Wpa2Psk;
  std::memcpy(Config.ApMac, ApMac, 6);
  std::memcpy(Config.StaMac, StationMac, 6);
  psk_from_passphrase(Passphrase, 8, Ssid, 4, Config.Pmk);  // the access point's, derived once
  Config.StationElementLength = authenticator::BuildSecurityElement(Config.Mode, {}, Config.StationElement);
  Config.ApElementLength = authenticator::BuildSecurityElement(Config.Mode, {}, Config.ApElement);
  Config.Random = {FillRandom, &Generator};
  authenticator::Authenticator Ap;
  for (auto _ : State) {
    if (!Connect(Driver, Ap, Config)) {
      State.SkipWithError("the handshake did not complete with matching keys");
      break;
    }
  }
}

// --- WPA3-SAE ------------------------------------------------------------------

constexpr UINT8 RsnSae[6] = {1, 0, 0x00, 0x0F, 0xAC, 8};
constexpr char SaePassword[] = "sae bench password";

// A child configured for SAE against ApMac, destroyed with the object.
class SaeStation {
 public:
  explicit SaeStation(LoadedDriver &Driver, bool H2e = false) : Service_(Driver.Service()) {
    Service_->CreateChild(Service_, &Child_);
    Driver.BootServices()->HandleProtocol(Child_, &gEfiSupplicantProtocolGuid, reinterpret_cast<VOID **>(&Station_));
    EFI_80211_SSID SsidRecord = {4, {'I', 'E', 'E', 'E'}};
    Ok_ = Set(EfiSupplicant80211AKMSuite, RsnSae, 6) && Set(EfiSupplicant80211PairwiseCipherSuite, Ccmp, 6) &&
          Set(EfiSupplicant80211GroupDataCipherSuite, Ccmp, 6) &&
          Set(EfiSupplicant80211TargetSSIDName, &SsidRecord, sizeof(SsidRecord)) &&
          Set(EfiSupplicant80211TargetSSIDMac, ApMac, 6) && Set(EfiSupplicant80211StationMac, StationMac, 6) &&
          Set(EfiSupplicant80211PskPassword, SaePassword, sizeof(SaePassword) - 1);
    const UINT8 Method = 1;
    Ok_ = Ok_ && (!H2e || Set(EfiSupplicantSaePweMethod, &Method, 1));
  }
  ~SaeStation() { Service_->DestroyChild(Service_, Child_); }
  bool Ok() const { return Ok_; }
  bool Set(EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size) {
    return Station_->SetData(Station_, Type, const_cast<void *>(Data), Size) == EFI_SUCCESS;
  }
  bool Get(EFI_SUPPLICANT_DATA_TYPE Type, UINT8 *Data, UINTN Size) {
    UINTN Room = Size;
    return Station_->GetData(Station_, Type, Data, &Room) == EFI_SUCCESS && Room == Size;
  }
  EFI_SUPPLICANT_PROTOCOL *Protocol() const { return Station_; }

 private:
  EFI_SERVICE_BINDING_PROTOCOL *Service_;
  EFI_HANDLE                    Child_ = nullptr;
  EFI_SUPPLICANT_PROTOCOL      *Station_ = nullptr;
  bool                          Ok_ = false;
};

// The access point's side of SAE, started for the station's addresses.
bool StartAccessPoint(authenticator::SaeAuthenticator &Ap, std::mt19937 &Generator, bool H2e = false) {
  const UINT8 *Password = reinterpret_cast<const UINT8 *>(SaePassword);
  return (H2e ? Ap.StartH2e(ApMac, StationMac, reinterpret_cast<const UINT8 *>(Ssid), sizeof(Ssid) - 1, Password,
                            sizeof(SaePassword) - 1, nullptr, 0, {FillRandom, &Generator})
              : Ap.Start(ApMac, StationMac, Password, sizeof(SaePassword) - 1, {FillRandom, &Generator})) ==
         authenticator::SAE_VERDICT::Ok;
}

void BM_SaeCommit(benchmark::State &State) {
  LoadedDriver Driver;
  SaeStation Station(Driver);
  UINT8 Commit[authenticator::SAE_COMMIT_LEN];
  for (auto _ : State) {
    if (!Station.Get(EfiSupplicantSaeCommit, Commit, sizeof(Commit))) {
      State.SkipWithError("no commit");
      break;
    }
  }
}

void BM_SaePeerCommit(benchmark::State &State) {
  LoadedDriver Driver;
  SaeStation Station(Driver);
  std::mt19937 Generator(11);
  authenticator::SaeAuthenticator Ap;
  UINT8 Commit[authenticator::SAE_COMMIT_LEN], PeerCommit[authenticator::SAE_COMMIT_LEN];
  if (!Station.Get(EfiSupplicantSaeCommit, Commit, sizeof(Commit)) || !StartAccessPoint(Ap, Generator) ||
      Ap.Commit(PeerCommit, sizeof(PeerCommit)) != sizeof(PeerCommit)) {
    State.SkipWithError("no commits");
    return;
  }
  for (auto _ : State) {
    if (!Station.Set(EfiSupplicantSaeCommit, PeerCommit, sizeof(PeerCommit))) {
      State.SkipWithError("peer commit refused");
      break;
    }
  }
}

// Commit, peer commit, both confirms, 4-way and group handshakes; creating
// and configuring the child (its pass-phrase PMK included) and everything
// the access point computes are not timed. By hash to element the peer's
// commit goes in after its status code, 126.
bool ConnectWpa3(benchmark::State &State, LoadedDriver &Driver, std::mt19937 &Generator, bool H2e) {
  State.PauseTiming();
  SaeStation Station(Driver, H2e);
  authenticator::SaeAuthenticator SaeAp;
  UINT8 ApCommit[2 + authenticator::SAE_COMMIT_LEN] = {126, 0}, ApConfirm[authenticator::SAE_CONFIRM_LEN];
  const UINTN StatusLength = H2e ? 2 : 0;
  bool Ok = Station.Ok() && StartAccessPoint(SaeAp, Generator, H2e) &&
            SaeAp.Commit(ApCommit + 2, authenticator::SAE_COMMIT_LEN) == authenticator::SAE_COMMIT_LEN;
  State.ResumeTiming();

  UINT8 Commit[authenticator::SAE_COMMIT_LEN], Confirm[authenticator::SAE_CONFIRM_LEN];
  Ok = Ok && Station.Get(EfiSupplicantSaeCommit, Commit, sizeof(Commit)) &&
       Station.Set(EfiSupplicantSaeCommit, ApCommit + 2 - StatusLength,
                   authenticator::SAE_COMMIT_LEN + StatusLength) &&
       Station.Get(EfiSupplicantSaeConfirm, Confirm, sizeof(Confirm));

  State.PauseTiming();
  Ok = Ok && SaeAp.AcceptCommit(Commit, sizeof(Commit)) == authenticator::SAE_VERDICT::Ok &&
       SaeAp.AcceptConfirm(Confirm, sizeof(Confirm)) == authenticator::SAE_VERDICT::Ok &&
       SaeAp.Confirm(ApConfirm, sizeof(ApConfirm)) == sizeof(ApConfirm);
  authenticator::CONFIG Config = {};
  Config.Mode = authenticator::MODE::Wpa3Sae;
  std::memcpy(Config.ApMac, ApMac, 6);
  std::memcpy(Config.StaMac, StationMac, 6);
  std::memcpy(Config.Pmk, SaeAp.Pmk(), authenticator::PMK_LEN);
  Config.StationElementLength = authenticator::BuildSecurityElement(Config.Mode, {}, Config.StationElement);
  if (H2e) {  // message 2 carries the station's RSNXE after its RSN element
    static constexpr UINT8 Rsnxe[] = {0xF4, 0x01, 0x20};
    std::memcpy(Config.StationElement + Config.StationElementLength, Rsnxe, sizeof(Rsnxe));
    Config.StationElementLength += sizeof(Rsnxe);
  }
  Config.ApElementLength = authenticator::BuildSecurityElement(Config.Mode, {}, Config.ApElement);
  Config.Random = {FillRandom, &Generator};
  authenticator::Authenticator Ap;
  Ap.Start(Config);
  UINT8 Frame[authenticator::MAX_FRAME_LEN];
  UINTN Message1 = Ap.Message1(Frame, sizeof(Frame));
  State.ResumeTiming();

  using authenticator::Authenticator;
  EFI_SUPPLICANT_PROTOCOL *Protocol = Station.Protocol();
  Ok = Ok && Station.Set(EfiSupplicantSaeConfirm, ApConfirm, sizeof(ApConfirm)) &&
       Exchange(Protocol, Frame, Message1, Ap, &Authenticator::AcceptMessage2) &&
       Exchange(Protocol, Frame, Ap.Message3(Frame, sizeof(Frame)), Ap, &Authenticator::AcceptMessage4) &&
       Exchange(Protocol, Frame, Ap.GroupMessage1(Frame, sizeof(Frame)), Ap, &Authenticator::AcceptGroupMessage2);
  EFI_SUPPLICANT_KEY Ptk;
  Ok = Ok && Station.Get(EfiSupplicant80211PTK, reinterpret_cast<UINT8 *>(&Ptk), sizeof(Ptk)) &&
       std::memcmp(Ptk.Key, Ap.Tk(), 16) == 0;
  State.PauseTiming();  // the child's destruction
  return Ok;
}

void BM_Wpa3Connect(benchmark::State &State) {
  LoadedDriver Driver;
  std::mt19937 Generator(13);
  for (auto _ : State) {
    bool Ok = ConnectWpa3(State, Driver, Generator, false);
    State.ResumeTiming();
    if (!Ok) {
      State.SkipWithError("SAE or the 4-way handshake did not complete with matching keys");
      break;
    }
  }
}

void BM_Wpa3ConnectH2e(benchmark::State &State) {
  LoadedDriver Driver;
  std::mt19937 Generator(17);
  for (auto _ : State) {
    bool Ok = ConnectWpa3(State, Driver, Generator, true);
    State.ResumeTiming();
    if (!Ok) {
      State.SkipWithError("SAE by hash to element or the 4-way handshake did not complete with matching keys");
      break;
    }
  }
}

void BM_SaeH2ePt(benchmark::State &State) {
  UINT8 Pt[SAE_PT_LEN];
  for (auto _ : State) {
    if (sae_h2e_derive_pt(reinterpret_cast<const UINT8 *>(Ssid), sizeof(Ssid) - 1,
                          reinterpret_cast<const UINT8 *>(SaePassword), sizeof(SaePassword) - 1, nullptr, 0,
                          Pt) != 0) {
      State.SkipWithError("no PT");
      break;
    }
    benchmark::DoNotOptimize(Pt);
  }
}

void BM_SaeH2eCommit(benchmark::State &State) {
  LoadedDriver Driver;
  SaeStation Station(Driver, true);
  UINT8 Commit[authenticator::SAE_COMMIT_LEN];
  // The first commit derives PT; the timed ones take it from the cache.
  if (!Station.Get(EfiSupplicantSaeCommit, Commit, sizeof(Commit))) {
    State.SkipWithError("no commit");
    return;
  }
  for (auto _ : State) {
    if (!Station.Get(EfiSupplicantSaeCommit, Commit, sizeof(Commit))) {
      State.SkipWithError("no commit");
      break;
    }
  }
}

// The primitives, over the same mbedtls build and pool as the driver.
int BenchRandom(void *, unsigned char *Out, size_t Length) {
  random_bytes(Out, Length);
  return 0;
}

// A scalar and a point that is not the generator, as in SAE (no
// precomputed table), the same for all three variants.
struct MulInputs {
  UINT8 Scalar[32];
  UINT8 Point[65];  // uncompressed
};

MulInputs MakeMulInputs() {
  MulInputs Inputs = {};
  mbedtls_ecp_group Group;
  mbedtls_ecp_point Point;
  mbedtls_mpi Secret;
  mbedtls_ecp_group_init(&Group);
  mbedtls_ecp_point_init(&Point);
  mbedtls_mpi_init(&Secret);
  size_t Written = 0;
  if (mbedtls_ecp_group_load(&Group, MBEDTLS_ECP_DP_SECP256R1) != 0 ||
      mbedtls_ecp_gen_privkey(&Group, &Secret, BenchRandom, nullptr) != 0 ||
      mbedtls_ecp_mul(&Group, &Point, &Secret, &Group.G, BenchRandom, nullptr) != 0 ||
      mbedtls_ecp_point_write_binary(&Group, &Point, MBEDTLS_ECP_PF_UNCOMPRESSED, &Written, Inputs.Point,
                                     sizeof(Inputs.Point)) != 0 ||
      mbedtls_ecp_gen_privkey(&Group, &Secret, BenchRandom, nullptr) != 0 ||
      mbedtls_mpi_write_binary(&Secret, Inputs.Scalar, sizeof(Inputs.Scalar)) != 0) {
    std::fprintf(stderr, "no inputs for the scalar multiplication\n");
  }
  mbedtls_mpi_free(&Secret);
  mbedtls_ecp_point_free(&Point);
  mbedtls_ecp_group_free(&Group);
  return Inputs;
}

void BM_EcpMulP256Own(benchmark::State &State) {
  LoadedDriver Driver;  // the pool and the random source
  const MulInputs Inputs = MakeMulInputs();
  ECC_GROUP *Group = mbedtls_ecc_init(SAE_GROUP_P256);
  mbedtls_ecp_point Base, Product;
  mbedtls_mpi Scalar;
  mbedtls_ecp_point_init(&Base);
  mbedtls_ecp_point_init(&Product);
  mbedtls_mpi_init(&Scalar);
  bool Ok = Group != nullptr && mbedtls_ecp_point_read_binary(&Group->Group, &Base, Inputs.Point, 65) == 0 &&
            mbedtls_mpi_read_binary(&Scalar, Inputs.Scalar, 32) == 0;
  for (auto _ : State) {
    if (!Ok || ecc_point_mul(Group, &Product, &Scalar, &Base) != 0) {
      State.SkipWithError("scalar multiplication failed");
      break;
    }
  }
  mbedtls_mpi_free(&Scalar);
  mbedtls_ecp_point_free(&Product);
  mbedtls_ecp_point_free(&Base);
  ecc_free(Group);
}

void BM_EcpMulP256Mbedtls(benchmark::State &State) {
  LoadedDriver Driver;  // the pool mbedtls allocates from
  const MulInputs Inputs = MakeMulInputs();
  mbedtls_ecp_group Group;
  mbedtls_ecp_point Base, Product;
  mbedtls_mpi Scalar;
  mbedtls_ecp_group_init(&Group);
  mbedtls_ecp_point_init(&Base);
  mbedtls_ecp_point_init(&Product);
  mbedtls_mpi_init(&Scalar);
  bool Ok = mbedtls_ecp_group_load(&Group, MBEDTLS_ECP_DP_SECP256R1) == 0 &&
            mbedtls_ecp_point_read_binary(&Group, &Base, Inputs.Point, 65) == 0 &&
            mbedtls_mpi_read_binary(&Scalar, Inputs.Scalar, 32) == 0;
  for (auto _ : State) {
    if (!Ok || mbedtls_ecp_mul(&Group, &Product, &Scalar, &Base, BenchRandom, nullptr) != 0) {
      State.SkipWithError("scalar multiplication failed");
      break;
    }
  }
  mbedtls_mpi_free(&Scalar);
  mbedtls_ecp_point_free(&Product);
  mbedtls_ecp_point_free(&Base);
  mbedtls_ecp_group_free(&Group);
}

void BM_EcpMulP256OpenSsl(benchmark::State &State) {
  LoadedDriver Driver;  // the random source for the inputs
  const MulInputs Inputs = MakeMulInputs();
  EC_GROUP *Group = EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1);
  BN_CTX *Context = BN_CTX_new();
  EC_POINT *Base = EC_POINT_new(Group);
  EC_POINT *Product = EC_POINT_new(Group);
  BIGNUM *Scalar = BN_bin2bn(Inputs.Scalar, 32, nullptr);
  bool Ok = Group != nullptr && Context != nullptr && Base != nullptr && Product != nullptr && Scalar != nullptr &&
            EC_POINT_oct2point(Group, Base, Inputs.Point, 65, Context) == 1;
  for (auto _ : State) {
    if (!Ok || EC_POINT_mul(Group, Product, nullptr, Base, Scalar, Context) != 1) {
      State.SkipWithError("scalar multiplication failed");
      break;
    }
  }
  BN_free(Scalar);
  EC_POINT_free(Product);
  EC_POINT_free(Base);
  BN_CTX_free(Context);
  EC_GROUP_free(Group);
}

void BM_ModExpP256(benchmark::State &State) {
  LoadedDriver Driver;
  mbedtls_ecp_group Group;
  mbedtls_mpi Base, Exponent, Result;
  mbedtls_ecp_group_init(&Group);
  mbedtls_mpi_init(&Base);
  mbedtls_mpi_init(&Exponent);
  mbedtls_mpi_init(&Result);
  // A Legendre symbol modulo the P-256 prime: exponent (p - 1) / 2.
  bool Ok = mbedtls_ecp_group_load(&Group, MBEDTLS_ECP_DP_SECP256R1) == 0 &&
            mbedtls_mpi_copy(&Base, PointX(&Group.G)) == 0 && mbedtls_mpi_sub_int(&Exponent, &Group.P, 1) == 0 &&
            mbedtls_mpi_shift_r(&Exponent, 1) == 0;
  for (auto _ : State) {
    if (!Ok || mbedtls_mpi_exp_mod(&Result, &Base, &Exponent, &Group.P, nullptr) != 0) {
      State.SkipWithError("exponentiation failed");
      break;
    }
  }
  mbedtls_mpi_free(&Result);
  mbedtls_mpi_free(&Exponent);
  mbedtls_mpi_free(&Base);
  mbedtls_ecp_group_free(&Group);
}

}  // namespace

BENCHMARK(BM_Pbkdf2Psk)->Name("BM_Pbkdf2Psk/own")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wpa2Connect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EcpMulP256Own)->Name("BM_EcpMulP256/own")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EcpMulP256Mbedtls)->Name("BM_EcpMulP256/mbedtls")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EcpMulP256OpenSsl)->Name("BM_EcpMulP256/openssl")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ModExpP256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaeCommit)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaePeerCommit)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wpa3Connect)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaeH2ePt)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SaeH2eCommit)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wpa3ConnectH2e)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
