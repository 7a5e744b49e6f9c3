// Freestanding: mbedtls's TLS server, the authenticator, the crypto library's
// HMAC-DRBG and the UEFI pool; nothing of the driver but its protocols.
#include "EapTlsSuite.h"

#include <Authenticator.h>
#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/PrintLib.h>
#include <crypto/HmacDrbg.h>

#include "SuiteSupport.h"
#include "TestCertificates.h"
#include "mbedtls/pk.h"
#include "mbedtls/ssl.h"
#include "mbedtls/x509_crt.h"

#if NORV_ENTERPRISE
namespace {

using authenticator::Authenticator;
using authenticator::VERDICT;

constexpr UINT8 StationMac[6] = {0x02, 0x00, 0x00, 0x00, 0x0E, 0x01};
constexpr UINT8 ApMac[6] = {0x02, 0x00, 0x00, 0x00, 0x0E, 0x02};
constexpr CHAR8 Identity[] = "station@norv.test";

constexpr UINT8 CodeRequest = 1, CodeResponse = 2, CodeSuccess = 3, CodeFailure = 4;
constexpr UINT8 TypeIdentity = 1, TypeTls = 13;
constexpr UINT8 FlagLength = 0x80, FlagMore = 0x40, FlagStart = 0x20;
// The real server's fragments: 1024-octet EAP packets, L on every one.
constexpr UINTN FragmentData = 1014;
constexpr UINTN MessageCapacity = 16384;
constexpr UINTN FrameCapacity = 2048;
constexpr UINTN MaxRounds = 64;

// Deterministic random bytes for the server and the access point.
class TestRandom {
 public:
  explicit TestRandom(UINT8 Seed) {
    UINT8 Entropy[HMAC_DRBG_MIN_ENTROPY];
    SetMem(Entropy, sizeof(Entropy), Seed);
    Ready_ = hmac_drbg_instantiate(&State_, Entropy, sizeof(Entropy), nullptr, 0, nullptr, 0) == 0;
  }
  ~TestRandom() { hmac_drbg_uninstantiate(&State_); }
  TestRandom(const TestRandom &) = delete;
  TestRandom &operator=(const TestRandom &) = delete;
  bool Ready() const { return Ready_; }

  static int Fill(void *Context, unsigned char *Out, size_t Length) {
    auto *Self = static_cast<TestRandom *>(Context);
    while (Length != 0) {
      UINTN Chunk = Length < HMAC_DRBG_MAX_REQUEST ? Length : HMAC_DRBG_MAX_REQUEST;
      if (hmac_drbg_generate(&Self->State_, Out, Chunk, nullptr, 0) != 0) {
        return MBEDTLS_ERR_SSL_INTERNAL_ERROR;
      }
      Out += Chunk;
      Length -= Chunk;
    }
    return 0;
  }
  static VOID FillVoid(VOID *Context, UINT8 *Out, UINTN Length) { Fill(Context, Out, Length); }

