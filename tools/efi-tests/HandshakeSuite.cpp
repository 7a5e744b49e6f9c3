#include "HandshakeSuite.h"

#include <Authenticator.h>
#include <Library/BaseMemoryLib.h>
#include <Library/PrintLib.h>

#include "SuiteSupport.h"
#include "crypto/Kdf.h"

namespace {

using authenticator::Authenticator;
using authenticator::VERDICT;

constexpr UINT8 RsnOui[3] = {0x00, 0x0F, 0xAC};
constexpr UINT8 StationMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr UINT8 ApMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
constexpr CHAR8 Ssid[] = "OvmfNet";
constexpr CHAR8 Passphrase[] = "firmware pass phrase";
constexpr UINT8 Ccmp = 4;

struct HANDSHAKE_CASE {
  const CHAR8        *Name;
  authenticator::MODE Mode;
  UINT8               AkmType;
  bool                Mfp;
  // The access point runs as WPA3 access points do today: BIGTK, OCI and
  // transition-disable KDEs, an RSNXE, and the station is told its beacon's
  // elements.
  bool                R3 = false;
};

constexpr UINT8 HashToElementRsnxe[3] = {0xF4, 0x01, 0x20};
constexpr UINT8 Oci[3] = {81, 6, 0};
constexpr UINT8 TransitionDisableWpa3Personal = 0x01;

class HandshakeRun {
 public:
  HandshakeRun(TestReporter &Report, const TestChild &Child, const HANDSHAKE_CASE &Case,
               const UINT8 *StaMac = StationMac, const UINT8 *ApAddress = ApMac)
      : Report_(Report), Child_(Child), Case_(Case), StaMac_(StaMac), ApMac_(ApAddress) {}

  // Configures the station, starts the access point with the PMK of the
  // pass phrase; false when either fails.
  bool Start() {
    if (!Child_.Configure(RsnOui, Case_.AkmType, Ccmp, Ssid, Passphrase, StaMac_, ApMac_)) {
      return Check(false, "configured");
    }
    UINT8 Pmk[authenticator::PMK_LEN];
    if (psk_from_passphrase(Passphrase, sizeof(Passphrase) - 1, Ssid, sizeof(Ssid) - 1, Pmk) != 1) {
      return Check(false, "access-point-pmk");
    }
    return StartWithPmk(Pmk);
  }

  // For a station already configured (and authenticated, for SAE): the
  // access point starts with the given PMK.
  bool StartWithPmk(const UINT8 *Pmk) {
    if (Case_.Mfp) {
      UINT8 Wishes[2] = {1, 1};
      OneSuite Bip(RsnOui, 6);
      if (EFI_ERROR(Child_.Set(EfiSupplicant80211MfpCapability, Wishes, 2)) ||
          EFI_ERROR(Child_.Set(EfiSupplicant80211GroupMgmtCipherSuite, Bip.Bytes, 6))) {
        return Check(false, "configured");
      }
    }
    authenticator::CONFIG Config = {};
    Config.Mode = Case_.Mode;
    CopyMem(Config.ApMac, ApMac_, 6);
    CopyMem(Config.StaMac, StaMac_, 6);
    CopyMem(Config.Pmk, Pmk, authenticator::PMK_LEN);
    Config.Mfp = Case_.Mfp;
    authenticator::MFP_POLICY Policy = {Case_.Mfp, Case_.Mfp};
    Config.StationElementLength = authenticator::BuildSecurityElement(Case_.Mode, Policy, Config.StationElement);
    // A station using hash-to-element also sends its RSNXE (in its
    // association request, then in message 2).
    UINTN RsnxeSize = sizeof(Config.StationElement) - Config.StationElementLength;
    if (Child_.Get(EfiSupplicantStationRsnxElement, Config.StationElement + Config.StationElementLength,
                   &RsnxeSize) == EFI_SUCCESS) {
      Config.StationElementLength += RsnxeSize;
    }
    Config.ApElementLength = authenticator::BuildSecurityElement(Case_.Mode, Policy, Config.ApElement);
    Config.Random = Random_.Source();
    if (Case_.R3) {
      Config.ApElementLength = authenticator::BuildApElement(Case_.Mode, Policy, Config.ApElement);
      CopyMem(Config.ApRsnxElement, HashToElementRsnxe, sizeof(HashToElementRsnxe));
      Config.ApRsnxElementLength = sizeof(HashToElementRsnxe);
      Config.R3Kdes = true;
      CopyMem(Config.Oci, Oci, sizeof(Oci));
      Config.TransitionDisable = TransitionDisableWpa3Personal;
      bool HandedIn = !EFI_ERROR(Child_.Set(EfiSupplicantApRsnElement, Config.ApElement, Config.ApElementLength)) &&
                      !EFI_ERROR(Child_.Set(EfiSupplicantApRsnxElement, HashToElementRsnxe,
                                            sizeof(HashToElementRsnxe)));
      if (!Check(HandedIn, "beacon-elements-handed-in")) {
        return false;
      }
    }
    Ap_.Start(Config);
    return Check(true, "configured");
  }

