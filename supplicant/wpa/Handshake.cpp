// Every handler checks everything first and changes the record only when
// the answer is certain to be built: a rejected frame, or an answer that
// does not fit the caller's buffer, leaves the child exactly as it was.
#include "Handshake.h"

#include <Library/BaseMemoryLib.h>

#include "ApElements.h"
#include "EapolKey.h"
#include "KeyData.h"
#include "KeyElements.h"
#include "KeyMic.h"
#include "OwnElement.h"
#include "Pmk.h"
#include "PtkDerivation.h"
#include "Random.h"

namespace {

using namespace eapol;

enum class KEY_MESSAGE { Message1, Message3, GroupMessage1 };

// A received EAPOL-Key frame whose lengths have been checked.
struct RECEIVED_FRAME {
  UINT8       *Bytes;
  UINTN        Size;
  UINT16       KeyInfo;
  UINTN        KeyDataLength;
  KEY_MESSAGE  Kind;

  const UINT8 *ReplayCounter() const { return Bytes + OFFSET_REPLAY_COUNTER; }
  const UINT8 *Nonce() const { return Bytes + OFFSET_KEY_NONCE; }
  const UINT8 *Rsc() const { return Bytes + OFFSET_KEY_RSC; }
  bool Has(UINT16 Bit) const { return (KeyInfo & Bit) != 0; }
};

// Classification looks at the key type and MIC bits only.
KEY_MESSAGE Classify(UINT16 KeyInfo) {
  if ((KeyInfo & KEY_INFO_KEY_TYPE_PAIRWISE) == 0) {
    return KEY_MESSAGE::GroupMessage1;
  }
  return (KeyInfo & KEY_INFO_MIC) != 0 ? KEY_MESSAGE::Message3 : KEY_MESSAGE::Message1;
}

// Every length a frame states must lie within what the caller handed in,
// and the whole frame within the MIC work buffer.
bool ParseFrame(UINT8 *Request, UINTN RequestSize, RECEIVED_FRAME *Frame) {
  if (RequestSize < FIXED_SIZE || RequestSize > SUP_MIC_WORK_BUFFER_SIZE) {
    return false;
  }
  if (Request[OFFSET_PACKET_TYPE] != PACKET_TYPE_KEY) {
    return false;
  }
  UINTN BodyLength = ReadBe16(Request + OFFSET_BODY_LENGTH);
  UINTN KeyData = KeyDataLength(Request);
  if (HEADER_SIZE + BodyLength > RequestSize || BodyLength < KEY_BODY_FIXED_SIZE + KeyData) {
    return false;
  }
  Frame->Bytes = Request;
  Frame->Size = RequestSize;
  Frame->KeyInfo = KeyInformation(Request);
  Frame->KeyDataLength = KeyData;
  Frame->Kind = Classify(Frame->KeyInfo);
  return true;
}

// Message 1, message 3 and group message 1 must count above the last frame
// accepted with a valid MIC. Counters are big-endian, so byte order compares.
bool IsFreshReplayCounter(const SUP_INSTANCE *Instance, const RECEIVED_FRAME &Frame) {
  return !Instance->ReplayCounterValid ||
         CompareMem(Frame.ReplayCounter(), Instance->ReplayCounter, REPLAY_COUNTER_SIZE) > 0;
}

VOID AcceptReplayCounter(SUP_INSTANCE *Instance, const RECEIVED_FRAME &Frame) {
  CopyMem(Instance->ReplayCounter, Frame.ReplayCounter(), REPLAY_COUNTER_SIZE);
  Instance->ReplayCounterValid = TRUE;
}

bool UsesSha256KeyHierarchy(const SUP_INSTANCE *Instance) {
  return (Instance->AkmFlags & SUP_AKM_SHA256_MASK) != 0;
}

// The descriptor version the station writes: AKM-defined for SAE, AES-128-
// CMAC for PSK-SHA256 and 802.1X-SHA256 (the only MIC an authenticator using
// those AKMs accepts), HMAC-MD5/RC4 for a TKIP pairwise cipher, HMAC-SHA1/AES
// otherwise.
UINT8 ResponseDescriptorVersion(const SUP_INSTANCE *Instance) {
  if (Instance->KeyMgmt == SUP_KEY_MGMT_SAE) {
    return VERSION_AKM_DEFINED;
  }
  if (Instance->AkmFlags == SUP_AKM_PSK_SHA256 || Instance->AkmFlags == SUP_AKM_8021X_SHA256) {
    return VERSION_AES_CMAC_AES;
  }
  return Instance->PairwiseCipher == SUP_CIPHER_TKIP ? VERSION_HMAC_MD5_RC4 : VERSION_HMAC_SHA1_AES;
}

// The fields every response of this child shares.
RESPONSE ResponseTemplate(const SUP_INSTANCE *Instance, const RECEIVED_FRAME &Frame, UINT16 Flags,
                          const UINT8 *Nonce, const UINT8 *Kck) {
  RESPONSE Response = {};
  Response.DescriptorType = Instance->Protocol == SUP_PROTOCOL_WPA ? DESCRIPTOR_TYPE_WPA : DESCRIPTOR_TYPE_RSN;
  Response.DescriptorVersion = ResponseDescriptorVersion(Instance);
  Response.Flags = (UINT16)(Flags | KEY_INFO_MIC);
  Response.KeyLength = Instance->PairwiseCipher == SUP_CIPHER_TKIP ? 32 : 16;
  Response.ReplayCounter = Frame.ReplayCounter();
  Response.Nonce = Nonce;
  Response.Kck = Kck;
  return Response;
}

// Reports the size needed when the caller's buffer cannot take the response.
bool ResponseFits(const RESPONSE &Response, UINTN *BufferSize) {
  UINTN Needed = ResponseSize(Response);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return false;
  }
  return true;
}

