// ap-sim: the access point of the station simulator's line protocol. Reads
// the station's frames from standard input, writes its own to standard
// output (one hexadecimal MPDU per line), logs to standard error, and checks
// every field the station sends. For wpa3-sae it first runs SAE with the
// station (Authentication frames, algorithm 3) and uses the PMK of that
// exchange; it accepts hunting and pecking, hash to element or both, may ask
// for an anti-clogging token first, and may know the password under an
// identifier. Exit status 0 when every check passed, 1 when one failed, 2 for
// a usage error. Its --timeout bounds every read and every write to a pipe;
// a station that neither reads nor ends is left to ap-sim's parent.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <HostEnv/Environment.h>
#include <Library/UefiLib.h>
#include <EapAuthenticator.h>
#include <SaeAuthenticator.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <unistd.h>

#include "EapRelay.h"
#include "EapServer.h"
#include "Frames80211.h"
#include "LineChannel.h"
#include "Modes.h"
#include "crypto/Kdf.h"

namespace {

using namespace wifi;
using authenticator::Authenticator;
using authenticator::FAULT;
using authenticator::VERDICT;

constexpr std::uint16_t StatusRobustPolicyViolation = 31;
constexpr std::uint16_t StatusUnspecifiedFailure = 1;
constexpr std::uint16_t StatusAntiCloggingTokenRequired = authenticator::SAE_STATUS_ANTI_CLOGGING;
constexpr std::uint16_t StatusUnknownPasswordIdentifier = authenticator::SAE_STATUS_UNKNOWN_IDENTIFIER;
constexpr std::uint16_t StatusSaeHashToElement = authenticator::SAE_STATUS_H2E;
constexpr size_t TokenLength = 32;
constexpr size_t kMaxCredentialFile = 1 << 20;
// The smallest EAP packet the built-in server may be told to send: room for
// its headers and some TLS data.
constexpr unsigned kMinEapMtu = 64;

// What the access point announces in the KDEs of WPA3 access points: it
// runs on 2.4 GHz channel 6 (operating class 81) and tells the station to
// disable transition to WPA2-Personal (bit 0).
constexpr std::uint8_t OciOperatingClass = 81;
constexpr std::uint8_t OciChannel = 6;
constexpr std::uint8_t TransitionDisableWpa3Personal = 0x01;

enum class PweMethods { HuntingAndPecking, HashToElement, Both };

// Attack frames ap-sim can put into the exchange; each must be dropped.
const std::vector<std::string> AttackNames = {
    "truncated",     "keydata-past-end", "oversize-keydata", "wrong-anonce",  "forged-msg3",
    "replay-msg3",   "forged-group1",    "replay-group1",    "retransmit-msg1", "new-anonce",
    // wpa3-sae only: the station's own commit or confirm sent back to it.
    "sae-reflect-commit", "sae-reflect-confirm",
};
// Attacks after which the exchange ends: the station must drop the frame
// and never complete the handshake. Not part of "all".
const std::vector<std::string> EndingAttackNames = {
    // A correctly protected message 3 whose RSN element names PSK (AKM 2),
    // where the beacon named the mode's AKM; modes with an AKM other than 2.
    "downgrade-rsne",
};

struct Options {
  Mode                  Security{};
  std::string           Ssid;
  std::string           Passphrase;
  MacAddress            ApMac{};
  MacAddress            StationMac{};
  Mfp                   MfpSetting = Mfp::Off;
  unsigned              Rekeys = 1;
  bool                  R3Kdes = false;
  std::set<std::string> Attacks;
  std::string           KeysOut;
  unsigned              TimeoutSeconds = 20;
  PweMethods            SaePwe = PweMethods::Both;
  std::string           PasswordId;
  bool                  AntiClogging = false;
  // EAP modes: a RADIUS server to relay to, else the built-in EAP-TLS
  // server with these credentials (file contents).
  std::string           RadiusServer;
  std::string           RadiusSecret;
  Bytes                 CaCert;
  Bytes                 ServerCert;
  Bytes                 ServerKey;
  unsigned              EapMtu = 1024;
};

void FillRandom(VOID *, UINT8 *Buffer, UINTN Length) {
  static std::random_device Device;
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = (UINT8)Device();
  }
}

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Why a read from the station brought no line.
std::string ReadFailure(LineChannel::Result Read, const std::string &Awaited) {
  switch (Read) {
    case LineChannel::Result::TimedOut:
      return "no " + Awaited + " in time";
    case LineChannel::Result::TooLong:
      return "protocol error: a line longer than " + std::to_string(LineChannel::kMaxLineLength) +
             " characters where " + Awaited + " was due";
    case LineChannel::Result::Closed:
      return "station closed the exchange before " + Awaited;
    default:
      return "reading " + Awaited + " failed";
  }
}

// One association, played from the access point's side.
class AccessPoint {
 public:
  explicit AccessPoint(const Options &Opts)
      : Opts_(Opts), Channel_(STDIN_FILENO, STDOUT_FILENO),
        Deadline_(Clock::now() + std::chrono::seconds(Opts.TimeoutSeconds)) {}

  void Run();
  void WriteKeys(const std::string &Path) const;
  // The authentication server of EAP modes; set before Run.
  void UseEapServer(std::unique_ptr<EapServer> Server) { EapServer_ = std::move(Server); }
  unsigned DroppedAttacks() const { return DroppedAttacks_; }

 private:
  struct Reply {
    bool               Dropped = false;
    std::string        Line;
    std::optional<Frame> Parsed;
  };

  Reply Exchange(const Bytes &Mpdu, const char *What);
  Bytes ExchangeEapol(const Bytes &Eapol, const char *What);
  void  ExpectDrop(const Bytes &Eapol, const char *Attack);
  void  ExpectDropOfFrame(const Bytes &Mpdu, const char *Attack);
  void  Check(VERDICT Verdict, const char *What);
  using AcceptFunction = VERDICT (Authenticator::*)(const UINT8 *, UINTN);
  // Sends the Length bytes in Frame_ and has the authenticator check the answer.
  void  Step(UINTN Length, const char *Sent, AcceptFunction Accept, const char *Expected);
  bool  Wants(const char *Attack) const { return Opts_.Attacks.count(Attack) != 0; }

