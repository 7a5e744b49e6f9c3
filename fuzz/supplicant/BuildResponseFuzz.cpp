// libFuzzer target: EAPOL frames to EFI_SUPPLICANT_PROTOCOL.BuildResponsePacket
// on a child of the driver (loaded into the host UEFI environment) that is
// configured for one of the modes and brought by the authenticator to a
// stage of the handshake. Three forms reach different depths: raw frames;
// frames whose MIC the harness fixes up with the key the child holds (past
// the MIC check); and key data the harness encrypts and wraps into a
// valid message 3 or group message 1 (past decryption, into the KDEs).
// A fourth form builds that key data from the elements current access points
// send (GTK, IGTK, BIGTK, OCI, transition disable, other vendors' KDEs, the
// RSN element and RSNXE, padding), picked, ordered and altered by the input,
// so that unknown and malformed KDEs next to valid ones are always in play.
//
// A fifth form speaks EAP to a child configured for an 802.1X AKM with the
// test PKI as its EAP-TLS credentials: Identity, other methods (Nak),
// Notification, EAP-TLS Start, EAP-TLS fragments with fuzzed flags, length
// field and data, Success, Failure and raw EAP frames, each frame's kind and
// fields taken from the input (see EapSession). Its invariants: success or
// protocol error only; a success answers an EAP request with an EAP
// response of the same identifier and consistent lengths, or a Success /
// Failure with nothing; no frame changes a key; destroying the child frees
// everything the exchange held.
//
// Input: byte 0 = mode, MFP, stage and (bit 5) whether the beacon's RSN
// element and RSNXE, the ones the composed key data carries, are handed in
// once the stage is reached; byte 1 = form; then frames, each
// a two-byte big-endian length and that many bytes. In the composed form a
// frame's bytes are picks: a byte choosing an element (bit 7: overwrite its
// body with the next (byte & 63) input bytes; bit 6: then make its length
// field match), repeated.
//
// Invariants, any breach aborts: the status is EFI_SUCCESS or
// EFI_PROTOCOL_ERROR; a refused frame changes no byte of the child's
// record and writes nothing; an answer fits the buffer; what an accepted
// frame leaves of BIGTK, OCI and transition disable is well-formed;
// destroying the child frees all its memory.
#include <Authenticator.h>
#include <HostEnv/Environment.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "SupInstance.h"
#include "TestCertificates.h"
#include "crypto/Rc4.h"
#include "uefi_sup.h"

