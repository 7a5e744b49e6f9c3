// BuildResponsePacket on a child of the driver loaded into the host UEFI
// environment, against the independent authenticator: whole handshakes in
// every mode, the keys read back, the status rules of the member, and the
// attack cases, each of which must leave the child's record byte for byte
// as it was and the handshake still completable.
#include <TestSupport/HostEnvTest.h>

#include <Authenticator.h>
#include <Hex.h>
#include <Station.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>

#include "KeyMic.h"
#include "Pmk.h"
#include "SupInstance.h"
#include "crypto/Kdf.h"

namespace {

using authenticator::Authenticator;
using authenticator::FAULT;
using authenticator::VERDICT;
using Bytes = std::vector<UINT8>;
using TestSupport::StatusIs;

constexpr char Ssid[] = "HandshakeNet";
constexpr char Passphrase[] = "a handshake pass phrase";
const wifi::MacAddress StationMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
const wifi::MacAddress ApMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

void FillFromGenerator(VOID *Context, UINT8 *Buffer, UINTN Length) {
  auto *Generator = static_cast<std::mt19937 *>(Context);
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = (UINT8)(*Generator)();
  }
}

UINT16 KeyInfo(const Bytes &Frame) { return (UINT16)(Frame[5] << 8 | Frame[6]); }

class HandshakeTest : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    Station_ = std::make_unique<wifi::StationDriver>(Env());
    ASSERT_TRUE(Station_->Ready()) << Station_->Error();
  }
  void TearDown() override {
    Station_.reset();
    HostEnvTest::TearDown();
  }

  // Configures the child for a mode and starts the authenticator with the
  // PMK derived on its own side and the element the station should send.
  void Configure(const char *ModeName, wifi::Mfp Mfp = wifi::Mfp::Off, const char *Network = Ssid,
                 const char *Secret = Passphrase) {
    StartAuthenticator(ModeName, Mfp, Network, Secret);
    ASSERT_TRUE(StatusIs(Station_->Configure({Mode_, Network, Secret, StationMac, ApMac, Mfp}), EFI_SUCCESS))
        << Station_->Error();
  }

  // Tweak, when given, changes the access point's configuration last.
  using ApTweak = std::function<void(authenticator::CONFIG &)>;
  void StartAuthenticator(const char *ModeName, wifi::Mfp Mfp, const char *Network = Ssid,
                          const char *Secret = Passphrase, const ApTweak &Tweak = nullptr) {
    std::optional<wifi::Mode> M = wifi::FindMode(ModeName);
    ASSERT_TRUE(M.has_value());
    Mode_ = *M;
    authenticator::CONFIG Config = {};
    Config.Mode = M->Handshake;
    std::copy(ApMac.begin(), ApMac.end(), Config.ApMac);
    std::copy(StationMac.begin(), StationMac.end(), Config.StaMac);
    ASSERT_EQ(psk_from_passphrase(Secret, strlen(Secret), Network, strlen(Network), Config.Pmk), 1);
    Config.Mfp = wifi::MfpNegotiated(*M, Mfp, Mfp);
    Config.StationElementLength =
        authenticator::BuildSecurityElement(M->Handshake, wifi::MfpPolicy(Mfp), Config.StationElement);
    Config.ApElementLength = authenticator::BuildSecurityElement(M->Handshake, wifi::MfpPolicy(Mfp), Config.ApElement);
    Config.Random = {FillFromGenerator, &Generator_};
    if (Tweak) {
      Tweak(Config);
    }
    StationElement_.assign(Config.StationElement, Config.StationElement + Config.StationElementLength);
    Ap_.Start(Config);
  }

  // A frame anyone could send: the given key information, counter and
  // nonce, key data wrapped under Kek, MIC under Kck (no MIC when NULL).
  Bytes Forged(UINT16 Info, UINT64 Counter, const UINT8 *Nonce, const UINT8 *Kck, const UINT8 *Kek,
               Bytes Plaintext = {}) {
    authenticator::KEY_FRAME Frame = {};
    Frame.DescriptorType = Mode_.Rsn ? 2 : 254;
    Frame.KeyInfo = Info;
    Frame.KeyLength = 16;
    Frame.ReplayCounter = Counter;
    if (Nonce != nullptr) {
      std::memcpy(Frame.Nonce, Nonce, 32);
    }
    Bytes Wrapped;
    if (!Plaintext.empty()) {
      while (Plaintext.size() < 16 || Plaintext.size() % 8 != 0) {
        Plaintext.push_back(0);
      }
      Wrapped.resize(Plaintext.size() + 8);
      authenticator::AesKeyWrap(Kek, Plaintext.data(), Plaintext.size(), Wrapped.data());
      Frame.KeyData = Wrapped.data();
      Frame.KeyDataLength = Wrapped.size();
    }
    Frame.Rsc[0] = 0x42;
    Frame.Kck = Kck;
    UINT8 Out[authenticator::MAX_FRAME_LEN];
    UINTN Length = authenticator::BuildKeyFrame(Frame, Out, sizeof(Out));
    return Bytes(Out, Out + Length);
  }

  using Builder = UINTN (Authenticator::*)(UINT8 *, UINTN);
  Bytes Build(Builder Make) {
    UINT8 Frame[authenticator::MAX_FRAME_LEN];
    UINTN Length = (Ap_.*Make)(Frame, sizeof(Frame));
    EXPECT_NE(Length, 0u);
    return Bytes(Frame, Frame + Length);
  }
  Bytes Faulty(FAULT Fault, bool Group) {
    UINT8 Frame[authenticator::MAX_FRAME_LEN];
    UINTN Length = Group ? Ap_.FaultyGroupMessage1(Fault, Frame, sizeof(Frame))
                         : Ap_.FaultyMessage3(Fault, Frame, sizeof(Frame));
    EXPECT_NE(Length, 0u);
    return Bytes(Frame, Frame + Length);
  }
  Bytes LastApFrame() {
    UINT8 Frame[authenticator::MAX_FRAME_LEN];
    return Bytes(Frame, Frame + Ap_.LastFrame(Frame, sizeof(Frame)));
  }

  // Feeds a frame the station must answer and returns the answer.
  Bytes Answer(const Bytes &Frame) {
    wifi::StationDriver::Answer A = Station_->Respond(Frame);
    EXPECT_TRUE(StatusIs(A.Status, EFI_SUCCESS));
    return A.Frame;
  }

  SUP_INSTANCE *Record() const {
    return reinterpret_cast<SUP_INSTANCE *>(reinterpret_cast<UINT8 *>(Station_->Supplicant()) -
                                            offsetof(SUP_INSTANCE, Supplicant));
  }
  Bytes Snapshot() const {
    const UINT8 *Begin = reinterpret_cast<const UINT8 *>(Record());
    return Bytes(Begin, Begin + sizeof(SUP_INSTANCE));
  }

  // A frame the station must drop with EFI_PROTOCOL_ERROR, writing nothing
  // and changing nothing in its record.
  void ExpectRejectedUnchanged(const Bytes &Frame, const char *What) {
    SCOPED_TRACE(What);
    Bytes Before = Snapshot();
    Bytes Request(Frame);
    Request.reserve(1);  // a zero-length frame still comes with a buffer
    UINT8 Response[512];
    std::memset(Response, 0x5A, sizeof(Response));
    UINTN Size = sizeof(Response);
    EFI_STATUS Status = Station_->Supplicant()->BuildResponsePacket(
        Station_->Supplicant(), Request.data(), Request.size(), Response, &Size);
    EXPECT_TRUE(StatusIs(Status, EFI_PROTOCOL_ERROR));
    EXPECT_EQ(Size, sizeof(Response)) << "*BufferSize changed";
    EXPECT_EQ(Bytes(Response, Response + sizeof(Response)), Bytes(sizeof(Response), 0x5A)) << "response written";
    EXPECT_TRUE(Snapshot() == Before) << "the record changed";
  }

  // Message 1 and the station's message 2, checked by the authenticator.
  Bytes RunMessage1And2() {
    Bytes Message2 = Answer(Build(&Authenticator::Message1));
    EXPECT_EQ(Ap_.AcceptMessage2(Message2.data(), Message2.size()), VERDICT::Ok);
    return Message2;
  }
  void FourWayHandshake() {
    RunMessage1And2();
    Bytes Message4 = Answer(Build(&Authenticator::Message3));
    ASSERT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
  }
  void GroupHandshake() {
    Bytes Group2 = Answer(Build(&Authenticator::GroupMessage1));
    ASSERT_EQ(Ap_.AcceptGroupMessage2(Group2.data(), Group2.size()), VERDICT::Ok);
  }

  void ExpectKeysMatchAuthenticator(bool Mfp) {
    std::optional<EFI_SUPPLICANT_KEY> Ptk = Station_->Key(EfiSupplicant80211PTK);
    ASSERT_TRUE(Ptk.has_value());
    EXPECT_EQ(Bytes(Ptk->Key, Ptk->Key + Ptk->KeyLen), Bytes(Ap_.Tk(), Ap_.Tk() + Ap_.TkLength()));
    EXPECT_EQ(Ptk->KeyType, Pairwise);
    std::optional<EFI_SUPPLICANT_KEY> Gtk = Station_->Key(EfiSupplicant80211GTK);
    ASSERT_TRUE(Gtk.has_value());
    const authenticator::GROUP_KEY &ApGtk = Ap_.Gtk();
    EXPECT_EQ(Bytes(Gtk->Key, Gtk->Key + Gtk->KeyLen), Bytes(ApGtk.Key, ApGtk.Key + ApGtk.Length));
    EXPECT_EQ(Gtk->KeyId, ApGtk.KeyId);
    EXPECT_EQ(Bytes(Gtk->Rsc, Gtk->Rsc + 8), Bytes(ApGtk.Rsc, ApGtk.Rsc + 8));
    if (Mfp) {
      std::optional<EFI_SUPPLICANT_KEY> Igtk = Station_->Key(EfiSupplicant80211IGTKKey);
      ASSERT_TRUE(Igtk.has_value());
      const authenticator::GROUP_KEY &ApIgtk = Ap_.Igtk();
      EXPECT_EQ(Bytes(Igtk->Key, Igtk->Key + Igtk->KeyLen), Bytes(ApIgtk.Key, ApIgtk.Key + ApIgtk.Length));
      EXPECT_EQ(Igtk->KeyId, ApIgtk.KeyId);
      EXPECT_EQ(Bytes(Igtk->Rsc, Igtk->Rsc + 6), Bytes(ApIgtk.Rsc, ApIgtk.Rsc + 6));
    }
    EXPECT_EQ(Station_->KeyRefresh(), std::optional<bool>(true));
  }

  std::unique_ptr<wifi::StationDriver> Station_;
  wifi::Mode                           Mode_{};
  std::mt19937                         Generator_{1234};
  Authenticator                        Ap_;
  Bytes                                StationElement_;
};