  Frame ReceiveAuthentication();
  Frame Authenticate(const Frame &Request);
  Frame AuthenticateWithSae(const Frame &Request);
  Frame SendSae(UINT16 Transaction, const Bytes &Body, const char *What, UINT16 Status = 0);
  [[noreturn]] void RefuseSae(UINT16 Status, const std::string &Why);
  Frame AskForToken(const Frame &Request, bool H2e);
  void  CheckCommitFrame(const Frame &Request, bool H2e) const;
  void  Associate(const Frame &Request);
  void  Authenticate8021X();
  void  FourWayHandshake();
  void  GroupHandshake();
  void  Attack3(FAULT Fault, const char *Name);
  Bytes ApRsnxElement() const;

  const Options &Opts_;
  LineChannel    Channel_;
  Clock::time_point Deadline_;
  Authenticator  Ap_;
  authenticator::SaeAuthenticator Sae_;
  authenticator::CONFIG ApConfig_ = {};
  std::unique_ptr<authenticator::EapAuthenticator> Eap_ = std::make_unique<authenticator::EapAuthenticator>();
  std::unique_ptr<EapServer> EapServer_;
  std::string    EapIdentity_;
  bool           EapDone_ = false;
  bool           SaeDone_ = false;
  bool           MfpInUse_ = false;
  bool           Ended_ = false;  // an ending attack was dropped
  unsigned       DroppedAttacks_ = 0;
  UINT8          Frame_[authenticator::MAX_FRAME_LEN];
};

AccessPoint::Reply AccessPoint::Exchange(const Bytes &Mpdu, const char *What) {
  switch (Channel_.WriteLine(ToHex(Mpdu), Deadline_)) {
    case LineChannel::Result::Ok:
      break;
    case LineChannel::Result::TimedOut:
      throw Failure(std::string("station did not read ") + What + " in time");
    default:
      throw Failure(std::string("station gone before ") + What);
  }
  Reply R;
  LineChannel::Result Read = Channel_.ReadLine(&R.Line, Deadline_);
  if (Read != LineChannel::Result::Ok) {
    throw Failure(ReadFailure(Read, std::string("answer to ") + What));
  }
  if (IsCommentLine(R.Line)) {
    R.Dropped = IsDropLine(R.Line);
    if (!R.Dropped) {
      throw Failure(std::string("answer to ") + What + " is a comment, not a frame or a drop: " + R.Line);
    }
    return R;
  }
  std::optional<Bytes> Data = FromHex(R.Line);
  if (!Data) {
    throw Failure(std::string("answer to ") + What + " is not hexadecimal");
  }
  R.Parsed = ParseFrame(*Data);
  if (!R.Parsed) {
    throw Failure(std::string("answer to ") + What + " is not a well-formed frame");
  }
  return R;
}

Bytes AccessPoint::ExchangeEapol(const Bytes &Eapol, const char *What) {
  Reply R = Exchange(BuildDataToStation(Opts_.StationMac, Opts_.ApMac, Eapol), What);
  if (R.Dropped) {
    throw Failure(std::string("station dropped ") + What + ": " + R.Line);
  }
  const Frame &F = *R.Parsed;
  if (F.Kind != FrameKind::DataToAp || F.Addr1 != Opts_.ApMac || F.Addr2 != Opts_.StationMac ||
      F.Addr3 != Opts_.ApMac) {
    throw Failure(std::string("answer to ") + What + " is not an EAPOL data frame from the station to us");
  }
  return F.Eapol;
}

void AccessPoint::ExpectDrop(const Bytes &Eapol, const char *Attack) {
  ExpectDropOfFrame(BuildDataToStation(Opts_.StationMac, Opts_.ApMac, Eapol), Attack);
}

void AccessPoint::ExpectDropOfFrame(const Bytes &Mpdu, const char *Attack) {
  Reply R = Exchange(Mpdu, Attack);
  if (!R.Dropped) {
    throw Failure(std::string("station answered the ") + Attack + " frame instead of dropping it");
  }
  ++DroppedAttacks_;
  std::cerr << "ap-sim: attack " << Attack << ": station answered \"" << R.Line << "\"\n";
}

void AccessPoint::Check(VERDICT Verdict, const char *What) {
  if (Verdict != VERDICT::Ok) {
    throw Failure(std::string(What) + " rejected: " + authenticator::VerdictName(Verdict));
  }
}

void AccessPoint::Step(UINTN Length, const char *Sent, AcceptFunction Accept, const char *Expected) {
  if (Length == 0) {
    throw Failure(std::string("could not build ") + Sent);
  }
  Bytes Answer = ExchangeEapol(Bytes(Frame_, Frame_ + Length), Sent);
  Check((Ap_.*Accept)(Answer.data(), Answer.size()), Expected);
}

Frame AccessPoint::ReceiveAuthentication() {
  std::string Line;
  LineChannel::Result Read = Channel_.ReadLine(&Line, Deadline_);
  if (Read != LineChannel::Result::Ok) {
    throw Failure(ReadFailure(Read, "authentication frame from the station"));
  }
  std::optional<Bytes> Data = FromHex(Line);
  std::optional<Frame> F = Data ? ParseFrame(*Data) : std::nullopt;
  if (!F || F->Kind != FrameKind::Authentication) {
    throw Failure("the station's first frame is not an Authentication frame: " + Line);
  }
  return *F;
}