namespace {

using authenticator::Authenticator;
using Bytes = std::vector<UINT8>;

constexpr UINT8 StationMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr UINT8 ApMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
constexpr UINT8 Pmk[32] = {0x6e, 0x65, 0x77, 0x20, 0x70, 0x6d, 0x6b, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                           0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19};

struct ModeSetup {
  authenticator::MODE Mode;
  UINT8               Oui[3];
  UINT8               Akm;
  UINT8               Cipher;
};
constexpr ModeSetup Modes[] = {
    {authenticator::MODE::WpaPskTkip, {0x00, 0x50, 0xF2}, 2, 2},
    {authenticator::MODE::Wpa2Psk, {0x00, 0x0F, 0xAC}, 2, 4},
    {authenticator::MODE::Wpa2PskSha256, {0x00, 0x0F, 0xAC}, 6, 4},
};

enum class Stage { Fresh, AfterMessage1, Established };
enum class Form { Raw, MicFixed, KeyData, ComposedKeyData, Eap };
// The EAP form needs the driver built with EAP.
constexpr UINT8 FormCount = NORV_ENTERPRISE ? 5 : 4;

// Elements of message 3 and group message 1 key data as access points send
// them today; the key material is arbitrary.
const std::vector<Bytes> &KeyDataElements() {
  static const std::vector<Bytes> Elements = {
      // GTK KDE, key ID 1, transmit.
      {0xDD, 0x16, 0x00, 0x0F, 0xAC, 0x01, 0x05, 0x00, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A,
       0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20},
      // IGTK KDE, key ID 4, IPN, 16-byte IGTK.
      {0xDD, 0x1C, 0x00, 0x0F, 0xAC, 0x09, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x22, 0x23, 0x24,
       0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30},
      // BIGTK KDE, key ID 6, BIPN, 16-byte BIGTK.
      {0xDD, 0x1C, 0x00, 0x0F, 0xAC, 0x0E, 0x06, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x32, 0x33, 0x34,
       0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40},
      // OCI KDE: operating class 81, channel 6, no second segment.
      {0xDD, 0x07, 0x00, 0x0F, 0xAC, 0x0D, 0x51, 0x06, 0x00},
      // Transition disable KDE (Wi-Fi Alliance OUI, type 0x20): WPA3-Personal.
      {0xDD, 0x05, 0x50, 0x6F, 0x9A, 0x20, 0x01},
      // Another vendor's KDE and a Wi-Fi Alliance type nobody here knows.
      {0xDD, 0x08, 0x00, 0x10, 0x18, 0x01, 0xDE, 0xAD, 0xBE, 0xEF},
      {0xDD, 0x05, 0x50, 0x6F, 0x9A, 0x16, 0x07},
      // MAC address, PMKID, lifetime and key ID KDEs.
      {0xDD, 0x0A, 0x00, 0x0F, 0xAC, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02},
      {0xDD, 0x14, 0x00, 0x0F, 0xAC, 0x04, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C,
       0x4D, 0x4E, 0x4F, 0x50},
      {0xDD, 0x08, 0x00, 0x0F, 0xAC, 0x07, 0x00, 0x00, 0x0E, 0x10},
      {0xDD, 0x06, 0x00, 0x0F, 0xAC, 0x0A, 0x00, 0x00},
      // A KDE type from after our time (a multi-link one).
      {0xDD, 0x0C, 0x00, 0x0F, 0xAC, 0x10, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08},
      // RSN element (PSK, CCMP, MFP capable) and RSNXE (SAE hash-to-element).
      {0x30, 0x14, 0x01, 0x00, 0x00, 0x0F, 0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F, 0xAC, 0x04, 0x01, 0x00, 0x00, 0x0F,
       0xAC, 0x02, 0x80, 0x00},
      {0xF4, 0x01, 0x20},
      // Padding: 0xDD, then zeros to the end.
      {0xDD, 0x00, 0x00, 0x00},
  };
  return Elements;
}

// Where KeyDataElements keeps the RSN element and the RSNXE.
constexpr size_t RsnElementIndex = 12;
constexpr size_t RsnxElementIndex = 13;

Bytes ComposeKeyData(const UINT8 *Data, size_t Length) {
  const std::vector<Bytes> &Elements = KeyDataElements();
  Bytes KeyData;
  size_t Index = 0;
  while (Index < Length) {
    UINT8 Pick = Data[Index++];
    Bytes Element = Elements[Pick % Elements.size()];
    if ((Pick & 0x80) != 0 && Index < Length) {
      size_t Wanted = Data[Index++] & 0x3F;
      size_t Count = std::min(Wanted, Length - Index);
      Element.resize(std::max(Element.size(), 2 + Count));
      std::memcpy(Element.data() + 2, Data + Index, Count);
      Index += Count;
      if ((Pick & 0x40) != 0) {
        Element[1] = (UINT8)(Element.size() - 2);
      }
    }
    KeyData.insert(KeyData.end(), Element.begin(), Element.end());
  }
  return KeyData;
}

[[noreturn]] void Breach(const char *What) {
  std::fprintf(stderr, "invariant broken: %s\n", What);
  std::abort();
}

void FillRandom(VOID *Context, UINT8 *Buffer, UINTN Length) {
  auto *Generator = static_cast<std::mt19937 *>(Context);
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = (UINT8)(*Generator)();
  }
}

// The environment and the driver live for the whole run.
struct World {
  HostEnv::Environment          Env;
  EFI_SERVICE_BINDING_PROTOCOL *Service = nullptr;
  World() {
    EFI_HANDLE Image = Env.LoadImage(NorvSupDxeModuleEntry);
    if (EFI_ERROR(Env.StartImage(Image)) ||
        EFI_ERROR(Env.BootServices()->LocateProtocol(&gEfiSupplicantServiceBindingProtocolGuid, nullptr,
                                                     reinterpret_cast<VOID **>(&Service)))) {
      Breach("the driver does not load");
    }
  }
};

