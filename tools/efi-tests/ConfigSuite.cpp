#include "ConfigSuite.h"

#include <Library/BaseMemoryLib.h>
#include <Library/PrintLib.h>

#include "SuiteSupport.h"

namespace {

constexpr UINT8 WpaOui[3] = {0x00, 0x50, 0xF2};
constexpr UINT8 RsnOui[3] = {0x00, 0x0F, 0xAC};
constexpr UINT8 OtherOui[3] = {0x00, 0x10, 0x18};
constexpr UINT8 StationMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr UINT8 TargetMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

// IEEE 802.11 Annex J: pass phrase "password", SSID "IEEE".
constexpr UINT8 AnnexJPskIeee[32] = {0xf4, 0x2c, 0x6f, 0xc5, 0x2d, 0xf0, 0xeb, 0xef, 0x9e, 0xbb, 0x4b,
                                     0x90, 0xb3, 0x8a, 0x5f, 0x90, 0x2e, 0x83, 0xfe, 0x1b, 0x13, 0x5a,
                                     0x70, 0xe2, 0x3a, 0xed, 0x76, 0x2e, 0x97, 0x10, 0xa1, 0x2e};
// IEEE 802.11 Annex J: pass phrase "ThisIsAPassword", SSID "ThisIsASSID".
constexpr UINT8 AnnexJPskThisIs[32] = {0x0d, 0xc0, 0xd6, 0xeb, 0x90, 0x55, 0x5e, 0xd6, 0x41, 0x97, 0x56,
                                       0xb9, 0xa1, 0x5e, 0xc3, 0xe3, 0x20, 0x9b, 0x63, 0xdf, 0x70, 0x7d,
                                       0xd5, 0x08, 0xd1, 0x45, 0x81, 0xf8, 0x98, 0x27, 0x21, 0xaf};

// Own elements assembled by hand from the IEEE 802.11 element formats.
constexpr UINT8 WpaTkipElement[] = {0x00, 0x50, 0xF2, 0x01, 0x01, 0x00, 0x00, 0x50, 0xF2, 0x02, 0x01, 0x00,
                                    0x00, 0x50, 0xF2, 0x02, 0x01, 0x00, 0x00, 0x50, 0xF2, 0x02, 0x00, 0x00};
constexpr UINT8 RsnPskCcmpElement[] = {0x01, 0x00, 0x00, 0x0F, 0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F,
                                       0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F, 0xAC, 0x02, 0x00, 0x00};
constexpr UINT8 RsnSha256MfpRequiredElement[] = {0x01, 0x00, 0x00, 0x0F, 0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F,
                                                 0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F, 0xAC, 0x06, 0xC0, 0x00};
constexpr UINT8 RsnSaeMfpCapableElement[] = {0x01, 0x00, 0x00, 0x0F, 0xAC, 0x04, 0x01, 0x00, 0x00,
                                             0x0F, 0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F, 0xAC, 0x08,
                                             0x80, 0x00, 0x00, 0x00, 0x00, 0x0F, 0xAC, 0x06};

void Name(CHAR8 *Buffer, UINTN Size, const CHAR8 *Prefix, UINTN Number) {
  AsciiSPrint(Buffer, Size, "%a.%u", Prefix, (UINT32)Number);
}

void CheckAkmSuites(TestReporter &Report) {
  TestChild Child(Report);
  // The personal-only driver refuses the 802.1X AKMs the enterprise one takes.
  const bool Enterprise = DriverOffersEapTls(Child, 1);
  struct {
    const UINT8 *Oui;
    UINT8        Type;
    INT32        Protocol;
    UINT32       KeyMgmt;
    UINT32       AkmFlags;
    const CHAR8 *Name;
    bool         EnterpriseOnly;
  } Accepted[] = {
      {WpaOui, 2, 1, 4, 2, "config.akm.wpa-psk", false},
      {RsnOui, 2, 2, 7, 32, "config.akm.rsn-psk", false},
      {RsnOui, 6, 2, 6, 256, "config.akm.psk-sha256", false},
      {RsnOui, 8, 2, 12, 4096, "config.akm.sae", false},
      {RsnOui, 1, 2, 1, 16, "config.akm.8021x", true},
      {RsnOui, 5, 2, 5, 128, "config.akm.8021x-sha256", true},
  };
  for (const auto &Case : Accepted) {
    if (Case.EnterpriseOnly && !Enterprise) {
      continue;
    }
    OneSuite Suite(Case.Oui, Case.Type);
    EFI_STATUS Status = Child.Set(EfiSupplicant80211AKMSuite, Suite.Bytes, sizeof(Suite.Bytes));
    const SUP_INSTANCE *Record = Child.Record();
    Report.Check(Status == EFI_SUCCESS && Record->Protocol == Case.Protocol && Record->KeyMgmt == Case.KeyMgmt &&
                     Record->AkmFlags == Case.AkmFlags,
                 Case.Name);
    UINT8 Read[6] = {};
    UINTN Size = sizeof(Read);
    Report.Check(Child.Get(EfiSupplicant80211AKMSuite, Read, &Size) == EFI_SUCCESS &&
                     CompareMem(Read, Suite.Bytes, sizeof(Read)) == 0,
                 Case.Name);
  }
  struct {
    const UINT8 *Oui;
    UINT8        Type;
    UINTN        Size;
    EFI_STATUS   Expected;
    const CHAR8 *Name;
    bool         PersonalOnly;
  } Refused[] = {
      {WpaOui, 6, 6, EFI_UNSUPPORTED, "config.akm.wpa-oui-sha256-refused", false},
      {WpaOui, 8, 6, EFI_UNSUPPORTED, "config.akm.wpa-oui-sae-refused", false},
      {RsnOui, 1, 6, EFI_UNSUPPORTED, "config.akm.rsn-8021x-refused", true},
      {RsnOui, 5, 6, EFI_UNSUPPORTED, "config.akm.rsn-8021x-sha256-refused", true},
      {RsnOui, 3, 6, EFI_UNSUPPORTED, "config.akm.rsn-ft-8021x-refused", false},
      {OtherOui, 2, 6, EFI_UNSUPPORTED, "config.akm.other-oui-refused", false},
      {RsnOui, 2, 5, EFI_BUFFER_TOO_SMALL, "config.akm.short", false},
  };
  for (const auto &Case : Refused) {
    if (Case.PersonalOnly && Enterprise) {
      continue;
    }
    OneSuite Suite(Case.Oui, Case.Type);
    RecordSnapshot Before(Child);
    EFI_STATUS Status = Child.Set(EfiSupplicant80211AKMSuite, Suite.Bytes, Case.Size);
    Report.Check(Status == Case.Expected && Before.Unchanged(), Case.Name);
  }
}

void CheckCipherSuites(TestReporter &Report) {
  TestChild Child(Report);
  CHAR8 Label[64];
  const UINT8 *Ouis[] = {WpaOui, RsnOui};
  for (const UINT8 *Oui : Ouis) {
    for (UINT8 Type = 0; Type <= 8; ++Type) {
      OneSuite Suite(Oui, Type);
      bool GroupOk = Type == 1 || Type == 2 || Type == 4 || Type == 5;
      bool PairwiseOk = Type == 2 || Type == 4;
      RecordSnapshot Before(Child);
      EFI_STATUS Status = Child.Set(EfiSupplicant80211GroupDataCipherSuite, Suite.Bytes, sizeof(Suite.Bytes));
      Name(Label, sizeof(Label), Oui == WpaOui ? "config.group-cipher.wpa-oui" : "config.group-cipher.rsn-oui", Type);
      Report.Check(GroupOk ? Status == EFI_SUCCESS && Child.Record()->GroupCipher == Type
                           : Status == EFI_UNSUPPORTED && Before.Unchanged(),
                   Label);
      RecordSnapshot BeforePairwise(Child);
      Status = Child.Set(EfiSupplicant80211PairwiseCipherSuite, Suite.Bytes, sizeof(Suite.Bytes));
      Name(Label, sizeof(Label), Oui == WpaOui ? "config.pairwise.wpa-oui" : "config.pairwise.rsn-oui", Type);
      Report.Check(PairwiseOk ? Status == EFI_SUCCESS && Child.Record()->PairwiseCipher == Type
                              : Status == EFI_UNSUPPORTED && BeforePairwise.Unchanged(),
                   Label);
    }
  }
  OneSuite Foreign(OtherOui, 4);
  RecordSnapshot Before(Child);
  Report.Check(Child.Set(EfiSupplicant80211GroupDataCipherSuite, Foreign.Bytes, 6) == EFI_UNSUPPORTED &&
                   Child.Set(EfiSupplicant80211PairwiseCipherSuite, Foreign.Bytes, 6) == EFI_UNSUPPORTED &&
                   Before.Unchanged(),
               "config.cipher.other-oui-refused");

  // Read back with the OUI of the configured protocol.
  OneSuite WpaAkm(WpaOui, 2), Tkip(RsnOui, 2);
  Child.Set(EfiSupplicant80211AKMSuite, WpaAkm.Bytes, 6);
  Child.Set(EfiSupplicant80211GroupDataCipherSuite, Tkip.Bytes, 6);
  UINT8 Read[6];
  UINTN Size = sizeof(Read);
  Report.Check(Child.Get(EfiSupplicant80211GroupDataCipherSuite, Read, &Size) == EFI_SUCCESS &&
                   CompareMem(Read, OneSuite(WpaOui, 2).Bytes, 6) == 0,
               "config.group-cipher.read-with-protocol-oui");
}

void CheckPassphrase(TestReporter &Report) {
  TestChild Child(Report);
  EFI_80211_SSID Ssid = MakeSsid("IEEE");
  Child.Set(EfiSupplicant80211TargetSSIDName, &Ssid, sizeof(Ssid));

  UINT8 NineWithNul[9] = {'p', 'a', 's', 's', 'w', 'o', 'r', 'd', 0};
  Report.Check(Child.Set(EfiSupplicant80211PskPassword, NineWithNul, 9) == EFI_SUCCESS &&
                   Child.Record()->PasswordLen == 8,
               "config.passphrase.nine-with-nul-keeps-eight");
  Report.CheckBytes(Child.Record()->Pmk, AnnexJPskIeee, 32, "config.passphrase.pmk-annex-j-ieee");

  // A short SAE password arrives with its terminator too; the NUL is never
  // part of the password.
  UINT8 TwoWithNul[2] = {'a', 0};
  Report.Check(Child.Set(EfiSupplicant80211PskPassword, TwoWithNul, 2) == EFI_SUCCESS &&
                   Child.Record()->PasswordLen == 1 && Child.Record()->Password[0] == 'a',
               "config.passphrase.short-with-nul-drops-nul");

  UINT8 Long[64];
  SetMem(Long, sizeof(Long), 'x');
  RecordSnapshot Before(Child);
  Report.Check(Child.Set(EfiSupplicant80211PskPassword, Long, 64) == EFI_BUFFER_TOO_SMALL && Before.Unchanged(),
               "config.passphrase.sixty-four-refused");
  Report.Check(Child.Set(EfiSupplicant80211PskPassword, Long, 0) == EFI_BUFFER_TOO_SMALL && Before.Unchanged(),
               "config.passphrase.empty-refused");
  Long[63] = 0;
  Report.Check(Child.Set(EfiSupplicant80211PskPassword, Long, 64) == EFI_SUCCESS && Child.Record()->PasswordLen == 63,
               "config.passphrase.sixty-three-with-nul-accepted");
  Report.Check(Child.Set(EfiSupplicant80211PskPassword, Long, 63) == EFI_SUCCESS && Child.Record()->PasswordLen == 63,
               "config.passphrase.sixty-three-accepted");

  UINT8 Read[64] = {};
  UINTN Size = 0;
  Report.Check(Child.Get(EfiSupplicant80211PskPassword, nullptr, &Size) == EFI_BUFFER_TOO_SMALL && Size == 63,
               "config.passphrase.probe-reports-length");
  Size = sizeof(Read);
  Report.Check(Child.Get(EfiSupplicant80211PskPassword, Read, &Size) == EFI_SUCCESS &&
                   CompareMem(Read, Long, 63) == 0 && Read[63] == 0,
               "config.passphrase.read-back-without-terminator");

  // The SSID set after the pass phrase still reaches the PMK.
  TestChild Later(Report);
  Later.Set(EfiSupplicant80211PskPassword, "ThisIsAPassword", 15);
  EFI_80211_SSID Other = MakeSsid("ThisIsASSID");
  Later.Set(EfiSupplicant80211TargetSSIDName, &Other, sizeof(Other));
  Report.CheckBytes(Later.Record()->Pmk, AnnexJPskThisIs, 32, "config.passphrase.pmk-follows-later-ssid");
  UINT8 Pmk[32];
  Size = sizeof(Pmk);
  Report.Check(Later.Get(EfiSupplicant80211PMK, Pmk, &Size) == EFI_SUCCESS && CompareMem(Pmk, AnnexJPskThisIs, 32) == 0,
               "config.pmk.read");
}

void CheckSsidAndAddresses(TestReporter &Report) {
  TestChild Child(Report);
  EFI_80211_SSID Ssid = MakeSsid("network");
  Report.Check(Child.Set(EfiSupplicant80211TargetSSIDName, &Ssid, sizeof(Ssid)) == EFI_SUCCESS &&
                   Child.Record()->SsidLen == 7,
               "config.ssid.set");
  EFI_80211_SSID TooLong = Ssid;
  TooLong.SSIdLen = 33;
  RecordSnapshot Before(Child);
  Report.Check(Child.Set(EfiSupplicant80211TargetSSIDName, &TooLong, sizeof(TooLong)) == EFI_INVALID_PARAMETER &&
                   Before.Unchanged(),
               "config.ssid.length-above-32-refused");
  Report.Check(Child.Set(EfiSupplicant80211TargetSSIDName, &Ssid, 32) == EFI_BUFFER_TOO_SMALL && Before.Unchanged(),
               "config.ssid.short-buffer");
  EFI_80211_SSID Read;
  SetMem(&Read, sizeof(Read), 0xEE);  // whatever the caller's buffer held
  UINTN Size = sizeof(Read);
  Report.Check(Child.Get(EfiSupplicant80211TargetSSIDName, &Read, &Size) == EFI_SUCCESS &&
                   CompareMem(&Read, &Ssid, sizeof(Ssid)) == 0,
               "config.ssid.read-back");

  UINT8 Mac[6];
  Report.Check(Child.Set(EfiSupplicant80211StationMac, StationMac, 6) == EFI_SUCCESS &&
                   Child.Set(EfiSupplicant80211TargetSSIDMac, TargetMac, 6) == EFI_SUCCESS,
               "config.mac.set");
  Size = sizeof(Mac);
  Report.Check(Child.Get(EfiSupplicant80211StationMac, Mac, &Size) == EFI_SUCCESS && CompareMem(Mac, StationMac, 6) == 0,
               "config.mac.station-read");
  Size = sizeof(Mac);
  Report.Check(Child.Get(EfiSupplicant80211TargetSSIDMac, Mac, &Size) == EFI_SUCCESS && CompareMem(Mac, TargetMac, 6) == 0,
               "config.mac.target-read");
  RecordSnapshot BeforeShort(Child);
  Report.Check(Child.Set(EfiSupplicant80211StationMac, StationMac, 5) == EFI_BUFFER_TOO_SMALL &&
                   Child.Set(EfiSupplicant80211TargetSSIDMac, TargetMac, 5) == EFI_BUFFER_TOO_SMALL &&
                   BeforeShort.Unchanged(),
               "config.mac.short-refused");
}

struct ELEMENT_CASE {
  const UINT8 *AkmOui;
  UINT8        AkmType;
  UINT8        Cipher;
  UINT8        MfpCapable;
  UINT8        MfpRequired;
  const UINT8 *Expected;
  UINTN        ExpectedLength;
  const CHAR8 *Name;
};

void CheckOwnElements(TestReporter &Report) {
  const ELEMENT_CASE Cases[] = {
      {WpaOui, 2, 2, 0, 0, WpaTkipElement, sizeof(WpaTkipElement), "config.own-element.wpa-tkip"},
      {WpaOui, 2, 2, 1, 1, WpaTkipElement, sizeof(WpaTkipElement), "config.own-element.wpa-ignores-mfp"},
      {RsnOui, 2, 4, 0, 0, RsnPskCcmpElement, sizeof(RsnPskCcmpElement), "config.own-element.rsn-psk"},
      {RsnOui, 6, 4, 1, 1, RsnSha256MfpRequiredElement, sizeof(RsnSha256MfpRequiredElement),
       "config.own-element.psk-sha256-mfp-required"},
      {RsnOui, 8, 4, 1, 0, RsnSaeMfpCapableElement, sizeof(RsnSaeMfpCapableElement),
       "config.own-element.sae-mfp-capable"},
  };
  for (const ELEMENT_CASE &Case : Cases) {
    TestChild Child(Report);
    UINT8 Mfp[2] = {Case.MfpCapable, Case.MfpRequired};
    Child.Set(EfiSupplicant80211MfpCapability, Mfp, sizeof(Mfp));
    Child.Configure(Case.AkmOui, Case.AkmType, Case.Cipher, "IEEE", "password", StationMac, TargetMac);
    const SUP_INSTANCE *Record = Child.Record();
    Report.Check(Record->OwnIe == Record->OwnIeBuf && Record->OwnIeLen == Case.ExpectedLength &&
                     CompareMem(Record->OwnIeBuf, Case.Expected, Case.ExpectedLength) == 0,
                 Case.Name);
  }
}

struct PROBE_CASE {
  EFI_SUPPLICANT_DATA_TYPE Type;
  UINTN                    Reported;
};

void CheckSizeProbes(TestReporter &Report) {
  TestChild Child(Report);
  Child.Configure(RsnOui, 2, 4, "IEEE", "password", StationMac, TargetMac);
  const bool Enterprise = DriverOffersEapTls(Child, 1);
  const PROBE_CASE Probes[] = {
      {EfiSupplicant80211AKMSuite, 7},
      {EfiSupplicant80211GroupDataCipherSuite, 7},
      {EfiSupplicant80211PairwiseCipherSuite, 6},
      {EfiSupplicant80211PskPassword, 8},
      {EfiSupplicant80211TargetSSIDName, 33},
      {EfiSupplicant80211StationMac, 6},
      {EfiSupplicant80211TargetSSIDMac, 6},
      {EfiSupplicant80211PTK, 96},
      {EfiSupplicant80211GTK, 100},
      {EfiSupplicantState, 4},
      {EfiSupplicantKeyRefresh, 1},
      // Five suites with the 802.1X AKMs, four without; one octet above each.
      {EfiSupplicant80211SupportedAKMSuites, Enterprise ? 23u : 19u},
      {EfiSupplicant80211SupportedSoftwareCipherSuites, 27},
      {EfiSupplicant80211SupportedHardwareCipherSuites, 23},
      {EfiSupplicant80211IGTK, 100},
      {EfiSupplicant80211PMK, 32},
      {EfiSupplicant80211IGTKKey, 96},
  };
  CHAR8 Label[64];
  for (const PROBE_CASE &Probe : Probes) {
    UINTN Size = 0;
    RecordSnapshot Before(Child);
    EFI_STATUS Status = Child.Get(Probe.Type, nullptr, &Size);
    Name(Label, sizeof(Label), "config.probe.type", Probe.Type);
    Report.Check(Status == EFI_BUFFER_TOO_SMALL && Size == Probe.Reported && Before.Unchanged(), Label);
  }

  UINT8 Buffer[96];
  UINTN Size = 95;
  Report.Check(Child.Get(EfiSupplicant80211PTK, Buffer, &Size) == EFI_BUFFER_TOO_SMALL && Size == 96,
               "config.ptk.95-bytes-too-small");
  Size = 4;
  Report.Check(Child.Get(EfiSupplicant80211PTK, nullptr, &Size) == EFI_INVALID_PARAMETER && Size == 4,
               "config.get.null-data-with-size");
  Report.Check(Child.Get(EfiSupplicant80211PTK, Buffer, nullptr) == EFI_INVALID_PARAMETER,
               "config.get.null-size");
  RecordSnapshot Before(Child);
  Report.Check(Child.Set(EfiSupplicant80211StationMac, nullptr, 6) == EFI_INVALID_PARAMETER && Before.Unchanged(),
               "config.set.null-data-with-size");
}

void CheckUnsupportedTypes(TestReporter &Report) {
  TestChild Child(Report);
  Child.Configure(RsnOui, 2, 4, "IEEE", "password", StationMac, TargetMac);
  UINT8 Buffer[128];
  SetMem(Buffer, sizeof(Buffer), 0x5A);
  bool SetOk = true;
  const UINT32 SetRefused[] = {7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 20, 29, 30, 31, 32, 33, 64, 255, 0x7FFFFFFF};
  for (UINT32 Type : SetRefused) {
    RecordSnapshot Before(Child);
    SetOk = SetOk && Child.Set(static_cast<EFI_SUPPLICANT_DATA_TYPE>(Type), Buffer, sizeof(Buffer)) == EFI_UNSUPPORTED &&
            Before.Unchanged();
  }
  Report.Check(SetOk, "config.set.unsupported-types");
  bool GetOk = true;
  const UINT32 GetRefused[] = {10, 17, 18, 19, 33, 64, 255, 0x7FFFFFFF};
  for (UINT32 Type : GetRefused) {
    RecordSnapshot Before(Child);
    UINTN Size = sizeof(Buffer);
    GetOk = GetOk && Child.Get(static_cast<EFI_SUPPLICANT_DATA_TYPE>(Type), Buffer, &Size) == EFI_UNSUPPORTED &&
            Size == sizeof(Buffer) && Before.Unchanged();
  }
  Report.Check(GetOk, "config.get.unsupported-types");
}

void CheckKeyRecords(TestReporter &Report) {
  TestChild Child(Report);
  Child.Configure(RsnOui, 2, 4, "IEEE", "password", StationMac, TargetMac);
  SUP_INSTANCE *Record = Child.Record();
  EFI_SUPPLICANT_KEY Key;
  SetMem(&Key, sizeof(Key), 0xA5);
  UINTN Size = sizeof(Key);
  Report.Check(Child.Get(EfiSupplicant80211PTK, &Key, &Size) == EFI_SUCCESS && Size == sizeof(Key),
               "config.ptk.read");
  UINT8 Zero[64] = {};
  Report.Check(CompareMem(Key.Key, Record->Tk, 16) == 0 && CompareMem(Key.Key + 16, Zero, 48) == 0 &&
                   Key.KeyLen == 16 && Key.KeyId == 0 && Key.KeyType == Pairwise &&
                   CompareMem(Key.Addr.Addr, TargetMac, 6) == 0,
               "config.ptk.fields");
  Report.Check(Key.Rsc[0] == 0xA5 && Key.RscLen == 0xA5 && Key.IsAuthenticator == 0xA5,
               "config.ptk.other-fields-kept");

  UINT8 List[100];
  SetMem(List, sizeof(List), 0xA5);
  Size = sizeof(List);
  Report.Check(Child.Get(EfiSupplicant80211GTK, List, &Size) == EFI_SUCCESS && List[0] == 1, "config.gtk.list-count");
  CopyMem(&Key, List + 4, sizeof(Key));
  static constexpr UINT8 Broadcast[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  Report.Check(Key.KeyLen == 16 && Key.KeyType == Group && CompareMem(Key.Addr.Addr, Broadcast, 6) == 0 &&
                   Key.RscLen == 8,
               "config.gtk.list-fields");

  UINT32 State = 0;
  Size = sizeof(State);
  Report.Check(Child.Get(EfiSupplicantState, &State, &Size) == EFI_SUCCESS && State == EfiEapolSupplicantAcquired,
               "config.state.fresh-child-acquired");
  UINT8 Refresh = 0xFF;
  Size = 1;
  Report.Check(Child.Get(EfiSupplicantKeyRefresh, &Refresh, &Size) == EFI_SUCCESS && Refresh == 0,
               "config.key-refresh.fresh-child");

  UINT8 GivenPmk[32];
  for (UINT8 Index = 0; Index < 32; ++Index) {
    GivenPmk[Index] = Index;
  }
  RecordSnapshot Before(Child);
  Report.Check(Child.Set(EfiSupplicant80211PMK, GivenPmk, 31) == EFI_BUFFER_TOO_SMALL &&
                   Child.Set(EfiSupplicant80211PMK, GivenPmk, 33) == EFI_INVALID_PARAMETER && Before.Unchanged(),
               "config.pmk.wrong-size-refused");
  Report.Check(Child.Set(EfiSupplicant80211PMK, GivenPmk, 32) == EFI_SUCCESS &&
                   CompareMem(Record->Pmk, GivenPmk, 32) == 0,
               "config.pmk.given");
  // A given PMK is not replaced by the pass-phrase derivation.
  EFI_80211_SSID Ssid = MakeSsid("another");
  Child.Set(EfiSupplicant80211TargetSSIDName, &Ssid, sizeof(Ssid));
  Report.CheckBytes(Record->Pmk, GivenPmk, 32, "config.pmk.given-survives-ssid-change");
}

void CheckGroupMgmtAndMfp(TestReporter &Report) {
  TestChild Child(Report);
  OneSuite Bip(RsnOui, 6), Other(RsnOui, 5), Wpa(WpaOui, 6);
  Report.Check(Child.Set(EfiSupplicant80211GroupMgmtCipherSuite, Bip.Bytes, 6) == EFI_SUCCESS &&
                   Child.Record()->GroupMgmtCipher == 64,
               "config.group-mgmt.bip-cmac");
  Report.Check(Child.Set(EfiSupplicant80211GroupMgmtCipherSuite, Other.Bytes, 6) == EFI_SUCCESS &&
                   Child.Record()->GroupMgmtCipher == 0,
               "config.group-mgmt.other-type-clears");
  RecordSnapshot Before(Child);
  Report.Check(Child.Set(EfiSupplicant80211GroupMgmtCipherSuite, Wpa.Bytes, 6) == EFI_UNSUPPORTED &&
                   Child.Set(EfiSupplicant80211GroupMgmtCipherSuite, Bip.Bytes, 5) == EFI_BUFFER_TOO_SMALL &&
                   Before.Unchanged(),
               "config.group-mgmt.refused");
  UINT8 Mfp[2] = {1, 0};
  Report.Check(Child.Set(EfiSupplicant80211MfpCapability, Mfp, 2) == EFI_SUCCESS && Child.Record()->MfpCapable == 1 &&
                   Child.Record()->MfpRequired == 0,
               "config.mfp.set");
  RecordSnapshot BeforeMfp(Child);
  Report.Check(Child.Set(EfiSupplicant80211MfpCapability, Mfp, 1) == EFI_BUFFER_TOO_SMALL && BeforeMfp.Unchanged(),
               "config.mfp.short-refused");
}

void CheckEapConfiguration(TestReporter &Report) {
  TestChild Child(Report);
  EFI_EAP_CONFIGURATION_PROTOCOL *Eap = Child.EapConfig();
  UINTN Size = 0;
  Report.Check(Eap->GetData(Eap, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapSupportedAuthMethod, nullptr, &Size) ==
                       EFI_SUCCESS &&
                   Size == 1,
               "config.eap.supported-method-size");
  UINT8 Method = 0;
  Size = 1;
  Report.Check(Eap->GetData(Eap, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapSupportedAuthMethod, &Method, &Size) ==
                       EFI_SUCCESS &&
                   Method == EFI_EAP_TYPE_EAPTLS,
               "config.eap.supported-method-tls");
  Report.Check(Eap->GetData(Eap, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapSupportedAuthMethod, &Method, nullptr) ==
                   EFI_INVALID_PARAMETER,
               "config.eap.get-null-size");
  UINT8 Tls = EFI_EAP_TYPE_EAPTLS;
  Report.Check(Eap->SetData(Eap, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapAuthMethod, &Tls, 1) == EFI_SUCCESS &&
                   Child.Record()->EapAuthMethod == EFI_EAP_TYPE_EAPTLS,
               "config.eap.auth-method");
  static UINT8 Certificate[40];
  Report.Check(Eap->SetData(Eap, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, Certificate, sizeof(Certificate)) ==
                       EFI_SUCCESS &&
                   Child.Record()->EapCaCert == Certificate && Child.Record()->EapCaCertSize == sizeof(Certificate),
               "config.eap.ca-cert-by-reference");
  RecordSnapshot Before(Child);
  Report.Check(Eap->SetData(Eap, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCipherSuite, Certificate, 4) ==
                       EFI_UNSUPPORTED &&
                   Eap->SetData(Eap, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, nullptr, 4) == EFI_INVALID_PARAMETER &&
                   Eap->SetData(Eap, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, Certificate, 0) ==
                       EFI_INVALID_PARAMETER &&
                   Before.Unchanged(),
               "config.eap.refused");
}

}  // namespace

void RunConfigSuite(TestReporter &Report) {
  CheckAkmSuites(Report);
  CheckCipherSuites(Report);
  CheckPassphrase(Report);
  CheckSsidAndAddresses(Report);
  CheckOwnElements(Report);
  CheckSizeProbes(Report);
  CheckUnsupportedTypes(Report);
  CheckKeyRecords(Report);
  CheckGroupMgmtAndMfp(Report);
  CheckEapConfiguration(Report);
}
