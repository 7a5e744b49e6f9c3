// The access-point side of the IEEE 802.11 4-way and group-key handshakes:
// builds message 1, message 3 and group message 1, and checks every field
// of what the station answers. Freestanding (no allocation, no standard
// library) and written against the crypto primitives only, so it shares no
// code with the station it tests; it runs in ap-sim, inside the UEFI test
// application, in the fuzz target and in the benchmark.
#pragma once
#include <uefi/Base.h>

namespace authenticator {

// The key-management and cipher combinations an access point offers.
enum class MODE : UINT8 {
  WpaPskTkip,      // WPA element, TKIP/TKIP, descriptor 254 version 1
  Wpa2Psk,         // RSN, AKM 2, CCMP/CCMP, version 2
  Wpa2PskSha256,   // RSN, AKM 6, CCMP/CCMP, version 3
  Wpa3Sae,         // RSN, AKM 8, CCMP/CCMP, version 0
  Wpa2Eap,         // RSN, AKM 1 (802.1X), CCMP/CCMP, version 2; PMK from the EAP method
  Wpa2EapSha256,   // RSN, AKM 5 (802.1X SHA-256), CCMP/CCMP, version 3
};

constexpr UINTN MAC_LEN = 6;
constexpr UINTN PMK_LEN = 32;
constexpr UINTN NONCE_LEN = 32;
constexpr UINTN PTK_LEN = 64;
constexpr UINTN KCK_LEN = 16;
constexpr UINTN KEK_LEN = 16;
constexpr UINTN MAX_KEY_LEN = 32;
constexpr UINTN IPN_LEN = 6;
constexpr UINTN RSC_LEN = 8;
constexpr UINTN MAX_ELEMENT_LEN = 2 + 255;  // id, length, body
// Room for any frame this authenticator builds.
constexpr UINTN MAX_FRAME_LEN = 512;

struct RANDOM_SOURCE {
  VOID (*Fill)(VOID *Context, UINT8 *Buffer, UINTN Length);
  VOID *Context;
};

// Management-frame protection wishes of one side.
struct MFP_POLICY {
  bool Capable;
  bool Required;
};

// The security element (RSN element 48, or the WPA vendor element 221) a
// side advertises for a mode, written whole (id, length, body). Returns its
// length. MFP bits appear in RSN elements only; SAE adds the PMKID count and
// the BIP-CMAC-128 group management suite.
UINTN BuildSecurityElement(MODE Mode, MFP_POLICY Mfp, UINT8 *Out);

// The access point's element as the station-simulator contract fixes it for
// beacons and message 3: for RSN, version 1, CCMP group and pairwise suites,
// one AKM, capabilities (MFP capable bit 7, required bit 6) and nothing
// after them; for WPA, the TKIP/PSK vendor element without capabilities.
// Written whole; returns its length.
UINTN BuildApElement(MODE Mode, MFP_POLICY Mfp, UINT8 *Out);

bool IsRsn(MODE Mode);
// Descriptor version the access point writes for a mode (table of the
// contract) and the one it expects back from the station.
UINT8 ApDescriptorVersion(MODE Mode);
UINT8 StationDescriptorVersion(MODE Mode);
// TK and GTK lengths of the mode's ciphers.
UINTN PairwiseKeyLength(MODE Mode);
UINTN GroupKeyLength(MODE Mode);

// The fields of one EAPOL-Key frame as sent; BuildKeyFrame lays them out
// and computes the MIC when KeyInfo has the MIC bit and Kck is given.
struct KEY_FRAME {
  UINT8        DescriptorType;
  UINT16       KeyInfo;
  UINT16       KeyLength;
  UINT64       ReplayCounter;
  UINT8        Nonce[NONCE_LEN];
  UINT8        KeyIv[16];
  UINT8        Rsc[RSC_LEN];
  const UINT8 *KeyData;  // already encrypted
  UINTN        KeyDataLength;
  const UINT8 *Kck;
};
// Frame length, or 0 when it does not fit Capacity.
UINTN BuildKeyFrame(const KEY_FRAME &Frame, UINT8 *Out, UINTN Capacity);

// The key MIC of a frame (MIC field taken as zero) by a descriptor version;
// false for a version without one.
bool ComputeMic(const UINT8 *Frame, UINTN Length, UINT8 Version, const UINT8 *Kck, UINT8 *Mic);

// RFC 3394 key wrap with a 128-bit KEK: Length (a multiple of 8, at least
// 16) bytes in, Length + 8 bytes out.
VOID AesKeyWrap(const UINT8 *Kek, const UINT8 *Plaintext, UINTN Length, UINT8 *Out);

// The PTK (64 bytes; 48 derived by the SHA-256 KDF, the rest zero).
VOID DerivePtk(MODE Mode, const UINT8 *Pmk, const UINT8 *ApMac, const UINT8 *StaMac, const UINT8 *ANonce,
               const UINT8 *SNonce, UINT8 *Ptk);

// What the authenticator found wrong in a station frame.
enum class VERDICT : UINT8 {
  Ok,
  OutOfTurn,
  Malformed,
  WrongHeader,
  WrongDescriptorType,
  WrongKeyInformation,
  WrongKeyLength,
  WrongReplayCounter,
  WrongNonce,
  NonZeroField,
  WrongKeyData,
  BadMic,
  ReusedNonce,
};
const CHAR8 *VerdictName(VERDICT Verdict);

// Ways the attack frames go wrong.
enum class FAULT : UINT8 {
  WrongNonce,       // message 3 whose nonce is not the ANonce of message 1 (MIC valid)
  ForgedMic,        // MIC computed under a key the station does not have
  OversizeKeyData,  // key data longer than a station's decryption buffer (MIC valid)
  KeyDataPastEnd,   // key data length field beyond the frame (MIC valid over the frame)
  Truncated,        // the frame cut off inside the MIC field
  DowngradedRsne,   // message 3 whose RSN element names AKM 00-0F-AC:2 (MIC valid); RSN only
};

struct CONFIG {
  MODE          Mode;
  UINT8         ApMac[MAC_LEN];
  UINT8         StaMac[MAC_LEN];
  UINT8         Pmk[PMK_LEN];
  bool          Mfp;  // negotiated: an IGTK goes with every GTK
  // The station's element from its association request; message 2 must
  // carry exactly these bytes.
  UINT8         StationElement[MAX_ELEMENT_LEN];
  UINTN         StationElementLength;
  // The access point's own element, repeated in message 3, and for RSN its
  // RSNXE after it (length 0: none).
  UINT8         ApElement[MAX_ELEMENT_LEN];
  UINTN         ApElementLength;
  UINT8         ApRsnxElement[MAX_ELEMENT_LEN];
  UINTN         ApRsnxElementLength;
  // RSN only: message 3 adds a BIGTK KDE (key id 6), an OCI KDE with Oci and
  // a transition-disable KDE with TransitionDisable; every group message 1
  // a new BIGTK under the other key id.
  bool          R3Kdes;
  UINT8         Oci[3];  // operating class, primary channel, frequency segment 1 channel
  UINT8         TransitionDisable;
  RANDOM_SOURCE Random;
};

struct GROUP_KEY {
  UINT8 Key[MAX_KEY_LEN];
  UINTN Length;
  UINT8 KeyId;
  UINT8 Rsc[RSC_LEN];  // GTK: receive sequence counter; IGTK: IPN in the first 6 bytes
};

class Authenticator {
 public:
  // Starts a new association: fresh replay counter, first GTK (key id 1),
  // with MFP first IGTK (key id 4), with R3 KDEs first BIGTK (key id 6).
  VOID Start(const CONFIG &Config);