World &TheWorld() {
  static World *W = new World;  // never destroyed: libFuzzer exits from anywhere
  return *W;
}

class Session {
 public:
  Session(World &W, const ModeSetup &Setup, bool Mfp) : World_(W) {
    EFI_SERVICE_BINDING_PROTOCOL *Service = W.Service;
    if (EFI_ERROR(Service->CreateChild(Service, &Child_)) ||
        EFI_ERROR(W.Env.BootServices()->HandleProtocol(Child_, &gEfiSupplicantProtocolGuid,
                                                       reinterpret_cast<VOID **>(&Station_)))) {
      Breach("no child");
    }
    UINT8 Akm[6] = {1, 0, Setup.Oui[0], Setup.Oui[1], Setup.Oui[2], Setup.Akm};
    UINT8 Cipher[6] = {1, 0, Setup.Oui[0], Setup.Oui[1], Setup.Oui[2], Setup.Cipher};
    EFI_80211_SSID Ssid = {4, {'f', 'u', 'z', 'z'}};
    UINT8 MfpWishes[2] = {(UINT8)Mfp, 0};
    bool Ok = Set(EfiSupplicant80211AKMSuite, Akm, 6) && Set(EfiSupplicant80211PairwiseCipherSuite, Cipher, 6) &&
              Set(EfiSupplicant80211GroupDataCipherSuite, Cipher, 6) &&
              Set(EfiSupplicant80211TargetSSIDName, &Ssid, sizeof(Ssid)) &&
              Set(EfiSupplicant80211TargetSSIDMac, ApMac, 6) && Set(EfiSupplicant80211MfpCapability, MfpWishes, 2) &&
              Set(EfiSupplicant80211StationMac, StationMac, 6) && Set(EfiSupplicant80211PMK, Pmk, 32);
    if (!Ok) {
      Breach("configuration refused");
    }
    authenticator::CONFIG Config = {};
    Config.Mode = Setup.Mode;
    std::memcpy(Config.ApMac, ApMac, 6);
    std::memcpy(Config.StaMac, StationMac, 6);
    std::memcpy(Config.Pmk, Pmk, 32);
    Config.Mfp = Mfp && Setup.Mode != authenticator::MODE::WpaPskTkip;
    authenticator::MFP_POLICY Policy = {Mfp, false};
    Config.StationElementLength = authenticator::BuildSecurityElement(Setup.Mode, Policy, Config.StationElement);
    Config.ApElementLength = authenticator::BuildSecurityElement(Setup.Mode, Policy, Config.ApElement);
    Config.Random = {FillRandom, &Generator_};
    Ap_.Start(Config);
    Mode_ = Setup.Mode;
  }

  ~Session() {
    EFI_SERVICE_BINDING_PROTOCOL *Service = World_.Service;
    Service->DestroyChild(Service, Child_);
  }

  void Advance(Stage To) {
    UINT8 Frame[authenticator::MAX_FRAME_LEN];
    if (To >= Stage::AfterMessage1 &&
        !Handshake(Frame, Ap_.Message1(Frame, sizeof(Frame)), &Authenticator::AcceptMessage2)) {
      Breach("message 1 not answered correctly");
    }
    if (To >= Stage::Established &&
        !Handshake(Frame, Ap_.Message3(Frame, sizeof(Frame)), &Authenticator::AcceptMessage4)) {
      Breach("message 3 not answered correctly");
    }
    Stage_ = To;
    Counter_ = Ap_.ReplayCounter() + 1;
  }

  // The beacon elements the composed key data repeats, so that matching and
  // mismatching message 3 elements are both in play.
  void HandInBeaconElements() {
    const Bytes &Rsne = KeyDataElements()[RsnElementIndex];
    const Bytes &Rsnxe = KeyDataElements()[RsnxElementIndex];
    if (!Set(EfiSupplicantApRsnElement, Rsne.data(), Rsne.size()) ||
        !Set(EfiSupplicantApRsnxElement, Rsnxe.data(), Rsnxe.size())) {
      Breach("beacon elements refused");
    }
  }