 private:
  hmac_drbg_state State_ = {};
  bool            Ready_ = false;
};

struct PKI {
  const void *Ca;
  UINTN       CaSize;
  const void *Cert;
  UINTN       CertSize;
  const void *Key;
  UINTN       KeySize;
};

VOID PutBe16(UINT8 *Out, UINTN Value) {
  Out[0] = (UINT8)(Value >> 8);
  Out[1] = (UINT8)Value;
}

// The authenticator side of EAP-TLS over mbedtls's TLS 1.2 server.
class EapTlsServer {
 public:
  EapTlsServer(const PKI &Pki, UINT8 Seed) : Random_(Seed) {
    mbedtls_ssl_init(&Ssl_);
    mbedtls_ssl_config_init(&Config_);
    mbedtls_x509_crt_init(&Ca_);
    mbedtls_x509_crt_init(&Cert_);
    mbedtls_pk_init(&Key_);
    Flight_ = static_cast<UINT8 *>(AllocatePool(MessageCapacity));
    Inbound_ = static_cast<UINT8 *>(AllocatePool(MessageCapacity));
    Ready_ = Flight_ != nullptr && Inbound_ != nullptr && Random_.Ready() &&
             mbedtls_x509_crt_parse(&Ca_, static_cast<const UINT8 *>(Pki.Ca), Pki.CaSize) == 0 &&
             mbedtls_x509_crt_parse(&Cert_, static_cast<const UINT8 *>(Pki.Cert), Pki.CertSize) == 0 &&
             mbedtls_pk_parse_key(&Key_, static_cast<const UINT8 *>(Pki.Key), Pki.KeySize, nullptr, 0,
                                  TestRandom::Fill, &Random_) == 0 &&
             mbedtls_ssl_config_defaults(&Config_, MBEDTLS_SSL_IS_SERVER, MBEDTLS_SSL_TRANSPORT_STREAM,
                                         MBEDTLS_SSL_PRESET_DEFAULT) == 0;
    if (!Ready_) {
      return;
    }
    mbedtls_ssl_conf_authmode(&Config_, MBEDTLS_SSL_VERIFY_REQUIRED);
    mbedtls_ssl_conf_ca_chain(&Config_, &Ca_, nullptr);
    mbedtls_ssl_conf_rng(&Config_, TestRandom::Fill, &Random_);
    mbedtls_ssl_conf_min_tls_version(&Config_, MBEDTLS_SSL_VERSION_TLS1_2);
    mbedtls_ssl_conf_max_tls_version(&Config_, MBEDTLS_SSL_VERSION_TLS1_2);
    Ready_ = mbedtls_ssl_conf_own_cert(&Config_, &Cert_, &Key_) == 0 && mbedtls_ssl_setup(&Ssl_, &Config_) == 0;
    if (Ready_) {
      mbedtls_ssl_set_bio(&Ssl_, this, Send, Receive, nullptr);
      mbedtls_ssl_set_export_keys_cb(&Ssl_, ExportKeys, this);
    }
  }
  ~EapTlsServer() {
    mbedtls_ssl_free(&Ssl_);
    mbedtls_ssl_config_free(&Config_);
    mbedtls_x509_crt_free(&Ca_);
    mbedtls_x509_crt_free(&Cert_);
    mbedtls_pk_free(&Key_);
    if (Flight_ != nullptr) {
      FreePool(Flight_);
    }
    if (Inbound_ != nullptr) {
      FreePool(Inbound_);
    }
    SecureZeroMem(Msk_, sizeof(Msk_));
  }
  EapTlsServer(const EapTlsServer &) = delete;
  EapTlsServer &operator=(const EapTlsServer &) = delete;

  bool Ready() const { return Ready_; }
  bool Succeeded() const { return Succeeded_; }
  bool Failed() const { return Failed_; }
  bool HasMsk() const { return MskReady_; }
  const UINT8 *Msk() const { return Msk_; }
  UINT8 LastIdentifier() const { return (UINT8)(Identifier_ - 1); }

  UINTN Begin(UINT8 *Out) {
    const UINT8 TypeData[] = {TypeIdentity};
    return Request(TypeData, sizeof(TypeData), nullptr, 0, Out);
  }

  // The station's response in, the next request (or Success / Failure) out;
  // 0 when the response made no sense.
  UINTN Answer(const UINT8 *Frame, UINTN Length, UINT8 *Out) {
    if (Length < 9 || Frame[1] != 0 || Frame[4] != CodeResponse || Frame[5] != LastIdentifier() ||
        (UINTN)(Frame[6] << 8 | Frame[7]) + 4 != Length) {
      return 0;
    }
    if (Frame[8] == TypeIdentity) {
      const UINT8 Start[] = {TypeTls, FlagStart};
      return Request(Start, sizeof(Start), nullptr, 0, Out);
    }
    if (Frame[8] != TypeTls || Length < 10) {
      return 0;
    }
    UINT8 Flags = Frame[9];
    UINTN Offset = (Flags & FlagLength) != 0 ? 14 : 10;
    if (Offset > Length) {
      return 0;
    }
    UINTN DataLength = Length - Offset;
    if (DataLength == 0) {  // an acknowledgement
      if (FlightSent_ < FlightLength_) {
        return NextFragment(Out);
      }
      return End(Finished_ && !HandshakeFailed_, Out);
    }
    if (InboundLength_ + DataLength > MessageCapacity) {
      return 0;
    }
    CopyMem(Inbound_ + InboundLength_, Frame + Offset, DataLength);
    InboundLength_ += DataLength;
    if ((Flags & FlagMore) != 0) {
      const UINT8 Ack[] = {TypeTls, 0};
      return Request(Ack, sizeof(Ack), nullptr, 0, Out);
    }
    InputOffset_ = 0;
    FlightLength_ = 0;
    FlightSent_ = 0;
    int Result = mbedtls_ssl_handshake(&Ssl_);
    InboundLength_ = 0;
    if (Result == 0) {
      Finished_ = true;
    } else if (Result != MBEDTLS_ERR_SSL_WANT_READ) {
      HandshakeFailed_ = true;
    }
    return FlightLength_ == 0 ? End(false, Out) : NextFragment(Out);
  }

