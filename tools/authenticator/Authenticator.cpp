#include "Authenticator.h"

#include "crypto/Aes.h"
#include "crypto/AesCmac.h"
#include "crypto/Hmac.h"
#include "crypto/Kdf.h"
#include "crypto/Rc4.h"

namespace authenticator {
namespace {

// EAPOL-Key layout (offsets from the protocol version byte).
constexpr UINTN OffsetBodyLength = 2;
constexpr UINTN OffsetDescriptorType = 4;
constexpr UINTN OffsetKeyInfo = 5;
constexpr UINTN OffsetKeyLength = 7;
constexpr UINTN OffsetReplayCounter = 9;
constexpr UINTN OffsetNonce = 17;
constexpr UINTN OffsetKeyIv = 49;
constexpr UINTN OffsetRsc = 65;
constexpr UINTN OffsetReserved = 73;
constexpr UINTN OffsetMic = 81;
constexpr UINTN OffsetKeyDataLength = 97;
constexpr UINTN OffsetKeyData = 99;
constexpr UINTN FixedLength = 99;
constexpr UINTN MicLength = 16;

constexpr UINT16 InfoPairwise = 0x0008;
constexpr UINT16 InfoKeyIndexShift = 4;
constexpr UINT16 InfoInstall = 0x0040;
constexpr UINT16 InfoAck = 0x0080;
constexpr UINT16 InfoMic = 0x0100;
constexpr UINT16 InfoSecure = 0x0200;
constexpr UINT16 InfoEncryptedKeyData = 0x1000;

constexpr UINT8 DescriptorRsn = 2;
constexpr UINT8 DescriptorWpa = 254;

constexpr UINT8 RsnOui[3] = {0x00, 0x0F, 0xAC};
constexpr UINT8 WpaOui[3] = {0x00, 0x50, 0xF2};
constexpr UINT8 ElementRsn = 48;
constexpr UINT8 ElementVendor = 221;

constexpr UINTN Rc4Discard = 256;
constexpr UINTN GtkKeyIdFirst = 1;
constexpr UINTN IgtkKeyIdFirst = 4;
constexpr UINTN BigtkKeyIdFirst = 6;
// This much padding takes any key data past the 256 bytes a station needs
// to decrypt.
constexpr UINTN OversizePadding = 240;

VOID Copy(VOID *To, const VOID *From, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    static_cast<UINT8 *>(To)[Index] = static_cast<const UINT8 *>(From)[Index];
  }
}

VOID Zero(VOID *To, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    static_cast<UINT8 *>(To)[Index] = 0;
  }
}

bool Equal(const UINT8 *A, const UINT8 *B, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    if (A[Index] != B[Index]) {
      return false;
    }
  }
  return true;
}

bool AllZero(const UINT8 *Bytes, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    if (Bytes[Index] != 0) {
      return false;
    }
  }
  return true;
}

// Negative, zero or positive as A sorts before, with or after B.
int CompareBytes(const UINT8 *A, const UINT8 *B, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    if (A[Index] != B[Index]) {
      return A[Index] < B[Index] ? -1 : 1;
    }
  }
  return 0;
}

UINT16 Be16(const UINT8 *Bytes) { return (UINT16)((Bytes[0] << 8) | Bytes[1]); }
VOID PutBe16(UINT8 *Bytes, UINTN Value) {
  Bytes[0] = (UINT8)(Value >> 8);
  Bytes[1] = (UINT8)Value;
}
UINT64 Be64(const UINT8 *Bytes) {
  UINT64 Value = 0;
  for (UINTN Index = 0; Index < 8; ++Index) {
    Value = (Value << 8) | Bytes[Index];
  }
  return Value;
}
VOID PutBe64(UINT8 *Bytes, UINT64 Value) {
  for (UINTN Index = 0; Index < 8; ++Index) {
    Bytes[7 - Index] = (UINT8)(Value >> (8 * Index));
  }
}

// Appends bytes to a buffer.
class Writer {
 public:
  explicit Writer(UINT8 *Out) : Out_(Out) {}
  VOID Byte(UINT8 Value) { Out_[Length_++] = Value; }
  VOID Le16(UINT16 Value) {
    Byte((UINT8)Value);
    Byte((UINT8)(Value >> 8));
  }
  VOID Bytes(const UINT8 *Data, UINTN Count) {
    Copy(Out_ + Length_, Data, Count);
    Length_ += Count;
  }
  VOID Suite(const UINT8 *Oui, UINT8 Type) {
    Bytes(Oui, 3);
    Byte(Type);
  }
  UINTN Length() const { return Length_; }
  UINT8 *At(UINTN Offset) { return Out_ + Offset; }

