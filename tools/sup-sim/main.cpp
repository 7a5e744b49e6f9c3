// sup-sim: runs the supplicant driver inside the host UEFI environment as a
// Wi-Fi station and plays the platform's connection manager against an
// access point that speaks the line protocol on a peer process (ap-sim by
// default). For wpa3-sae it first runs SAE through GetData/SetData of the
// commit and confirm (hunting and pecking, or hash to element with
// --sae-pwe h2e), handing an anti-clogging token the access point asks for
// back to the driver. Exit status 0 when the 4-way handshake completed (the
// driver built message 4), 1 when it did not, 2 for a usage error. The whole
// exchange, reads and writes alike, ends by one deadline whatever the peer
// does.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "EapTlsWire.h"
#include "Frames80211.h"
#include "LineChannel.h"
#include "Pcap.h"
#include "Station.h"

namespace {

using namespace wifi;
using nlohmann::json;

struct Options {
  StationConfig Station;
  // The access point's elements as its beacon shows them, handed to the
  // driver for its downgrade check; empty: none.
  Bytes         ApRsnElement;
  Bytes         ApRsnxElement;
  std::string   PeerCommand;
  std::string   PcapPath;
  bool          Json = false;
  bool          Verbose = false;
  unsigned      TimeoutSeconds = 20;
};

// Status codes of SAE Authentication frames.
constexpr std::uint16_t kStatusAntiCloggingTokenRequired = 76;
constexpr std::uint16_t kStatusSaeHashToElement = 126;
// Certificates and keys are small; a larger file is not one.
constexpr size_t kMaxCredentialFile = 1 << 20;
// Anti-clogging requests answered before the station gives up on an access
// point that keeps asking.
constexpr unsigned kMaxTokenRequests = 3;

// What the run produced, for the report.
struct Outcome {
  bool        Connected = false;  // the driver built message 4
  std::string Failure;
  unsigned    FramesSent = 0;
  unsigned    FramesReceived = 0;
  unsigned    Drops = 0;
  bool        PeerClosed = false;  // the peer ended the exchange, not we
  std::optional<int> PeerExit;
  // EAP: how the method ended (empty while it runs), and what the wire
  // showed of the server's TLS handshake.
  std::string    EapResult;
  unsigned       EapRequests = 0;
  EapTlsObserver Tls;
};

// Notes about ignored lines stop after this many: a peer sending nothing
// else must not flood standard error.
constexpr unsigned kIgnoredNotes = 5;

constexpr std::uint8_t kEapolEapPacket = 0;
constexpr std::uint8_t kEapolKey = 3;
constexpr std::uint8_t kEapRequest = 1;
constexpr std::uint8_t kEapSuccess = 3;
constexpr std::uint8_t kEapFailure = 4;

// The EAP packet of an EAPOL EAP-Packet frame (its length field's worth);
// empty for anything else.
Bytes EapOf(const Bytes &Eapol) {
  if (Eapol.size() < 8 || Eapol[1] != kEapolEapPacket) {
    return {};
  }
  size_t Length = (size_t)(Eapol[2] << 8 | Eapol[3]);
  return Length <= Eapol.size() - 4 ? Bytes(Eapol.begin() + 4, Eapol.begin() + 4 + (long)Length) : Bytes();
}

std::string EapKind(const Bytes &Eap) {
  static const char *const Codes[] = {"EAP", "EAP-Request", "EAP-Response", "EAP-Success", "EAP-Failure"};
  std::string Kind = Eap.empty() || Eap[0] > 4 ? "EAP" : Codes[Eap[0]];
  if (Eap.size() > 4 && (Eap[0] == 1 || Eap[0] == 2)) {
    Kind += Eap[4] == 1 ? "/Identity" : Eap[4] == 13 ? "/EAP-TLS" : "/type " + std::to_string(Eap[4]);
  }
  return Kind;
}

std::string EapolKind(const Bytes &Eapol) {
  if (Eapol.size() >= 4 && Eapol[1] == kEapolEapPacket) {
    return EapKind(EapOf(Eapol));
  }
  if (Eapol.size() < 7 || Eapol[1] != kEapolKey) {
    return "EAPOL";
  }
  unsigned Info = (unsigned)(Eapol[5] << 8 | Eapol[6]);
  bool Pairwise = (Info & 0x0008) != 0, Mic = (Info & 0x0100) != 0, Ack = (Info & 0x0080) != 0;
  if (!Pairwise) {
    return Ack ? "group message 1" : "group message 2";
  }
  if (Ack) {
    return Mic ? "message 3" : "message 1";
  }
  return Mic ? "message 2/4" : "EAPOL-Key";
}

// The station's side of the exchange, one line answered per line read.
class ConnectionManager {
 public:
  ConnectionManager(const Options &Opts, StationDriver &Driver, LineChannel &Peer, PcapWriter &Pcap)
      : Opts_(Opts), Driver_(Driver), Peer_(Peer), Pcap_(Pcap) {}

  Outcome Run(Clock::time_point Deadline);