 private:
  UINTN Request(const UINT8 *TypeData, UINTN TypeLength, const UINT8 *Data, UINTN DataLength, UINT8 *Out) {
    UINTN EapLength = 4 + TypeLength + DataLength;
    Out[0] = 2;
    Out[1] = 0;
    PutBe16(Out + 2, EapLength);
    Out[4] = CodeRequest;
    Out[5] = Identifier_++;
    PutBe16(Out + 6, EapLength);
    CopyMem(Out + 8, TypeData, TypeLength);
    if (DataLength != 0) {
      CopyMem(Out + 8 + TypeLength, Data, DataLength);
    }
    return 4 + EapLength;
  }

  UINTN NextFragment(UINT8 *Out) {
    UINTN Remaining = FlightLength_ - FlightSent_;
    UINTN Length = Remaining > FragmentData ? FragmentData : Remaining;
    UINT8 TypeData[6] = {TypeTls, (UINT8)(FlagLength | (Remaining > FragmentData ? FlagMore : 0)),
                         (UINT8)(FlightLength_ >> 24), (UINT8)(FlightLength_ >> 16), (UINT8)(FlightLength_ >> 8),
                         (UINT8)FlightLength_};
    UINTN Size = Request(TypeData, sizeof(TypeData), Flight_ + FlightSent_, Length, Out);
    FlightSent_ += Length;
    return Size;
  }

  UINTN End(bool Success, UINT8 *Out) {
    (Success ? Succeeded_ : Failed_) = true;
    Out[0] = 2;
    Out[1] = 0;
    PutBe16(Out + 2, 4);
    Out[4] = Success ? CodeSuccess : CodeFailure;
    Out[5] = LastIdentifier();
    PutBe16(Out + 6, 4);
    return 8;
  }

  static int Send(void *Context, const unsigned char *Data, size_t Length) {
    auto *Self = static_cast<EapTlsServer *>(Context);
    if (Length > MessageCapacity - Self->FlightLength_) {
      return MBEDTLS_ERR_SSL_ALLOC_FAILED;
    }
    CopyMem(Self->Flight_ + Self->FlightLength_, Data, Length);
    Self->FlightLength_ += Length;
    return (int)Length;
  }
  static int Receive(void *Context, unsigned char *Data, size_t Length) {
    auto *Self = static_cast<EapTlsServer *>(Context);
    UINTN Available = Self->InboundLength_ - Self->InputOffset_;
    if (Available == 0) {
      return MBEDTLS_ERR_SSL_WANT_READ;
    }
    UINTN Count = Length < Available ? Length : Available;
    CopyMem(Data, Self->Inbound_ + Self->InputOffset_, Count);
    Self->InputOffset_ += Count;
    return (int)Count;
  }
  // RFC 5216 key material from the server's own master secret.
  static void ExportKeys(void *Context, mbedtls_ssl_key_export_type Type, const unsigned char *Secret,
                         size_t SecretLength, const unsigned char ClientRandom[32],
                         const unsigned char ServerRandom[32], mbedtls_tls_prf_types Prf) {
    auto *Self = static_cast<EapTlsServer *>(Context);
    if (Type != MBEDTLS_SSL_KEY_EXPORT_TLS12_MASTER_SECRET) {
      return;
    }
    UINT8 Randoms[64];
    CopyMem(Randoms, ClientRandom, 32);
    CopyMem(Randoms + 32, ServerRandom, 32);
    Self->MskReady_ = mbedtls_ssl_tls_prf(Prf, Secret, SecretLength, "client EAP encryption", Randoms,
                                          sizeof(Randoms), Self->Msk_, sizeof(Self->Msk_)) == 0;
  }