// ---------------------------------------------------------------------------
// Whole handshakes
// ---------------------------------------------------------------------------

struct ModeCase {
  const char *Mode;
  wifi::Mfp   Mfp;
  UINT8       ResponseVersion;
};

class ModeHandshakeTest : public HandshakeTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeHandshakeTest, CompletesAndEveryKeyMatchesTheAuthenticator) {
  const ModeCase &Case = GetParam();
  Configure(Case.Mode, Case.Mfp);
  bool Mfp = wifi::MfpNegotiated(Mode_, Case.Mfp, Case.Mfp);
  EXPECT_EQ(Station_->SupplicantState(), std::optional<UINT32>(EfiEapolSupplicantAcquired));

  Bytes Message2 = Answer(Build(&Authenticator::Message1));
  ASSERT_EQ(Ap_.AcceptMessage2(Message2.data(), Message2.size()), VERDICT::Ok);
  EXPECT_EQ(KeyInfo(Message2) & 7, Case.ResponseVersion);
  EXPECT_EQ(Bytes(Message2.begin() + 99, Message2.end()), StationElement_);
  EXPECT_EQ(Station_->SupplicantState(), std::optional<UINT32>(EfiEapolSupplicantAuthenticating));

  Bytes Message4 = Answer(Build(&Authenticator::Message3));
  ASSERT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
  EXPECT_EQ(Message4.size(), 99u);
  EXPECT_EQ(Station_->SupplicantState(), std::optional<UINT32>(EfiEapolSupplicantAuthenticated));
  // RSN delivers the GTK in message 3; WPA only by the group handshake.
  EXPECT_EQ((KeyInfo(Message4) & 0x0200) != 0, Mode_.Rsn);
  EXPECT_EQ(Station_->KeyRefresh(), std::optional<bool>(Mode_.Rsn));
  if (Mode_.Rsn) {
    ExpectKeysMatchAuthenticator(Mfp);
  }