  // One frame from the access point, answered by the station, the answer
  // checked by the access point.
  bool Step(UINTN (Authenticator::*Make)(UINT8 *, UINTN), VERDICT (Authenticator::*Accept)(const UINT8 *, UINTN),
            const CHAR8 *What) {
    UINT8 Frame[authenticator::MAX_FRAME_LEN];
    UINTN Length = (Ap_.*Make)(Frame, sizeof(Frame));
    UINT8 Answer[512];
    UINTN Size = sizeof(Answer);
    EFI_SUPPLICANT_PROTOCOL *Station = Child_.Supplicant();
    EFI_STATUS Status = Station->BuildResponsePacket(Station, Frame, Length, Answer, &Size);
    VERDICT Verdict = Status == EFI_SUCCESS ? (Ap_.*Accept)(Answer, Size) : VERDICT::Malformed;
    if (Verdict != VERDICT::Ok) {
      Report_.Info("%a %a: status %r, access point says %a", Case_.Name, What, Status,
                   authenticator::VerdictName(Verdict));
    }
    return Check(Verdict == VERDICT::Ok, What);
  }

  // A frame the station must refuse without a trace.
  void Refused(const UINT8 *Frame, UINTN Length, const CHAR8 *What) {
    RecordSnapshot Before(Child_);
    UINT8 Answer[512];
    UINTN Size = sizeof(Answer);
    EFI_SUPPLICANT_PROTOCOL *Station = Child_.Supplicant();
    UINT8 Request[authenticator::MAX_FRAME_LEN];
    CopyMem(Request, Frame, Length);
    EFI_STATUS Status = Station->BuildResponsePacket(Station, Request, Length, Answer, &Size);
    Check(Status == EFI_PROTOCOL_ERROR && Size == sizeof(Answer) && Before.Unchanged(), What);
  }