  TestRandom          Random_;
  mbedtls_ssl_context Ssl_;
  mbedtls_ssl_config  Config_;
  mbedtls_x509_crt    Ca_;
  mbedtls_x509_crt    Cert_;
  mbedtls_pk_context  Key_;
  UINT8              *Flight_ = nullptr;
  UINTN               FlightLength_ = 0;
  UINTN               FlightSent_ = 0;
  UINT8              *Inbound_ = nullptr;
  UINTN               InboundLength_ = 0;
  UINTN               InputOffset_ = 0;
  UINT8               Identifier_ = 0x40;
  UINT8               Msk_[64] = {};
  bool                MskReady_ = false;
  bool                Ready_ = false;
  bool                Finished_ = false;
  bool                HandshakeFailed_ = false;
  bool                Succeeded_ = false;
  bool                Failed_ = false;
};

struct FLOW_CASE {
  const CHAR8        *Name;
  bool                Rsa;
  UINT8               Akm;
  authenticator::MODE Mode;  // the authenticator mode whose key hierarchy matches the AKM
};

PKI EcServer() {
  using namespace eap_test_pki;
  return {RootEcCertPem, sizeof(RootEcCertPem), ServerEcCertPem, sizeof(ServerEcCertPem), ServerEcKeyPem,
          sizeof(ServerEcKeyPem)};
}
PKI RsaServer() {
  using namespace eap_test_pki;
  return {RootRsaCertPem, sizeof(RootRsaCertPem), ServerRsaCertPem, sizeof(ServerRsaCertPem), ServerRsaKeyPem,
          sizeof(ServerRsaKeyPem)};
}

class EapTlsRun {
 public:
  EapTlsRun(TestReporter &Report, const CHAR8 *Name) : Report_(Report), Name_(Name) {}

  bool Check(bool Ok, const CHAR8 *What) {
    CHAR8 Label[96];
    AsciiSPrint(Label, sizeof(Label), "eap-tls.%a.%a", Name_, What);
    return Report_.Check(Ok, Label);
  }

