// The building blocks of the key handshake: PTK derivation, key MIC, key
// data decryption and the element/KDE finder, checked against published
// vectors and against the independent authenticator implementation.
#include <gtest/gtest.h>

#include <Authenticator.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "EapolKey.h"
#include "KeyData.h"
#include "KeyElements.h"
#include "KeyMic.h"
#include "PtkDerivation.h"
#include "crypto/AesCmac.h"
#include "crypto/Hmac.h"
#include "crypto/Rc4.h"

namespace {

using Bytes = std::vector<UINT8>;

Bytes Hex(const std::string &Text) {
  Bytes Out;
  for (size_t Index = 0; Index + 1 < Text.size(); Index += 2) {
    Out.push_back((UINT8)std::stoi(Text.substr(Index, 2), nullptr, 16));
  }
  return Out;
}

Bytes Random(std::mt19937 &Generator, size_t Length) {
  Bytes Out(Length);
  for (UINT8 &Byte : Out) {
    Byte = (UINT8)Generator();
  }
  return Out;
}

// A received EAPOL-Key frame with the given descriptor version, key IV and
// key data; the rest is zero.
Bytes KeyFrame(UINT8 Version, const Bytes &KeyData, const Bytes &KeyIv = Bytes(16, 0)) {
  Bytes Frame(eapol::FIXED_SIZE + KeyData.size(), 0);
  Frame[0] = 2;
  Frame[1] = 3;
  eapol::WriteBe16(&Frame[2], (UINT16)(Frame.size() - 4));
  Frame[4] = 2;
  eapol::WriteBe16(&Frame[5], (UINT16)(Version | 0x0108));
  std::copy(KeyIv.begin(), KeyIv.end(), Frame.begin() + eapol::OFFSET_KEY_IV);
  eapol::WriteBe16(&Frame[eapol::OFFSET_KEY_DATA_LENGTH], (UINT16)KeyData.size());
  std::copy(KeyData.begin(), KeyData.end(), Frame.begin() + eapol::OFFSET_KEY_DATA);
  return Frame;
}

// ---------------------------------------------------------------------------
// PTK derivation
// ---------------------------------------------------------------------------

struct PtkInputs {
  Bytes Pmk, Aa, Spa, ANonce, SNonce;
};

PtkInputs RandomPtkInputs(unsigned Seed) {
  std::mt19937 Generator(Seed);
  return {Random(Generator, 32), Random(Generator, 6), Random(Generator, 6), Random(Generator, 32),
          Random(Generator, 32)};
}

Bytes Derive(SUP_PTK_HASH Hash, const PtkInputs &In) {
  Bytes Ptk(SUP_PTK_LEN, 0xEE);
  SupDerivePtk(Hash, In.Pmk.data(), In.Aa.data(), In.Spa.data(), In.ANonce.data(), In.SNonce.data(), Ptk.data());
  return Ptk;
}

TEST(PtkDerivation, SwappingAddressesOrNoncesGivesTheSameKey) {
  for (SUP_PTK_HASH Hash : {SUP_PTK_HASH::Sha1, SUP_PTK_HASH::Sha256}) {
    for (unsigned Seed = 1; Seed <= 8; ++Seed) {
      PtkInputs In = RandomPtkInputs(Seed);
      PtkInputs Swapped = In;
      std::swap(Swapped.Aa, Swapped.Spa);
      std::swap(Swapped.ANonce, Swapped.SNonce);
      EXPECT_EQ(Derive(Hash, In), Derive(Hash, Swapped));
      PtkInputs OnlyNonces = In;
      std::swap(OnlyNonces.ANonce, OnlyNonces.SNonce);
      EXPECT_EQ(Derive(Hash, In), Derive(Hash, OnlyNonces));
    }
  }
}

TEST(PtkDerivation, AgreesWithTheAuthenticatorsOwnDerivation) {
  struct Case {
    SUP_PTK_HASH        Hash;
    authenticator::MODE Mode;
  } Cases[] = {{SUP_PTK_HASH::Sha1, authenticator::MODE::Wpa2Psk},
               {SUP_PTK_HASH::Sha1, authenticator::MODE::WpaPskTkip},
               {SUP_PTK_HASH::Sha256, authenticator::MODE::Wpa2PskSha256}};
  for (const Case &C : Cases) {
    PtkInputs In = RandomPtkInputs(42);
    Bytes Theirs(64);
    authenticator::DerivePtk(C.Mode, In.Pmk.data(), In.Aa.data(), In.Spa.data(), In.ANonce.data(), In.SNonce.data(),
                             Theirs.data());
    EXPECT_EQ(Derive(C.Hash, In), Theirs);
  }
}

TEST(PtkDerivation, Sha256FormFillsFortyEightBytesAndZeroesTheRest) {
  Bytes Ptk = Derive(SUP_PTK_HASH::Sha256, RandomPtkInputs(7));
  EXPECT_EQ(Bytes(Ptk.begin() + 48, Ptk.end()), Bytes(16, 0));
  EXPECT_NE(Bytes(Ptk.begin() + 32, Ptk.begin() + 48), Bytes(16, 0));
  // The SHA-1 form is a different key altogether.
  EXPECT_NE(Derive(SUP_PTK_HASH::Sha1, RandomPtkInputs(7)), Ptk);
}

TEST(PtkDerivation, EqualAddressesStillDerive) {
  PtkInputs In = RandomPtkInputs(3);
  In.Spa = In.Aa;
  In.SNonce = In.ANonce;
  EXPECT_NE(Derive(SUP_PTK_HASH::Sha1, In), Bytes(64, 0));
}

// ---------------------------------------------------------------------------
// Key MIC
// ---------------------------------------------------------------------------

class KeyMicTest : public ::testing::Test {
 protected:
  std::mt19937 Generator{5};
  Bytes        Kck = Random(Generator, 16);