VOID EmitResponse(const RESPONSE &Response, UINT8 *Buffer, UINTN *BufferSize) {
  BuildResponse(Response, Buffer);
  *BufferSize = ResponseSize(Response);
}

const UINT8 *KckOf(const UINT8 *Ptk) { return Ptk; }
const UINT8 *KekOf(const UINT8 *Ptk) { return Ptk + SUP_KCK_LEN; }

// ---------------------------------------------------------------------------
// Message 1 -> message 2
// ---------------------------------------------------------------------------

// Without a PMK the PTK would come from an all-zero key anyone can compute.
// Under the SAE AKM only a PMK from SAE (or one the caller hands in, such as
// a cached one) will do: a message 2 keyed from the pass-phrase PMK would let
// a rogue access point that skips SAE guess the password offline. Under the
// 802.1X AKMs only a PMK from a successful EAP exchange (or a given one):
// a rogue access point skipping EAP must not get a message 2 at all.
bool HasPmkForAkm(const SUP_INSTANCE *Instance) {
  if (Instance->AkmFlags == SUP_AKM_SAE) {
    return Instance->PmkSource == SUP_PMK_SOURCE::Sae || Instance->PmkSource == SUP_PMK_SOURCE::Given;
  }
  if ((Instance->AkmFlags & SUP_AKM_8021X_MASK) != 0) {
    return Instance->PmkSource == SUP_PMK_SOURCE::Eap || Instance->PmkSource == SUP_PMK_SOURCE::Given;
  }
  return Instance->PmkSource != SUP_PMK_SOURCE::None;
}