  // Rekeys under alternating key ids.
  UINT8 PreviousKeyId = 0;
  for (int Rekey = 0; Rekey < 3; ++Rekey) {
    GroupHandshake();
    ExpectKeysMatchAuthenticator(Mfp);
    EXPECT_NE(Ap_.Gtk().KeyId, PreviousKeyId);
    PreviousKeyId = Ap_.Gtk().KeyId;
    EXPECT_EQ(Station_->SupplicantState(), std::optional<UINT32>(EfiEapolSupplicantAcquired));
    EXPECT_EQ(Record()->HandshakeState, SUP_HANDSHAKE_GROUP_2);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeHandshakeTest,
                         ::testing::Values(ModeCase{"wpa-psk-tkip", wifi::Mfp::Off, 1},
                                           ModeCase{"wpa2-psk", wifi::Mfp::Off, 2},
                                           ModeCase{"wpa2-psk", wifi::Mfp::Capable, 2},
                                           ModeCase{"wpa2-psk-sha256", wifi::Mfp::Required, 3}),
                         [](const auto &Info) {
                           std::string Name = std::string(Info.param.Mode) + "_mfp" +
                                              std::string(wifi::MfpName(Info.param.Mfp));
                           std::replace(Name.begin(), Name.end(), '-', '_');
                           return Name;
                         });

TEST_F(HandshakeTest, AnnexJPmkIsDerivedOnceHoweverManyFramesFollow) {
  // IEEE 802.11 Annex J: pass phrase "password", SSID "IEEE".
  const Bytes AnnexJ = {0xf4, 0x2c, 0x6f, 0xc5, 0x2d, 0xf0, 0xeb, 0xef, 0x9e, 0xbb, 0x4b, 0x90, 0xb3, 0x8a, 0x5f, 0x90,
                        0x2e, 0x83, 0xfe, 0x1b, 0x13, 0x5a, 0x70, 0xe2, 0x3a, 0xed, 0x76, 0x2e, 0x97, 0x10, 0xa1, 0x2e};
  UINT64 Before = SupPassphraseDerivationCount();
  Configure("wpa2-psk", wifi::Mfp::Off, "IEEE", "password");
  EXPECT_EQ(Bytes(Record()->Pmk, Record()->Pmk + 32), AnnexJ);
  for (int Connection = 0; Connection < 3; ++Connection) {
    FourWayHandshake();
    GroupHandshake();
    GroupHandshake();
  }
  EXPECT_EQ(SupPassphraseDerivationCount() - Before, 1u);
  EXPECT_EQ(Bytes(Record()->Pmk, Record()->Pmk + 32), AnnexJ);
}

TEST_F(HandshakeTest, WpaTkipMessage2IsTheVendorElementIn125Bytes) {
  Configure("wpa-psk-tkip");
  Bytes Message2 = RunMessage1And2();
  ASSERT_EQ(Message2.size(), 125u);
  EXPECT_EQ(Message2[4], 254);                 // WPA descriptor type
  EXPECT_EQ(KeyInfo(Message2), 0x0109);        // version 1, pairwise, MIC
  EXPECT_EQ(Message2[7] << 8 | Message2[8], 32);  // TKIP key length
  EXPECT_EQ(Message2[99], 221);
  EXPECT_EQ(Message2[100], 24);
}

TEST_F(HandshakeTest, RsnMessage2CarriesTheTwentyByteElement) {
  Configure("wpa2-psk");
  Bytes Message2 = RunMessage1And2();
  ASSERT_EQ(Message2.size(), 121u);
  EXPECT_EQ(Message2[4], 2);
  EXPECT_EQ(KeyInfo(Message2), 0x010A);
  EXPECT_EQ(Message2[7] << 8 | Message2[8], 16);
}

// ---------------------------------------------------------------------------
// The member's status rules
// ---------------------------------------------------------------------------

TEST_F(HandshakeTest, NullBufferOrSizeIsAnInvalidParameter) {
  Configure("wpa2-psk");
  Bytes Message1 = Build(&Authenticator::Message1);
  Bytes Before = Snapshot();
  EFI_SUPPLICANT_PROTOCOL *Supplicant = Station_->Supplicant();
  UINT8 Response[256];
  UINTN Size = sizeof(Response);
  EXPECT_TRUE(StatusIs(Supplicant->BuildResponsePacket(Supplicant, Message1.data(), Message1.size(), nullptr, &Size),
                       EFI_INVALID_PARAMETER));
  EXPECT_TRUE(StatusIs(Supplicant->BuildResponsePacket(Supplicant, Message1.data(), Message1.size(), Response, nullptr),
                       EFI_INVALID_PARAMETER));
  EXPECT_EQ(Size, sizeof(Response));
  EXPECT_TRUE(Snapshot() == Before);
}

TEST_F(HandshakeTest, TooSmallABufferGetsTheSizeAndNothingElseHappens) {
  Configure("wpa2-psk", wifi::Mfp::Capable);
  EFI_SUPPLICANT_PROTOCOL *Supplicant = Station_->Supplicant();
  auto TryTooSmall = [&](Bytes Frame, UINTN Needed) {
    Bytes Before = Snapshot();
    UINT8 Response[512];
    std::memset(Response, 0x5A, sizeof(Response));
    UINTN Size = Needed - 1;
    EXPECT_TRUE(StatusIs(Supplicant->BuildResponsePacket(Supplicant, Frame.data(), Frame.size(), Response, &Size),
                         EFI_BUFFER_TOO_SMALL));
    EXPECT_EQ(Size, Needed);
    EXPECT_EQ(Bytes(Response, Response + sizeof(Response)), Bytes(sizeof(Response), 0x5A));
    EXPECT_TRUE(Snapshot() == Before) << "the record changed";
    // The same frame with room enough is answered (nothing was consumed).
    Size = Needed;
    EXPECT_TRUE(StatusIs(Supplicant->BuildResponsePacket(Supplicant, Frame.data(), Frame.size(), Response, &Size),
                         EFI_SUCCESS));
    EXPECT_EQ(Size, Needed);
    return Bytes(Response, Response + Size);
  };
  Bytes Message2 = TryTooSmall(Build(&Authenticator::Message1), 121);
  ASSERT_EQ(Ap_.AcceptMessage2(Message2.data(), Message2.size()), VERDICT::Ok);
  Bytes Message4 = TryTooSmall(Build(&Authenticator::Message3), 99);
  ASSERT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
  Bytes Group2 = TryTooSmall(Build(&Authenticator::GroupMessage1), 99);
  ASSERT_EQ(Ap_.AcceptGroupMessage2(Group2.data(), Group2.size()), VERDICT::Ok);
  ExpectKeysMatchAuthenticator(true);
}

TEST_F(HandshakeTest, NoRequestAsksForAnEapolStart) {
  Configure("wpa2-psk");
  EFI_SUPPLICANT_PROTOCOL *Supplicant = Station_->Supplicant();
  UINT8 Response[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  UINTN Size = 3;
  EXPECT_TRUE(StatusIs(Supplicant->BuildResponsePacket(Supplicant, nullptr, 0, Response, &Size), EFI_BUFFER_TOO_SMALL));
  EXPECT_EQ(Size, 4u);
  EXPECT_EQ(Response[0], 0xEE);
  Size = sizeof(Response);
  EXPECT_TRUE(StatusIs(Supplicant->BuildResponsePacket(Supplicant, nullptr, 0, Response, &Size), EFI_SUCCESS));
  ASSERT_EQ(Size, 4u);
  EXPECT_EQ(Bytes(Response, Response + 5), (Bytes{0x01, 0x01, 0x00, 0x00, 0xEE}));
}

TEST_F(HandshakeTest, AChildWithoutAnAkmRefusesAndWritesNothing) {
  Configure("wpa2-psk");
  Bytes Message1 = Build(&Authenticator::Message1);
  Record()->Protocol = SUP_PROTOCOL_NONE;  // as after CreateChild
  Bytes Before = Snapshot();
  UINT8 Response[256] = {};
  UINTN Size = sizeof(Response);
  EFI_SUPPLICANT_PROTOCOL *Supplicant = Station_->Supplicant();
  EXPECT_TRUE(StatusIs(Supplicant->BuildResponsePacket(Supplicant, Message1.data(), Message1.size(), Response, &Size),
                       EFI_UNSUPPORTED));
  EXPECT_EQ(Size, sizeof(Response));
  EXPECT_EQ(Bytes(Response, Response + sizeof(Response)), Bytes(sizeof(Response), 0));
  EXPECT_TRUE(Snapshot() == Before);
}

TEST_F(HandshakeTest, WithoutAPmkMessage1IsRefused) {
  // A child with no PMK at all: a PTK from an all-zero PMK would be known to
  // anyone.
  StartAuthenticator("wpa2-psk", wifi::Mfp::Off);
  const Bytes RsnPsk = {1, 0, 0x00, 0x0F, 0xAC, 2};
  ASSERT_TRUE(StatusIs(Station_->Set(EfiSupplicant80211AKMSuite, RsnPsk.data(), RsnPsk.size()), EFI_SUCCESS));
  ASSERT_EQ(Record()->PmkSource, SUP_PMK_SOURCE::None);
  ExpectRejectedUnchanged(Build(&Authenticator::Message1), "message 1 without a PMK");
}

TEST_F(HandshakeTest, SaeChildWithoutSaeIsNotKeyedFromThePassword) {
  // The SAE password also derives a pass-phrase PMK, but an SAE child whose
  // exchange has not run must not answer with it: a rogue access point that
  // skips SAE could test password guesses against that message 2 offline.
  StartAuthenticator("wpa3-sae", wifi::Mfp::Capable);
  ASSERT_TRUE(StatusIs(Station_->Configure({Mode_, Ssid, Passphrase, StationMac, ApMac, wifi::Mfp::Capable}),
                       EFI_SUCCESS));
  ASSERT_EQ(Record()->PmkSource, SUP_PMK_SOURCE::Passphrase);
  ExpectRejectedUnchanged(Build(&Authenticator::Message1), "message 1 before SAE");
}

TEST_F(HandshakeTest, ReconfiguringForANewAssociationStartsANewReplayCounter) {
  Configure("wpa2-psk");
  FourWayHandshake();
  GroupHandshake();
  GroupHandshake();
  // The connection manager sets the same network up again for the next
  // association, whose access point counts from the beginning.
  Configure("wpa2-psk");
  FourWayHandshake();
  GroupHandshake();
  ExpectKeysMatchAuthenticator(false);
}

TEST_F(HandshakeTest, SettingThePassPhraseAloneStartsANewReplayCounter) {
  Configure("wpa2-psk");
  FourWayHandshake();
  GroupHandshake();
  // Some connection managers set only the pass phrase again before the next
  // association; the restarted access point counts from its beginning.
  StartAuthenticator("wpa2-psk", wifi::Mfp::Off);
  ASSERT_TRUE(StatusIs(Station_->Set(EfiSupplicant80211PskPassword, Passphrase, strlen(Passphrase)), EFI_SUCCESS));
  FourWayHandshake();
  GroupHandshake();
  ExpectKeysMatchAuthenticator(false);
}

// The cached pass-phrase PMK must describe what Pmk holds: the SSIDs of two
// bands of one office differ in one character and share the pass phrase.
TEST_F(HandshakeTest, NetworksWhoseSsidsHaveTheSameLengthEachGetTheirOwnPmk) {
  for (const char *Network : {"Office-2G", "Office-5G", "Office-2G"}) {
    SCOPED_TRACE(Network);
    Configure("wpa2-psk", wifi::Mfp::Off, Network);
    FourWayHandshake();
    GroupHandshake();
    ExpectKeysMatchAuthenticator(false);
  }
}

// A WPA3 transition-mode network falls back to WPA2 on the same child: after
// a PMK from elsewhere (SAE, or handed in), the same pass phrase set again
// must give the pass-phrase PMK, not the one still held.
TEST_F(HandshakeTest, ThePassPhraseSetAgainReplacesAPmkFromElsewhere) {
  Configure("wpa2-psk");
  const Bytes Elsewhere(SUP_PMK_LEN, 0x3C);
  ASSERT_TRUE(StatusIs(Station_->Set(EfiSupplicant80211PMK, Elsewhere.data(), Elsewhere.size()), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Station_->Set(EfiSupplicant80211PskPassword, Passphrase, strlen(Passphrase)), EFI_SUCCESS));
  UINT8 Expected[SUP_PMK_LEN];
  ASSERT_EQ(psk_from_passphrase(Passphrase, strlen(Passphrase), Ssid, strlen(Ssid), Expected), 1);
  EXPECT_EQ(Bytes(Record()->Pmk, Record()->Pmk + SUP_PMK_LEN), Bytes(Expected, Expected + SUP_PMK_LEN));
  FourWayHandshake();
  GroupHandshake();
  ExpectKeysMatchAuthenticator(false);
}

// A key read into a buffer that held something else carries nothing of it
// past the key's length.
TEST_F(HandshakeTest, KeysReadBackClearTheRestOfTheKeyBuffer) {
  Configure("wpa2-psk");
  FourWayHandshake();
  for (EFI_SUPPLICANT_DATA_TYPE Type : {EfiSupplicant80211PTK, EfiSupplicant80211GTK}) {
    SCOPED_TRACE(Type);
    Bytes Buffer(sizeof(EFI_SUPPLICANT_GTK_LIST), 0xA5);
    UINTN Size = Buffer.size();
    ASSERT_TRUE(StatusIs(Station_->Supplicant()->GetData(Station_->Supplicant(), Type, Buffer.data(), &Size),
                         EFI_SUCCESS));
    EFI_SUPPLICANT_KEY Key;
    std::memcpy(&Key, Buffer.data() + (Type == EfiSupplicant80211GTK ? offsetof(EFI_SUPPLICANT_GTK_LIST, GTKList) : 0),
                sizeof(Key));
    ASSERT_EQ(Key.KeyLen, 16);
    EXPECT_EQ(Bytes(Key.Key + 16, Key.Key + sizeof(Key.Key)), Bytes(sizeof(Key.Key) - 16, 0));
    EXPECT_NE(Bytes(Key.Key, Key.Key + 16), Bytes(16, 0));
  }
}

// ---------------------------------------------------------------------------
// SNonce
// ---------------------------------------------------------------------------

Bytes NonceOf(const Bytes &Frame) { return Bytes(Frame.begin() + 17, Frame.begin() + 49); }

TEST_F(HandshakeTest, EveryNewANonceGetsAFreshSNonceAndARepeatTheSameOne) {
  Configure("wpa2-psk");
  Bytes First = RunMessage1And2();
  EXPECT_NE(NonceOf(First), Bytes(32, 0));
  Bytes Repeat = Answer(Build(&Authenticator::RepeatMessage1));
  EXPECT_EQ(Ap_.AcceptMessage2(Repeat.data(), Repeat.size()), VERDICT::Ok);
  EXPECT_EQ(NonceOf(Repeat), NonceOf(First));
  Bytes Second = RunMessage1And2();  // a new ANonce
  EXPECT_NE(NonceOf(Second), NonceOf(First));
  Bytes Message4 = Answer(Build(&Authenticator::Message3));
  EXPECT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
  ExpectKeysMatchAuthenticator(false);
}

// ---------------------------------------------------------------------------
// Attack cases: rejected, nothing changed, and the handshake goes on
// ---------------------------------------------------------------------------

class AttackTest : public HandshakeTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(AttackTest, ReplayedMessage3IsDropped) {
  Configure(GetParam());
  FourWayHandshake();
  ExpectRejectedUnchanged(LastApFrame(), "replayed message 3");
  GroupHandshake();
  ExpectKeysMatchAuthenticator(false);
}

TEST_P(AttackTest, ReplayedAndForgedGroupMessage1AreDropped) {
  Configure(GetParam(), wifi::Mfp::Capable);
  FourWayHandshake();
  GroupHandshake();
  ExpectRejectedUnchanged(LastApFrame(), "replayed group message 1");
  ExpectRejectedUnchanged(Faulty(FAULT::ForgedMic, true), "forged group message 1");
  GroupHandshake();
  ExpectKeysMatchAuthenticator(Mode_.Rsn);
}

TEST_P(AttackTest, BadMessage3sAreDropped) {
  Configure(GetParam());
  RunMessage1And2();
  ExpectRejectedUnchanged(Faulty(FAULT::WrongNonce, false), "message 3 with a wrong ANonce");
  ExpectRejectedUnchanged(Faulty(FAULT::ForgedMic, false), "message 3 with a forged MIC");
  ExpectRejectedUnchanged(Faulty(FAULT::KeyDataPastEnd, false), "key data length past the end");
  ExpectRejectedUnchanged(Faulty(FAULT::Truncated, false), "message 3 cut inside the MIC");
  if (Mode_.Rsn) {
    ExpectRejectedUnchanged(Faulty(FAULT::OversizeKeyData, false), "oversize key data");
  }
  Bytes Message4 = Answer(Build(&Authenticator::Message3));
  EXPECT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
  GroupHandshake();
  ExpectKeysMatchAuthenticator(false);
}

TEST_P(AttackTest, EveryTruncationOfEveryFrameIsDropped) {
  Configure(GetParam());
  Bytes Message1 = Build(&Authenticator::Message1);
  for (size_t Length = 0; Length < Message1.size(); ++Length) {
    ExpectRejectedUnchanged(Bytes(Message1.begin(), Message1.begin() + (long)Length), "truncated message 1");
  }
  Bytes Message2 = Answer(Message1);
  ASSERT_EQ(Ap_.AcceptMessage2(Message2.data(), Message2.size()), VERDICT::Ok);
  Bytes Message3 = Build(&Authenticator::Message3);
  for (size_t Length = 0; Length < Message3.size(); ++Length) {
    ExpectRejectedUnchanged(Bytes(Message3.begin(), Message3.begin() + (long)Length), "truncated message 3");
  }
  Bytes Message4 = Answer(Message3);
  ASSERT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
  Bytes Group1 = Build(&Authenticator::GroupMessage1);
  for (size_t Length = 0; Length < Group1.size(); ++Length) {
    ExpectRejectedUnchanged(Bytes(Group1.begin(), Group1.begin() + (long)Length), "truncated group message 1");
  }
  Bytes Group2 = Answer(Group1);
  ASSERT_EQ(Ap_.AcceptGroupMessage2(Group2.data(), Group2.size()), VERDICT::Ok);
  ExpectKeysMatchAuthenticator(false);
}

TEST_P(AttackTest, OversizeKeyDataInAGroupMessage1IsDropped) {
  Configure(GetParam());
  FourWayHandshake();
  ExpectRejectedUnchanged(Faulty(FAULT::OversizeKeyData, true), "oversize group key data");
  ExpectRejectedUnchanged(Faulty(FAULT::KeyDataPastEnd, true), "group key data past the end");
  GroupHandshake();
  ExpectKeysMatchAuthenticator(false);
}

TEST_P(AttackTest, FramesBeforeTheirKeysExistAreDropped) {
  Configure(GetParam());
  // Before any message 1 the PTK is all zeros, and so is the ANonce: a
  // message 3 signed with a zero KCK must not get through, nor a group
  // message 1 before message 3 was accepted.
  const UINT8 Zero[32] = {};
  UINT16 Version = authenticator::ApDescriptorVersion(Mode_.Handshake);
  Bytes Gtk = {0xDD, 22, 0x00, 0x0F, 0xAC, 0x01, 0x01, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  ExpectRejectedUnchanged(Forged((UINT16)(Version | 0x13C8), 5, Zero, Zero, Zero, Gtk), "message 3 before message 1");
  ExpectRejectedUnchanged(Forged((UINT16)(Version | 0x1380), 6, nullptr, Zero, Zero, Gtk),
                          "group message 1 before the 4-way handshake");
  RunMessage1And2();
  ExpectRejectedUnchanged(Forged((UINT16)(Version | 0x1380), 7, nullptr, Zero, Zero, Gtk),
                          "group message 1 before message 3");
  Bytes Message4 = Answer(Build(&Authenticator::Message3));
  EXPECT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
}

TEST_P(AttackTest, Message1BelowTheAcceptedCounterIsDropped) {
  Configure(GetParam());
  Bytes Message1 = Build(&Authenticator::Message1);
  Bytes Message2 = Answer(Message1);
  ASSERT_EQ(Ap_.AcceptMessage2(Message2.data(), Message2.size()), VERDICT::Ok);
  Bytes Message4 = Answer(Build(&Authenticator::Message3));
  ASSERT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
  ExpectRejectedUnchanged(Message1, "replayed message 1");
}

TEST_P(AttackTest, AnUnauthenticatedMessage1LeavesTheInstalledKeysAlone) {
  Configure(GetParam());
  FourWayHandshake();
  std::optional<EFI_SUPPLICANT_KEY> Before = Station_->Key(EfiSupplicant80211PTK);
  // Anyone can send a message 1: a counter far ahead, a nonce of their choice.
  UINT8 Nonce[32];
  std::fill(std::begin(Nonce), std::end(Nonce), 0x77);
  UINT16 Version = authenticator::ApDescriptorVersion(Mode_.Handshake);
  Bytes Answer2 = Answer(Forged((UINT16)(Version | 0x0088), 1u << 20, Nonce, nullptr, nullptr));
  EXPECT_EQ(Answer2.size(), Mode_.Rsn ? 121u : 125u);
  std::optional<EFI_SUPPLICANT_KEY> After = Station_->Key(EfiSupplicant80211PTK);
  ASSERT_TRUE(Before && After);
  EXPECT_EQ(Bytes(Before->Key, Before->Key + 32), Bytes(After->Key, After->Key + 32));
  // The real access point rekeys the PTK; the new keys take over.
  FourWayHandshake();
  GroupHandshake();
  ExpectKeysMatchAuthenticator(false);
  EXPECT_NE(Bytes(Before->Key, Before->Key + 16), Bytes(Ap_.Tk(), Ap_.Tk() + 16));
}

TEST_P(AttackTest, NonKeyAndOversizeFramesAreDropped) {
  Configure(GetParam());
  Bytes Message1 = Build(&Authenticator::Message1);
  Bytes NotKey = Message1;
  NotKey[1] = 0;  // an EAP packet
  ExpectRejectedUnchanged(NotKey, "EAPOL packet type 0");
  Bytes Huge = Message1;
  Huge.resize(SUP_MIC_WORK_BUFFER_SIZE + 1, 0);
  ExpectRejectedUnchanged(Huge, "frame longer than the MIC work buffer");
  Bytes BodyTooShort = Message1;
  BodyTooShort[3] -= 1;  // body length one short of the fixed fields
  ExpectRejectedUnchanged(BodyTooShort, "body length below the fixed fields");
  Bytes Message2 = Answer(Message1);
  EXPECT_EQ(Ap_.AcceptMessage2(Message2.data(), Message2.size()), VERDICT::Ok);
}

INSTANTIATE_TEST_SUITE_P(Modes, AttackTest, ::testing::Values("wpa-psk-tkip", "wpa2-psk", "wpa2-psk-sha256"),
                         [](const auto &Info) {
                           std::string Name = Info.param;
                           std::replace(Name.begin(), Name.end(), '-', '_');
                           return Name;
                         });

// ---------------------------------------------------------------------------
// Key data the access point may legitimately vary
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------

TEST_F(HandshakeTest, Message3GtkKdeWithKeyIdZeroAndFortyBytesStoresKeyIdOneAndThirtyTwoBytes) {
  Configure("wpa2-psk");
  RunMessage1And2();
  std::mt19937 Generator(3);
  Bytes Kde = {0xDD, 46, 0x00, 0x0F, 0xAC, 0x01, 0x00, 0x00};
  Bytes Key(40);
  for (UINT8 &Byte : Key) {
    Byte = (UINT8)Generator();
  }
  Kde.insert(Kde.end(), Key.begin(), Key.end());
  Bytes Message4 = Answer(Forged(0x13CA, 100, Ap_.ANonce(), Ap_.Ptk(), Ap_.Ptk() + 16, Kde));
  EXPECT_NE(KeyInfo(Message4) & 0x0200, 0);  // secure: a GTK came
  EXPECT_EQ(Record()->GtkKeyId, 1u);
  EXPECT_EQ(Bytes(Record()->Gtk, Record()->Gtk + 32), Bytes(Key.begin(), Key.begin() + 32));
  EXPECT_EQ(Record()->GtkRsc[0], 0x42);
}

TEST_F(HandshakeTest, RsnGroupMessage1WithoutAKdeTakesTheFirstSixteenBytes) {
  Configure("wpa2-psk");
  FourWayHandshake();
  Bytes Raw = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87, 0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F,
               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  Bytes Group2 = Answer(Forged((UINT16)(0x1382 | (2 << 4)), 100, nullptr, Ap_.Ptk(), Ap_.Ptk() + 16, Raw));
  EXPECT_EQ(Group2.size(), 99u);
  EXPECT_EQ(Record()->GtkKeyId, 2u);
  EXPECT_EQ(Bytes(Record()->Gtk, Record()->Gtk + 16), Bytes(Raw.begin(), Raw.begin() + 16));
  EXPECT_EQ(Bytes(Record()->Gtk + 16, Record()->Gtk + 32), Bytes(16, 0));
}

TEST_F(HandshakeTest, GroupMessage1WithLessKeyDataThanTheGtkIsDropped) {
  Configure("wpa2-psk");
  FourWayHandshake();
  // A TKIP group key takes 32 bytes; 16 bytes of key data cannot hold it.
  Bytes Tkip = {1, 0, 0x00, 0x0F, 0xAC, 2};
  ASSERT_TRUE(StatusIs(Station_->Set(EfiSupplicant80211GroupDataCipherSuite, Tkip.data(), Tkip.size()), EFI_SUCCESS));
  Bytes Sixteen(16, 0x5C);
  ExpectRejectedUnchanged(Forged(0x1382, 100, nullptr, Ap_.Ptk(), Ap_.Ptk() + 16, Sixteen),
                          "group message 1 with too little key data");
}

// ---------------------------------------------------------------------------
// Beacon elements: message 3 must repeat them (downgrade protection)
// ---------------------------------------------------------------------------

const Bytes HashToElement = {0xF4, 0x01, 0x20};

class BeaconTest : public HandshakeTest {
 protected:
  // The station configured for a mode; the access point repeats the
  // contract's element for it in message 3, then ApRsnxe, then (with R3)
  // BIGTK, OCI 81/6/0 and transition disable 1.
  void ConfigureAp(const char *ModeName, wifi::Mfp Mfp, const Bytes &ApRsnxe = {}, bool R3 = false) {
    StartAuthenticator(ModeName, Mfp, Ssid, Passphrase, [&](authenticator::CONFIG &C) {
      C.ApElementLength = authenticator::BuildApElement(C.Mode, wifi::MfpPolicy(Mfp), C.ApElement);
      Beacon_.assign(C.ApElement, C.ApElement + C.ApElementLength);
      std::copy(ApRsnxe.begin(), ApRsnxe.end(), C.ApRsnxElement);
      C.ApRsnxElementLength = ApRsnxe.size();
      C.R3Kdes = R3;
      C.Oci[0] = 81;
      C.Oci[1] = 6;
      C.TransitionDisable = 0x01;
    });
    ASSERT_TRUE(StatusIs(Station_->Configure({Mode_, Ssid, Passphrase, StationMac, ApMac, Mfp}), EFI_SUCCESS));
  }
  EFI_STATUS HandIn(EFI_SUPPLICANT_DATA_TYPE Type, const Bytes &Element) {
    return Station_->Set(Type, Element.empty() ? nullptr : Element.data(), Element.size());
  }
  Bytes Read(EFI_SUPPLICANT_DATA_TYPE Type, EFI_STATUS Expected = EFI_SUCCESS) {
    Bytes Out;
    EXPECT_TRUE(StatusIs(Station_->Read(Type, &Out), Expected)) << Type;
    return Out;
  }

  // Every one-bit change of Element that the driver takes as a beacon
  // element of this Type must make Message3 a downgrade; returns how many
  // were taken. The true element is handed in again at the end.
  size_t ExpectEveryBitFlipRefused(EFI_SUPPLICANT_DATA_TYPE Type, const Bytes &Element, const Bytes &Message3) {
    size_t Taken = 0;
    for (size_t Bit = 0; Bit < 8 * Element.size(); ++Bit) {
      Bytes Altered = Element;
      Altered[Bit / 8] ^= (UINT8)(1u << (Bit % 8));
      Bytes Before = Snapshot();
      EFI_STATUS Status = HandIn(Type, Altered);
      if (Status != EFI_SUCCESS) {
        EXPECT_TRUE(StatusIs(Status, EFI_INVALID_PARAMETER)) << "bit " << Bit;
        EXPECT_TRUE(Snapshot() == Before) << "bit " << Bit;
        continue;
      }
      ++Taken;
      ExpectRejectedUnchanged(Message3, ("beacon element with bit " + std::to_string(Bit) + " flipped").c_str());
    }
    EXPECT_TRUE(StatusIs(HandIn(Type, Element), EFI_SUCCESS));
    return Taken;
  }

  void ExpectBigtkMatchesAuthenticator(UINT8 KeyId) {
    std::optional<EFI_SUPPLICANT_KEY> Bigtk = Station_->Key(EfiSupplicantBigtk);
    ASSERT_TRUE(Bigtk.has_value());
    const authenticator::GROUP_KEY &Ap = Ap_.Bigtk();
    EXPECT_EQ(Bytes(Bigtk->Key, Bigtk->Key + Bigtk->KeyLen), Bytes(Ap.Key, Ap.Key + Ap.Length));
    EXPECT_EQ(Bigtk->KeyId, KeyId);
    EXPECT_EQ(Ap.KeyId, KeyId);
    EXPECT_EQ(Bigtk->RscLen, 6);
    EXPECT_EQ(Bytes(Bigtk->Rsc, Bigtk->Rsc + 6), Bytes(Ap.Rsc, Ap.Rsc + 6));
    EXPECT_EQ(Bigtk->KeyType, IGTK);
  }

  Bytes Beacon_;
};

TEST_F(BeaconTest, TheElementsTheBeaconShowedLetEveryModeThrough) {
  const std::pair<const char *, wifi::Mfp> Cases[] = {
      {"wpa-psk-tkip", wifi::Mfp::Off}, {"wpa2-psk", wifi::Mfp::Capable}, {"wpa2-psk-sha256", wifi::Mfp::Required}};
  for (const auto &[ModeName, Mfp] : Cases) {
    SCOPED_TRACE(ModeName);
    Bytes Rsnxe = std::string(ModeName) == "wpa-psk-tkip" ? Bytes() : HashToElement;
    ConfigureAp(ModeName, Mfp, Rsnxe);
    ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnElement, Beacon_), EFI_SUCCESS));
    ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnxElement, Rsnxe), EFI_SUCCESS));
    EXPECT_EQ(Read(EfiSupplicantApRsnElement), Beacon_);
    FourWayHandshake();
    GroupHandshake();
    ExpectKeysMatchAuthenticator(wifi::MfpNegotiated(Mode_, Mfp, Mfp));
  }
}

