#include "EapTlsSuite.h"

#include <EapAuthenticator.h>
#include <EapTlsServer.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/PrintLib.h>

#include "HandshakeSuite.h"
#include "SuiteSupport.h"
#include "vectors/TlsTestCredentials.h"

namespace {

using namespace tls_credentials;
using authenticator::EAP_OUTCOME;
using authenticator::EAP_VERDICT;
using authenticator::EapAuthenticator;
using authenticator::EapTlsServer;

constexpr UINT8 RsnOui[3] = {0x00, 0x0F, 0xAC};
constexpr UINT8 Ccmp = 4;
constexpr UINT8 StationMac[6] = {0x02, 0x00, 0x00, 0x00, 0x0E, 0x01};
constexpr UINT8 ApMac[6] = {0x02, 0x00, 0x00, 0x00, 0x0E, 0x02};
constexpr CHAR8 Ssid[] = "OvmfCorp";
// Handed over with its NUL, as connection managers do; the response carries
// the octets before it.
constexpr CHAR8 Identity[] = "station@test";
constexpr UINT8 EapTlsMethod = EFI_EAP_TYPE_EAPTLS;

// Offsets in an EAPOL frame carrying an EAP packet.
constexpr UINTN EapolEap = authenticator::EAPOL_HEADER_LEN;
constexpr UINTN EapLength = EapolEap + 2;
constexpr UINTN EapType = EapolEap + 4;
constexpr UINTN EapTlsFlags = EapolEap + 5;
constexpr UINT8 EapolTypeStart = 1;

struct PEM {
  const CHAR8 *Text;
  UINTN        Size;  // with the terminating NUL
};

struct EAP_TLS_CASE {
  const CHAR8 *Name;  // checks "eap-tls.NAME.*", "handshake.eap-tls-NAME.*"
  UINT8        AkmType;
  // The station: the CA it trusts, its certificate (chain), key and password.
  PEM          StationCa;
  PEM          ClientCert;
  PEM          ClientCertIssuer;  // sent after the client certificate, or none
  PEM          ClientKey;
  const CHAR8 *KeyPassword;
  // The server: the CA the station's certificate must chain to, its own.
  PEM          ServerCa;
  PEM          ServerCert;
  PEM          ServerKey;
  UINTN        Mtu;  // the server's largest EAP packet
  // Afterwards the connected station re-authenticates against a server
  // certificate of another CA (the EC test PKI has one).
  bool         ThenUntrustedServer;
};

template <UINTN N>
constexpr PEM Pem(const CHAR8 (&Text)[N]) {
  return {Text, N};
}

// Buffers of one conversation (too large for the stack together).
struct EAP_BUFFERS {
  UINT8 Frame[authenticator::EAPOL_HEADER_LEN + authenticator::EAP_MAX_PACKET_LEN];
  UINT8 Packet[authenticator::EAP_MAX_PACKET_LEN];
  UINT8 Answer[2048];
};

UINTN Be16(const UINT8 *Bytes) { return (UINTN)(Bytes[0] << 8 | Bytes[1]); }

bool IsEapTls(const UINT8 *Frame, UINTN Length) {
  return Length > EapTlsFlags && Frame[EapType] == EFI_EAP_TYPE_EAPTLS;
}

// What the conversation showed on the wire, and where it stopped.
struct EXCHANGE {
  EFI_STATUS StationStatus = EFI_SUCCESS;  // of the last request the station got
  UINTN      SizeAfterRefusal = 0;         // *BufferSize after a refused request
  UINTN      Responses = 0;
  UINTN      ServerMore = 0;       // requests with the M flag
  UINTN      Acknowledged = 0;     // empty EAP-TLS responses to them
  UINTN      StationMore = 0;      // responses with the M flag
  bool       StationLengthFirst = false;  // L on the first of those
  EAP_VERDICT Verdict = EAP_VERDICT::Ok;  // the authenticator's on the last response
  UINTN      FinalLength = 0;      // the Success / Failure frame in Frame
};

// The station's response to one request, as a connection manager calls it.
EFI_STATUS StationAnswers(const TestChild &Child, UINT8 *Request, UINTN Length, EAP_BUFFERS &B, UINTN *Size) {
  *Size = sizeof(B.Answer);
  EFI_SUPPLICANT_PROTOCOL *Station = Child.Supplicant();
  return Station->BuildResponsePacket(Station, Request, Length, B.Answer, Size);
}

// Counts the fragments of either side and checks that every fragment of the
// server was answered by an empty EAP-TLS response.
VOID NoteFragments(const UINT8 *Request, UINTN RequestLength, const UINT8 *Response, UINTN ResponseLength,
                   EXCHANGE *X) {
  if (IsEapTls(Request, RequestLength) && (Request[EapTlsFlags] & authenticator::EAP_TLS_FLAG_MORE) != 0) {
    ++X->ServerMore;
    bool Empty = IsEapTls(Response, ResponseLength) &&
                 Be16(Response + EapLength) == authenticator::EAP_TLS_HEADER_LEN && Response[EapTlsFlags] == 0;
    X->Acknowledged += Empty ? 1 : 0;
  }
  if (IsEapTls(Response, ResponseLength) && (Response[EapTlsFlags] & authenticator::EAP_TLS_FLAG_MORE) != 0) {
    if (X->StationMore++ == 0) {
      X->StationLengthFirst = (Response[EapTlsFlags] & authenticator::EAP_TLS_FLAG_LENGTH) != 0;
    }
  }
}

// The access point's side from EAP-Request/Identity until the server ends
// the conversation or the station refuses a request. The last frame (the
// Success or Failure the station has not seen yet) stays in B.Frame.
EXCHANGE Converse(const TestChild &Child, EapAuthenticator &Eap, EapTlsServer &Server, EAP_BUFFERS &B) {
  EXCHANGE X;
  UINTN Length = Eap.IdentityRequest(B.Frame, sizeof(B.Frame));
  while (Length != 0) {
    UINTN Size = 0;
    X.StationStatus = StationAnswers(Child, B.Frame, Length, B, &Size);
    if (X.StationStatus != EFI_SUCCESS) {
      X.SizeAfterRefusal = Size;
      return X;
    }
    ++X.Responses;
    NoteFragments(B.Frame, Length, B.Answer, Size, &X);
    X.Verdict = Eap.AcceptResponse(B.Answer, Size);
    if (X.Verdict != EAP_VERDICT::Ok) {
      return X;
    }
    UINTN PacketLength = Server.Answer(Eap.Response(), Eap.ResponseLength(), B.Packet, sizeof(B.Packet));
    Length = PacketLength != 0 ? Eap.Relay(B.Packet, PacketLength, B.Frame, sizeof(B.Frame)) : 0;
    if (Eap.Outcome() != EAP_OUTCOME::Running) {
      X.FinalLength = Length;
      return X;
    }
  }
  return X;
}

// "eap-tls.CASE.WHAT", cut to the buffer.
class EapCheck {
 public:
  EapCheck(TestReporter &Report, const CHAR8 *Case) : Report_(Report), Case_(Case) {}
  bool operator()(bool Ok, const CHAR8 *What) const {
    CHAR8 Name[96];
    AsciiSPrint(Name, sizeof(Name), "eap-tls.%a.%a", Case_, What);
    return Report_.Check(Ok, Name);
  }