// Open System: transaction 1 in, transaction 2 out; the station's answer to
// it is its association request.
Frame AccessPoint::Authenticate(const Frame &Request) {
  const Authentication &Auth = Request.Auth;
  if (Request.Addr1 != Opts_.ApMac || Request.Addr2 != Opts_.StationMac || Request.Addr3 != Opts_.ApMac) {
    throw Failure("authentication request addressed wrongly");
  }
  if (Auth.Algorithm != kAuthOpenSystem || Auth.Transaction != 1 || Auth.Status != 0 || !Auth.Body.empty()) {
    throw Failure("authentication request is not Open System transaction 1 with status 0");
  }
  Authentication Response;
  Response.Transaction = 2;
  Reply R = Exchange(BuildAuthentication(Opts_.StationMac, Opts_.ApMac, Opts_.ApMac, Response), "authentication");
  if (R.Dropped || R.Parsed->Kind != FrameKind::AssociationRequest) {
    throw Failure("the answer to authentication is not an association request: " + R.Line);
  }
  return *R.Parsed;
}

// One SAE Authentication frame to the station and its answer, which must be
// a frame.
Frame AccessPoint::SendSae(UINT16 Transaction, const Bytes &Body, const char *What, UINT16 Status) {
  Authentication Auth;
  Auth.Algorithm = kAuthSae;
  Auth.Transaction = Transaction;
  Auth.Status = Status;
  Auth.Body = Body;
  Reply R = Exchange(BuildAuthentication(Opts_.StationMac, Opts_.ApMac, Opts_.ApMac, Auth), What);
  if (R.Dropped) {
    throw Failure(std::string("station dropped ") + What + ": " + R.Line);
  }
  return *R.Parsed;
}

// A commit this access point refuses: algorithm 3, transaction 1, the
// status, no body. The station must drop it; the association is over.
void AccessPoint::RefuseSae(UINT16 Status, const std::string &Why) {
  Authentication Refusal;
  Refusal.Algorithm = kAuthSae;
  Refusal.Status = Status;
  Reply R = Exchange(BuildAuthentication(Opts_.StationMac, Opts_.ApMac, Opts_.ApMac, Refusal), "SAE refusal");
  std::cerr << "ap-sim: refused the station's SAE commit with status " << Status << ": station answered \""
            << R.Line << "\"\n";
  if (!R.Dropped) {
    throw Failure("the station answered the SAE refusal with a frame");
  }
  throw Failure("SAE commit refused with status " + std::to_string(Status) + ": " + Why);
}

void AccessPoint::CheckCommitFrame(const Frame &Request, bool H2e) const {
  const Authentication &Auth = Request.Auth;
  if (Request.Kind != FrameKind::Authentication || Request.Addr1 != Opts_.ApMac ||
      Request.Addr2 != Opts_.StationMac || Request.Addr3 != Opts_.ApMac) {
    throw Failure("SAE commit addressed wrongly, or not an Authentication frame");
  }
  if (Auth.Algorithm != kAuthSae || Auth.Transaction != 1 ||
      Auth.Status != (H2e ? StatusSaeHashToElement : 0)) {
    throw Failure(std::string("not an SAE commit (algorithm 3, transaction 1, status ") + (H2e ? "126" : "0") + ")");
  }
}

// Under load: the first commit is answered with status 76 and a token
// (after the group, in a container element under hash to element); the
// station's next frame must be its commit carrying it.
Frame AccessPoint::AskForToken(const Frame &Request, bool H2e) {
  UINT8 Token[TokenLength];
  FillRandom(nullptr, Token, sizeof(Token));
  Bytes Body = {(std::uint8_t)authenticator::SAE_GROUP_19, 0};
  if (H2e) {
    UINT8 Container[TokenLength + 3];
    UINTN Length = authenticator::SaeTokenContainer(Token, sizeof(Token), Container);
    Body.insert(Body.end(), Container, Container + Length);
  } else {
    Body.insert(Body.end(), Token, Token + sizeof(Token));
  }
  Frame Again = SendSae(1, Body, "anti-clogging token request", StatusAntiCloggingTokenRequired);
  CheckCommitFrame(Again, H2e);
  Sae_.ExpectToken(Token, sizeof(Token));
  std::cerr << "ap-sim: asked for an anti-clogging token (" << Request.Auth.Body.size() << "-byte commit, then "
            << Again.Auth.Body.size() << ")\n";
  return Again;
}