  void KeysMatch(const CHAR8 *What) {
    EFI_SUPPLICANT_KEY Ptk;
    EFI_SUPPLICANT_GTK_LIST Gtk;
    UINTN Size = sizeof(Ptk);
    bool PtkOk = !EFI_ERROR(Child_.Get(EfiSupplicant80211PTK, &Ptk, &Size)) && Ptk.KeyLen == Ap_.TkLength() &&
                 CompareMem(Ptk.Key, Ap_.Tk(), Ap_.TkLength()) == 0;
    Size = sizeof(Gtk);
    const authenticator::GROUP_KEY &ApGtk = Ap_.Gtk();
    bool GtkOk = !EFI_ERROR(Child_.Get(EfiSupplicant80211GTK, &Gtk, &Size)) && Gtk.GTKCount == 1 &&
                 Gtk.GTKList[0].KeyLen == ApGtk.Length && CompareMem(Gtk.GTKList[0].Key, ApGtk.Key, ApGtk.Length) == 0 &&
                 Gtk.GTKList[0].KeyId == ApGtk.KeyId && CompareMem(Gtk.GTKList[0].Rsc, ApGtk.Rsc, 8) == 0;
    bool IgtkOk = true;
    if (Case_.Mfp) {
      EFI_SUPPLICANT_KEY Igtk;
      Size = sizeof(Igtk);
      const authenticator::GROUP_KEY &ApIgtk = Ap_.Igtk();
      IgtkOk = !EFI_ERROR(Child_.Get(EfiSupplicant80211IGTKKey, &Igtk, &Size)) && Igtk.KeyLen == ApIgtk.Length &&
               CompareMem(Igtk.Key, ApIgtk.Key, ApIgtk.Length) == 0 && Igtk.KeyId == ApIgtk.KeyId &&
               CompareMem(Igtk.Rsc, ApIgtk.Rsc, 6) == 0;
    }
    Check(PtkOk && GtkOk && IgtkOk, What);
  }

  // BIGTK (under KeyId), transition disable and OCI as the access point sent them.
  void R3KdesMatch(UINT8 KeyId, const CHAR8 *What) {
    EFI_SUPPLICANT_KEY Bigtk;
    UINTN Size = sizeof(Bigtk);
    const authenticator::GROUP_KEY &ApBigtk = Ap_.Bigtk();
    bool BigtkOk = !EFI_ERROR(Child_.Get(EfiSupplicantBigtk, &Bigtk, &Size)) && Bigtk.KeyLen == ApBigtk.Length &&
                   CompareMem(Bigtk.Key, ApBigtk.Key, ApBigtk.Length) == 0 && Bigtk.KeyId == KeyId &&
                   ApBigtk.KeyId == KeyId && Bigtk.RscLen == 6 && CompareMem(Bigtk.Rsc, ApBigtk.Rsc, 6) == 0;
    UINT8 Bitmap = 0;
    Size = sizeof(Bitmap);
    bool TransitionDisableOk = !EFI_ERROR(Child_.Get(EfiSupplicantTransitionDisable, &Bitmap, &Size)) &&
                               Bitmap == TransitionDisableWpa3Personal;
    UINT8 Channel[8] = {};
    Size = sizeof(Channel);
    bool OciOk = !EFI_ERROR(Child_.Get(EfiSupplicantOperatingChannelInfo, Channel, &Size)) && Size == sizeof(Oci) &&
                 CompareMem(Channel, Oci, sizeof(Oci)) == 0;
    Check(BigtkOk && TransitionDisableOk && OciOk, What);
  }

  const HANDSHAKE_CASE &Case() const { return Case_; }

  void StateIs(UINT32 Expected, const CHAR8 *What) {
    UINT32 State = 0;
    UINTN Size = sizeof(State);
    Check(!EFI_ERROR(Child_.Get(EfiSupplicantState, &State, &Size)) && State == Expected, What);
  }

  Authenticator &Ap() { return Ap_; }

 private:
  bool Check(bool Ok, const CHAR8 *What) {
    CHAR8 Name[96];
    AsciiSPrint(Name, sizeof(Name), "handshake.%a.%a", Case_.Name, What);
    return Report_.Check(Ok, Name);
  }