TEST_F(BeaconTest, AnRsnElementDifferingInOneBitIsADowngrade) {
  ConfigureAp("wpa2-psk-sha256", wifi::Mfp::Required);
  RunMessage1And2();
  Bytes Message3 = Build(&Authenticator::Message3);
  // Suites and capabilities: every bit of them can differ in a beacon.
  EXPECT_GE(ExpectEveryBitFlipRefused(EfiSupplicantApRsnElement, Beacon_, Message3), 112u);
  Bytes Message4 = Answer(Message3);
  EXPECT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
}

TEST_F(BeaconTest, AWpaElementDifferingInOneBitIsADowngrade) {
  ConfigureAp("wpa-psk-tkip", wifi::Mfp::Off);
  RunMessage1And2();
  Bytes Message3 = Build(&Authenticator::Message3);
  EXPECT_GE(ExpectEveryBitFlipRefused(EfiSupplicantApRsnElement, Beacon_, Message3), 96u);
  Bytes Message4 = Answer(Message3);
  EXPECT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
  GroupHandshake();
}

TEST_F(BeaconTest, AnRsnxeDifferingInOneBitOrAddedIsADowngrade) {
  ConfigureAp("wpa2-psk", wifi::Mfp::Capable, HashToElement);
  ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnElement, Beacon_), EFI_SUCCESS));
  RunMessage1And2();
  Bytes Message3 = Build(&Authenticator::Message3);
  ExpectRejectedUnchanged(Message3, "an RSNXE the beacon did not show");
  EXPECT_EQ(ExpectEveryBitFlipRefused(EfiSupplicantApRsnxElement, HashToElement, Message3), 8u);
  EXPECT_EQ(Read(EfiSupplicantApRsnxElement), HashToElement);
  Bytes Message4 = Answer(Message3);
  EXPECT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
}