 private:
  TestReporter &Report_;
  const CHAR8  *Case_;
};

// The PAE state, or one past the last when GetData fails.
UINT32 StateOf(const TestChild &Child) {
  constexpr UINT32 NoState = EfiEapolSupplicantMaxSupplicantPaeState;
  UINT32 State = NoState;
  UINTN Size = sizeof(State);
  return EFI_ERROR(Child.Get(EfiSupplicantState, &State, &Size)) ? NoState : State;
}

bool PmkIs(const TestChild &Child, const UINT8 *Expected) {
  UINT8 Pmk[authenticator::PMK_LEN] = {};
  UINTN Size = sizeof(Pmk);
  return !EFI_ERROR(Child.Get(EfiSupplicant80211PMK, Pmk, &Size)) && Size == sizeof(Pmk) &&
         CompareMem(Pmk, Expected, sizeof(Pmk)) == 0;
}

// The client certificate with its issuer after it, as one PEM buffer in
// pool memory (the driver reads it where it lies, so it outlives the child's
// exchanges).
class ClientChain {
 public:
  explicit ClientChain(const EAP_TLS_CASE &Case) {
    UINTN Head = Case.ClientCert.Size - 1;
    Size_ = Case.ClientCertIssuer.Text != nullptr ? Head + Case.ClientCertIssuer.Size : Case.ClientCert.Size;
    Bytes_ = static_cast<CHAR8 *>(AllocateZeroPool(Size_));
    if (Bytes_ != nullptr) {
      CopyMem(Bytes_, Case.ClientCert.Text, Case.ClientCert.Size);
      if (Case.ClientCertIssuer.Text != nullptr) {
        CopyMem(Bytes_ + Head, Case.ClientCertIssuer.Text, Case.ClientCertIssuer.Size);
      }
    }
  }
  ~ClientChain() {
    if (Bytes_ != nullptr) {
      FreePool(Bytes_);
    }
  }
  ClientChain(const ClientChain &) = delete;
  ClientChain &operator=(const ClientChain &) = delete;
  const CHAR8 *Bytes() const { return Bytes_; }
  UINTN        Size() const { return Size_; }