// SAE: the station's commit in, ours out and its confirm back, ours out and
// its association request back. Every SAE check of the station's side is
// the independent authenticator's.
Frame AccessPoint::AuthenticateWithSae(const Frame &First) {
  const bool H2e = First.Auth.Status == StatusSaeHashToElement;
  CheckCommitFrame(First, H2e);
  if ((H2e && Opts_.SaePwe == PweMethods::HuntingAndPecking) ||
      (!H2e && Opts_.SaePwe == PweMethods::HashToElement)) {
    RefuseSae(StatusUnspecifiedFailure, H2e ? "hash to element not accepted" : "hunting and pecking not accepted");
  }
  // A password known under an identifier is a hash-to-element password.
  if (!H2e && !Opts_.PasswordId.empty()) {
    RefuseSae(StatusUnknownPasswordIdentifier, "the password has an identifier, the commit names none");
  }
  const Frame Request = Opts_.AntiClogging ? AskForToken(First, H2e) : First;
  const Authentication &Auth = Request.Auth;
  using authenticator::SAE_VERDICT;
  const UINT8 *Password = reinterpret_cast<const UINT8 *>(Opts_.Passphrase.data());
  SAE_VERDICT Verdict =
      H2e ? Sae_.StartH2e(Opts_.ApMac.data(), Opts_.StationMac.data(), reinterpret_cast<const UINT8 *>(Opts_.Ssid.data()),
                          Opts_.Ssid.size(), Password, Opts_.Passphrase.size(),
                          reinterpret_cast<const UINT8 *>(Opts_.PasswordId.data()), Opts_.PasswordId.size(),
                          {FillRandom, nullptr})
          : Sae_.Start(Opts_.ApMac.data(), Opts_.StationMac.data(), Password, Opts_.Passphrase.size(),
                       {FillRandom, nullptr});
  if (Verdict == SAE_VERDICT::Ok) {
    Verdict = Sae_.AcceptCommit(Auth.Body.data(), Auth.Body.size());
  }
  if (Verdict == SAE_VERDICT::UnknownIdentifier) {
    RefuseSae(StatusUnknownPasswordIdentifier, "the commit does not name the password's identifier");
  }
  if (Verdict != SAE_VERDICT::Ok) {
    throw Failure(std::string("SAE commit of the station rejected: ") + authenticator::SaeVerdictName(Verdict));
  }
  std::cerr << "ap-sim: SAE commit by " << (H2e ? "hash to element" : "hunting and pecking")
            << (Opts_.PasswordId.empty() ? "" : " with the password identifier") << "\n";
  const UINT16 CommitStatus = H2e ? StatusSaeHashToElement : 0;
  Authentication Reflected;
  Reflected.Algorithm = kAuthSae;
  Reflected.Transaction = 1;
  Reflected.Status = CommitStatus;
  Reflected.Body = Auth.Body;
  if (Wants("sae-reflect-commit")) {
    ExpectDropOfFrame(BuildAuthentication(Opts_.StationMac, Opts_.ApMac, Opts_.ApMac, Reflected),
                      "sae-reflect-commit");
  }
  Bytes Commit(authenticator::SAE_MAX_COMMIT_LEN);
  Commit.resize(Sae_.Commit(Commit.data(), Commit.size()));
  Frame Answer = SendSae(1, Commit, "SAE commit", CommitStatus);
  if (Answer.Kind != FrameKind::Authentication || Answer.Auth.Algorithm != kAuthSae || Answer.Auth.Transaction != 2 ||
      Answer.Auth.Status != 0 || Answer.Addr1 != Opts_.ApMac || Answer.Addr2 != Opts_.StationMac) {
    throw Failure("the answer to the SAE commit is not an SAE confirm from the station");
  }
  Verdict = Sae_.AcceptConfirm(Answer.Auth.Body.data(), Answer.Auth.Body.size());
  if (Verdict != SAE_VERDICT::Ok) {
    throw Failure(std::string("SAE confirm of the station rejected: ") + authenticator::SaeVerdictName(Verdict));
  }
  if (Wants("sae-reflect-confirm")) {
    Reflected.Transaction = 2;
    Reflected.Body = Answer.Auth.Body;
    ExpectDropOfFrame(BuildAuthentication(Opts_.StationMac, Opts_.ApMac, Opts_.ApMac, Reflected),
                      "sae-reflect-confirm");
  }
  Bytes Confirm(authenticator::SAE_CONFIRM_LEN);
  Sae_.Confirm(Confirm.data(), Confirm.size());
  Frame Association = SendSae(2, Confirm, "SAE confirm");
  if (Association.Kind != FrameKind::AssociationRequest) {
    throw Failure("the answer to the SAE confirm is not an association request");
  }
  SaeDone_ = true;
  std::cerr << "ap-sim: SAE complete\n";
  return Association;
}

void AccessPoint::Associate(const Frame &Request) {
  const AssociationRequest &Assoc = Request.AssocRequest;
  if (Request.Addr1 != Opts_.ApMac || Request.Addr2 != Opts_.StationMac || Request.Addr3 != Opts_.ApMac) {
    throw Failure("association request addressed wrongly");
  }
  if (Assoc.Capability != kCapabilityInformation || Assoc.ListenInterval != kListenInterval) {
    throw Failure("association request capability or listen interval wrong");
  }
  Bytes Expected = AssociationElements(Opts_.Ssid, {});
  if (Assoc.Elements.size() < Expected.size() ||
      !std::equal(Expected.begin(), Expected.end(), Assoc.Elements.begin())) {
    throw Failure("association request SSID or supported rates wrong");
  }
  static constexpr std::uint8_t WpaSelector[4] = {0x00, 0x50, 0xF2, 0x01};
  const Mode &M = Opts_.Security;
  std::optional<Bytes> Element =
      M.Rsn ? FindElement(Assoc.Elements, kElementRsn) : FindElement(Assoc.Elements, kElementVendor, WpaSelector);
  if (!Element) {
    throw Failure("association request carries no security element");
  }
  // The station's MFP wishes are the capability bits of its element; the
  // rest must be exactly what the mode calls for.
  authenticator::MFP_POLICY StationMfp = {};
  if (M.Rsn && Element->size() >= 22) {
    std::uint16_t Capabilities = (std::uint16_t)((*Element)[20] | ((*Element)[21] << 8));
    StationMfp = {(Capabilities & 0x80) != 0, (Capabilities & 0x40) != 0};
  }
  UINT8 Wanted[authenticator::MAX_ELEMENT_LEN];
  UINTN WantedLength = authenticator::BuildSecurityElement(M.Handshake, StationMfp, Wanted);
  if (Element->size() != WantedLength || !std::equal(Element->begin(), Element->end(), Wanted)) {
    throw Failure("security element of the association request does not match mode " + std::string(M.Name) + ": " +
                  ToHex(*Element));
  }
  bool ApCapable = Opts_.MfpSetting != Mfp::Off, ApRequired = Opts_.MfpSetting == Mfp::Required;
  AssociationResponse Response;
  if (M.Rsn && ((ApRequired && !StationMfp.Capable) || (StationMfp.Required && !ApCapable))) {
    Response.Status = StatusRobustPolicyViolation;
  }
  Response.Elements = SupportedRatesElement();
  Reply R = Exchange(BuildAssociationResponse(Opts_.StationMac, Opts_.ApMac, Response), "association response");
  if (Response.Status != 0) {
    throw Failure("association refused: management-frame protection policies do not meet");
  }
  if (!R.Dropped) {
    throw Failure("the answer to the association response is not \"# drop ...\": " + R.Line);
  }
  MfpInUse_ = M.Rsn && ApCapable && StationMfp.Capable;
  // Message 2 repeats the station's element and, after it, the RSNXE of its
  // association request.
  static constexpr std::uint8_t ElementRsnx = 244;
  std::optional<Bytes> StationRsnxe = FindElement(Assoc.Elements, ElementRsnx);

  authenticator::CONFIG Config = {};
  Config.Mode = M.Handshake;
  std::copy(Opts_.ApMac.begin(), Opts_.ApMac.end(), Config.ApMac);
  std::copy(Opts_.StationMac.begin(), Opts_.StationMac.end(), Config.StaMac);
  if (SaeDone_) {
    std::copy(Sae_.Pmk(), Sae_.Pmk() + authenticator::PMK_LEN, Config.Pmk);
  } else if (!M.Eap && psk_from_passphrase(Opts_.Passphrase.data(), Opts_.Passphrase.size(), Opts_.Ssid.data(),
                                 Opts_.Ssid.size(), Config.Pmk) != 1) {
    throw Failure("pass phrase or SSID too long for PSK derivation");
  }
  Config.Mfp = MfpInUse_;
  Bytes Message2KeyData = *Element;
  if (StationRsnxe) {
    Message2KeyData.insert(Message2KeyData.end(), StationRsnxe->begin(), StationRsnxe->end());
  }
  std::copy(Message2KeyData.begin(), Message2KeyData.end(), Config.StationElement);
  Config.StationElementLength = Message2KeyData.size();
  // Message 3 repeats the contract's element for the mode, as the beacon
  // shows it, and the RSNXE the beacon shows.
  Config.ApElementLength = authenticator::BuildApElement(M.Handshake, MfpPolicy(Opts_.MfpSetting), Config.ApElement);
  Bytes Rsnxe = ApRsnxElement();
  std::copy(Rsnxe.begin(), Rsnxe.end(), Config.ApRsnxElement);
  Config.ApRsnxElementLength = Rsnxe.size();
  Config.R3Kdes = Opts_.R3Kdes;
  Config.Oci[0] = OciOperatingClass;
  Config.Oci[1] = OciChannel;
  Config.TransitionDisable = TransitionDisableWpa3Personal;
  Config.Random = {FillRandom, nullptr};
  ApConfig_ = Config;
  // EAP modes learn the PMK from the EAP method first.
  if (!M.Eap) {
    Ap_.Start(ApConfig_);
  }
}