TEST_F(BeaconTest, AnRsnxeTheBeaconShowedMissingFromMessage3IsADowngrade) {
  ConfigureAp("wpa2-psk", wifi::Mfp::Capable);
  ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnElement, Beacon_), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnxElement, HashToElement), EFI_SUCCESS));
  RunMessage1And2();
  Bytes Message3 = Build(&Authenticator::Message3);
  ExpectRejectedUnchanged(Message3, "message 3 without the beacon's RSNXE");
  // An RSNXE alone is compared as well.
  ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnElement, {}), EFI_SUCCESS));
  ExpectRejectedUnchanged(Message3, "message 3 without the beacon's RSNXE, no RSN element handed in");
  ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnxElement, {}), EFI_SUCCESS));
  Read(EfiSupplicantApRsnxElement, EFI_NOT_FOUND);
  Bytes Message4 = Answer(Message3);
  EXPECT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
}

TEST_F(BeaconTest, WithoutBeaconElementsNothingIsCompared) {
  ConfigureAp("wpa2-psk-sha256", wifi::Mfp::Required, HashToElement);
  RunMessage1And2();
  Bytes Message4 = Answer(Faulty(FAULT::DowngradedRsne, false));
  EXPECT_EQ(Message4.size(), 99u);
  std::optional<EFI_SUPPLICANT_KEY> Ptk = Station_->Key(EfiSupplicant80211PTK);
  ASSERT_TRUE(Ptk.has_value());
  EXPECT_EQ(Bytes(Ptk->Key, Ptk->Key + 16), Bytes(Ap_.Tk(), Ap_.Tk() + 16));
}