  // AKM 00-0F-AC:Akm, CCMP, both addresses; the EAP settings with the
  // station's PEM credentials (terminating NUL counted).
  bool Configure(const TestChild &Child, UINT8 Akm, bool Rsa) {
    using namespace eap_test_pki;
    const UINT8 Oui[3] = {0x00, 0x0F, 0xAC};
    OneSuite AkmSuite(Oui, Akm), Ccmp(Oui, 4);
    EFI_EAP_CONFIGURATION_PROTOCOL *Eap = Child.EapConfig();
    auto SetEap = [Eap](EFI_EAP_TYPE Type, EFI_EAP_CONFIG_DATA_TYPE Data, const void *Value, UINTN Size) {
      return Eap->SetData(Eap, Type, Data, const_cast<void *>(Value), Size) == EFI_SUCCESS;
    };
    const UINT8 Tls = TypeTls;
    return Child.Set(EfiSupplicant80211AKMSuite, AkmSuite.Bytes, 6) == EFI_SUCCESS &&
           Child.Set(EfiSupplicant80211PairwiseCipherSuite, Ccmp.Bytes, 6) == EFI_SUCCESS &&
           Child.Set(EfiSupplicant80211GroupDataCipherSuite, Ccmp.Bytes, 6) == EFI_SUCCESS &&
           Child.Set(EfiSupplicant80211StationMac, StationMac, 6) == EFI_SUCCESS &&
           Child.Set(EfiSupplicant80211TargetSSIDMac, ApMac, 6) == EFI_SUCCESS &&
           SetEap(EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapAuthMethod, &Tls, 1) &&
           SetEap(EFI_EAP_TYPE_IDENTITY, EfiEapConfigIdentityString, Identity, sizeof(Identity)) &&
           SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, Rsa ? RootRsaCertPem : RootEcCertPem,
                  Rsa ? sizeof(RootRsaCertPem) : sizeof(RootEcCertPem)) &&
           SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientCert, Rsa ? ClientRsaCertPem : ClientEcCertPem,
                  Rsa ? sizeof(ClientRsaCertPem) : sizeof(ClientEcCertPem)) &&
           SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFile,
                  Rsa ? ClientRsaKeyEncryptedPem : ClientEcKeyPem,
                  Rsa ? sizeof(ClientRsaKeyEncryptedPem) : sizeof(ClientEcKeyPem)) &&
           SetEap(EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFilePassword, ClientKeyPassword,
                  sizeof(ClientKeyPassword));
  }

  // Requests from the server, answers from the child, until the server ends
  // the exchange or the child refuses. Returns the child's last status.
  EFI_STATUS Exchange(const TestChild &Child, EapTlsServer &Server, bool EarlySuccess = false) {
    UINT8 *Request = static_cast<UINT8 *>(AllocatePool(FrameCapacity));
    UINT8 *Answer = static_cast<UINT8 *>(AllocatePool(FrameCapacity));
    EFI_STATUS Status = EFI_OUT_OF_RESOURCES;
    if (Request != nullptr && Answer != nullptr) {
      UINTN RequestLength = Server.Begin(Request);
      for (UINTN Round = 0; Round < MaxRounds && RequestLength != 0; ++Round) {
        if (EarlySuccess && !Server.Succeeded() && !Server.Failed()) {
          EarlyRefused_ = EarlyRefused_ && RefusesEarlySuccess(Child, Server.LastIdentifier());
        }
        UINTN Size = FrameCapacity;
        Status = Child.Supplicant()->BuildResponsePacket(Child.Supplicant(), Request, RequestLength, Answer, &Size);
        if (Status != EFI_SUCCESS || Server.Succeeded() || Server.Failed()) {
          break;
        }
        RequestLength = Server.Answer(Answer, Size, Request);
      }
    }
    if (Request != nullptr) {
      FreePool(Request);
    }
    if (Answer != nullptr) {
      FreePool(Answer);
    }
    return Status;
  }

  bool EarlySuccessAlwaysRefused() const { return EarlyRefused_; }

 private:
  // EAP-Success before the handshake finished: refused, no key.
  bool RefusesEarlySuccess(const TestChild &Child, UINT8 Identifier) {
    UINT8 Success[8] = {2, 0, 0, 4, CodeSuccess, Identifier, 0, 4};
    UINT8 Out[16];
    UINTN Size = sizeof(Out);
    SUP_PMK_SOURCE Before = Child.Record()->PmkSource;
    EFI_STATUS Status = Child.Supplicant()->BuildResponsePacket(Child.Supplicant(), Success, sizeof(Success), Out, &Size);
    return Status == EFI_PROTOCOL_ERROR && Child.Record()->PmkSource == Before;
  }

  TestReporter &Report_;
  const CHAR8  *Name_;
  bool          EarlyRefused_ = true;
};

// The 4-way and group handshakes with the PMK the server holds, the
// station's RSN element naming the AKM.
bool KeyHandshakes(const TestChild &Child, const FLOW_CASE &Case, const UINT8 *Pmk, EapTlsRun &Run) {
  TestRandom Random(0x5A);
  authenticator::CONFIG Config = {};
  Config.Mode = Case.Mode;
  CopyMem(Config.ApMac, ApMac, 6);
  CopyMem(Config.StaMac, StationMac, 6);
  CopyMem(Config.Pmk, Pmk, authenticator::PMK_LEN);
  const UINT8 Element[] = {0x30, 0x14, 1, 0, 0x00, 0x0F, 0xAC, 4, 1, 0, 0x00, 0x0F, 0xAC, 4,
                           1,    0,    0x00, 0x0F, 0xAC, Case.Akm, 0, 0};
  CopyMem(Config.StationElement, Element, sizeof(Element));
  Config.StationElementLength = sizeof(Element);
  CopyMem(Config.ApElement, Element, sizeof(Element));
  Config.ApElementLength = sizeof(Element);
  Config.Random = {TestRandom::FillVoid, &Random};
  Authenticator Ap;
  Ap.Start(Config);

  UINT8 Frame[authenticator::MAX_FRAME_LEN];
  UINT8 Answer[authenticator::MAX_FRAME_LEN];
  auto Respond = [&](UINTN Length, UINTN *Size) {
    *Size = sizeof(Answer);
    return Child.Supplicant()->BuildResponsePacket(Child.Supplicant(), Frame, Length, Answer, Size) == EFI_SUCCESS;
  };
  UINTN Size = 0;
  bool Ok = Respond(Ap.Message1(Frame, sizeof(Frame)), &Size) && Ap.AcceptMessage2(Answer, Size) == VERDICT::Ok &&
            Respond(Ap.Message3(Frame, sizeof(Frame)), &Size) && Ap.AcceptMessage4(Answer, Size) == VERDICT::Ok;
  Run.Check(Ok, "four-way");
  UINT32 State = 0;
  UINTN StateSize = sizeof(State);
  Run.Check(Child.Get(EfiSupplicantState, &State, &StateSize) == EFI_SUCCESS &&
                State == EfiEapolSupplicantAuthenticated,
            "authenticated");
  Ok = Ok && Respond(Ap.GroupMessage1(Frame, sizeof(Frame)), &Size) &&
       Ap.AcceptGroupMessage2(Answer, Size) == VERDICT::Ok;
  Run.Check(Ok, "group-key");
  EFI_SUPPLICANT_KEY Ptk = {};
  UINTN PtkSize = sizeof(Ptk);
  return Run.Check(Ok && Child.Get(EfiSupplicant80211PTK, &Ptk, &PtkSize) == EFI_SUCCESS &&
                       Ptk.KeyLen == Ap.TkLength() && CompareMem(Ptk.Key, Ap.Tk(), Ptk.KeyLen) == 0,
                   "ptk-matches");
}