  void Feed(Form How, const UINT8 *Data, size_t Length) {
    Bytes Frame(Data, Data + Length);
    if (How == Form::MicFixed && Length >= 99 && Stage_ != Stage::Fresh) {
      authenticator::ComputeMic(Frame.data(), Frame.size(), Frame[6] & 7, Ap_.Ptk(), Frame.data() + 81);
    } else if (How == Form::KeyData && Stage_ != Stage::Fresh) {
      Frame = WrapKeyData(Bytes(Data, Data + Length));
    } else if (How == Form::ComposedKeyData && Stage_ != Stage::Fresh) {
      Frame = WrapKeyData(ComposeKeyData(Data, Length));
    }
    Check(Frame);
  }

 private:
  bool Set(EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size) {
    return Station_->SetData(Station_, Type, const_cast<void *>(Data), Size) == EFI_SUCCESS;
  }

  bool Handshake(UINT8 *Frame, UINTN Length, authenticator::VERDICT (Authenticator::*Accept)(const UINT8 *, UINTN)) {
    UINT8 Answer[512];
    UINTN Size = sizeof(Answer);
    return Station_->BuildResponsePacket(Station_, Frame, Length, Answer, &Size) == EFI_SUCCESS &&
           (Ap_.*Accept)(Answer, Size) == authenticator::VERDICT::Ok;
  }

  SUP_INSTANCE *Record() const {
    return reinterpret_cast<SUP_INSTANCE *>(reinterpret_cast<UINT8 *>(Station_) - offsetof(SUP_INSTANCE, Supplicant));
  }

  // The fuzz bytes as key data of a message 3 (before the PTK is in use) or
  // a group message 1, encrypted the way the mode's descriptor version says.
  Bytes WrapKeyData(Bytes Plain) {
    bool Wpa = Mode_ == authenticator::MODE::WpaPskTkip;
    bool Group = Stage_ == Stage::Established;
    if (Plain.size() > 300) {
      Plain.resize(300);
    }
    Bytes Encrypted;
    authenticator::KEY_FRAME Frame = {};
    UINT8 Version = authenticator::ApDescriptorVersion(Mode_);
    if (Wpa) {
      UINT8 Key[32] = {};
      std::memcpy(Key + 16, Ap_.Ptk() + 16, 16);
      rc4_state State;
      rc4_set_key(&State, sizeof(Key), Key);
      Bytes Stream(256 + Plain.size(), 0);
      rc4_crypt(&State, Stream.size(), Stream.data(), Stream.data());
      for (size_t Index = 0; Index < Plain.size(); ++Index) {
        Encrypted.push_back(Plain[Index] ^ Stream[256 + Index]);
      }
    } else {
      while (Plain.size() < 16 || Plain.size() % 8 != 0) {
        Plain.push_back(0);
      }
      Encrypted.resize(Plain.size() + 8);
      authenticator::AesKeyWrap(Ap_.Ptk() + 16, Plain.data(), Plain.size(), Encrypted.data());
    }
    Frame.DescriptorType = Wpa ? 254 : 2;
    Frame.KeyInfo = (UINT16)(Version | 0x0380 | 0x1000 | (Group ? (1 << 4) : 0x0048));
    Frame.KeyLength = Wpa ? 32 : 16;
    Frame.ReplayCounter = Counter_++;
    if (!Group) {
      std::memcpy(Frame.Nonce, Ap_.ANonce(), 32);
    }
    Frame.KeyData = Encrypted.data();
    Frame.KeyDataLength = Encrypted.size();
    Frame.Kck = Ap_.Ptk();
    UINT8 Out[authenticator::MAX_FRAME_LEN];
    UINTN Length = authenticator::BuildKeyFrame(Frame, Out, sizeof(Out));
    return Bytes(Out, Out + Length);
  }