 private:
  UINT8 *Out_;
  UINTN  Length_ = 0;
};

UINT8 AkmSuiteType(MODE Mode) {
  switch (Mode) {
    case MODE::Wpa2PskSha256:
      return 6;
    case MODE::Wpa3Sae:
      return 8;
    case MODE::Wpa2Eap:
      return 1;
    case MODE::Wpa2EapSha256:
      return 5;
    default:
      return 2;
  }
}

bool UsesSha256(MODE Mode) {
  return Mode == MODE::Wpa2PskSha256 || Mode == MODE::Wpa3Sae || Mode == MODE::Wpa2EapSha256;
}

}  // namespace

bool IsRsn(MODE Mode) { return Mode != MODE::WpaPskTkip; }

UINT8 ApDescriptorVersion(MODE Mode) {
  switch (Mode) {
    case MODE::WpaPskTkip:
      return 1;
    case MODE::Wpa2Psk:
    case MODE::Wpa2Eap:
      return 2;
    case MODE::Wpa2PskSha256:
    case MODE::Wpa2EapSha256:
      return 3;
    case MODE::Wpa3Sae:
      return 0;
  }
  return 2;
}

// The station answers in the version of the access point's frames.
UINT8 StationDescriptorVersion(MODE Mode) { return ApDescriptorVersion(Mode); }

UINTN PairwiseKeyLength(MODE Mode) { return Mode == MODE::WpaPskTkip ? 32 : 16; }
UINTN GroupKeyLength(MODE Mode) { return Mode == MODE::WpaPskTkip ? 32 : 16; }

UINTN BuildSecurityElement(MODE Mode, MFP_POLICY Mfp, UINT8 *Out) {
  Writer Element(Out);
  bool Rsn = IsRsn(Mode);
  const UINT8 *Oui = Rsn ? RsnOui : WpaOui;
  UINT8 Cipher = Rsn ? 4 : 2;
  Element.Byte(Rsn ? ElementRsn : ElementVendor);
  Element.Byte(0);  // length, filled in below
  if (!Rsn) {
    Element.Suite(WpaOui, 1);
  }
  Element.Le16(1);  // version
  Element.Suite(Oui, Cipher);
  Element.Le16(1);
  Element.Suite(Oui, Cipher);
  Element.Le16(1);
  Element.Suite(Oui, AkmSuiteType(Mode));
  UINT16 Capabilities = 0;
  if (Rsn && Mfp.Capable) {
    Capabilities |= 0x0080;
    if (Mfp.Required) {
      Capabilities |= 0x0040;
    }
  }
  Element.Le16(Capabilities);
  if (Mode == MODE::Wpa3Sae) {
    Element.Le16(0);             // PMKID count
    Element.Suite(RsnOui, 6);    // BIP-CMAC-128
  }
  *Element.At(1) = (UINT8)(Element.Length() - 2);
  return Element.Length();
}

UINTN BuildApElement(MODE Mode, MFP_POLICY Mfp, UINT8 *Out) {
  Writer Element(Out);
  bool Rsn = IsRsn(Mode);
  const UINT8 *Oui = Rsn ? RsnOui : WpaOui;
  UINT8 Cipher = Rsn ? 4 : 2;
  Element.Byte(Rsn ? ElementRsn : ElementVendor);
  Element.Byte(0);  // length, filled in below
  if (!Rsn) {
    Element.Suite(WpaOui, 1);
  }
  Element.Le16(1);
  Element.Suite(Oui, Cipher);
  Element.Le16(1);
  Element.Suite(Oui, Cipher);
  Element.Le16(1);
  Element.Suite(Oui, AkmSuiteType(Mode));
  if (Rsn) {
    Element.Le16((UINT16)((Mfp.Capable || Mfp.Required ? 0x0080 : 0) | (Mfp.Required ? 0x0040 : 0)));
  }
  *Element.At(1) = (UINT8)(Element.Length() - 2);
  return Element.Length();
}

UINTN BuildKeyFrame(const KEY_FRAME &Frame, UINT8 *Out, UINTN Capacity) {
  UINTN Length = FixedLength + Frame.KeyDataLength;
  if (Length > Capacity) {
    return 0;
  }
  Zero(Out, Length);
  Out[0] = 2;  // 802.1X-2004
  Out[1] = 3;  // EAPOL-Key
  PutBe16(Out + OffsetBodyLength, Length - 4);
  Out[OffsetDescriptorType] = Frame.DescriptorType;
  PutBe16(Out + OffsetKeyInfo, Frame.KeyInfo);
  PutBe16(Out + OffsetKeyLength, Frame.KeyLength);
  PutBe64(Out + OffsetReplayCounter, Frame.ReplayCounter);
  Copy(Out + OffsetNonce, Frame.Nonce, NONCE_LEN);
  Copy(Out + OffsetKeyIv, Frame.KeyIv, sizeof(Frame.KeyIv));
  Copy(Out + OffsetRsc, Frame.Rsc, RSC_LEN);
  PutBe16(Out + OffsetKeyDataLength, Frame.KeyDataLength);
  Copy(Out + OffsetKeyData, Frame.KeyData, Frame.KeyDataLength);
  if ((Frame.KeyInfo & InfoMic) != 0 && Frame.Kck != nullptr) {
    ComputeMic(Out, Length, (UINT8)(Frame.KeyInfo & 7), Frame.Kck, Out + OffsetMic);
  }
  return Length;
}