namespace {
std::string EapName(const Bytes &Eap) {
  static const char *const Codes[] = {"EAP", "EAP-Request", "EAP-Response", "EAP-Success", "EAP-Failure"};
  std::string Name = Eap.empty() || Eap[0] > 4 ? "EAP" : Codes[Eap[0]];
  if (Eap.size() > 4 && Eap[0] <= 2) {
    Name += Eap[4] == authenticator::EAP_TYPE_IDENTITY ? "/Identity"
            : Eap[4] == authenticator::EAP_TYPE_TLS    ? "/EAP-TLS"
                                                       : "/type " + std::to_string(Eap[4]);
  }
  return Name;
}
}  // namespace

// IEEE 802.1X after association: EAP-Request/Identity first, then every
// response relayed to the authentication server and its answer back, until
// EAP-Success (the station answers with a drop line; the server's key is
// the PMK) or EAP-Failure (the exchange ends, exit 1).
void AccessPoint::Authenticate8021X() {
  std::random_device Device;
  Eap_->Start((UINT8)Device());
  Bytes Eapol(authenticator::EAPOL_HEADER_LEN + authenticator::EAP_MAX_PACKET_LEN);
  UINTN Length = Eap_->IdentityRequest(Eapol.data(), Eapol.size());
  std::string What = "EAP-Request/Identity";
  Bytes Pmk;
  for (;;) {
    Reply R = Exchange(BuildDataToStation(Opts_.StationMac, Opts_.ApMac, Bytes(Eapol.begin(), Eapol.begin() + (long)Length)),
                       What.c_str());
    if (Eap_->Outcome() != authenticator::EAP_OUTCOME::Running) {
      if (!R.Dropped) {
        throw Failure("the station answered " + What + " with a frame, not a drop line");
      }
      if (Eap_->Outcome() == authenticator::EAP_OUTCOME::Failure) {
        throw Failure("EAP-Failure: the authentication server refused the station (after " +
                      std::to_string(Eap_->Rounds()) + " EAP round trips; the station answered \"" + R.Line + "\")");
      }
      break;
    }
    if (R.Dropped) {
      throw Failure("station dropped " + What + ": " + R.Line);
    }
    const Frame &F = *R.Parsed;
    if (F.Kind != FrameKind::DataToAp || F.Addr1 != Opts_.ApMac || F.Addr2 != Opts_.StationMac ||
        F.Addr3 != Opts_.ApMac) {
      throw Failure("answer to " + What + " is not an EAPOL data frame from the station to us");
    }
    authenticator::EAP_VERDICT Verdict = Eap_->AcceptResponse(F.Eapol.data(), F.Eapol.size());
    if (Verdict != authenticator::EAP_VERDICT::Ok) {
      throw Failure("answer to " + What + " rejected: " + authenticator::EapVerdictName(Verdict));
    }
    if (EapIdentity_.empty()) {
      EapIdentity_.assign(reinterpret_cast<const char *>(Eap_->Identity()), Eap_->IdentityLength());
      std::cerr << "ap-sim: EAP identity \"" << EapIdentity_ << "\"\n";
      if (EapIdentity_.empty()) {
        throw Failure("the station gave an empty EAP identity");
      }
    }
    EapServer::Next Next =
        EapServer_->Answer(Bytes(Eap_->Response(), Eap_->Response() + Eap_->ResponseLength()), EapIdentity_, Deadline_);
    Length = Eap_->Relay(Next.Eap.data(), Next.Eap.size(), Eapol.data(), Eapol.size());
    if (Length == 0) {
      throw Failure(Eap_->OutOfRounds() ? "the EAP conversation took more than " +
                                              std::to_string(authenticator::EAP_DEFAULT_MAX_ROUNDS) + " round trips"
                                        : "the authentication server's " + EapName(Next.Eap) + " cannot be relayed");
    }
    What = EapName(Next.Eap);
    Pmk = Next.Pmk;
  }
  if (Pmk.size() != authenticator::PMK_LEN) {
    throw Failure("EAP-Success without a PMK");
  }
  std::copy(Pmk.begin(), Pmk.end(), ApConfig_.Pmk);
  EapDone_ = true;
  std::cerr << "ap-sim: EAP-Success after " << Eap_->Rounds() << " EAP round trips\n";
  Ap_.Start(ApConfig_);
}