 private:
  const StationConfig &Config() const { return Opts_.Station; }
  bool Send(const Bytes &Mpdu, const std::string &What);
  bool SendDrop(const std::string &Reason);
  bool WriteLine(const std::string &Line, const std::string &What);
  // Result_.Failure for a read that brought no line.
  std::string ReadFailure(LineChannel::Result Read) const;
  void NoteIgnored(const std::string &What);
  // The answer to one received line: a frame or a drop line.
  bool Answer(const std::string &Line);
  bool AnswerFrame(const Frame &F);
  bool AnswerAuthentication(const Frame &F);
  bool AnswerSae(const Authentication &Auth);
  bool AnswerTokenRequest(const Authentication &Auth);
  bool SendCommit();
  bool SendAssociationRequest();
  bool SendAuthentication(const Authentication &Auth, const std::string &What);
  bool AnswerEapol(const Bytes &Eapol);
  bool AnswerEap(const Bytes &Eapol);
  Bytes OwnSecurityElement() const;
  Bytes OwnRsnxElement() const;
  void Log(const std::string &Text) const {
    if (Opts_.Verbose) {
      std::cerr << "sup-sim: " << Text << "\n";
    }
  }

  const Options &Opts_;
  StationDriver &Driver_;
  LineChannel   &Peer_;
  PcapWriter    &Pcap_;
  Outcome        Result_;
  unsigned       TokenRequests_ = 0;
  Clock::time_point Deadline_;
  std::string    LastSent_;
  unsigned       Ignored_ = 0;
};

bool ConnectionManager::Send(const Bytes &Mpdu, const std::string &What) {
  Log("-> " + What);
  Pcap_.Write(Mpdu);
  ++Result_.FramesSent;
  return WriteLine(ToHex(Mpdu), What);
}

bool ConnectionManager::SendDrop(const std::string &Reason) {
  Log("-> # drop " + Reason);
  ++Result_.Drops;
  return WriteLine(DropLine(Reason), "\"# drop " + Reason + "\"");
}

bool ConnectionManager::WriteLine(const std::string &Line, const std::string &What) {
  LastSent_ = What;
  switch (Peer_.WriteLine(Line, Deadline_)) {
    case LineChannel::Result::Ok:
      return true;
    case LineChannel::Result::TimedOut:
      Result_.Failure = "timed out after " + std::to_string(Opts_.TimeoutSeconds) + " s sending " + What +
                        ": the access point does not read";
      return false;
    case LineChannel::Result::Closed:
      Result_.Failure = "the access point stopped reading before " + What;
      return false;
    default:
      Result_.Failure = "writing " + What + " to the access point failed";
      return false;
  }
}

std::string ConnectionManager::ReadFailure(LineChannel::Result Read) const {
  switch (Read) {
    case LineChannel::Result::TimedOut:
      return "timed out after " + std::to_string(Opts_.TimeoutSeconds) +
             " s waiting for the access point's answer to " + LastSent_;
    case LineChannel::Result::TooLong:
      return "protocol error: the access point sent a line longer than " +
             std::to_string(LineChannel::kMaxLineLength) + " characters (after " + LastSent_ + ")";
    default:
      return "reading from the access point failed after " + LastSent_;
  }
}

void ConnectionManager::NoteIgnored(const std::string &What) {
  ++Ignored_;
  if (Ignored_ <= kIgnoredNotes) {
    std::cerr << "sup-sim: ignoring " << What << "\n";
  } else if (Ignored_ == kIgnoredNotes + 1) {
    std::cerr << "sup-sim: ignoring more lines, not reporting each\n";
  }
}

// The element a connection manager puts in its association request; the
// driver must put the same bytes into message 2.
Bytes ConnectionManager::OwnSecurityElement() const {
  UINT8 Element[authenticator::MAX_ELEMENT_LEN];
  UINTN Length = authenticator::BuildSecurityElement(Config().Security.Handshake, MfpPolicy(Config().MfpSetting),
                                                     Element);
  return Bytes(Element, Element + Length);
}

// The driver's RSNXE (with SAE hash-to-element), which it also puts into
// message 2; none otherwise.
Bytes ConnectionManager::OwnRsnxElement() const {
  Bytes Element;
  return Driver_.Read(EfiSupplicantStationRsnxElement, &Element) == EFI_SUCCESS ? Element : Bytes();
}

// EAP frames go to the driver whole, like EAPOL-Key frames; EAP-Success
// and EAP-Failure get no response, answered on the line with a drop line
// that names them.
bool ConnectionManager::AnswerEap(const Bytes &Eapol) {
  Bytes Eap = EapOf(Eapol);
  std::string Kind = EapKind(Eap);
  if (!Config().Security.Eap) {
    Result_.Failure = "the access point sent " + Kind + " in a mode without EAP";
    return SendDrop("eap-unexpected");
  }
  if (!Eap.empty() && Eap[0] == kEapRequest) {
    ++Result_.EapRequests;
    Result_.Tls.FromServer(Eap);
  }
  StationDriver::Answer A = Driver_.Respond(Eapol);
  bool Ending = !Eap.empty() && (Eap[0] == kEapSuccess || Eap[0] == kEapFailure);
  if (Ending) {
    Result_.EapResult = Eap[0] == kEapSuccess ? "success" : "failure";
    if (Eap[0] == kEapFailure) {
      Result_.Failure = "EAP-Failure from the access point";
    }
  }
  if (A.Status != EFI_SUCCESS) {
    Log("driver refused " + Kind + ": " + StatusName(A.Status));
    if (Ending && Eap[0] == kEapSuccess) {
      Result_.EapResult = "success refused";
    }
    if (Result_.Failure.empty()) {
      Result_.Failure = "the station refused " + Kind + " (" + StatusName(A.Status) + ")";
    }
    return SendDrop(StatusName(A.Status));
  }
  if (A.Frame.empty()) {
    return SendDrop(Ending ? (Eap[0] == kEapSuccess ? "eap-success" : "eap-failure") : "no-response");
  }
  return Send(BuildDataToAp(Config().ApMac, Config().StationMac, A.Frame), EapolKind(A.Frame));
}

bool ConnectionManager::AnswerEapol(const Bytes &Eapol) {
  if (Eapol.size() >= 2 && Eapol[1] == kEapolEapPacket) {
    return AnswerEap(Eapol);
  }
  std::string Kind = EapolKind(Eapol);
  StationDriver::Answer A = Driver_.Respond(Eapol);
  if (A.Status != EFI_SUCCESS) {
    Log("driver refused " + Kind + ": " + StatusName(A.Status));
    return SendDrop(StatusName(A.Status));
  }
  if (Kind == "message 3") {
    Result_.Connected = true;
  }
  std::string Built = Kind == "message 1" ? "message 2" : Kind == "message 3" ? "message 4" : "group message 2";
  return Send(BuildDataToAp(Config().ApMac, Config().StationMac, A.Frame), Built);
}

bool ConnectionManager::SendAuthentication(const Authentication &Auth, const std::string &What) {
  const StationConfig &C = Config();
  return Send(BuildAuthentication(C.ApMac, C.StationMac, C.ApMac, Auth), What);
}

bool ConnectionManager::SendAssociationRequest() {
  const StationConfig &C = Config();
  AssociationRequest Request;
  Bytes Security = OwnSecurityElement();
  Bytes Rsnxe = OwnRsnxElement();
  Security.insert(Security.end(), Rsnxe.begin(), Rsnxe.end());
  Request.Elements = AssociationElements(C.Ssid, Security);
  return Send(BuildAssociationRequest(C.ApMac, C.StationMac, Request), "association request");
}

// A new own commit: status 126 under hash to element, else 0.
bool ConnectionManager::SendCommit() {
  Authentication Commit;
  Commit.Algorithm = kAuthSae;
  Commit.Status = Config().SaeH2e ? kStatusSaeHashToElement : 0;
  EFI_STATUS Status = Driver_.SaeBody(EfiSupplicantSaeCommit, &Commit.Body);
  if (Status != EFI_SUCCESS) {
    Result_.Failure = "no SAE commit: " + StatusName(Status);
    return false;
  }
  return SendAuthentication(Commit, "SAE commit");
}

// Status 76: the body after the group goes to the driver as it is (the
// token, or its container element under hash to element), and the next
// commit carries it.
bool ConnectionManager::AnswerTokenRequest(const Authentication &Auth) {
  if (++TokenRequests_ > kMaxTokenRequests) {
    Result_.Failure = "the access point keeps asking for anti-clogging tokens";
    return SendDrop("too-many-token-requests");
  }
  if (Auth.Body.size() < 2) {
    Result_.Failure = "anti-clogging request without a group";
    return SendDrop("sae-token-malformed");
  }
  EFI_STATUS Status = Driver_.Set(EfiSupplicantSaeAntiCloggingToken, Auth.Body.data() + 2, Auth.Body.size() - 2);
  if (Status != EFI_SUCCESS) {
    Result_.Failure = "anti-clogging token refused by the driver: " + StatusName(Status);
    return SendDrop("sae-token-" + StatusName(Status));
  }
  Log("anti-clogging token of " + std::to_string(Auth.Body.size() - 2) + " bytes");
  if (!SendCommit()) {
    return SendDrop("no-commit");
  }
  return true;
}

// SAE: the access point's commit (transaction 1) is answered with the own
// confirm, its confirm (transaction 2) with the association request. Under
// hash to element the driver reads the commit's status code before the
// body, and refuses anything but 126.
bool ConnectionManager::AnswerSae(const Authentication &Auth) {
  if (Auth.Transaction == 1 && Auth.Status == kStatusAntiCloggingTokenRequired) {
    return AnswerTokenRequest(Auth);
  }
  if (Auth.Transaction == 1 && Auth.Status == kStatusSaeHashToElement && !Config().SaeH2e) {
    Result_.Failure = "the access point answered with hash to element; the station runs hunting and pecking";
    return SendDrop("sae-commit-h2e-unexpected");
  }
  if (Auth.Status != 0 && !(Auth.Transaction == 1 && Auth.Status == kStatusSaeHashToElement)) {
    Result_.Failure = "SAE refused by the access point with status " + std::to_string(Auth.Status);
    return SendDrop("refused-" + std::to_string(Auth.Status));
  }
  if (Auth.Transaction == 1) {
    Bytes Commit = Auth.Body;
    if (Config().SaeH2e) {
      Commit.insert(Commit.begin(), {(std::uint8_t)Auth.Status, (std::uint8_t)(Auth.Status >> 8)});
    }
    EFI_STATUS Status = Driver_.Set(EfiSupplicantSaeCommit, Commit.data(), Commit.size());
    if (Status != EFI_SUCCESS) {
      // Plain values 7..11, not EFI error codes.
      Log("driver refused the SAE commit: " + std::to_string(Status));
      Result_.Failure = "SAE commit of the access point refused (" + std::to_string(Status) + ")";
      return SendDrop("sae-commit-" + std::to_string(Status));
    }
    Authentication Confirm;
    Confirm.Algorithm = kAuthSae;
    Confirm.Transaction = 2;
    Status = Driver_.SaeBody(EfiSupplicantSaeConfirm, &Confirm.Body);
    if (Status != EFI_SUCCESS) {
      Result_.Failure = "no SAE confirm: " + StatusName(Status);
      return SendDrop(StatusName(Status));
    }
    return SendAuthentication(Confirm, "SAE confirm");
  }
  EFI_STATUS Status = Driver_.Set(EfiSupplicantSaeConfirm, Auth.Body.data(), Auth.Body.size());
  if (Status != EFI_SUCCESS) {
    Log("driver refused the SAE confirm: " + StatusName(Status));
    Result_.Failure = "SAE confirm of the access point refused (" + StatusName(Status) + ")";
    return SendDrop(StatusName(Status));
  }
  Result_.Failure.clear();
  return SendAssociationRequest();
}

bool ConnectionManager::AnswerAuthentication(const Frame &F) {
  const StationConfig &C = Config();
  const Authentication &Auth = F.Auth;
  bool Sae = C.Security.Auth == AuthAlgorithm::Sae;
  bool Expected = Sae ? Auth.Algorithm == kAuthSae && (Auth.Transaction == 1 || Auth.Transaction == 2)
                      : Auth.Algorithm == kAuthOpenSystem && Auth.Transaction == 2;
  if (!Expected || F.Addr1 != C.StationMac || F.Addr2 != C.ApMac) {
    NoteIgnored("an unexpected authentication frame");
    return SendDrop("unexpected-frame");
  }
  if (Sae) {
    return AnswerSae(Auth);
  }
  if (Auth.Status != 0) {
    Result_.Failure = "authentication refused with status " + std::to_string(Auth.Status);
    return SendDrop("auth-refused");
  }
  return SendAssociationRequest();
}

bool ConnectionManager::AnswerFrame(const Frame &F) {
  const StationConfig &C = Config();
  switch (F.Kind) {
    case FrameKind::Authentication:
      return AnswerAuthentication(F);
    case FrameKind::AssociationResponse:
      if (F.AssocResponse.Status != 0) {
        Result_.Failure = "association refused with status " + std::to_string(F.AssocResponse.Status);
        return SendDrop("assoc-refused");
      }
      return SendDrop("assoc-ok");
    case FrameKind::DataToStation:
      if (F.Addr1 == C.StationMac && F.Addr2 == C.ApMac) {
        return AnswerEapol(F.Eapol);
      }
      break;
    default:
      break;
  }
  NoteIgnored("an unexpected frame");
  return SendDrop("unexpected-frame");
}

bool ConnectionManager::Answer(const std::string &Line) {
  if (IsCommentLine(Line)) {
    return SendDrop("no-frame");
  }
  std::optional<Bytes> Mpdu = FromHex(Line);
  if (!Mpdu) {
    NoteIgnored("a line that is not hexadecimal");
    return SendDrop("not-hex");
  }
  Pcap_.Write(*Mpdu);
  ++Result_.FramesReceived;
  std::optional<Frame> F = ParseFrame(*Mpdu);
  if (!F) {
    NoteIgnored("a malformed frame");
    return SendDrop("malformed-frame");
  }
  if (F->Kind == FrameKind::DataToStation) {
    Log("<- " + EapolKind(F->Eapol));
  }
  return AnswerFrame(*F);
}

Outcome ConnectionManager::Run(Clock::time_point Deadline) {
  Deadline_ = Deadline;
  // SAE starts with the own commit, Open System with transaction 1.
  const bool Sent = Config().Security.Auth == AuthAlgorithm::Sae
                        ? SendCommit()
                        : SendAuthentication(Authentication{}, "authentication");
  if (!Sent) {
    return Result_;
  }
  for (;;) {
    std::string Line;
    LineChannel::Result Read = Peer_.ReadLine(&Line, Deadline);
    if (Read == LineChannel::Result::Closed) {
      Result_.PeerClosed = true;
      break;
    }
    if (Read != LineChannel::Result::Ok) {
      Result_.Failure = ReadFailure(Read);
      break;
    }
    if (!Answer(Line)) {
      break;
    }
  }
  if (Result_.PeerClosed && !Result_.Connected && Result_.Failure.empty()) {
    Result_.Failure = "the access point ended the exchange after " + LastSent_ +
                      ", before the 4-way handshake completed";
  }
  return Result_;
}

json KeyJson(const EFI_SUPPLICANT_KEY &Key, const char *CounterName, size_t CounterLength) {
  json Out = {{"key", ToHex(Key.Key, Key.KeyLen)}, {"key_len", Key.KeyLen}};
  if (CounterName != nullptr) {
    Out["key_id"] = Key.KeyId;
    Out[CounterName] = ToHex(Key.Rsc, CounterLength);
  }
  return Out;
}

std::string DefaultPeerCommand(const Options &Opts, const char *Argv0) {
  std::error_code Error;
  std::filesystem::path Self = std::filesystem::read_symlink("/proc/self/exe", Error);
  if (Error) {
    Self = Argv0;
  }
  std::filesystem::path ApSim = Self.parent_path() / "ap-sim";
  auto Quote = [](const std::string &Text) {
    std::string Out = "'";
    for (char C : Text) {
      Out += C == '\'' ? std::string("'\\''") : std::string(1, C);
    }
    return Out + "'";
  };
  const StationConfig &C = Opts.Station;
  std::ostringstream Command;
  Command << Quote(ApSim.string()) << " --mode " << C.Security.Name << " --ssid " << Quote(C.Ssid)
          << " --passphrase " << Quote(C.Passphrase) << " --ap-mac " << FormatMac(C.ApMac) << " --sta-mac "
          << FormatMac(C.StationMac) << " --mfp " << MfpName(C.MfpSetting) << " --timeout " << Opts.TimeoutSeconds;
  if (!C.PasswordId.empty()) {
    Command << " --password-id " << Quote(C.PasswordId);
  }
  return Command.str();
}

// Hexadecimal element bytes; spaces and colons between digits are allowed.
std::optional<Bytes> ElementFromHex(const std::string &Text) {
  std::string Digits;
  for (char C : Text) {
    if (C != ' ' && C != ':') {
      Digits += C;
    }
  }
  std::optional<Bytes> Element = FromHex(Digits);
  if (Element && !Element->empty() && (Element->size() < 2 || (*Element)[1] != Element->size() - 2)) {
    return std::nullopt;  // not one whole element
  }
  return Element;
}

// The access point's element of the line-protocol contract for a mode: what
// the beacon of an access point speaking it shows and message 3 repeats.
Bytes ContractApElement(const Mode &M, Mfp Setting) {
  UINT8 Element[authenticator::MAX_ELEMENT_LEN];
  return Bytes(Element, Element + authenticator::BuildApElement(M.Handshake, MfpPolicy(Setting), Element));
}

int ParseOptions(int argc, char **argv, Options *Opts) {
  CLI::App App{"sup-sim: the supplicant driver as a Wi-Fi station in the host UEFI environment"};
  std::string ModeText, MfpText = "off", StaMacText = "02:00:00:00:00:01", ApMacText = "02:00:00:00:00:02";
  std::string ApRsneText, ApRsnxeText;
  StationConfig &C = Opts->Station;
  App.add_option("--mode", ModeText, ModeNames())->required();
  App.add_option("--ssid", C.Ssid, "network name")->required();
  CLI::Option *PassOption =
      App.add_option("--passphrase", C.Passphrase, "pass phrase (8..63 characters) or SAE password (1..63); not for EAP");
  std::string CaPath, CertPath, KeyPath;
  App.add_option("--identity", C.Identity, "EAP identity (EAP modes)");
  App.add_option("--ca-cert", CaPath, "EAP-TLS: CA certificate the server must chain to (PEM or DER file)");
  App.add_option("--client-cert", CertPath, "EAP-TLS: the station's certificate (PEM or DER file)");
  App.add_option("--client-key", KeyPath, "EAP-TLS: the station's private key (PEM or DER file)");
  App.add_option("--client-key-password", C.ClientKeyPassword, "EAP-TLS: password of an encrypted client key");
  App.add_option("--sta-mac", StaMacText, "station address (default 02:00:00:00:00:01)");
  App.add_option("--ap-mac", ApMacText, "access point address (default 02:00:00:00:00:02)");
  CLI::Option *MfpOption = App.add_option("--mfp", MfpText, "off|capable|required (default off; capable for wpa3-sae)");
  CLI::Option *ApRsneOption = App.add_option(
      "--ap-rsne", ApRsneText,
      "the access point's RSN (or WPA) element as its beacon shows it, hex; \"\" for none (default: the contract's)");
  CLI::Option *ApRsnxeOption = App.add_option(
      "--ap-rsnxe", ApRsnxeText,
      "the access point's RSNXE as its beacon shows it, hex; \"\" for none (default: F40120 for wpa3-sae, else none)");
  App.add_option("--peer-cmd", Opts->PeerCommand, "shell command of the access point (default: ap-sim)");
  App.add_option("--pcap", Opts->PcapPath, "write every frame to this pcap file");
  App.add_flag("--json", Opts->Json, "print a JSON summary on standard output");
  App.add_option("--timeout", Opts->TimeoutSeconds,
                 "seconds for the whole exchange, the access point's exit included (default 20)");
  App.add_flag("--verbose", Opts->Verbose, "log every frame on standard error");
  std::string PweText = "hnp";
  App.add_option("--sae-pwe", PweText, "hnp|h2e: SAE password element by hunting and pecking or hash to element "
                                      "(default hnp)");
  App.add_option("--password-id", C.PasswordId, "SAE password identifier (with --sae-pwe h2e)");
  try {
    App.parse(argc, argv);
  } catch (const CLI::ParseError &Error) {
    int Code = App.exit(Error);
    return Code == 0 ? -1 : 2;
  }
  std::optional<Mode> M = FindMode(ModeText);
  std::optional<Mfp> MfpValue = ParseMfp(MfpText);
  std::optional<MacAddress> Sta = ParseMac(StaMacText), Ap = ParseMac(ApMacText);
  if (!M) {
    std::cerr << "sup-sim: --mode must be one of " << ModeNames() << "\n";
    return 2;
  }
  if (!MfpValue || !Sta || !Ap) {
    std::cerr << "sup-sim: --mfp must be off|capable|required and addresses xx:xx:xx:xx:xx:xx\n";
    return 2;
  }
  if (M->Eap) {
    if (PassOption->count() != 0 || C.Identity.empty() || C.Identity.size() > 253 || CaPath.empty() ||
        CertPath.empty() || KeyPath.empty()) {
      std::cerr << "sup-sim: EAP modes take --identity (1..253 bytes), --ca-cert, --client-cert and --client-key "
                   "(and --client-key-password for an encrypted key), no --passphrase\n";
      return 2;
    }
    const struct {
      const std::string &Path;
      Bytes             *Data;
    } Files[] = {{CaPath, &C.CaCert}, {CertPath, &C.ClientCert}, {KeyPath, &C.ClientKey}};
    for (const auto &File : Files) {
      std::ifstream In(File.Path, std::ios::binary);
      File.Data->assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
      if (!In.good() && !In.eof()) {
        File.Data->clear();
      }
      if (File.Data->empty() || File.Data->size() > kMaxCredentialFile) {
        std::cerr << "sup-sim: cannot read " << File.Path << " (or it is empty or over "
                  << kMaxCredentialFile << " bytes)\n";
        return 2;
      }
    }
    if (Opts->PeerCommand.empty()) {
      std::cerr << "sup-sim: EAP modes need --peer-cmd (ap-sim with its server's credentials, or its RADIUS "
                   "server)\n";
      return 2;
    }
  } else if (PassOption->count() == 0) {
    std::cerr << "sup-sim: --passphrase is required\n";
    return 2;
  }
  if (C.Ssid.empty() || C.Ssid.size() > 32 || (!M->Eap && !PasswordLengthFits(*M, C.Passphrase.size())) ||
      Opts->TimeoutSeconds == 0) {
    std::cerr << "sup-sim: the SSID takes 1..32 bytes, the pass phrase 8..63 characters (an SAE password 1..63), "
                 "the timeout > 0\n";
    return 2;
  }
  if (PweText != "hnp" && PweText != "h2e") {
    std::cerr << "sup-sim: --sae-pwe must be hnp or h2e\n";
    return 2;
  }
  C.SaeH2e = PweText == "h2e";
  if (!C.PasswordId.empty() && (!C.SaeH2e || C.PasswordId.size() > 254)) {
    std::cerr << "sup-sim: --password-id takes 1..254 bytes and needs --sae-pwe h2e\n";
    return 2;
  }
  // WPA3 requires management-frame protection to be at least offered.
  if (M->Auth == AuthAlgorithm::Sae && MfpOption->count() == 0) {
    MfpValue = Mfp::Capable;
  }
  std::optional<Bytes> ApRsne = ElementFromHex(ApRsneText), ApRsnxe = ElementFromHex(ApRsnxeText);
  if (!ApRsne || !ApRsnxe) {
    std::cerr << "sup-sim: --ap-rsne and --ap-rsnxe take one whole element in hexadecimal (id, length, body)\n";
    return 2;
  }
  // The access point of the contract runs with the station's MFP setting
  // (ap-sim does by default).
  Opts->ApRsnElement = ApRsneOption->count() != 0 ? *ApRsne : ContractApElement(*M, *MfpValue);
  // The contract's SAE access point accepts hash-to-element unless told
  // otherwise, and its beacon says so whichever method the station uses.
  Opts->ApRsnxElement = ApRsnxeOption->count() != 0 ? *ApRsnxe
                        : M->Auth == AuthAlgorithm::Sae ? Bytes{0xF4, 0x01, 0x20}
                                                        : Bytes{};
  C.Security = *M;
  C.MfpSetting = *MfpValue;
  C.StationMac = *Sta;
  C.ApMac = *Ap;
  if (Opts->PeerCommand.empty()) {
    Opts->PeerCommand = DefaultPeerCommand(*Opts, argv[0]);
  }
  return 0;
}

void PrintKeys(const json &Report) {
  std::cout << "result:      " << Report["result"].get<std::string>() << "\n";
  std::cout << "mode:        " << Report["mode"].get<std::string>() << "\n";
  std::cout << "state:       " << Report["state"] << "\n";
  std::cout << "key refresh: " << Report["key_refresh"] << "\n";
  if (!Report["pmk"].is_null()) {
    std::cout << (Report["eap"].is_null() ? "PMK (SAE):   " : "PMK (EAP):   ") << Report["pmk"].get<std::string>()
              << "\n";
  }
  if (!Report["eap"].is_null()) {
    const json &Eap = Report["eap"];
    auto Text = [](const json &Value) { return Value.is_null() ? std::string("-") : Value.get<std::string>(); };
    std::cout << "EAP:         " << Text(Eap["method"]) << " " << Text(Eap["result"]) << ", " << Eap["requests"]
              << " requests; " << Text(Eap["tls_version"]) << " " << Text(Eap["cipher_suite"]) << "\n";
    std::cout << "server:      " << Text(Eap["server_subject"]) << "\n";
  }
  std::cout << "PTK (TK):    " << Report["ptk"]["key"].get<std::string>() << "\n";
  if (!Report["gtk"].is_null()) {
    std::cout << "GTK:         " << Report["gtk"]["key"].get<std::string>() << "  key id "
              << Report["gtk"]["key_id"] << "  RSC " << Report["gtk"]["rsc"].get<std::string>() << "\n";
  }
  if (!Report["igtk"].is_null()) {
    std::cout << "IGTK:        " << Report["igtk"]["key"].get<std::string>() << "  key id "
              << Report["igtk"]["key_id"] << "  IPN " << Report["igtk"]["ipn"].get<std::string>() << "\n";
  }
  if (!Report["bigtk"].is_null()) {
    std::cout << "BIGTK:       " << Report["bigtk"]["key"].get<std::string>() << "  key id "
              << Report["bigtk"]["key_id"] << "  BIPN " << Report["bigtk"]["bipn"].get<std::string>() << "\n";
  }
  if (!Report["transition_disable"].is_null()) {
    std::cout << "transition disable: " << Report["transition_disable"] << "\n";
  }
  std::cout << "frames:      " << Report["frames_sent"] << " sent, " << Report["frames_received"] << " received\n";
}

}  // namespace