EFI_STATUS AnswerMessage1(SUP_INSTANCE *Instance, const RECEIVED_FRAME &Frame, UINT8 *Buffer, UINTN *BufferSize) {
  if (!HasPmkForAkm(Instance) || !IsFreshReplayCounter(Instance, Frame)) {
    return EFI_PROTOCOL_ERROR;
  }
  RESPONSE Response = ResponseTemplate(Instance, Frame, KEY_INFO_KEY_TYPE_PAIRWISE, Instance->SNonce, nullptr);
  Response.ElementId = SupOwnElementId(Instance);
  Response.ElementBody = Instance->OwnIe;
  Response.ElementLength = (UINT8)Instance->OwnIeLen;
  UINT8 Rsnxe[SUP_STATION_RSNXE_LEN];
  Response.ExtraElementSize = SupStationRsnxElement(Instance, Rsnxe);
  Response.ExtraElement = Response.ExtraElementSize != 0 ? Rsnxe : nullptr;
  if (!ResponseFits(Response, BufferSize)) {
    return EFI_BUFFER_TOO_SMALL;
  }

  // A retransmitted message 1 (same ANonce) is answered with the same SNonce.
  bool SameExchange = Instance->TPtkValid && CompareMem(Instance->ANonce, Frame.Nonce(), NONCE_SIZE) == 0;
  if (!SameExchange) {
    random_bytes(Instance->SNonce, NONCE_SIZE);
  }
  CopyMem(Instance->ANonce, Frame.Nonce(), NONCE_SIZE);
  SupDerivePtk(UsesSha256KeyHierarchy(Instance) ? SUP_PTK_HASH::Sha256 : SUP_PTK_HASH::Sha1, Instance->Pmk,
               Instance->TargetMac, Instance->StationMac, Instance->ANonce, Instance->SNonce, Instance->TPtk);
  Instance->TPtkValid = TRUE;

  Response.Kck = KckOf(Instance->TPtk);
  EmitResponse(Response, Buffer, BufferSize);
  Instance->HandshakeState = SUP_HANDSHAKE_MESSAGE_2;
  return EFI_SUCCESS;
}

// ---------------------------------------------------------------------------
// Keys carried in key data
// ---------------------------------------------------------------------------

struct GROUP_KEYS {
  SUP_GTK_KDE  Gtk;
  SUP_IGTK_KDE Igtk;
  SUP_R3_KDES  R3;
};

static_assert(SUP_BIGTK_KDE_MAX_LEN == SUP_BIGTK_MAX_LEN && SUP_BIPN_KDE_LEN == SUP_BIPN_LEN &&
              SUP_OCI_KDE_MAX_LEN == SUP_OCI_MAX_LEN);

VOID StoreGtk(SUP_INSTANCE *Instance, const UINT8 *Key, UINTN KeyLength, UINT8 KeyId, const UINT8 *Rsc) {
  ZeroMem(Instance->Gtk, sizeof(Instance->Gtk));
  CopyMem(Instance->Gtk, Key, KeyLength);
  Instance->GtkKeyId = KeyId;
  CopyMem(Instance->GtkRsc, Rsc, KEY_RSC_SIZE);
  Instance->GtkRefreshed = TRUE;
}

VOID StoreIgtk(SUP_INSTANCE *Instance, const SUP_IGTK_KDE &Igtk) {
  ZeroMem(Instance->Igtk, sizeof(Instance->Igtk));
  CopyMem(Instance->Igtk, Igtk.Key, Igtk.KeyLength);
  Instance->IgtkKeyId = Igtk.KeyId;
  CopyMem(Instance->IgtkIpn, Igtk.Ipn, SUP_IGTK_IPN_LEN);
  Instance->IgtkLen = Igtk.KeyLength;
  Instance->GtkRefreshed = TRUE;
}