// The beacon elements belong to the access point, not to the PMK inputs: a
// connection manager that sets SSID and pass phrase again for the same
// access point keeps its downgrade protection.
TEST_F(BeaconTest, NewPmkInputsKeepTheBeaconElements) {
  ConfigureAp("wpa2-psk", wifi::Mfp::Capable);
  ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnElement, Beacon_), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnxElement, HashToElement), EFI_SUCCESS));
  ASSERT_TRUE(StatusIs(Station_->Configure({Mode_, Ssid, Passphrase, StationMac, ApMac, wifi::Mfp::Capable}),
                       EFI_SUCCESS));
  const Bytes Pmk(SUP_PMK_LEN, 0x11);
  ASSERT_TRUE(StatusIs(Station_->Set(EfiSupplicant80211PMK, Pmk.data(), Pmk.size()), EFI_SUCCESS));
  EXPECT_EQ(Read(EfiSupplicantApRsnElement), Beacon_);
  EXPECT_EQ(Read(EfiSupplicantApRsnxElement), HashToElement);
}

// ---------------------------------------------------------------------------
// Key data of WPA3 access points: BIGTK, OCI, transition disable
// ---------------------------------------------------------------------------

TEST_F(BeaconTest, R3KdesOfMessage3AndGroupMessage1MatchTheAuthenticator) {
  ConfigureAp("wpa2-psk-sha256", wifi::Mfp::Required, {}, true);
  ASSERT_TRUE(StatusIs(HandIn(EfiSupplicantApRsnElement, Beacon_), EFI_SUCCESS));
  for (EFI_SUPPLICANT_DATA_TYPE Type :
       {EfiSupplicantBigtk, EfiSupplicantTransitionDisable, EfiSupplicantOperatingChannelInfo}) {
    Read(Type, EFI_NOT_FOUND);
  }
  RunMessage1And2();
  Read(EfiSupplicantBigtk, EFI_NOT_FOUND);  // message 3 has not verified yet
  Bytes Message4 = Answer(Build(&Authenticator::Message3));
  ASSERT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
  ExpectBigtkMatchesAuthenticator(6);
  EXPECT_EQ(Read(EfiSupplicantTransitionDisable), Bytes{0x01});
  EXPECT_EQ(Read(EfiSupplicantOperatingChannelInfo), (Bytes{81, 6, 0}));
  GroupHandshake();
  ExpectBigtkMatchesAuthenticator(7);
  GroupHandshake();
  ExpectBigtkMatchesAuthenticator(6);
  ExpectKeysMatchAuthenticator(true);
  // A message 3 of the next association without them forgets all three.
  ConfigureAp("wpa2-psk-sha256", wifi::Mfp::Required);
  FourWayHandshake();
  for (EFI_SUPPLICANT_DATA_TYPE Type :
       {EfiSupplicantBigtk, EfiSupplicantTransitionDisable, EfiSupplicantOperatingChannelInfo}) {
    Read(Type, EFI_NOT_FOUND);
  }
}