 private:
  CHAR8 *Bytes_ = nullptr;
  UINTN  Size_ = 0;
};

EFI_STATUS SetEap(const TestChild &Child, EFI_EAP_TYPE Type, EFI_EAP_CONFIG_DATA_TYPE DataType, const void *Data,
                  UINTN Size) {
  EFI_EAP_CONFIGURATION_PROTOCOL *Config = Child.EapConfig();
  return Config->SetData(Config, Type, DataType, const_cast<void *>(Data), Size);
}

// The EAP configuration and the 802.1X network, no pass phrase.
bool Configure(const TestChild &Child, const EAP_TLS_CASE &Case, const ClientChain &Chain) {
  OneSuite Akm(RsnOui, Case.AkmType), Cipher(RsnOui, Ccmp);
  EFI_80211_SSID SsidRecord = MakeSsid(Ssid);
  bool Eap = !EFI_ERROR(SetEap(Child, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapAuthMethod, &EapTlsMethod, 1)) &&
             !EFI_ERROR(SetEap(Child, EFI_EAP_TYPE_IDENTITY, EfiEapConfigIdentityString, Identity, sizeof(Identity))) &&
             !EFI_ERROR(SetEap(Child, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, Case.StationCa.Text,
                               Case.StationCa.Size)) &&
             !EFI_ERROR(
                 SetEap(Child, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientCert, Chain.Bytes(), Chain.Size())) &&
             !EFI_ERROR(SetEap(Child, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFile, Case.ClientKey.Text,
                               Case.ClientKey.Size));
  if (Eap && Case.KeyPassword != nullptr) {
    Eap = !EFI_ERROR(SetEap(Child, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFilePassword,
                            Case.KeyPassword, AsciiStrLen(Case.KeyPassword) + 1));
  }
  return Eap && !EFI_ERROR(Child.Set(EfiSupplicant80211AKMSuite, Akm.Bytes, sizeof(Akm.Bytes))) &&
         !EFI_ERROR(Child.Set(EfiSupplicant80211PairwiseCipherSuite, Cipher.Bytes, sizeof(Cipher.Bytes))) &&
         !EFI_ERROR(Child.Set(EfiSupplicant80211GroupDataCipherSuite, Cipher.Bytes, sizeof(Cipher.Bytes))) &&
         !EFI_ERROR(Child.Set(EfiSupplicant80211TargetSSIDName, &SsidRecord, sizeof(SsidRecord))) &&
         !EFI_ERROR(Child.Set(EfiSupplicant80211TargetSSIDMac, ApMac, 6)) &&
         !EFI_ERROR(Child.Set(EfiSupplicant80211StationMac, StationMac, 6));
}

// The access point's two EAP parts, ready for one conversation.
class AccessPoint {
 public:
  AccessPoint(TestRandom &Random, PEM Ca, PEM Cert, PEM Key, UINTN Mtu) {
    if (!Eap_.Ok() || !Server_.Ok()) {
      return;
    }
    authenticator::EAP_TLS_SERVER_CONFIG Config = {reinterpret_cast<const UINT8 *>(Ca.Text),   Ca.Size,
                                                   reinterpret_cast<const UINT8 *>(Cert.Text), Cert.Size,
                                                   reinterpret_cast<const UINT8 *>(Key.Text),  Key.Size,
                                                   Mtu,                                        Random.Source()};
    Setup_ = Server_->Setup(Config);
    UINT8 FirstIdentifier = 0;
    Random.Source().Fill(Random.Source().Context, &FirstIdentifier, 1);
    Eap_->Start(FirstIdentifier);
  }
  bool              Ok() const { return Eap_.Ok() && Server_.Ok() && Setup_ == authenticator::EAP_TLS_SETUP::Ok; }
  EapAuthenticator &Eap() const { return *Eap_; }
  EapTlsServer     &Server() const { return *Server_; }
  authenticator::EAP_TLS_SETUP Setup() const { return Setup_; }