  // 4-way handshake. The builders return the frame length (0: out of turn).
  // Message1 draws a new ANonce; RepeatMessage1 retransmits the last one
  // (under a new replay counter), which the station must answer with the
  // same SNonce, where a new ANonce needs a new SNonce.
  UINTN   Message1(UINT8 *Out, UINTN Capacity);
  UINTN   RepeatMessage1(UINT8 *Out, UINTN Capacity);
  VERDICT AcceptMessage2(const UINT8 *Frame, UINTN Length);
  UINTN   Message3(UINT8 *Out, UINTN Capacity);
  VERDICT AcceptMessage4(const UINT8 *Frame, UINTN Length);
  // Group-key handshake: a new GTK (and IGTK) under the other key id. For
  // WPA the first call delivers the current GTK instead.
  UINTN   GroupMessage1(UINT8 *Out, UINTN Capacity);
  VERDICT AcceptGroupMessage2(const UINT8 *Frame, UINTN Length);

  // Frames for the attack cases. Each takes a fresh replay counter and
  // leaves the handshake where it was, so the real frame can follow.
  // FaultyMessage3 needs an accepted message 2, FaultyGroupMessage1 an
  // established PTK.
  UINTN FaultyMessage3(FAULT Fault, UINT8 *Out, UINTN Capacity);
  UINTN FaultyGroupMessage1(FAULT Fault, UINT8 *Out, UINTN Capacity);