  TestReporter         &Report_;
  const TestChild      &Child_;
  const HANDSHAKE_CASE &Case_;
  const UINT8          *StaMac_;
  const UINT8          *ApMac_;
  TestRandom            Random_;
  Authenticator         Ap_;
};

// The 4-way handshake, a group handshake, the refusals and a rekey.
void RunHandshakes(HandshakeRun &Run) {
  if (!Run.Step(&Authenticator::Message1, &Authenticator::AcceptMessage2, "message-2-accepted")) {
    return;
  }
  Run.StateIs(EfiEapolSupplicantAuthenticating, "state-authenticating");
  bool R3 = Run.Case().R3;
  UINT8 Frame[authenticator::MAX_FRAME_LEN];
  UINTN Length = 0;
  if (R3) {
    Length = Run.Ap().FaultyMessage3(authenticator::FAULT::DowngradedRsne, Frame, sizeof(Frame));
    Run.Refused(Frame, Length, "downgraded-message-3-refused");
  }
  if (!Run.Step(&Authenticator::Message3, &Authenticator::AcceptMessage4, "message-4-accepted")) {
    return;
  }
  Run.StateIs(EfiEapolSupplicantAuthenticated, "state-authenticated");
  Run.KeysMatch("keys-after-4-way");
  if (R3) {
    Run.R3KdesMatch(6, "r3-kdes-after-4-way");
  }

  Length = Run.Ap().LastFrame(Frame, sizeof(Frame));
  Run.Refused(Frame, Length, "replayed-message-3-refused");
  if (!Run.Step(&Authenticator::GroupMessage1, &Authenticator::AcceptGroupMessage2, "group-message-2-accepted")) {
    return;
  }
  Run.KeysMatch("keys-after-group-handshake");
  if (R3) {
    Run.R3KdesMatch(7, "bigtk-after-group-handshake");
  }
  Length = Run.Ap().LastFrame(Frame, sizeof(Frame));
  Run.Refused(Frame, Length, "replayed-group-message-1-refused");
  Length = Run.Ap().FaultyGroupMessage1(authenticator::FAULT::ForgedMic, Frame, sizeof(Frame));
  Run.Refused(Frame, Length, "forged-group-message-1-refused");
  Run.Step(&Authenticator::GroupMessage1, &Authenticator::AcceptGroupMessage2, "rekey-accepted");
  Run.KeysMatch("keys-after-rekey");
  if (R3) {
    Run.R3KdesMatch(6, "bigtk-after-rekey");
  }
}

void RunCase(TestReporter &Report, const HANDSHAKE_CASE &Case) {
  TestChild Child(Report);
  if (!Child.Ok()) {
    return;
  }
  HandshakeRun Run(Report, Child, Case);
  if (Run.Start()) {
    RunHandshakes(Run);
  }
}

}  // namespace

void RunSaeHandshakes(TestReporter &Report, const TestChild &Child, const UINT8 *StaMac, const UINT8 *ApAddress,
                      const UINT8 *Pmk, const CHAR8 *Name) {
  const HANDSHAKE_CASE Sae = {Name, authenticator::MODE::Wpa3Sae, 8, true, true};
  HandshakeRun Run(Report, Child, Sae, StaMac, ApAddress);
  if (Run.StartWithPmk(Pmk)) {
    RunHandshakes(Run);
  }
}

void RunEapHandshakes(TestReporter &Report, const TestChild &Child, UINT8 AkmType, const UINT8 *StaMac,
                      const UINT8 *ApAddress, const UINT8 *Pmk, const CHAR8 *Name) {
  const HANDSHAKE_CASE Eap = {Name, AkmType == 5 ? authenticator::MODE::Wpa2EapSha256 : authenticator::MODE::Wpa2Eap,
                              AkmType, false};
  HandshakeRun Run(Report, Child, Eap, StaMac, ApAddress);
  if (Run.StartWithPmk(Pmk)) {
    RunHandshakes(Run);
  }
}

void RunHandshakeSuite(TestReporter &Report) {
  static constexpr HANDSHAKE_CASE Cases[] = {
      {"wpa2-psk", authenticator::MODE::Wpa2Psk, 2, false},
      {"psk-sha256-mfp", authenticator::MODE::Wpa2PskSha256, 6, true},
      {"psk-sha256-r3", authenticator::MODE::Wpa2PskSha256, 6, true, true},
  };
  for (const HANDSHAKE_CASE &Case : Cases) {
    RunCase(Report, Case);
  }
}