Bytes KeyData(std::string_view Text) { return wifi::FromHex(Text).value(); }

TEST_F(HandshakeTest, MalformedR3KdesAreRefusedInMessage3AndGroupMessage1) {
  const std::pair<const char *, const char *> Malformed[] = {
      {"dd1b000fac0e0600010203040506" "777777777777777777777777777777", "BIGTK of 15 bytes"},
      {"dd1d000fac0e0700010203040506" "7777777777777777777777777777777777", "BIGTK of 17 bytes"},
      {"dd0c000fac0e0600010203040506", "BIGTK KDE without a key"},
      {"dd1c000fac0e0500010203040506" "77777777777777777777777777777777", "BIGTK key id 5"},
      {"dd1c000fac0e0601010203040506" "77777777777777777777777777777777", "BIGTK key id 262"},
      {"dd09000fac0e0600010203", "BIGTK KDE cut inside the BIPN"},
      {"dd06000fac0d5106", "OCI of two octets"},
      {"dd04506f9a20", "transition disable without its bitmap"},
  };
  const Bytes Gtk = KeyData("dd16000fac010100" "0102030405060708090a0b0c0d0e0f10");
  Configure("wpa2-psk");
  RunMessage1And2();
  UINT64 Counter = 100;
  for (bool Group : {false, true}) {
    for (const auto &[Kde, What] : Malformed) {
      Bytes Plain = Gtk;
      Bytes Bad = KeyData(Kde);
      Plain.insert(Plain.end(), Bad.begin(), Bad.end());
      ExpectRejectedUnchanged(Group ? Forged(0x1382, Counter++, nullptr, Ap_.Ptk(), Ap_.Ptk() + 16, Plain)
                                    : Forged(0x13CA, Counter++, Ap_.ANonce(), Ap_.Ptk(), Ap_.Ptk() + 16, Plain),
                              What);
    }
    if (!Group) {
      Bytes Message4 = Answer(Build(&Authenticator::Message3));
      ASSERT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);
    }
  }
  GroupHandshake();
  ExpectKeysMatchAuthenticator(false);
}