// An SAE access point that accepts hash-to-element says so in the RSNXE of
// its beacon; without SAE there is nothing to say.
Bytes AccessPoint::ApRsnxElement() const {
  if (Opts_.Security.Auth != AuthAlgorithm::Sae || Opts_.SaePwe == PweMethods::HuntingAndPecking) {
    return {};
  }
  return {0xF4, 0x01, 0x20};
}

void AccessPoint::Attack3(FAULT Fault, const char *Name) {
  UINTN Length = Ap_.FaultyMessage3(Fault, Frame_, sizeof(Frame_));
  ExpectDrop(Bytes(Frame_, Frame_ + Length), Name);
}

void AccessPoint::FourWayHandshake() {
  Step(Ap_.Message1(Frame_, sizeof(Frame_)), "message 1", &Authenticator::AcceptMessage2, "message 2");
  if (Wants("retransmit-msg1")) {
    Step(Ap_.RepeatMessage1(Frame_, sizeof(Frame_)), "repeated message 1", &Authenticator::AcceptMessage2,
         "message 2 to a repeated message 1");
  }
  if (Wants("new-anonce")) {
    Step(Ap_.Message1(Frame_, sizeof(Frame_)), "message 1 with a new ANonce", &Authenticator::AcceptMessage2,
         "message 2 to a new ANonce");
  }
  if (Wants("truncated")) {
    Attack3(FAULT::Truncated, "truncated");
  }
  if (Wants("keydata-past-end")) {
    Attack3(FAULT::KeyDataPastEnd, "keydata-past-end");
  }
  if (Wants("oversize-keydata") && Opts_.Security.Rsn) {
    Attack3(FAULT::OversizeKeyData, "oversize-keydata");
  }
  if (Wants("wrong-anonce")) {
    Attack3(FAULT::WrongNonce, "wrong-anonce");
  }
  if (Wants("forged-msg3")) {
    Attack3(FAULT::ForgedMic, "forged-msg3");
  }
  if (Wants("downgrade-rsne")) {
    Attack3(FAULT::DowngradedRsne, "downgrade-rsne");
    std::cerr << "ap-sim: downgraded message 3 dropped; ending the exchange\n";
    Ended_ = true;
    return;
  }
  Step(Ap_.Message3(Frame_, sizeof(Frame_)), "message 3", &Authenticator::AcceptMessage4, "message 4");
  std::cerr << "ap-sim: 4-way handshake complete\n";
  if (Wants("replay-msg3")) {
    UINTN Length = Ap_.LastFrame(Frame_, sizeof(Frame_));
    ExpectDrop(Bytes(Frame_, Frame_ + Length), "replay-msg3");
  }
}

void AccessPoint::GroupHandshake() {
  Step(Ap_.GroupMessage1(Frame_, sizeof(Frame_)), "group message 1", &Authenticator::AcceptGroupMessage2,
       "group message 2");
  std::cerr << "ap-sim: group key handshake complete (GTK key id " << (unsigned)Ap_.Gtk().KeyId << ")\n";
}

void AccessPoint::Run() {
  Frame Request = ReceiveAuthentication();
  Associate(Opts_.Security.Auth == AuthAlgorithm::Sae ? AuthenticateWithSae(Request) : Authenticate(Request));
  if (Opts_.Security.Eap) {
    Authenticate8021X();
  }
  FourWayHandshake();
  if (Ended_) {
    return;
  }

  unsigned GroupHandshakes = Opts_.Rekeys;
  // WPA has no GTK in message 3: the first group handshake delivers it.
  if (!Opts_.Security.Rsn) {
    GroupHandshake();
  }
  if (Wants("forged-group1")) {
    UINTN Length = Ap_.FaultyGroupMessage1(FAULT::ForgedMic, Frame_, sizeof(Frame_));
    ExpectDrop(Bytes(Frame_, Frame_ + Length), "forged-group1");
  }
  if (Wants("oversize-keydata") && !Opts_.Security.Rsn) {
    UINTN Length = Ap_.FaultyGroupMessage1(FAULT::OversizeKeyData, Frame_, sizeof(Frame_));
    ExpectDrop(Bytes(Frame_, Frame_ + Length), "oversize-keydata");
  }
  if (Wants("replay-group1")) {
    // A group handshake to replay, and one after the replay to show the
    // station still follows.
    if (Opts_.Security.Rsn) {
      GroupHandshake();
      GroupHandshakes = GroupHandshakes > 0 ? GroupHandshakes - 1 : 0;
    }
    UINTN Length = Ap_.LastFrame(Frame_, sizeof(Frame_));
    ExpectDrop(Bytes(Frame_, Frame_ + Length), "replay-group1");
    GroupHandshakes = std::max(GroupHandshakes, 1u);
  }
  for (unsigned Index = 0; Index < GroupHandshakes; ++Index) {
    GroupHandshake();
  }
}

nlohmann::json KeyJson(const authenticator::GROUP_KEY &Key, const char *CounterName, size_t CounterLength) {
  return {{"key", ToHex(Key.Key, Key.Length)},
          {"key_len", Key.Length},
          {"key_id", Key.KeyId},
          {CounterName, ToHex(Key.Rsc, CounterLength)}};
}