int main(int argc, char **argv) {
  Options Opts;
  int Parsed = ParseOptions(argc, argv, &Opts);
  if (Parsed != 0) {
    return Parsed < 0 ? 0 : Parsed;
  }
  std::signal(SIGPIPE, SIG_IGN);  // a peer that quits early must not kill us

  HostEnv::Options EnvOptions;
  EnvOptions.EchoStdErr = true;
  // The firmware clock reads the real time (UTC), as on a platform: the
  // driver's random-byte source is seeded from it at entry, and EAP-TLS
  // checks the server certificate's validity against it.
  std::time_t Now = std::time(nullptr);
  std::tm Local = *std::gmtime(&Now);
  EnvOptions.Time = {(UINT16)(Local.tm_year + 1900), (UINT8)(Local.tm_mon + 1), (UINT8)Local.tm_mday,
                     (UINT8)Local.tm_hour, (UINT8)Local.tm_min, (UINT8)Local.tm_sec, 0, 0, 0, 0, 0};
  HostEnv::Environment Env(EnvOptions);
  std::optional<StationDriver> Driver;
  Driver.emplace(Env);
  if (!Driver->Ready() || EFI_ERROR(Driver->Configure(Opts.Station))) {
    std::cerr << "sup-sim: " << Driver->Error() << "\n";
    return 1;
  }
  const struct {
    EFI_SUPPLICANT_DATA_TYPE Type;
    const Bytes             &Element;
    const char              *Option;
  } BeaconElements[] = {{EfiSupplicantApRsnElement, Opts.ApRsnElement, "--ap-rsne"},
                        {EfiSupplicantApRsnxElement, Opts.ApRsnxElement, "--ap-rsnxe"}};
  for (const auto &Beacon : BeaconElements) {
    EFI_STATUS Status = Beacon.Element.empty() ? EFI_SUCCESS
                                               : Driver->Set(Beacon.Type, Beacon.Element.data(), Beacon.Element.size());
    if (Status != EFI_SUCCESS) {
      std::cerr << "sup-sim: the driver refused " << Beacon.Option << " " << ToHex(Beacon.Element) << ": "
                << StatusName(Status) << "\n";
      return 2;
    }
  }
  PcapWriter Pcap;
  if (!Opts.PcapPath.empty() && !Pcap.Open(Opts.PcapPath)) {
    std::cerr << "sup-sim: cannot write " << Opts.PcapPath << "\n";
    return 2;
  }
  PeerProcess Peer;
  if (!Peer.Start(Opts.PeerCommand)) {
    std::cerr << "sup-sim: cannot start the access point: " << Opts.PeerCommand << "\n";
    return 1;
  }
  Clock::time_point Deadline = Clock::now() + std::chrono::seconds(Opts.TimeoutSeconds);
  ConnectionManager Manager(Opts, *Driver, Peer.Channel(), Pcap);
  Outcome Result = Manager.Run(Deadline);
  // A peer that ended the exchange may take what is left of its time to
  // exit; one we gave up on is killed at once.
  Result.PeerExit = Peer.Finish(Result.PeerClosed ? Deadline : Clock::now());
  if (!Pcap.Close()) {
    std::cerr << "sup-sim: writing " << Opts.PcapPath << " failed\n";
  }

  const StationConfig &C = Opts.Station;
  bool Mfp = MfpNegotiated(C.Security, C.MfpSetting, C.MfpSetting);
  std::optional<EFI_SUPPLICANT_KEY> Ptk = Driver->Key(EfiSupplicant80211PTK);
  std::optional<EFI_SUPPLICANT_KEY> Gtk = Driver->Key(EfiSupplicant80211GTK);
  std::optional<EFI_SUPPLICANT_KEY> Igtk;
  if (Mfp) {
    Igtk = Driver->Key(EfiSupplicant80211IGTKKey);
  }
  std::optional<EFI_SUPPLICANT_KEY> Bigtk = Driver->Key(EfiSupplicantBigtk);
  Bytes TransitionDisable;
  json TransitionDisableJson = nullptr;
  if (Driver->Read(EfiSupplicantTransitionDisable, &TransitionDisable) == EFI_SUCCESS &&
      TransitionDisable.size() == 1) {
    TransitionDisableJson = TransitionDisable[0];
  }
  bool Refreshed = Driver->KeyRefresh().value_or(false);
  // For SAE, the PMK the exchange produced (what the 4-way handshake used).
  json Pmk = nullptr;
  UINT8 PmkBytes[32];
  UINTN PmkSize = sizeof(PmkBytes);
  if ((C.Security.Auth == AuthAlgorithm::Sae || C.Security.Eap) &&
      Driver->Supplicant()->GetData(Driver->Supplicant(), EfiSupplicant80211PMK, PmkBytes, &PmkSize) == EFI_SUCCESS) {
    Pmk = ToHex(PmkBytes, sizeof(PmkBytes));
  }
  // EAP: the method and what the wire showed of the server's handshake.
  json Eap = nullptr;
  if (C.Security.Eap) {
    const EapTlsObserver &Tls = Result.Tls;
    std::string Subject = Tls.ServerCertificate().empty() ? "" : CertificateSubject(Tls.ServerCertificate());
    Eap = {
        {"method", "EAP-TLS"},
        {"result", Result.EapResult.empty() ? json(nullptr) : json(Result.EapResult)},
        {"requests", Result.EapRequests},
        {"tls_version", Tls.Version() ? json(TlsVersionName(*Tls.Version())) : json(nullptr)},
        {"cipher_suite", Tls.Suite() ? json(CipherSuiteName(*Tls.Suite())) : json(nullptr)},
        {"server_subject", Subject.empty() ? json(nullptr) : json(Subject)},
    };
    if (!Tls.Problem().empty()) {
      std::cerr << "sup-sim: reading the server's TLS handshake: " << Tls.Problem() << "\n";
    }
  }
  json Report = {
      {"result", Result.Connected ? "connected" : "failed"},
      {"mode", C.Security.Name},
      {"state", Driver->SupplicantState().value_or(0)},
      {"key_refresh", Refreshed},
      {"ptk", Ptk ? KeyJson(*Ptk, nullptr, 0) : json(nullptr)},
      {"gtk", Gtk && Refreshed ? KeyJson(*Gtk, "rsc", 8) : json(nullptr)},
      {"igtk", Igtk && Refreshed ? KeyJson(*Igtk, "ipn", 6) : json(nullptr)},
      {"bigtk", Bigtk ? KeyJson(*Bigtk, "bipn", 6) : json(nullptr)},
      {"transition_disable", TransitionDisableJson},
      {"pmk", Result.Connected ? Pmk : json(nullptr)},
      {"eap", Eap},
      {"frames_sent", Result.FramesSent},
      {"frames_received", Result.FramesReceived},
      {"drops", Result.Drops},
      {"peer_exit", Result.PeerExit ? json(*Result.PeerExit) : json(nullptr)},
  };
  Driver.reset();  // destroys the child and unloads the driver
  if (!Env.Pool().LeakReport().empty()) {
    std::cerr << "sup-sim: the driver left pool memory behind:\n" << Env.Pool().LeakReport();
  }
  if (Opts.Json) {
    // Names from the wire (the server's subject) need not be UTF-8.
    std::cout << Report.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
  } else {
    PrintKeys(Report);
  }
  if (!Result.Connected) {
    std::cerr << "sup-sim: not connected: " << Result.Failure << "\n";
    return 1;
  }
  if (!Result.Failure.empty()) {
    std::cerr << "sup-sim: connected, then: " << Result.Failure << "\n";
  }
  if (Result.PeerExit != 0) {
    std::cerr << "sup-sim: the access point reported a failure (exit "
              << (Result.PeerExit ? std::to_string(*Result.PeerExit) : "none") << ")\n";
  }
  return 0;
}