bool ComputeMic(const UINT8 *Frame, UINTN Length, UINT8 Version, const UINT8 *Kck, UINT8 *Mic) {
  UINT8 Work[MAX_FRAME_LEN];
  if (Length > sizeof(Work) || Length < FixedLength) {
    return false;
  }
  Copy(Work, Frame, Length);
  Zero(Work + OffsetMic, MicLength);
  switch (Version) {
    case 1:
      return mic_hmac_md5(Work, Length, Kck, KCK_LEN, Mic) == EFI_SUCCESS;
    case 2: {
      UINT8 Full[20];
      mic_hmac_sha1(Work, Length, Kck, KCK_LEN, Full);
      Copy(Mic, Full, MicLength);
      return true;
    }
    case 0:
    case 3: {
      UINTN MacLength = 0;
      mic_aes_cmac(Work, Length, Kck, KCK_LEN, Mic, &MacLength);
      return MacLength == MicLength;
    }
    default:
      return false;
  }
}

VOID AesKeyWrap(const UINT8 *Kek, const UINT8 *Plaintext, UINTN Length, UINT8 *Out) {
  aes_key_schedule Schedule;
  int Rounds = aes_set_encrypt_key(&Schedule, Kek, 128);
  UINTN Blocks = Length / 8;
  UINT8 A[8];
  for (UINT8 &Byte : A) {
    Byte = 0xA6;
  }
  UINT8 *R = Out + 8;
  Copy(R, Plaintext, Length);
  for (UINTN Step = 0; Step < 6; ++Step) {
    for (UINTN Index = 1; Index <= Blocks; ++Index) {
      UINT8 B[16];
      Copy(B, A, 8);
      Copy(B + 8, R + 8 * (Index - 1), 8);
      aes_encrypt_block(&Schedule, Rounds, B, B);
      UINT64 T = Blocks * Step + Index;
      for (UINTN Byte = 0; Byte < 8; ++Byte) {
        A[Byte] = (UINT8)(B[Byte] ^ (UINT8)(T >> (8 * (7 - Byte))));
      }
      Copy(R + 8 * (Index - 1), B + 8, 8);
    }
  }
  Copy(Out, A, 8);
}

VOID DerivePtk(MODE Mode, const UINT8 *Pmk, const UINT8 *ApMac, const UINT8 *StaMac, const UINT8 *ANonce,
               const UINT8 *SNonce, UINT8 *Ptk) {
  UINT8 Data[2 * MAC_LEN + 2 * NONCE_LEN];
  bool ApFirst = CompareBytes(ApMac, StaMac, MAC_LEN) < 0;
  Copy(Data, ApFirst ? ApMac : StaMac, MAC_LEN);
  Copy(Data + MAC_LEN, ApFirst ? StaMac : ApMac, MAC_LEN);
  bool ANonceFirst = CompareBytes(ANonce, SNonce, NONCE_LEN) < 0;
  Copy(Data + 2 * MAC_LEN, ANonceFirst ? ANonce : SNonce, NONCE_LEN);
  Copy(Data + 2 * MAC_LEN + NONCE_LEN, ANonceFirst ? SNonce : ANonce, NONCE_LEN);
  Zero(Ptk, PTK_LEN);
  if (UsesSha256(Mode)) {
    kdf_sha256(Pmk, PMK_LEN, "Pairwise key expansion", Data, sizeof(Data), Ptk, 48);
  } else {
    UINT8 Output[80];
    prf_sha1(Pmk, PMK_LEN, "Pairwise key expansion", 22, Data, sizeof(Data), Output, PTK_LEN);
    Copy(Ptk, Output, PTK_LEN);
  }
}