void AccessPoint::WriteKeys(const std::string &Path) const {
  nlohmann::json Keys = {
      {"mode", Opts_.Security.Name},
      {"ptk", {{"key", ToHex(Ap_.Tk(), Ap_.TkLength())}, {"key_len", Ap_.TkLength()}}},
      {"kck", ToHex(Ap_.Ptk(), authenticator::KCK_LEN)},
      {"anonce", ToHex(Ap_.ANonce(), authenticator::NONCE_LEN)},
      {"snonce", ToHex(Ap_.SNonce(), authenticator::NONCE_LEN)},
      {"gtk", KeyJson(Ap_.Gtk(), "rsc", authenticator::RSC_LEN)},
      {"igtk", MfpInUse_ ? KeyJson(Ap_.Igtk(), "ipn", authenticator::IPN_LEN) : nlohmann::json(nullptr)},
      {"bigtk", Opts_.R3Kdes ? KeyJson(Ap_.Bigtk(), "bipn", authenticator::IPN_LEN) : nlohmann::json(nullptr)},
      {"transition_disable", Opts_.R3Kdes ? nlohmann::json(TransitionDisableWpa3Personal) : nlohmann::json(nullptr)},
      {"pmk", SaeDone_ || EapDone_ ? nlohmann::json(ToHex(SaeDone_ ? Sae_.Pmk() : ApConfig_.Pmk, authenticator::PMK_LEN))
                                   : nlohmann::json(nullptr)},
      {"eap", Opts_.Security.Eap ? nlohmann::json({{"identity", EapIdentity_},
                                                   {"rounds", Eap_->Rounds()},
                                                   {"result", EapDone_ ? "success" : "failure"}})
                                 : nlohmann::json(nullptr)},
      {"attacks_dropped", DroppedAttacks_},
  };
  // The identity is the station's bytes: not necessarily UTF-8.
  std::ofstream(Path) << Keys.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
}

// EAP modes: a RADIUS server with its secret, or the built-in server's
// three files (there are no default credentials).
bool ReadEapOptions(const std::string &CaPath, const std::string &CertPath, const std::string &KeyPath,
                    Options *Opts) {
  if (!Opts->RadiusServer.empty()) {
    if (Opts->RadiusSecret.empty() || !CaPath.empty() || !CertPath.empty() || !KeyPath.empty()) {
      std::cerr << "ap-sim: --radius needs --radius-secret and takes no server credentials\n";
      return false;
    }
    return true;
  }
  if (CaPath.empty() || CertPath.empty() || KeyPath.empty()) {
    std::cerr << "ap-sim: EAP modes need --radius ADDRESS:PORT --radius-secret S, or the built-in server's "
                 "--ca-cert, --server-cert and --server-key (there are no defaults)\n";
    return false;
  }
  if (Opts->EapMtu < kMinEapMtu || Opts->EapMtu > authenticator::EAP_MAX_PACKET_LEN) {
    std::cerr << "ap-sim: --eap-mtu takes " << kMinEapMtu << ".." << authenticator::EAP_MAX_PACKET_LEN << "\n";
    return false;
  }
  const struct {
    const std::string &Path;
    Bytes             *Data;
  } Files[] = {{CaPath, &Opts->CaCert}, {CertPath, &Opts->ServerCert}, {KeyPath, &Opts->ServerKey}};
  for (const auto &File : Files) {
    std::ifstream In(File.Path, std::ios::binary);
    File.Data->assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    if (File.Data->empty() || File.Data->size() > kMaxCredentialFile) {
      std::cerr << "ap-sim: cannot read " << File.Path << " (or it is empty or over " << kMaxCredentialFile
                << " bytes)\n";
      return false;
    }
  }
  return true;
}