  void Check(Bytes Frame) {
    Frame.reserve(1);
    SUP_INSTANCE *Instance = Record();
    Bytes Before(reinterpret_cast<UINT8 *>(Instance), reinterpret_cast<UINT8 *>(Instance) + sizeof(SUP_INSTANCE));
    UINT8 Answer[512];
    std::memset(Answer, 0xA5, sizeof(Answer));
    UINTN Size = sizeof(Answer);
    EFI_STATUS Status = Station_->BuildResponsePacket(Station_, Frame.data(), Frame.size(), Answer, &Size);
    if (Status == EFI_SUCCESS) {
      if (Size < 4 || Size > sizeof(Answer)) {
        Breach("answer size out of range");
      }
      if (!(Instance->BigtkLen == 0 || Instance->BigtkLen == 16 || Instance->BigtkLen == 32) ||
          (Instance->BigtkLen != 0 && Instance->BigtkKeyId != 6 && Instance->BigtkKeyId != 7)) {
        Breach("a BIGTK of a length or key id no KDE may carry");
      }
      if (Instance->OciLen > SUP_OCI_MAX_LEN || (Instance->OciLen != 0 && Instance->OciLen < 3)) {
        Breach("OCI shorter than its fields or longer than its room");
      }
      return;
    }
    if (Status != EFI_PROTOCOL_ERROR) {
      Breach("status other than success or protocol error");
    }
    if (std::memcmp(Before.data(), Instance, sizeof(SUP_INSTANCE)) != 0) {
      Breach("a refused frame changed the record");
    }
    for (UINT8 Byte : Answer) {
      if (Byte != 0xA5 || Size != sizeof(Answer)) {
        Breach("a refused frame wrote an answer");
      }
    }
  }

  World                   &World_;
  EFI_HANDLE               Child_ = nullptr;
  EFI_SUPPLICANT_PROTOCOL *Station_ = nullptr;
  std::mt19937             Generator_{99};
  Authenticator            Ap_;
  authenticator::MODE      Mode_ = authenticator::MODE::Wpa2Psk;
  Stage                    Stage_ = Stage::Fresh;
  UINT64                   Counter_ = 1;
};

// ---------------------------------------------------------------------------
// EAP frames
// ---------------------------------------------------------------------------

class EapSession {
 public:
  EapSession(World &W, UINT8 Akm) : World_(W) {
    EFI_SERVICE_BINDING_PROTOCOL *Service = W.Service;
    EFI_EAP_CONFIGURATION_PROTOCOL *Eap = nullptr;
    if (EFI_ERROR(Service->CreateChild(Service, &Child_)) ||
        EFI_ERROR(W.Env.BootServices()->HandleProtocol(Child_, &gEfiSupplicantProtocolGuid,
                                                       reinterpret_cast<VOID **>(&Station_))) ||
        EFI_ERROR(W.Env.BootServices()->HandleProtocol(Child_, &gEfiEapConfigurationProtocolGuid,
                                                       reinterpret_cast<VOID **>(&Eap)))) {
      Breach("no child");
    }
    using namespace eap_test_pki;
    UINT8 AkmSuite[6] = {1, 0, 0x00, 0x0F, 0xAC, Akm};
    UINT8 Ccmp[6] = {1, 0, 0x00, 0x0F, 0xAC, 4};
    UINT8 Tls = 13;
    char Identity[] = "fuzz@norv.test";
    bool Ok = Set(EfiSupplicant80211AKMSuite, AkmSuite, 6) && Set(EfiSupplicant80211PairwiseCipherSuite, Ccmp, 6) &&
              Set(EfiSupplicant80211GroupDataCipherSuite, Ccmp, 6) &&
              Set(EfiSupplicant80211TargetSSIDMac, ApMac, 6) && Set(EfiSupplicant80211StationMac, StationMac, 6) &&
              Set(EfiSupplicant80211PMK, Pmk, 32) &&
              Eap->SetData(Eap, EFI_EAP_TYPE_ATTRIBUTE, EfiEapConfigEapAuthMethod, &Tls, 1) == EFI_SUCCESS &&
              Eap->SetData(Eap, EFI_EAP_TYPE_IDENTITY, EfiEapConfigIdentityString, Identity, sizeof(Identity)) ==
                  EFI_SUCCESS &&
              Eap->SetData(Eap, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsCACert, const_cast<char *>(RootEcCertPem),
                           sizeof(RootEcCertPem)) == EFI_SUCCESS &&
              Eap->SetData(Eap, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientCert, const_cast<char *>(ClientEcCertPem),
                           sizeof(ClientEcCertPem)) == EFI_SUCCESS &&
              Eap->SetData(Eap, EFI_EAP_TYPE_EAPTLS, EfiEapConfigEapTlsClientPrivateKeyFile,
                           const_cast<char *>(ClientEcKeyPem), sizeof(ClientEcKeyPem)) == EFI_SUCCESS;
    if (!Ok) {
      Breach("EAP configuration refused");
    }
  }