// Stores what a verified frame carried of the KDEs of current access points.
VOID StoreR3Kdes(SUP_INSTANCE *Instance, const SUP_R3_KDES &R3) {
  if (R3.Bigtk.Found) {
    ZeroMem(Instance->Bigtk, sizeof(Instance->Bigtk));
    CopyMem(Instance->Bigtk, R3.Bigtk.Key, R3.Bigtk.KeyLength);
    Instance->BigtkLen = R3.Bigtk.KeyLength;
    Instance->BigtkKeyId = R3.Bigtk.KeyId;
    CopyMem(Instance->BigtkBipn, R3.Bigtk.Bipn, SUP_BIPN_LEN);
    Instance->GtkRefreshed = TRUE;
  }
  if (R3.OciFound) {
    ZeroMem(Instance->Oci, sizeof(Instance->Oci));
    CopyMem(Instance->Oci, R3.Oci, R3.OciLength);
    Instance->OciLen = R3.OciLength;
  }
  if (R3.TransitionDisableFound) {
    Instance->TransitionDisable = R3.TransitionDisable;
    Instance->TransitionDisableValid = TRUE;
  }
}

// What a new association leaves behind of the last one's access point.
VOID ForgetR3Kdes(SUP_INSTANCE *Instance) {
  SecureZeroMem(Instance->Bigtk, sizeof(Instance->Bigtk));
  Instance->BigtkLen = 0;
  Instance->BigtkKeyId = 0;
  ZeroMem(Instance->BigtkBipn, sizeof(Instance->BigtkBipn));
  Instance->TransitionDisable = 0;
  Instance->TransitionDisableValid = FALSE;
  ZeroMem(Instance->Oci, sizeof(Instance->Oci));
  Instance->OciLen = 0;
}

// Decrypts the frame's key data with Kek and finds the KDEs in it.
bool ReadKeyData(const RECEIVED_FRAME &Frame, const UINT8 *Kek, UINT8 *Plaintext, UINTN *PlaintextLength,
                 GROUP_KEYS *Keys) {
  return SupDecryptKeyData(Frame.Bytes, Kek, Frame.KeyDataLength, Plaintext, PlaintextLength) &&
         SupParseKeyDataKdes(Plaintext, *PlaintextLength, &Keys->Gtk, &Keys->Igtk) &&
         SupParseR3Kdes(Plaintext, *PlaintextLength, &Keys->R3);
}

// ---------------------------------------------------------------------------
// Message 3 -> message 4
// ---------------------------------------------------------------------------

EFI_STATUS AnswerMessage3(SUP_INSTANCE *Instance, const RECEIVED_FRAME &Frame, UINT8 *Buffer, UINTN *BufferSize) {
  if (!Instance->TPtkValid || !IsFreshReplayCounter(Instance, Frame) ||
      CompareMem(Frame.Nonce(), Instance->ANonce, NONCE_SIZE) != 0 ||
      !SupVerifyKeyMic(Frame.Bytes, Frame.Size, KckOf(Instance->TPtk))) {
    return EFI_PROTOCOL_ERROR;
  }
  GROUP_KEYS Keys = {};
  UINT8 Plaintext[SUP_KEY_DATA_BUFFER_SIZE] = {};
  UINTN PlaintextLength = 0;
  bool Encrypted = Frame.Has(KEY_INFO_ENCRYPTED_KEY_DATA);
  bool Ok = !Encrypted || ReadKeyData(Frame, KekOf(Instance->TPtk), Plaintext, &PlaintextLength, &Keys);
  // The elements the access point repeats are in the key data as it came
  // (WPA sends them in the clear) or as it decrypted.
  Ok = Ok && (Encrypted ? SupMessage3MatchesBeacon(Instance, Plaintext, PlaintextLength)
                        : SupMessage3MatchesBeacon(Instance, Frame.Bytes + OFFSET_KEY_DATA, Frame.KeyDataLength));
  SecureZeroMem(Plaintext, sizeof(Plaintext));
  if (!Ok) {
    SecureZeroMem(&Keys, sizeof(Keys));
    return EFI_PROTOCOL_ERROR;
  }

  UINT16 Flags = (UINT16)(KEY_INFO_KEY_TYPE_PAIRWISE | (Keys.Gtk.Found ? KEY_INFO_SECURE : 0));
  RESPONSE Response = ResponseTemplate(Instance, Frame, Flags, Instance->SNonce, KckOf(Instance->TPtk));
  if (!ResponseFits(Response, BufferSize)) {
    SecureZeroMem(&Keys, sizeof(Keys));
    return EFI_BUFFER_TOO_SMALL;
  }

  CopyMem(Instance->Ptk, Instance->TPtk, sizeof(Instance->Ptk));
  Instance->PtkValid = TRUE;
  AcceptReplayCounter(Instance, Frame);
  if (Keys.Gtk.Found) {
    StoreGtk(Instance, Keys.Gtk.Key, Keys.Gtk.KeyLength, Keys.Gtk.KeyId, Frame.Rsc());
  }
  if (Keys.Igtk.Found) {
    StoreIgtk(Instance, Keys.Igtk);
  }
  ForgetR3Kdes(Instance);
  StoreR3Kdes(Instance, Keys.R3);
  SecureZeroMem(&Keys, sizeof(Keys));
  EmitResponse(Response, Buffer, BufferSize);
  Instance->HandshakeState = SUP_HANDSHAKE_MESSAGE_4;
  return EFI_SUCCESS;
}