int ParseOptions(int argc, char **argv, Options *Opts) {
  CLI::App App{"ap-sim: the access point side of the sup-sim line protocol"};
  std::string ModeText, MfpText = "off", ApMacText = "02:00:00:00:00:02", StaMacText = "02:00:00:00:00:01";
  std::vector<std::string> Attacks;
  App.add_option("--mode", ModeText, ModeNames())->required();
  App.add_option("--ssid", Opts->Ssid, "network name")->required();
  CLI::Option *PassOption = App.add_option("--passphrase", Opts->Passphrase,
                                           "pass phrase (8..63 characters) or SAE password (1..63); not for EAP");
  std::string CaPath, CertPath, KeyPath;
  App.add_option("--radius", Opts->RadiusServer, "EAP: relay to the RADIUS server at ADDRESS:PORT");
  App.add_option("--radius-secret", Opts->RadiusSecret, "EAP: the RADIUS shared secret");
  App.add_option("--ca-cert", CaPath, "EAP built-in server: CA the station's certificate must chain to (PEM or DER)");
  App.add_option("--server-cert", CertPath, "EAP built-in server: its certificate (PEM or DER)");
  App.add_option("--server-key", KeyPath, "EAP built-in server: its private key (PEM or DER)");
  App.add_option("--eap-mtu", Opts->EapMtu, "EAP built-in server: largest EAP packet it sends (default 1024)");
  App.add_option("--ap-mac", ApMacText, "access point address");
  App.add_option("--sta-mac", StaMacText, "station address");
  CLI::Option *MfpOption = App.add_option("--mfp", MfpText, "off|capable|required (default off; capable for wpa3-sae)");
  App.add_option("--rekeys", Opts->Rekeys, "group-key handshakes after the 4-way handshake (default 1)");
  App.add_flag("--r3-kdes", Opts->R3Kdes,
               "RSN: BIGTK, OCI and transition-disable KDEs in message 3, a new BIGTK in every group message 1");
  App.add_option("--attack", Attacks,
                 "attack frames to send (each must be dropped), or 'all'; downgrade-rsne ends the exchange");
  App.add_option("--keys-out", Opts->KeysOut, "write the access point's keys as JSON to this file");
  App.add_option("--timeout", Opts->TimeoutSeconds, "seconds for the whole exchange (default 20)");
  std::string PweText = "both";
  App.add_option("--sae-pwe", PweText, "hnp|h2e|both: SAE password elements accepted (default both)");
  App.add_option("--password-id", Opts->PasswordId, "SAE password identifier the password is known under");
  App.add_flag("--anti-clogging", Opts->AntiClogging, "answer the first SAE commit with an anti-clogging token request");
  try {
    App.parse(argc, argv);
  } catch (const CLI::ParseError &Error) {
    int Code = App.exit(Error);
    return Code == 0 ? -1 : 2;
  }
  std::optional<Mode> M = FindMode(ModeText);
  std::optional<Mfp> MfpValue = ParseMfp(MfpText);
  std::optional<MacAddress> Ap = ParseMac(ApMacText), Sta = ParseMac(StaMacText);
  if (M && M->Eap && (PassOption->count() != 0 || !ReadEapOptions(CaPath, CertPath, KeyPath, Opts))) {
    return 2;
  }
  if (M && !M->Eap && PassOption->count() == 0) {
    std::cerr << "ap-sim: --passphrase is required\n";
    return 2;
  }
  if (!M || !MfpValue || !Ap || !Sta || Opts->Ssid.size() > 32 ||
      (!M->Eap && !PasswordLengthFits(*M, Opts->Passphrase.size()))) {
    std::cerr << "ap-sim: bad --mode, --mfp, address, SSID (at most 32 bytes) or pass phrase (8..63; SAE 1..63)\n";
    return 2;
  }
  if (PweText == "hnp") {
    Opts->SaePwe = PweMethods::HuntingAndPecking;
  } else if (PweText == "h2e") {
    Opts->SaePwe = PweMethods::HashToElement;
  } else if (PweText != "both") {
    std::cerr << "ap-sim: --sae-pwe must be hnp, h2e or both\n";
    return 2;
  }
  if (Opts->PasswordId.size() > authenticator::SAE_MAX_IDENTIFIER_LEN) {
    std::cerr << "ap-sim: --password-id takes at most 254 bytes\n";
    return 2;
  }
  for (const std::string &Attack : Attacks) {
    if (Attack == "all") {
      Opts->Attacks.insert(AttackNames.begin(), AttackNames.end());
    } else if (std::find(AttackNames.begin(), AttackNames.end(), Attack) != AttackNames.end() ||
               std::find(EndingAttackNames.begin(), EndingAttackNames.end(), Attack) != EndingAttackNames.end()) {
      Opts->Attacks.insert(Attack);
    } else {
      std::cerr << "ap-sim: unknown attack " << Attack << "\n";
      return 2;
    }
  }
  if (Opts->Attacks.count("downgrade-rsne") != 0 && (!M->Rsn || M->AkmType == 2)) {
    std::cerr << "ap-sim: downgrade-rsne needs a mode whose AKM is not PSK (wpa2-psk-sha256, wpa3-sae)\n";
    return 2;
  }
  if (Opts->R3Kdes && !M->Rsn) {
    std::cerr << "ap-sim: --r3-kdes needs an RSN mode\n";
    return 2;
  }
  Opts->Security = *M;
  Opts->MfpSetting = *MfpValue;
  // WPA3 requires management-frame protection to be at least offered.
  if (M->Auth == AuthAlgorithm::Sae && MfpOption->count() == 0) {
    Opts->MfpSetting = Mfp::Capable;
  }
  Opts->ApMac = *Ap;
  Opts->StationMac = *Sta;
  return 0;
}

// The authentication server behind the access point: RADIUS, or the
// built-in EAP-TLS server.
std::unique_ptr<EapServer> MakeEapServer(const Options &Opts, std::string *Error) {
  if (!Opts.RadiusServer.empty()) {
    radius::RelayStation Station = {radius::StationIdFromMac(Opts.ApMac.data()),
                                    radius::StationIdFromMac(Opts.StationMac.data()), Opts.Ssid};
    return RadiusEapServer(Opts.RadiusServer, Opts.RadiusSecret, Station, Error);
  }
  return BuiltInEapServer(Opts.CaCert, Opts.ServerCert, Opts.ServerKey, Opts.EapMtu, Error);
}

}  // namespace

int main(int argc, char **argv) {
  Options Opts;
  int Parsed = ParseOptions(argc, argv, &Opts);
  if (Parsed != 0) {
    return Parsed < 0 ? 0 : Parsed;
  }
  std::signal(SIGPIPE, SIG_IGN);  // a station that quits is a failure to report, not a signal to die of
  // The SAE arithmetic (mbedtls) takes its memory from a UEFI pool: the
  // host environment provides one.
  HostEnv::Environment Env;
  gST = Env.SystemTable();
  gBS = Env.BootServices();
  AccessPoint Ap(Opts);
  int Result = 0;
  std::string Error;
  std::unique_ptr<EapServer> Server = Opts.Security.Eap ? MakeEapServer(Opts, &Error) : nullptr;
  if (Opts.Security.Eap && !Server) {
    std::cerr << "ap-sim: " << Error << "\n";
    return 1;
  }
  Ap.UseEapServer(std::move(Server));
  try {
    Ap.Run();
    std::cerr << "ap-sim: every check of the station passed (" << Ap.DroppedAttacks() << " attack frames dropped)\n";
  } catch (const Failure &Error) {
    std::cerr << "ap-sim: FAILED: " << Error.what() << "\n";
    Result = 1;
  } catch (const EapServerError &Error) {
    std::cerr << "ap-sim: FAILED: " << Error.what() << "\n";
    Result = 1;
  }
  if (!Opts.KeysOut.empty()) {
    Ap.WriteKeys(Opts.KeysOut);
  }
  close(STDOUT_FILENO);  // ends the exchange
  return Result;
}