  ~EapSession() {
    EFI_SERVICE_BINDING_PROTOCOL *Service = World_.Service;
    Service->DestroyChild(Service, Child_);
  }

  // One frame from the input: byte 0 picks the kind, the next bytes its
  // identifier, type, flags and length field, the rest its data.
  void Feed(const UINT8 *Data, size_t Length) {
    if (Length == 0) {
      return;
    }
    auto At = [&](size_t Index) -> UINT8 { return Index < Length ? Data[Index] : 0; };
    Bytes Rest(Data + std::min<size_t>(Length, 3), Data + Length);
    UINT8 Id = At(1);
    Bytes Frame;
    bool Answered = true;  // a request gets a response, Success and Failure nothing
    switch (Data[0] % 8) {
      case 0:
        Frame = Eap(1, Id, {1});
        break;
      case 1: {
        Bytes TypeData = {At(2)};
        TypeData.insert(TypeData.end(), Rest.begin(), Rest.end());
        Frame = Eap(1, Id, TypeData);
        break;
      }
      case 2:
        Frame = Eap(1, Id, {2, 'n'});
        break;
      case 3:
        Frame = Eap(1, Id, {13, 0x20});
        break;
      case 4: {
        // Flags from the input; with L the next four bytes are the length field.
        Bytes TypeData = {13, At(2)};
        TypeData.insert(TypeData.end(), Rest.begin(), Rest.end());
        Frame = Eap(1, Id, TypeData);
        break;
      }
      case 5:
        Frame = Eap(3, Id, {});
        Answered = false;
        break;
      case 6:
        Frame = Eap(4, Id, {});
        Answered = false;
        break;
      default:
        // Raw bytes behind an EAPOL header of packet type EAP-Packet; bit 0
        // of byte 1 says whether the body length is made to fit.
        Frame = {2, 0, 0, 0};
        Frame.insert(Frame.end(), Data + std::min<size_t>(Length, 2), Data + Length);
        if (Id & 1) {
          Frame[2] = (UINT8)((Frame.size() - 4) >> 8);
          Frame[3] = (UINT8)(Frame.size() - 4);
        } else {
          Frame[2] = At(2);
          Frame[3] = At(3);
        }
        Answered = Frame.size() > 4 && Frame[4] == 1;
        break;
    }
    Check(Frame, Answered);
  }

 private:
  static Bytes Eap(UINT8 Code, UINT8 Id, const Bytes &TypeData) {
    UINT16 EapLength = (UINT16)(4 + TypeData.size());
    Bytes Frame = {2, 0, (UINT8)(EapLength >> 8), (UINT8)EapLength, Code, Id, (UINT8)(EapLength >> 8),
                   (UINT8)EapLength};
    Frame.insert(Frame.end(), TypeData.begin(), TypeData.end());
    return Frame;
  }

  bool Set(EFI_SUPPLICANT_DATA_TYPE Type, const void *Data, UINTN Size) {
    return Station_->SetData(Station_, Type, const_cast<void *>(Data), Size) == EFI_SUCCESS;
  }

  SUP_INSTANCE *Record() const {
    return reinterpret_cast<SUP_INSTANCE *>(reinterpret_cast<UINT8 *>(Station_) - offsetof(SUP_INSTANCE, Supplicant));
  }