TEST_F(HandshakeTest, UnknownAndVendorKdesAreSkipped) {
  Configure("wpa2-psk");
  RunMessage1And2();
  const Bytes Plain = KeyData(
      "dd0c000fac100102030405060708"          // an RSN KDE type from after our time
      "dd0800101801deadbeef"                  // another vendor's
      "dd05506f9a1607"                        // a Wi-Fi Alliance type we do not know
      "dd0c000fac0d510600520700" "0909"       // OCI with its transition fields and more
      "dd16000fac010100" "0102030405060708090a0b0c0d0e0f10"
      "dd1c000fac0e0700" "0a0b0c0d0e0f" "100f0e0d0c0b0a090807060504030201");
  Bytes Message4 = Answer(Forged(0x13CA, 100, Ap_.ANonce(), Ap_.Ptk(), Ap_.Ptk() + 16, Plain));
  EXPECT_NE(KeyInfo(Message4) & 0x0200, 0);
  EXPECT_EQ(Bytes(Record()->Gtk, Record()->Gtk + 16), KeyData("0102030405060708090a0b0c0d0e0f10"));
  std::optional<EFI_SUPPLICANT_KEY> Bigtk = Station_->Key(EfiSupplicantBigtk);
  ASSERT_TRUE(Bigtk.has_value());
  EXPECT_EQ(Bigtk->KeyId, 7);
  EXPECT_EQ(Bytes(Bigtk->Key, Bigtk->Key + Bigtk->KeyLen), KeyData("100f0e0d0c0b0a090807060504030201"));
  EXPECT_EQ(Bytes(Bigtk->Rsc, Bigtk->Rsc + 6), KeyData("0a0b0c0d0e0f"));
  Bytes Out;
  ASSERT_TRUE(StatusIs(Station_->Read(EfiSupplicantOperatingChannelInfo, &Out), EFI_SUCCESS));
  EXPECT_EQ(Out, KeyData("510600520700"));  // the fields this station knows
  EXPECT_TRUE(StatusIs(Station_->Read(EfiSupplicantTransitionDisable, &Out), EFI_NOT_FOUND));
}

// ---------------------------------------------------------------------------
// The station's RSNXE
// ---------------------------------------------------------------------------

TEST_F(HandshakeTest, HashToElementPutsTheStationRsnxeIntoMessage2) {
  Bytes Rsne;
  StartAuthenticator("wpa2-psk-sha256", wifi::Mfp::Required, Ssid, Passphrase, [&](authenticator::CONFIG &C) {
    Rsne.assign(C.StationElement, C.StationElement + C.StationElementLength);
    std::copy(HashToElement.begin(), HashToElement.end(), C.StationElement + C.StationElementLength);
    C.StationElementLength += HashToElement.size();
  });
  ASSERT_TRUE(StatusIs(Station_->Configure({Mode_, Ssid, Passphrase, StationMac, ApMac, wifi::Mfp::Required}),
                       EFI_SUCCESS));
  Bytes Method = {1};
  ASSERT_TRUE(StatusIs(Station_->Set(EfiSupplicantSaePweMethod, Method.data(), 1), EFI_SUCCESS));
  Bytes Rsnxe;
  ASSERT_TRUE(StatusIs(Station_->Read(EfiSupplicantStationRsnxElement, &Rsnxe), EFI_SUCCESS));
  EXPECT_EQ(Rsnxe, HashToElement);
  Bytes Message2 = RunMessage1And2();  // the authenticator wants RSN element then RSNXE
  EXPECT_EQ(Bytes(Message2.end() - 3, Message2.end()), Rsnxe);
  Bytes Message4 = Answer(Build(&Authenticator::Message3));
  EXPECT_EQ(Ap_.AcceptMessage4(Message4.data(), Message4.size()), VERDICT::Ok);

  // Hunting-and-pecking: no RSNXE anywhere.
  Method[0] = 0;
  ASSERT_TRUE(StatusIs(Station_->Set(EfiSupplicantSaePweMethod, Method.data(), 1), EFI_SUCCESS));
  EXPECT_TRUE(StatusIs(Station_->Read(EfiSupplicantStationRsnxElement, &Rsnxe), EFI_NOT_FOUND));
  Message2 = Answer(Build(&Authenticator::Message1));
  EXPECT_EQ(Bytes(Message2.begin() + 99, Message2.end()), Rsne);
}

}  // namespace