 private:
  PoolBox<EapAuthenticator>    Eap_;
  PoolBox<EapTlsServer>        Server_;
  authenticator::EAP_TLS_SETUP Setup_ = authenticator::EAP_TLS_SETUP::TlsSetupFailed;
};

// One whole connection: EAPOL-Start, identity, EAP-TLS, EAP-Success, the PMK,
// then the key handshakes. True when the child ends up with the PMK of its
// EAP-TLS exchange.
bool Connect(TestReporter &Report, const TestChild &Child, const EAP_TLS_CASE &Case, const ClientChain &Chain,
             TestRandom &Random, EAP_BUFFERS &B) {
  EapCheck Check(Report, Case.Name);
  AccessPoint Ap(Random, Case.ServerCa, Case.ServerCert, Case.ServerKey, Case.Mtu);
  if (!Check(Ap.Ok() && Configure(Child, Case, Chain), "configured")) {
    Report.Info("eap-tls.%a: server setup: %a", Case.Name, authenticator::EapTlsSetupName(Ap.Setup()));
    return false;
  }
  // A NULL request: the station asks the access point to begin 802.1X.
  UINTN Size = 0;
  EFI_STATUS Status = StationAnswers(Child, nullptr, 0, B, &Size);
  Check(Status == EFI_SUCCESS && Size == authenticator::EAPOL_HEADER_LEN && B.Answer[0] >= 1 && B.Answer[0] <= 3 &&
            B.Answer[1] == EapolTypeStart && Be16(B.Answer + 2) == 0,
        "eapol-start");

  EXCHANGE X = Converse(Child, Ap.Eap(), Ap.Server(), B);
  Report.Info("eap-tls.%a: %u responses, %u/%u server fragments acknowledged, %u station fragments", Case.Name,
              (UINT32)X.Responses, (UINT32)X.Acknowledged, (UINT32)X.ServerMore, (UINT32)X.StationMore);
  Check(Ap.Eap().HaveIdentity() && Ap.Eap().IdentityLength() == sizeof(Identity) - 1 &&
            CompareMem(Ap.Eap().Identity(), Identity, sizeof(Identity) - 1) == 0,
        "identity");
  bool Succeeded = Ap.Server().Outcome() == EAP_OUTCOME::Success && Ap.Eap().Outcome() == EAP_OUTCOME::Success;
  if (!Check(Succeeded && X.FinalLength != 0, "server-sent-success")) {
    Report.Info("eap-tls.%a: station %r, authenticator says %a, server: %a (TLS %d)", Case.Name, X.StationStatus,
                authenticator::EapVerdictName(X.Verdict), Ap.Server().FailureReason(), Ap.Server().TlsError());
    return false;
  }
  Check(X.ServerMore > 0 && X.Acknowledged == X.ServerMore, "server-fragments-acknowledged");
  Check(X.StationMore > 0 && X.StationLengthFirst, "station-fragmented");

  Status = StationAnswers(Child, B.Frame, X.FinalLength, B, &Size);
  Check(Status == EFI_SUCCESS && Size == 0, "success-accepted");
  Check(StateOf(Child) == EfiEapolSupplicantAuthenticating, "state-after-success");
  const UINT8 *Pmk = Ap.Server().Msk();
  if (!Check(PmkIs(Child, Pmk), "pmk-from-msk")) {
    return false;
  }
  CHAR8 Name[32];
  AsciiSPrint(Name, sizeof(Name), "eap-tls-%a", Case.Name);
  RunEapHandshakes(Report, Child, Case.AkmType, StationMac, ApMac, Pmk, Name);
  // Under 802.1X nothing but EAP gives the PMK: the handshakes keep it.
  return Check(PmkIs(Child, Pmk), "pmk-kept");
}

// What a refused re-authentication must leave alone.
struct KEYS {
  UINT8                   Pmk[authenticator::PMK_LEN];
  EFI_SUPPLICANT_KEY      Ptk;
  EFI_SUPPLICANT_GTK_LIST Gtk;
  bool                    Read;
};

KEYS ReadKeys(const TestChild &Child) {
  KEYS Keys = {};
  UINTN PmkSize = sizeof(Keys.Pmk), PtkSize = sizeof(Keys.Ptk), GtkSize = sizeof(Keys.Gtk);
  Keys.Read = !EFI_ERROR(Child.Get(EfiSupplicant80211PMK, Keys.Pmk, &PmkSize)) &&
              !EFI_ERROR(Child.Get(EfiSupplicant80211PTK, &Keys.Ptk, &PtkSize)) &&
              !EFI_ERROR(Child.Get(EfiSupplicant80211GTK, &Keys.Gtk, &GtkSize));
  return Keys;
}

// A connected station re-authenticates; the server presents a certificate
// of another CA (same names as the trusted one). The station refuses the
// server's flight, sends nothing, and keeps the keys of its connection; an
// EAP-Success forged after the refusal changes nothing either.
void UntrustedServer(TestReporter &Report, const TestChild &Child, TestRandom &Random, EAP_BUFFERS &B) {
  EapCheck Check(Report, "untrusted-server");
  KEYS Before = ReadKeys(Child);
  AccessPoint Rogue(Random, Pem(EcRootCert), Pem(RogueServerCert), Pem(RogueServerKey), 512);
  if (!Check(Rogue.Ok() && Before.Read, "configured")) {
    return;
  }
  EXCHANGE X = Converse(Child, Rogue.Eap(), Rogue.Server(), B);
  // Identity and the ClientHello answered; the server's flight refused.
  if (!Check(X.StationStatus == EFI_PROTOCOL_ERROR && X.SizeAfterRefusal == sizeof(B.Answer) && X.Responses >= 2 &&
                 Rogue.Eap().Outcome() == EAP_OUTCOME::Running,
             "refused")) {
    Report.Info("eap-tls.untrusted-server: station %r after %u responses, size %u", X.StationStatus,
                (UINT32)X.Responses, (UINT32)X.SizeAfterRefusal);
  }
  Check(StateOf(Child) == EfiEapolSupplicantHeld, "state-held");
  const UINT8 Success[] = {authenticator::EAPOL_VERSION, authenticator::EAPOL_TYPE_EAP_PACKET, 0, 4,
                           authenticator::EAP_CODE_SUCCESS, Rogue.Eap().OutstandingIdentifier(), 0, 4};
  CopyMem(B.Frame, Success, sizeof(Success));
  UINTN Size = 0;
  Check(StationAnswers(Child, B.Frame, sizeof(Success), B, &Size) == EFI_PROTOCOL_ERROR, "forged-success-refused");
  KEYS After = ReadKeys(Child);
  Check(After.Read && CompareMem(Before.Pmk, After.Pmk, sizeof(Before.Pmk)) == 0 &&
            CompareMem(&Before.Ptk, &After.Ptk, sizeof(Before.Ptk)) == 0 &&
            CompareMem(&Before.Gtk, &After.Gtk, sizeof(Before.Gtk)) == 0,
        "keys-unchanged");
}

// EC: a P-384 root over P-256 certificates; the station sends its
// certificate with the root after it (its flight then spans two fragments)
// and its key encrypted. RSA-2048: the station's flight is long on its own.
constexpr EAP_TLS_CASE Cases[] = {
    {"akm1", 1, Pem(EcRootCert), Pem(EcClientCert), Pem(EcRootCert), Pem(EcClientKeyPbes2Sha256), TlsKeyPassPhrase,
     Pem(EcRootCert), Pem(EcServerCert), Pem(EcServerKey), 512, true},
    {"akm5", 5, Pem(RsaRootCert), Pem(RsaClientCert), {nullptr, 0}, Pem(RsaClientKey), nullptr, Pem(RsaRootCert),
     Pem(RsaServerCert), Pem(RsaServerKey), 1024, false},
};

}  // namespace

void RunEapTlsSuite(TestReporter &Report) {
  PoolBox<EAP_BUFFERS> Buffers;
  TestRandom Random;
  if (!Report.Check(Buffers.Ok(), "eap-tls.buffers")) {
    return;
  }
  for (const EAP_TLS_CASE &Case : Cases) {
    TestChild Child(Report);
    if (!Child.Ok()) {
      return;
    }
    if (!DriverOffersEapTls(Child, Case.AkmType)) {
      Report.Info("eap-tls.%a skipped: the driver offers no AKM 00-0F-AC:%u with EAP-TLS", Case.Name,
                  (UINT32)Case.AkmType);
      continue;
    }
    ClientChain Chain(Case);
    bool Connected = Chain.Bytes() != nullptr && Connect(Report, Child, Case, Chain, Random, *Buffers);
    if (Connected && Case.ThenUntrustedServer) {
      UntrustedServer(Report, Child, Random, *Buffers);
    }
  }
}