  // Message 4 was accepted (the pairwise keys are in use).
  bool             HandshakeComplete() const { return Established_; }
  const UINT8     *Ptk() const { return Ptk_; }
  const UINT8     *Tk() const { return Ptk_ + KCK_LEN + KEK_LEN; }
  UINTN            TkLength() const { return PairwiseKeyLength(Config_.Mode); }
  const GROUP_KEY &Gtk() const { return Gtk_; }
  const GROUP_KEY &Igtk() const { return Igtk_; }
  // BIPN in the first 6 bytes of Rsc.
  const GROUP_KEY &Bigtk() const { return Bigtk_; }
  const UINT8     *ANonce() const { return ANonce_; }
  const UINT8     *SNonce() const { return SNonce_; }
  UINT64           ReplayCounter() const { return ReplayCounter_; }
  // The frame the station last had to answer (for replays).
  UINTN            LastFrame(UINT8 *Out, UINTN Capacity) const;

 private:
  enum class STAGE : UINT8 { Idle, SentMessage1, GotMessage2, SentMessage3, Established, SentGroupMessage1 };

  UINTN   BuildMessage1(UINT8 *Out, UINTN Capacity);
  UINTN   BuildMessage3(const UINT8 *Nonce, const UINT8 *Kck, const UINT8 *ApElement, UINTN Padding, UINT8 *Out,
                        UINTN Capacity);
  UINTN   BuildGroupMessage1(const UINT8 *Kck, UINTN Padding, UINT8 *Out, UINTN Capacity);
  UINTN   ApplyFrameFault(FAULT Fault, UINT8 *Frame, UINTN Length) const;
  VOID    NewGroupKeys();
  VERDICT CheckResponse(const UINT8 *Frame, UINTN Length, UINT16 ExpectedKeyInfo, const UINT8 *ExpectedNonce,
                        UINTN ExpectedKeyDataLength) const;
  UINTN   Remember(const UINT8 *Frame, UINTN Length);
  VOID    Random(UINT8 *Buffer, UINTN Length) { Config_.Random.Fill(Config_.Random.Context, Buffer, Length); }

  CONFIG    Config_ = {};
  STAGE     Stage_ = STAGE::Idle;
  UINT64    ReplayCounter_ = 0;   // of the last frame sent
  UINT64    AnsweredCounter_ = 0; // the counter the station's answer must carry
  UINT8     ANonce_[NONCE_LEN] = {};
  UINT8     SNonce_[NONCE_LEN] = {};
  UINT8     PreviousSNonce_[NONCE_LEN] = {};
  bool      HavePreviousSNonce_ = false;
  bool      SNonceValid_ = false;
  bool      Established_ = false;
  bool      ANonceRepeated_ = false;
  UINT8     Ptk_[PTK_LEN] = {};
  bool      GtkInMessage3_ = false;
  bool      WpaGroupKeyDelivered_ = false;
  GROUP_KEY Gtk_ = {};
  GROUP_KEY Igtk_ = {};
  GROUP_KEY Bigtk_ = {};
  UINT8     Last_[MAX_FRAME_LEN] = {};
  UINTN     LastLength_ = 0;
};

}  // namespace authenticator