VOID RunFlow(TestReporter &Report, const FLOW_CASE &Case) {
  TestChild Child(Report);
  EapTlsRun Run(Report, Case.Name);
  if (!Run.Check(Child.Ok() && Run.Configure(Child, Case.Akm, Case.Rsa), "configured")) {
    return;
  }
  EapTlsServer Server(Case.Rsa ? RsaServer() : EcServer(), Case.Akm);
  if (!Run.Check(Server.Ready(), "server-ready")) {
    return;
  }
  EFI_STATUS Status = Run.Exchange(Child, Server, true);
  Run.Check(Status == EFI_SUCCESS && Server.Succeeded(), "exchange");
  Run.Check(Run.EarlySuccessAlwaysRefused(), "early-success-refused");
  UINT8 Pmk[32] = {};
  UINTN Size = sizeof(Pmk);
  bool PmkRead = Child.Get(EfiSupplicant80211PMK, Pmk, &Size) == EFI_SUCCESS;
  Run.Check(PmkRead && Server.HasMsk() && CompareMem(Pmk, Server.Msk(), sizeof(Pmk)) == 0 &&
                Child.Record()->PmkSource == SUP_PMK_SOURCE::Eap,
            "pmk-is-msk");
  if (Server.Succeeded() && Server.HasMsk()) {
    KeyHandshakes(Child, Case, Server.Msk(), Run);
  }
}

VOID RunUntrustedServer(TestReporter &Report) {
  using namespace eap_test_pki;
  TestChild Child(Report);
  EapTlsRun Run(Report, "other-ca");
  if (!Run.Check(Child.Ok() && Run.Configure(Child, 1, false), "configured")) {
    return;
  }
  EapTlsServer Server({RootEcCertPem, sizeof(RootEcCertPem), ServerOtherCertPem, sizeof(ServerOtherCertPem),
                       ServerOtherKeyPem, sizeof(ServerOtherKeyPem)},
                      9);
  if (!Run.Check(Server.Ready(), "server-ready")) {
    return;
  }
  EFI_STATUS Status = Run.Exchange(Child, Server);
  Run.Check(Status == EFI_PROTOCOL_ERROR && !Server.Succeeded(), "refused");
  UINT32 State = 0;
  UINTN Size = sizeof(State);
  Run.Check(Child.Get(EfiSupplicantState, &State, &Size) == EFI_SUCCESS && State == EfiEapolSupplicantHeld, "held");
  Run.Check(Child.Record()->PmkSource == SUP_PMK_SOURCE::None && Child.Record()->EapTls == nullptr,
            "no-key-nothing-held");
}

}  // namespace

void RunEapTlsSuite(TestReporter &Report) {
  RunFlow(Report, {"ecdsa-akm1", false, 1, authenticator::MODE::Wpa2Psk});
  RunFlow(Report, {"rsa-akm5", true, 5, authenticator::MODE::Wpa2PskSha256});
  RunUntrustedServer(Report);
}
#else
// The personal-only driver has no EAP: nothing to run.
void RunEapTlsSuite(TestReporter &) {}
#endif