  Bytes Signed(UINT8 Version, size_t KeyDataLength = 22) {
    Bytes Frame = KeyFrame(Version, Random(Generator, KeyDataLength));
    SupComputeKeyMic(Frame.data(), Frame.size(), Version, Kck.data());
    return Frame;
  }
  static Bytes MicOf(const Bytes &Frame) {
    return Bytes(Frame.begin() + eapol::OFFSET_KEY_MIC, Frame.begin() + eapol::OFFSET_KEY_MIC + 16);
  }
  static Bytes WithZeroMic(Bytes Frame) {
    std::fill_n(Frame.begin() + eapol::OFFSET_KEY_MIC, 16, 0);
    return Frame;
  }
};

TEST_F(KeyMicTest, EachVersionUsesItsPrimitive) {
  Bytes Md5 = Signed(1);
  UINT8 Expected[20];
  Bytes Zeroed = WithZeroMic(Md5);
  mic_hmac_md5(Zeroed.data(), Zeroed.size(), Kck.data(), 16, Expected);
  EXPECT_EQ(MicOf(Md5), Bytes(Expected, Expected + 16));

  Bytes Sha1 = Signed(2);
  Zeroed = WithZeroMic(Sha1);
  hmac_sha1(Kck.data(), 16, Zeroed.data(), Zeroed.size(), Expected);  // 20 bytes; the MIC keeps 16
  EXPECT_EQ(MicOf(Sha1), Bytes(Expected, Expected + 16));

  Bytes Cmac = Signed(3);
  Zeroed = WithZeroMic(Cmac);
  UINTN Length = 0;
  mic_aes_cmac(Zeroed.data(), Zeroed.size(), Kck.data(), 16, Expected, &Length);
  EXPECT_EQ(MicOf(Cmac), Bytes(Expected, Expected + 16));
}

TEST_F(KeyMicTest, VersionZeroIsVerifiedWithAesCmac) {
  Bytes Frame = Signed(0);
  UINT8 Expected[16];
  UINTN Length = 0;
  Bytes Zeroed = WithZeroMic(Frame);
  mic_aes_cmac(Zeroed.data(), Zeroed.size(), Kck.data(), 16, Expected, &Length);
  EXPECT_EQ(MicOf(Frame), Bytes(Expected, Expected + 16));
  EXPECT_TRUE(SupVerifyKeyMic(Frame.data(), Frame.size(), Kck.data()));
}

TEST_F(KeyMicTest, VerificationAcceptsOnlyTheExactFrame) {
  for (UINT8 Version : {1, 2, 3}) {
    Bytes Frame = Signed(Version);
    ASSERT_TRUE(SupVerifyKeyMic(Frame.data(), Frame.size(), Kck.data()));
    for (size_t Index = 0; Index < Frame.size(); ++Index) {
      Bytes Changed = Frame;
      Changed[Index] ^= 0x01;
      EXPECT_FALSE(SupVerifyKeyMic(Changed.data(), Changed.size(), Kck.data())) << "byte " << Index;
    }
    Bytes OtherKck = Kck;
    OtherKck[15] ^= 0x80;
    EXPECT_FALSE(SupVerifyKeyMic(Frame.data(), Frame.size(), OtherKck.data()));
  }
}

TEST_F(KeyMicTest, UndefinedVersionsAndOversizeFramesFail) {
  for (UINT8 Version = 4; Version <= 7; ++Version) {
    Bytes Frame = KeyFrame(Version, {});
    SupComputeKeyMic(Frame.data(), Frame.size(), Version, Kck.data());
    EXPECT_EQ(MicOf(Frame), Bytes(16, 0)) << "no MIC for version " << (int)Version;
    EXPECT_FALSE(SupVerifyKeyMic(Frame.data(), Frame.size(), Kck.data()));
  }
  Bytes Largest = Signed(2, SUP_MIC_WORK_BUFFER_SIZE - eapol::FIXED_SIZE);
  EXPECT_TRUE(SupVerifyKeyMic(Largest.data(), Largest.size(), Kck.data()));
  Bytes TooLarge = Signed(2, SUP_MIC_WORK_BUFFER_SIZE - eapol::FIXED_SIZE + 1);
  EXPECT_FALSE(SupVerifyKeyMic(TooLarge.data(), TooLarge.size(), Kck.data()));
}

// ---------------------------------------------------------------------------
// Key data decryption
// ---------------------------------------------------------------------------

// RFC 3394, 4.1: 128 bits of key data wrapped with a 128-bit KEK.
const Bytes Rfc3394Kek = Hex("000102030405060708090a0b0c0d0e0f");
const Bytes Rfc3394Plain = Hex("00112233445566778899aabbccddeeff");
const Bytes Rfc3394Wrapped = Hex("1fa68b0a8112b447aef34bd8fb5a7b829d3e862371d2cfe5");

bool Decrypt(const Bytes &Frame, const Bytes &Kek, Bytes *Plain) {
  UINT8 Out[SUP_KEY_DATA_BUFFER_SIZE];
  UINTN Length = 0;
  size_t KeyDataLength = eapol::KeyDataLength(Frame.data());
  if (!SupDecryptKeyData(Frame.data(), Kek.data(), KeyDataLength, Out, &Length)) {
    return false;
  }
  Plain->assign(Out, Out + Length);
  return true;
}

TEST(KeyData, AesUnwrapOfTwentyFourBytesYieldsSixteen) {
  for (UINT8 Version : {0, 2, 3}) {
    Bytes Plain;
    ASSERT_TRUE(Decrypt(KeyFrame(Version, Rfc3394Wrapped), Rfc3394Kek, &Plain)) << (int)Version;
    EXPECT_EQ(Plain, Rfc3394Plain);
  }
}

TEST(KeyData, AesUnwrapWithAWrongIntegrityValueFails) {
  Bytes Wrapped = Rfc3394Wrapped;
  Wrapped[3] ^= 0x10;
  Bytes Plain;
  EXPECT_FALSE(Decrypt(KeyFrame(2, Wrapped), Rfc3394Kek, &Plain));
  Bytes OtherKek = Rfc3394Kek;
  OtherKek[0] ^= 1;
  EXPECT_FALSE(Decrypt(KeyFrame(2, Rfc3394Wrapped), OtherKek, &Plain));
}

TEST(KeyData, AuthenticatorWrapRoundTripsAtEveryAcceptedLength) {
  std::mt19937 Generator(11);
  Bytes Kek = Random(Generator, 16);
  for (size_t Length = 16; Length <= SUP_KEY_DATA_BUFFER_SIZE; Length += 8) {
    Bytes Plain = Random(Generator, Length), Wrapped(Length + 8), Out;
    authenticator::AesKeyWrap(Kek.data(), Plain.data(), Length, Wrapped.data());
    ASSERT_TRUE(Decrypt(KeyFrame(2, Wrapped), Kek, &Out)) << Length;
    EXPECT_EQ(Out, Plain);
  }
  // The authenticator's wrap is the RFC's.
  Bytes Wrapped(24);
  authenticator::AesKeyWrap(Rfc3394Kek.data(), Rfc3394Plain.data(), 16, Wrapped.data());
  EXPECT_EQ(Wrapped, Rfc3394Wrapped);
}

TEST(KeyData, LengthsTheBufferOrTheWrapCannotTakeAreRefused) {
  for (UINT8 Version : {0, 2, 3}) {
    EXPECT_FALSE(SupKeyDataLengthAcceptable(Version, 0));
    EXPECT_FALSE(SupKeyDataLengthAcceptable(Version, 8));
    EXPECT_TRUE(SupKeyDataLengthAcceptable(Version, 16));
    EXPECT_FALSE(SupKeyDataLengthAcceptable(Version, 30));
    EXPECT_TRUE(SupKeyDataLengthAcceptable(Version, SUP_KEY_DATA_BUFFER_SIZE + 8));
    EXPECT_FALSE(SupKeyDataLengthAcceptable(Version, SUP_KEY_DATA_BUFFER_SIZE + 16));
  }
  EXPECT_TRUE(SupKeyDataLengthAcceptable(1, 0));
  EXPECT_TRUE(SupKeyDataLengthAcceptable(1, SUP_KEY_DATA_BUFFER_SIZE));
  EXPECT_FALSE(SupKeyDataLengthAcceptable(1, SUP_KEY_DATA_BUFFER_SIZE + 1));
  for (UINT8 Version = 4; Version <= 7; ++Version) {
    EXPECT_FALSE(SupKeyDataLengthAcceptable(Version, 24));
    Bytes Plain;
    EXPECT_FALSE(Decrypt(KeyFrame(Version, Rfc3394Wrapped), Rfc3394Kek, &Plain));
  }
}

TEST(KeyData, Rc4SkipsExactlyTwoHundredFiftySixKeystreamBytes) {
  std::mt19937 Generator(13);
  Bytes Kek = Random(Generator, 16), Iv = Random(Generator, 16), Secret = Random(Generator, 32);
  // Keystream of IV || KEK from its very first byte.
  Bytes Key = Iv;
  Key.insert(Key.end(), Kek.begin(), Kek.end());
  rc4_state State;
  rc4_set_key(&State, Key.size(), Key.data());
  Bytes Stream(256 + Secret.size() + 1, 0);
  rc4_crypt(&State, Stream.size(), Stream.data(), Stream.data());
  Bytes Encrypted(Secret.size());
  for (size_t Index = 0; Index < Secret.size(); ++Index) {
    Encrypted[Index] = Secret[Index] ^ Stream[256 + Index];
  }
  Bytes Plain;
  ASSERT_TRUE(Decrypt(KeyFrame(1, Encrypted, Iv), Kek, &Plain));
  EXPECT_EQ(Plain, Secret);
  // One byte off either way gives something else.
  for (size_t Skip : {255, 257}) {
    for (size_t Index = 0; Index < Secret.size(); ++Index) {
      Encrypted[Index] = Secret[Index] ^ Stream[Skip + Index];
    }
    ASSERT_TRUE(Decrypt(KeyFrame(1, Encrypted, Iv), Kek, &Plain));
    EXPECT_NE(Plain, Secret);
  }
}

// ---------------------------------------------------------------------------
// Elements and KDEs
// ---------------------------------------------------------------------------

constexpr UINT8 GtkSelector[4] = {0x00, 0x0F, 0xAC, 0x01};

TEST(KeyElements, FinderTakesOnlyWholeMatchingElements) {
  // RSN element, a vendor element of another OUI, then the GTK KDE.
  Bytes List = Hex("30020100" "dd0600501234ab01" "dd0a000fac010200aabbccdd");
  SUP_ELEMENT Rsn = SupFindElement(List.data(), List.size(), 48, nullptr);
  ASSERT_NE(Rsn.Body, nullptr);
  EXPECT_EQ(Rsn.Length, 2);
  SUP_ELEMENT Kde = SupFindElement(List.data(), List.size(), 221, GtkSelector);
  ASSERT_NE(Kde.Body, nullptr);
  EXPECT_EQ(Kde.Body, List.data() + 14);
  EXPECT_EQ(Kde.Length, 10);

  // Cut inside the KDE: no longer found, and nothing past the end is read.
  Bytes Cut(List.begin(), List.end() - 1);
  EXPECT_EQ(SupFindElement(Cut.data(), Cut.size(), 221, GtkSelector).Body, nullptr);
  // A vendor element too short to hold a selector does not match it.
  Bytes Short = Hex("dd03000fac");
  EXPECT_EQ(SupFindElement(Short.data(), Short.size(), 221, GtkSelector).Body, nullptr);
  EXPECT_EQ(SupFindElement(List.data(), 2, 48, nullptr).Body, nullptr);
  EXPECT_EQ(SupFindElement(List.data(), 0, 48, nullptr).Body, nullptr);
}

TEST(KeyElements, GtkKdeKeyIdZeroIsStoredAsOne) {
  Bytes Data = Hex("dd16000fac01" "0000" "00112233445566778899aabbccddeeff");
  SUP_GTK_KDE Gtk;
  SUP_IGTK_KDE Igtk;
  ASSERT_TRUE(SupParseKeyDataKdes(Data.data(), Data.size(), &Gtk, &Igtk));
  EXPECT_TRUE(Gtk.Found);
  EXPECT_EQ(Gtk.KeyId, 1);
  EXPECT_EQ(Gtk.KeyLength, 16);
  EXPECT_FALSE(Igtk.Found);
  Data[6] = 0x06;  // key id 2 with the Tx bit: only bits 0-1 count
  ASSERT_TRUE(SupParseKeyDataKdes(Data.data(), Data.size(), &Gtk, &Igtk));
  EXPECT_EQ(Gtk.KeyId, 2);
}

TEST(KeyElements, GtkKdeOfLength46KeepsThirtyTwoBytes) {
  std::mt19937 Generator(17);
  Bytes Key = Random(Generator, 40);
  Bytes Data = Hex("dd2e000fac010100");
  Data.insert(Data.end(), Key.begin(), Key.end());
  SUP_GTK_KDE Gtk;
  SUP_IGTK_KDE Igtk;
  ASSERT_TRUE(SupParseKeyDataKdes(Data.data(), Data.size(), &Gtk, &Igtk));
  EXPECT_EQ(Gtk.KeyLength, 32);
  EXPECT_EQ(Bytes(Gtk.Key, Gtk.Key + 32), Bytes(Key.begin(), Key.begin() + 32));
}

TEST(KeyElements, IgtkKdeCarriesKeyIdIpnAndKey) {
  Bytes Data = Hex("dd1c000fac09" "0500" "010203040506" "f0e1d2c3b4a5968778695a4b3c2d1e0f");
  SUP_GTK_KDE Gtk;
  SUP_IGTK_KDE Igtk;
  ASSERT_TRUE(SupParseKeyDataKdes(Data.data(), Data.size(), &Gtk, &Igtk));
  EXPECT_FALSE(Gtk.Found);
  ASSERT_TRUE(Igtk.Found);
  EXPECT_EQ(Igtk.KeyId, 5);
  EXPECT_EQ(Bytes(Igtk.Ipn, Igtk.Ipn + 6), Hex("010203040506"));
  EXPECT_EQ(Igtk.KeyLength, 16);
  EXPECT_EQ(Bytes(Igtk.Key, Igtk.Key + 16), Hex("f0e1d2c3b4a5968778695a4b3c2d1e0f"));
}

TEST(KeyElements, KdesWithoutAKeyAreMalformed) {
  SUP_GTK_KDE Gtk;
  SUP_IGTK_KDE Igtk;
  Bytes EmptyGtk = Hex("dd06000fac010100");
  EXPECT_FALSE(SupParseKeyDataKdes(EmptyGtk.data(), EmptyGtk.size(), &Gtk, &Igtk));
  Bytes EmptyIgtk = Hex("dd0c000fac090400010203040506");
  EXPECT_FALSE(SupParseKeyDataKdes(EmptyIgtk.data(), EmptyIgtk.size(), &Gtk, &Igtk));
  // Padding alone (0xdd then zeros) holds no KDE and is fine.
  Bytes Padding = Hex("dd00000000000000");
  EXPECT_TRUE(SupParseKeyDataKdes(Padding.data(), Padding.size(), &Gtk, &Igtk));
  EXPECT_FALSE(Gtk.Found || Igtk.Found);
}

// ---------------------------------------------------------------------------
// Response frames
// ---------------------------------------------------------------------------

TEST(EapolKeyBuilder, LaysOutEveryFieldAndSignsLast) {
  std::mt19937 Generator(19);
  Bytes Replay = Random(Generator, 8), Nonce = Random(Generator, 32), Kck = Random(Generator, 16);
  Bytes Element = Random(Generator, 20);
  eapol::RESPONSE Response = {};
  Response.DescriptorType = eapol::DESCRIPTOR_TYPE_RSN;
  Response.DescriptorVersion = 2;
  Response.Flags = eapol::KEY_INFO_KEY_TYPE_PAIRWISE | eapol::KEY_INFO_MIC;
  Response.KeyLength = 16;
  Response.ReplayCounter = Replay.data();
  Response.Nonce = Nonce.data();
  Response.ElementId = 48;
  Response.ElementBody = Element.data();
  Response.ElementLength = (UINT8)Element.size();
  Response.Kck = Kck.data();
  ASSERT_EQ(eapol::ResponseSize(Response), 99u + 22u);
  Bytes Frame(eapol::ResponseSize(Response), 0xCC);
  eapol::BuildResponse(Response, Frame.data());
  EXPECT_EQ(Bytes(Frame.begin(), Frame.begin() + 9), Hex("0103007502010a0010"));
  EXPECT_EQ(Bytes(Frame.begin() + 9, Frame.begin() + 17), Replay);
  EXPECT_EQ(Bytes(Frame.begin() + 17, Frame.begin() + 49), Nonce);
  EXPECT_EQ(Bytes(Frame.begin() + 49, Frame.begin() + 81), Bytes(32, 0));  // IV, RSC, reserved
  EXPECT_EQ(Bytes(Frame.begin() + 97, Frame.begin() + 101), Hex("00163014"));
  EXPECT_EQ(Bytes(Frame.begin() + 101, Frame.end()), Element);
  EXPECT_TRUE(SupVerifyKeyMic(Frame.data(), Frame.size(), Kck.data()));
}

}  // namespace