// ---------------------------------------------------------------------------
// Group message 1 -> group message 2
// ---------------------------------------------------------------------------

constexpr UINT8 ZeroNonce[NONCE_SIZE] = {};

UINTN RawGtkLength(const SUP_INSTANCE *Instance) { return Instance->GroupCipher == SUP_CIPHER_TKIP ? 32 : 16; }

EFI_STATUS AnswerGroupMessage1(SUP_INSTANCE *Instance, const RECEIVED_FRAME &Frame, UINT8 *Buffer,
                               UINTN *BufferSize) {
  if (!Instance->PtkValid || !IsFreshReplayCounter(Instance, Frame) ||
      !SupVerifyKeyMic(Frame.Bytes, Frame.Size, Instance->Kck)) {
    return EFI_PROTOCOL_ERROR;
  }
  GROUP_KEYS Keys = {};
  UINT8 Plaintext[SUP_KEY_DATA_BUFFER_SIZE] = {};
  UINTN PlaintextLength = 0;
  bool Rsn = Frame.Bytes[OFFSET_DESCRIPTOR_TYPE] == DESCRIPTOR_TYPE_RSN;
  bool Ok = ReadKeyData(Frame, Instance->Kek, Plaintext, &PlaintextLength, &Keys);
  if (Ok && !(Rsn && Keys.Gtk.Found)) {
    // No GTK KDE: the decrypted key data starts with the GTK itself, and the
    // key index bits name it.
    UINTN Length = RawGtkLength(Instance);
    Ok = PlaintextLength >= Length;
    if (Ok) {
      Keys.Gtk.Found = TRUE;
      Keys.Gtk.KeyLength = (UINT8)Length;
      Keys.Gtk.KeyId = (UINT8)((Frame.KeyInfo & KEY_INFO_KEY_INDEX_MASK) >> KEY_INFO_KEY_INDEX_SHIFT);
      CopyMem(Keys.Gtk.Key, Plaintext, Length);
    }
  }
  SecureZeroMem(Plaintext, sizeof(Plaintext));
  RESPONSE Response = ResponseTemplate(Instance, Frame, KEY_INFO_SECURE, ZeroNonce, Instance->Kck);
  if (!Ok || !ResponseFits(Response, BufferSize)) {
    SecureZeroMem(&Keys, sizeof(Keys));
    return Ok ? EFI_BUFFER_TOO_SMALL : EFI_PROTOCOL_ERROR;
  }

  AcceptReplayCounter(Instance, Frame);
  StoreGtk(Instance, Keys.Gtk.Key, Keys.Gtk.KeyLength, Keys.Gtk.KeyId, Frame.Rsc());
  if (Keys.Igtk.Found) {
    StoreIgtk(Instance, Keys.Igtk);
  }
  StoreR3Kdes(Instance, Keys.R3);
  SecureZeroMem(&Keys, sizeof(Keys));
  EmitResponse(Response, Buffer, BufferSize);
  Instance->HandshakeState = SUP_HANDSHAKE_GROUP_2;
  return EFI_SUCCESS;
}