  Bytes Keys() const {
    const SUP_INSTANCE *R = Record();
    Bytes Out(R->Pmk, R->Pmk + sizeof(R->Pmk));
    Out.push_back((UINT8)R->PmkSource);
    Out.insert(Out.end(), R->Ptk, R->Ptk + sizeof(R->Ptk));
    Out.insert(Out.end(), R->TPtk, R->TPtk + sizeof(R->TPtk));
    Out.insert(Out.end(), R->Gtk, R->Gtk + sizeof(R->Gtk));
    Out.insert(Out.end(), R->Igtk, R->Igtk + sizeof(R->Igtk));
    return Out;
  }

  void Check(Bytes Frame, bool Answered) {
    Frame.reserve(1);
    Bytes KeysBefore = Keys();
    UINT8 Answer[2048];
    std::memset(Answer, 0xA5, sizeof(Answer));
    UINTN Size = sizeof(Answer);
    EFI_STATUS Status = Station_->BuildResponsePacket(Station_, Frame.data(), Frame.size(), Answer, &Size);
    if (Status != EFI_SUCCESS && Status != EFI_PROTOCOL_ERROR) {
      Breach("EAP: status other than success or protocol error");
    }
    // No frame here can complete a handshake with the server's key, so no
    // frame may change a key, accepted or not.
    if (Keys() != KeysBefore) {
      Breach("EAP: a frame changed a key");
    }
    if (Status == EFI_PROTOCOL_ERROR) {
      for (UINT8 Byte : Answer) {
        if (Byte != 0xA5 || Size != sizeof(Answer)) {
          Breach("EAP: a refused frame wrote an answer");
        }
      }
      return;
    }
    if (!Answered) {
      if (Size != 0) {
        Breach("EAP: Success or Failure answered");
      }
      return;
    }
    UINTN EapLength = (UINTN)(Answer[6] << 8 | Answer[7]);
    if (Size < 9 || Size > 1034 || Answer[1] != 0 || Answer[4] != 2 || Answer[5] != Frame[5] ||
        EapLength + 4 != Size || (UINTN)(Answer[2] << 8 | Answer[3]) != EapLength) {
      Breach("EAP: the response is no EAP response to the request");
    }
  }

  World                   &World_;
  EFI_HANDLE               Child_ = nullptr;
  EFI_SUPPLICANT_PROTOCOL *Station_ = nullptr;
};

// The EAP form: the frames of the input, one after the other, to a child
// configured for AKM 1 or (bit 0 of byte 0) AKM 5.
void FeedEap(World &W, const UINT8 *Data, size_t Size) {
  EapSession S(W, (Data[0] & 1) != 0 ? 5 : 1);
  for (size_t Offset = 2; Offset + 2 <= Size;) {
    size_t Length = (size_t)(Data[Offset] << 8 | Data[Offset + 1]);
    Offset += 2;
    Length = Length < Size - Offset ? Length : Size - Offset;
    S.Feed(Data + Offset, Length);
    Offset += Length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 2) {
    return 0;
  }
  World &W = TheWorld();
  size_t LiveBefore = W.Env.Pool().TotalUsage().LiveBlocks;
  {
    const ModeSetup &Setup = Modes[Data[0] % 3];
    bool Mfp = (Data[0] >> 2) & 1;
    Stage To = static_cast<Stage>((Data[0] >> 3) % 3);
    Form How = static_cast<Form>(Data[1] % FormCount);
    if (How == Form::Eap) {
      FeedEap(W, Data, Size);
      if (W.Env.Pool().TotalUsage().LiveBlocks != LiveBefore) {
        Breach("destroying the child left pool memory behind");
      }
      return 0;
    }
    Session S(W, Setup, Mfp);
    S.Advance(To);
    if ((Data[0] >> 5) & 1) {
      S.HandInBeaconElements();
    }
    size_t Offset = 2;
    while (Offset + 2 <= Size) {
      size_t Length = (size_t)(Data[Offset] << 8 | Data[Offset + 1]);
      Offset += 2;
      Length = Length < Size - Offset ? Length : Size - Offset;
      S.Feed(How, Data + Offset, Length);
      Offset += Length;
    }
  }
  if (W.Env.Pool().TotalUsage().LiveBlocks != LiveBefore) {
    Breach("destroying the child left pool memory behind");
  }
  return 0;
}