const CHAR8 *VerdictName(VERDICT Verdict) {
  switch (Verdict) {
    case VERDICT::Ok:
      return "ok";
    case VERDICT::OutOfTurn:
      return "out-of-turn";
    case VERDICT::Malformed:
      return "malformed";
    case VERDICT::WrongHeader:
      return "wrong-eapol-header";
    case VERDICT::WrongDescriptorType:
      return "wrong-descriptor-type";
    case VERDICT::WrongKeyInformation:
      return "wrong-key-information";
    case VERDICT::WrongKeyLength:
      return "wrong-key-length";
    case VERDICT::WrongReplayCounter:
      return "wrong-replay-counter";
    case VERDICT::WrongNonce:
      return "wrong-nonce";
    case VERDICT::NonZeroField:
      return "non-zero-iv-rsc-or-reserved";
    case VERDICT::WrongKeyData:
      return "wrong-key-data";
    case VERDICT::BadMic:
      return "bad-mic";
    case VERDICT::ReusedNonce:
      return "snonce-not-fresh";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// Authenticator
// ---------------------------------------------------------------------------

VOID Authenticator::Start(const CONFIG &Config) {
  Config_ = Config;
  Stage_ = STAGE::Idle;
  Established_ = false;
  ReplayCounter_ = 0;
  AnsweredCounter_ = 0;
  HavePreviousSNonce_ = false;
  SNonceValid_ = false;
  WpaGroupKeyDelivered_ = false;
  LastLength_ = 0;
  Gtk_.KeyId = GtkKeyIdFirst + 1;  // NewGroupKeys alternates to the first id
  Igtk_.KeyId = IgtkKeyIdFirst + 1;
  Bigtk_.KeyId = BigtkKeyIdFirst + 1;
  NewGroupKeys();
}

VOID Authenticator::NewGroupKeys() {
  Gtk_.Length = GroupKeyLength(Config_.Mode);
  Random(Gtk_.Key, Gtk_.Length);
  Gtk_.KeyId = Gtk_.KeyId == GtkKeyIdFirst ? GtkKeyIdFirst + 1 : GtkKeyIdFirst;
  // A new key starts counting somewhere; six bytes of packet number.
  Zero(Gtk_.Rsc, RSC_LEN);
  Random(Gtk_.Rsc, 6);
  if (Config_.Mfp) {
    Igtk_.Length = 16;
    Random(Igtk_.Key, Igtk_.Length);
    Igtk_.KeyId = Igtk_.KeyId == IgtkKeyIdFirst ? IgtkKeyIdFirst + 1 : IgtkKeyIdFirst;
    Zero(Igtk_.Rsc, RSC_LEN);
    Random(Igtk_.Rsc, IPN_LEN);
  }
  if (Config_.R3Kdes) {
    Bigtk_.Length = 16;
    Random(Bigtk_.Key, Bigtk_.Length);
    Bigtk_.KeyId = Bigtk_.KeyId == BigtkKeyIdFirst ? BigtkKeyIdFirst + 1 : BigtkKeyIdFirst;
    Zero(Bigtk_.Rsc, RSC_LEN);
    Random(Bigtk_.Rsc, IPN_LEN);
  }
}

UINTN Authenticator::Remember(const UINT8 *Frame, UINTN Length) {
  if (Length != 0) {
    Copy(Last_, Frame, Length);
    LastLength_ = Length;
  }
  return Length;
}

UINTN Authenticator::LastFrame(UINT8 *Out, UINTN Capacity) const {
  if (LastLength_ > Capacity) {
    return 0;
  }
  Copy(Out, Last_, LastLength_);
  return LastLength_;
}

UINTN Authenticator::Message1(UINT8 *Out, UINTN Capacity) {
  if (SNonceValid_) {
    Copy(PreviousSNonce_, SNonce_, NONCE_LEN);
    HavePreviousSNonce_ = true;
  }
  Random(ANonce_, NONCE_LEN);
  ANonceRepeated_ = false;
  return BuildMessage1(Out, Capacity);
}

UINTN Authenticator::RepeatMessage1(UINT8 *Out, UINTN Capacity) {
  if (Stage_ != STAGE::GotMessage2 && Stage_ != STAGE::SentMessage1) {
    return 0;
  }
  ANonceRepeated_ = Stage_ == STAGE::GotMessage2;
  return BuildMessage1(Out, Capacity);
}

UINTN Authenticator::BuildMessage1(UINT8 *Out, UINTN Capacity) {
  KEY_FRAME Frame = {};
  Frame.DescriptorType = IsRsn(Config_.Mode) ? DescriptorRsn : DescriptorWpa;
  Frame.KeyInfo = (UINT16)(ApDescriptorVersion(Config_.Mode) | InfoPairwise | InfoAck);
  Frame.KeyLength = (UINT16)PairwiseKeyLength(Config_.Mode);
  Frame.ReplayCounter = ++ReplayCounter_;
  Copy(Frame.Nonce, ANonce_, NONCE_LEN);
  UINTN Length = BuildKeyFrame(Frame, Out, Capacity);
  if (Length != 0) {
    AnsweredCounter_ = ReplayCounter_;
    Stage_ = STAGE::SentMessage1;
  }
  return Remember(Out, Length);
}

// Checks the fields every station response shares; the MIC is checked by
// the caller once it knows the KCK.
VERDICT Authenticator::CheckResponse(const UINT8 *Frame, UINTN Length, UINT16 ExpectedKeyInfo,
                                     const UINT8 *ExpectedNonce, UINTN ExpectedKeyDataLength) const {
  if (Length < FixedLength || Length > MAX_FRAME_LEN) {
    return VERDICT::Malformed;
  }
  if (Frame[0] != 1 || Frame[1] != 3 || Be16(Frame + OffsetBodyLength) != Length - 4) {
    return VERDICT::WrongHeader;
  }
  if (Frame[OffsetDescriptorType] != (IsRsn(Config_.Mode) ? DescriptorRsn : DescriptorWpa)) {
    return VERDICT::WrongDescriptorType;
  }
  if (Be16(Frame + OffsetKeyInfo) != ExpectedKeyInfo) {
    return VERDICT::WrongKeyInformation;
  }
  if (Be16(Frame + OffsetKeyLength) != PairwiseKeyLength(Config_.Mode)) {
    return VERDICT::WrongKeyLength;
  }
  if (Be64(Frame + OffsetReplayCounter) != AnsweredCounter_) {
    return VERDICT::WrongReplayCounter;
  }
  if (ExpectedNonce != nullptr && !Equal(Frame + OffsetNonce, ExpectedNonce, NONCE_LEN)) {
    return VERDICT::WrongNonce;
  }
  if (!AllZero(Frame + OffsetKeyIv, 16) || !AllZero(Frame + OffsetRsc, RSC_LEN) ||
      !AllZero(Frame + OffsetReserved, 8)) {
    return VERDICT::NonZeroField;
  }
  if (Be16(Frame + OffsetKeyDataLength) != ExpectedKeyDataLength ||
      FixedLength + ExpectedKeyDataLength != Length) {
    return VERDICT::WrongKeyData;
  }
  return VERDICT::Ok;
}

namespace {
bool MicValid(const UINT8 *Frame, UINTN Length, UINT8 Version, const UINT8 *Kck) {
  UINT8 Mic[MicLength];
  return ComputeMic(Frame, Length, Version, Kck, Mic) && Equal(Mic, Frame + OffsetMic, MicLength);
}
}  // namespace

VERDICT Authenticator::AcceptMessage2(const UINT8 *Frame, UINTN Length) {
  if (Stage_ != STAGE::SentMessage1) {
    return VERDICT::OutOfTurn;
  }
  UINT8 Version = StationDescriptorVersion(Config_.Mode);
  VERDICT Verdict = CheckResponse(Frame, Length, (UINT16)(Version | InfoPairwise | InfoMic), nullptr,
                                  Config_.StationElementLength);
  if (Verdict != VERDICT::Ok) {
    return Verdict;
  }
  const UINT8 *SNonce = Frame + OffsetNonce;
  if (AllZero(SNonce, NONCE_LEN) || Equal(SNonce, ANonce_, NONCE_LEN)) {
    return VERDICT::WrongNonce;
  }
  // A retransmitted message 1 is answered with the same SNonce; a new ANonce
  // needs a new one.
  if (ANonceRepeated_ ? !Equal(SNonce, SNonce_, NONCE_LEN)
                      : HavePreviousSNonce_ && Equal(SNonce, PreviousSNonce_, NONCE_LEN)) {
    return VERDICT::ReusedNonce;
  }
  UINT8 Ptk[PTK_LEN];
  DerivePtk(Config_.Mode, Config_.Pmk, Config_.ApMac, Config_.StaMac, ANonce_, SNonce, Ptk);
  if (!MicValid(Frame, Length, Version, Ptk)) {
    return VERDICT::BadMic;
  }
  if (!Equal(Frame + OffsetKeyData, Config_.StationElement, Config_.StationElementLength)) {
    return VERDICT::WrongKeyData;
  }
  Copy(SNonce_, SNonce, NONCE_LEN);
  SNonceValid_ = true;
  Copy(Ptk_, Ptk, PTK_LEN);
  Stage_ = STAGE::GotMessage2;
  return VERDICT::Ok;
}

namespace {

// GTK KDE: key id in bits 0-1 of the first byte, a reserved byte, the key.
VOID AppendGtkKde(Writer &Data, const GROUP_KEY &Gtk) {
  Data.Byte(ElementVendor);
  Data.Byte((UINT8)(4 + 2 + Gtk.Length));
  Data.Suite(RsnOui, 1);
  Data.Byte(Gtk.KeyId & 3);
  Data.Byte(0);
  Data.Bytes(Gtk.Key, Gtk.Length);
}

// IGTK KDE: two-byte key id, six-byte IPN, the key.
VOID AppendIgtkKde(Writer &Data, const GROUP_KEY &Igtk) {
  Data.Byte(ElementVendor);
  Data.Byte((UINT8)(4 + 2 + IPN_LEN + Igtk.Length));
  Data.Suite(RsnOui, 9);
  Data.Le16(Igtk.KeyId);
  Data.Bytes(Igtk.Rsc, IPN_LEN);
  Data.Bytes(Igtk.Key, Igtk.Length);
}

// BIGTK KDE: two-byte key id (6 or 7), six-byte BIPN, the key.
VOID AppendBigtkKde(Writer &Data, const GROUP_KEY &Bigtk) {
  Data.Byte(ElementVendor);
  Data.Byte((UINT8)(4 + 2 + IPN_LEN + Bigtk.Length));
  Data.Suite(RsnOui, 14);
  Data.Le16(Bigtk.KeyId);
  Data.Bytes(Bigtk.Rsc, IPN_LEN);
  Data.Bytes(Bigtk.Key, Bigtk.Length);
}

// OCI KDE: operating class, primary channel, frequency segment 1 channel.
VOID AppendOciKde(Writer &Data, const UINT8 *Oci) {
  Data.Byte(ElementVendor);
  Data.Byte(4 + 3);
  Data.Suite(RsnOui, 13);
  Data.Bytes(Oci, 3);
}

// Transition-disable KDE of the Wi-Fi Alliance: one bitmap octet.
VOID AppendTransitionDisableKde(Writer &Data, UINT8 Bitmap) {
  static constexpr UINT8 WfaOui[3] = {0x50, 0x6F, 0x9A};
  Data.Byte(ElementVendor);
  Data.Byte(4 + 1);
  Data.Suite(WfaOui, 0x20);
  Data.Byte(Bitmap);
}

// Pads key data for AES key wrap: 0xDD then zeros up to a multiple of 8 and
// at least 16 bytes, plus Extra more bytes of padding.
VOID PadForKeyWrap(Writer &Data, UINTN Extra) {
  UINTN Target = Data.Length() + Extra;
  if (Target < 16) {
    Target = 16;
  }
  Target = (Target + 7) / 8 * 8;
  if (Data.Length() < Target) {
    Data.Byte(0xDD);
  }
  while (Data.Length() < Target) {
    Data.Byte(0);
  }
}

}  // namespace

UINTN Authenticator::BuildMessage3(const UINT8 *Nonce, const UINT8 *Kck, const UINT8 *ApElement, UINTN Padding,
                                   UINT8 *Out, UINTN Capacity) {
  KEY_FRAME Frame = {};
  bool Rsn = IsRsn(Config_.Mode);
  UINT8 Plain[MAX_FRAME_LEN];
  UINT8 Wrapped[MAX_FRAME_LEN + 8];
  Writer Data(Plain);
  Data.Bytes(ApElement, Config_.ApElementLength);
  Frame.DescriptorType = Rsn ? DescriptorRsn : DescriptorWpa;
  Frame.KeyInfo = (UINT16)(ApDescriptorVersion(Config_.Mode) | InfoPairwise | InfoInstall | InfoAck | InfoMic);
  if (Rsn) {
    // RSN hands over the group keys here, encrypted under the KEK.
    Data.Bytes(Config_.ApRsnxElement, Config_.ApRsnxElementLength);
    AppendGtkKde(Data, Gtk_);
    if (Config_.Mfp) {
      AppendIgtkKde(Data, Igtk_);
    }
    if (Config_.R3Kdes) {
      AppendBigtkKde(Data, Bigtk_);
      AppendOciKde(Data, Config_.Oci);
      AppendTransitionDisableKde(Data, Config_.TransitionDisable);
    }
    PadForKeyWrap(Data, Padding);
    AesKeyWrap(Ptk_ + KCK_LEN, Plain, Data.Length(), Wrapped);
    Frame.KeyInfo |= InfoSecure | InfoEncryptedKeyData;
    Frame.KeyData = Wrapped;
    Frame.KeyDataLength = Data.Length() + 8;
    Copy(Frame.Rsc, Gtk_.Rsc, RSC_LEN);
  } else {
    Frame.KeyData = Plain;
    Frame.KeyDataLength = Data.Length();
  }
  Frame.KeyLength = (UINT16)PairwiseKeyLength(Config_.Mode);
  Frame.ReplayCounter = ++ReplayCounter_;
  Copy(Frame.Nonce, Nonce, NONCE_LEN);
  Frame.Kck = Kck;
  return BuildKeyFrame(Frame, Out, Capacity);
}

UINTN Authenticator::Message3(UINT8 *Out, UINTN Capacity) {
  if (Stage_ != STAGE::GotMessage2) {
    return 0;
  }
  UINTN Length = BuildMessage3(ANonce_, Ptk_, Config_.ApElement, 0, Out, Capacity);
  if (Length != 0) {
    AnsweredCounter_ = ReplayCounter_;
    GtkInMessage3_ = IsRsn(Config_.Mode);
    Stage_ = STAGE::SentMessage3;
  }
  return Remember(Out, Length);
}

VERDICT Authenticator::AcceptMessage4(const UINT8 *Frame, UINTN Length) {
  if (Stage_ != STAGE::SentMessage3) {
    return VERDICT::OutOfTurn;
  }
  UINT8 Version = StationDescriptorVersion(Config_.Mode);
  UINT16 KeyInfo = (UINT16)(Version | InfoPairwise | InfoMic | (GtkInMessage3_ ? InfoSecure : 0));
  VERDICT Verdict = CheckResponse(Frame, Length, KeyInfo, SNonce_, 0);
  if (Verdict != VERDICT::Ok) {
    return Verdict;
  }
  if (!MicValid(Frame, Length, Version, Ptk_)) {
    return VERDICT::BadMic;
  }
  Stage_ = STAGE::Established;
  Established_ = true;
  return VERDICT::Ok;
}

UINTN Authenticator::BuildGroupMessage1(const UINT8 *Kck, UINTN Padding, UINT8 *Out, UINTN Capacity) {
  KEY_FRAME Frame = {};
  UINT8 Plain[MAX_FRAME_LEN];
  UINT8 Encrypted[MAX_FRAME_LEN + 8];
  Writer Data(Plain);
  UINT8 Version = ApDescriptorVersion(Config_.Mode);
  Frame.KeyInfo = (UINT16)(Version | InfoSecure | InfoMic | InfoAck);
  if (IsRsn(Config_.Mode)) {
    AppendGtkKde(Data, Gtk_);
    if (Config_.Mfp) {
      AppendIgtkKde(Data, Igtk_);
    }
    if (Config_.R3Kdes) {
      AppendBigtkKde(Data, Bigtk_);
    }
    PadForKeyWrap(Data, Padding);
    AesKeyWrap(Ptk_ + KCK_LEN, Plain, Data.Length(), Encrypted);
    Frame.DescriptorType = DescriptorRsn;
    Frame.KeyInfo |= InfoEncryptedKeyData;
    Frame.KeyDataLength = Data.Length() + 8;
  } else {
    // WPA: the raw GTK, RC4-encrypted under key IV || KEK, named by the key
    // index bits.
    Data.Bytes(Gtk_.Key, Gtk_.Length);
    for (UINTN Index = 0; Index < Padding; ++Index) {
      Data.Byte(0);
    }
    Random(Frame.KeyIv, sizeof(Frame.KeyIv));
    UINT8 Rc4Key[16 + KEK_LEN];
    Copy(Rc4Key, Frame.KeyIv, 16);
    Copy(Rc4Key + 16, Ptk_ + KCK_LEN, KEK_LEN);
    rc4_state State;
    rc4_set_key(&State, sizeof(Rc4Key), Rc4Key);
    UINT8 Discard[Rc4Discard] = {};
    rc4_crypt(&State, sizeof(Discard), Discard, Discard);
    rc4_crypt(&State, Data.Length(), Plain, Encrypted);
    Frame.DescriptorType = DescriptorWpa;
    Frame.KeyInfo |= (UINT16)(Gtk_.KeyId << InfoKeyIndexShift);
    Frame.KeyLength = (UINT16)Gtk_.Length;
    Frame.KeyDataLength = Data.Length();
  }
  Frame.KeyData = Encrypted;
  Copy(Frame.Rsc, Gtk_.Rsc, RSC_LEN);
  Frame.ReplayCounter = ++ReplayCounter_;
  Frame.Kck = Kck;
  return BuildKeyFrame(Frame, Out, Capacity);
}

UINTN Authenticator::GroupMessage1(UINT8 *Out, UINTN Capacity) {
  if (Stage_ != STAGE::Established) {
    return 0;
  }
  // WPA delivers its first GTK by this handshake; every other call rekeys.
  if (IsRsn(Config_.Mode) || WpaGroupKeyDelivered_) {
    NewGroupKeys();
  }
  UINTN Length = BuildGroupMessage1(Ptk_, 0, Out, Capacity);
  if (Length != 0) {
    WpaGroupKeyDelivered_ = true;
    AnsweredCounter_ = ReplayCounter_;
    Stage_ = STAGE::SentGroupMessage1;
  }
  return Remember(Out, Length);
}

VERDICT Authenticator::AcceptGroupMessage2(const UINT8 *Frame, UINTN Length) {
  if (Stage_ != STAGE::SentGroupMessage1) {
    return VERDICT::OutOfTurn;
  }
  UINT8 Version = StationDescriptorVersion(Config_.Mode);
  static constexpr UINT8 ZeroNonce[NONCE_LEN] = {};
  VERDICT Verdict = CheckResponse(Frame, Length, (UINT16)(Version | InfoMic | InfoSecure), ZeroNonce, 0);
  if (Verdict != VERDICT::Ok) {
    return Verdict;
  }
  if (!MicValid(Frame, Length, Version, Ptk_)) {
    return VERDICT::BadMic;
  }
  Stage_ = STAGE::Established;
  return VERDICT::Ok;
}

// ---------------------------------------------------------------------------
// Attack frames
// ---------------------------------------------------------------------------

UINTN Authenticator::ApplyFrameFault(FAULT Fault, UINT8 *Frame, UINTN Length) const {
  UINT8 Version = (UINT8)(Be16(Frame + OffsetKeyInfo) & 7);
  switch (Fault) {
    case FAULT::KeyDataPastEnd: {
      // The stated key data (and body) run 16 bytes past the bytes given;
      // the MIC is right for the bytes given.
      PutBe16(Frame + OffsetKeyDataLength, Be16(Frame + OffsetKeyDataLength) + 16);
      PutBe16(Frame + OffsetBodyLength, Be16(Frame + OffsetBodyLength) + 16);
      ComputeMic(Frame, Length, Version, Ptk_, Frame + OffsetMic);
      return Length;
    }
    case FAULT::Truncated:
      return OffsetMic + 8;
    default:
      return Length;
  }
}

namespace {
// Rewrites the first AKM of an RSN element to PSK (00-0F-AC:2); false for
// any other element, or one that names PSK already.
bool DowngradeAkm(UINT8 *Element, UINTN Length) {
  // id, length, version, group suite, then the pairwise count and suites
  constexpr UINTN PairwiseCount = 2 + 2 + 4;
  if (Element[0] != ElementRsn || Length < PairwiseCount + 2) {
    return false;
  }
  UINTN AkmType = PairwiseCount + 2 + 4 * (UINTN)(Element[PairwiseCount] | Element[PairwiseCount + 1] << 8) + 2 + 3;
  if (AkmType >= Length || Element[AkmType] == 2) {
    return false;
  }
  Element[AkmType] = 2;
  return true;
}
}  // namespace

UINTN Authenticator::FaultyMessage3(FAULT Fault, UINT8 *Out, UINTN Capacity) {
  if (Stage_ != STAGE::GotMessage2) {
    return 0;
  }
  UINT8 Nonce[NONCE_LEN];
  Copy(Nonce, ANonce_, NONCE_LEN);
  UINT8 Kck[KCK_LEN];
  Copy(Kck, Ptk_, KCK_LEN);
  UINTN Padding = 0;
  UINT8 ApElement[MAX_ELEMENT_LEN];
  Copy(ApElement, Config_.ApElement, Config_.ApElementLength);
  if (Fault == FAULT::WrongNonce) {
    Random(Nonce, NONCE_LEN);
  } else if (Fault == FAULT::ForgedMic) {
    Random(Kck, KCK_LEN);
  } else if (Fault == FAULT::OversizeKeyData) {
    Padding = OversizePadding;
  } else if (Fault == FAULT::DowngradedRsne && !DowngradeAkm(ApElement, Config_.ApElementLength)) {
    return 0;
  }
  UINTN Length = BuildMessage3(Nonce, Kck, ApElement, Padding, Out, Capacity);
  return Length == 0 ? 0 : ApplyFrameFault(Fault, Out, Length);
}

UINTN Authenticator::FaultyGroupMessage1(FAULT Fault, UINT8 *Out, UINTN Capacity) {
  if (Stage_ != STAGE::Established) {
    return 0;
  }
  UINT8 Kck[KCK_LEN];
  Copy(Kck, Ptk_, KCK_LEN);
  UINTN Padding = 0;
  if (Fault == FAULT::ForgedMic) {
    Random(Kck, KCK_LEN);
  } else if (Fault == FAULT::OversizeKeyData) {
    Padding = OversizePadding;
  }
  UINTN Length = BuildGroupMessage1(Kck, Padding, Out, Capacity);
  return Length == 0 ? 0 : ApplyFrameFault(Fault, Out, Length);
}

}  // namespace authenticator