// ---------------------------------------------------------------------------
// Dispatch
// ---------------------------------------------------------------------------

EFI_STATUS AnswerStartRequest(UINT8 *Buffer, UINTN *BufferSize) {
  if (*BufferSize < START_FRAME_SIZE) {
    *BufferSize = START_FRAME_SIZE;
    return EFI_BUFFER_TOO_SMALL;
  }
  BuildStart(Buffer);
  *BufferSize = START_FRAME_SIZE;
  return EFI_SUCCESS;
}

// The own element is rebuilt for every frame; a call that fails puts the
// previous bytes back so that it leaves no trace in the record.
class OwnElementRebuild {
 public:
  explicit OwnElementRebuild(SUP_INSTANCE *Instance)
      : Instance_(Instance), SavedIe_(Instance->OwnIe), SavedLength_(Instance->OwnIeLen) {
    CopyMem(SavedBuffer_, Instance->OwnIeBuf, sizeof(SavedBuffer_));
    SupBuildOwnElement(Instance);
  }
  ~OwnElementRebuild() {
    if (!Keep_) {
      CopyMem(Instance_->OwnIeBuf, SavedBuffer_, sizeof(SavedBuffer_));
      Instance_->OwnIe = SavedIe_;
      Instance_->OwnIeLen = SavedLength_;
    }
  }
  OwnElementRebuild(const OwnElementRebuild &) = delete;
  OwnElementRebuild &operator=(const OwnElementRebuild &) = delete;
  void Keep() { Keep_ = true; }

 private:
  SUP_INSTANCE *Instance_;
  UINT8        *SavedIe_;
  UINT16        SavedLength_;
  UINT8         SavedBuffer_[SUP_OWN_IE_BUFFER_SIZE];
  bool          Keep_ = false;
};

EFI_STATUS AnswerKeyFrame(SUP_INSTANCE *Instance, const RECEIVED_FRAME &Frame, UINT8 *Buffer, UINTN *BufferSize) {
  switch (Frame.Kind) {
    case KEY_MESSAGE::Message1:
      return AnswerMessage1(Instance, Frame, Buffer, BufferSize);
    case KEY_MESSAGE::Message3:
      return AnswerMessage3(Instance, Frame, Buffer, BufferSize);
    case KEY_MESSAGE::GroupMessage1:
      return AnswerGroupMessage1(Instance, Frame, Buffer, BufferSize);
  }
  return EFI_PROTOCOL_ERROR;
}

}  // namespace

EFI_STATUS SupWpaBuildResponsePacket(SUP_INSTANCE *Instance, UINT8 *RequestBuffer, UINTN RequestBufferSize,
                                     UINT8 *Buffer, UINTN *BufferSize) {
  if (Buffer == nullptr || BufferSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Instance->Protocol < SUP_PROTOCOL_WPA) {
    return EFI_UNSUPPORTED;
  }
  if (RequestBuffer == nullptr) {
    return AnswerStartRequest(Buffer, BufferSize);
  }
  RECEIVED_FRAME Frame;
  if (!ParseFrame(RequestBuffer, RequestBufferSize, &Frame)) {
    return EFI_PROTOCOL_ERROR;
  }
  SupRefreshPassphrasePmk(Instance);
  OwnElementRebuild OwnElement(Instance);
  EFI_STATUS Status = AnswerKeyFrame(Instance, Frame, Buffer, BufferSize);
  if (Status == EFI_SUCCESS) {
    OwnElement.Keep();
    Instance->RxPacket = RequestBuffer;
    Instance->RxPacketSize = (UINT16)RequestBufferSize;
    Instance->RxKeyDesc = RequestBuffer + HEADER_SIZE;
  }
  return Status;
}
