// The RADIUS codec: RFC 2865's worked example (Response Authenticator),
// Message-Authenticator placement and checks (RFC 3579), EAP-Message
// splitting, the parser's bounds, and MS-MPPE key hiding (RFC 2548) with a
// reply recorded from FreeRADIUS as the known answer.
#include <gtest/gtest.h>

#include "Radius.h"

namespace {

using radius::Bytes;

Bytes FromHex(const std::string &Hex) {
  Bytes Out;
  for (size_t Index = 0; Index + 1 < Hex.size(); Index += 2) {
    Out.push_back((std::uint8_t)std::stoul(Hex.substr(Index, 2), nullptr, 16));
  }
  return Out;
}

radius::Authenticator AuthFromHex(const std::string &Hex) {
  Bytes Raw = FromHex(Hex);
  radius::Authenticator Auth{};
  std::copy(Raw.begin(), Raw.end(), Auth.begin());
  return Auth;
}

// RFC 2865 7.1: user nemo, secret "xyzzy5461"; the request and the
// server's Access-Accept as printed there.
const char *const kRfc2865Request =
    "010000380f403f9473978057bd83d5cb98f4227a01066e656d6f02120dbe708d93d413ce3196e43f782a0aee0406c0a801100506"
    "00000003";
const char *const kRfc2865Accept =
    "0200002686fe220e7624ba2a1005f6bf9b55e0b2060600000001" "0f06000000000e06c0a80103";
const char *const kRfc2865Secret = "xyzzy5461";

TEST(RadiusCodec, Rfc2865AcceptVerifiesAgainstItsRequest) {
  std::string Error;
  std::optional<radius::Packet> Request = radius::Decode(FromHex(kRfc2865Request), &Error);
  ASSERT_TRUE(Request) << Error;
  Bytes Wire = FromHex(kRfc2865Accept);
  std::optional<radius::Packet> Accept = radius::Decode(Wire, &Error);
  ASSERT_TRUE(Accept) << Error;
  EXPECT_EQ(Accept->PacketCode, radius::Code::AccessAccept);
  ASSERT_EQ(Accept->Attributes.size(), 3u);
  EXPECT_EQ(Accept->Attributes[0].Type, radius::kServiceType);
  EXPECT_EQ(radius::CheckReply(Wire, *Accept, 0, Request->Auth, kRfc2865Secret), radius::ReplyCheck::Ok);
  EXPECT_EQ(radius::CheckReply(Wire, *Accept, 1, Request->Auth, kRfc2865Secret),
            radius::ReplyCheck::WrongIdentifier);
  EXPECT_EQ(radius::CheckReply(Wire, *Accept, 0, Request->Auth, "xyzzy5462"),
            radius::ReplyCheck::BadResponseAuthenticator);
  // Every attribute octet is covered.
  for (size_t Index = 20; Index < Wire.size(); ++Index) {
    Bytes Changed = Wire;
    Changed[Index] ^= 0x01;
    std::optional<radius::Packet> Parsed = radius::Decode(Changed, &Error);
    if (Parsed) {
      EXPECT_EQ(radius::CheckReply(Changed, *Parsed, 0, Request->Auth, kRfc2865Secret),
                radius::ReplyCheck::BadResponseAuthenticator)
          << "octet " << Index;
    }
  }
}

TEST(RadiusCodec, EncodeReplyReproducesTheRfc2865Accept) {
  std::string Error;
  std::optional<radius::Packet> Request = radius::Decode(FromHex(kRfc2865Request), &Error);
  std::optional<radius::Packet> Accept = radius::Decode(FromHex(kRfc2865Accept), &Error);
  ASSERT_TRUE(Request && Accept);
  EXPECT_EQ(radius::EncodeReply(*Accept, Request->Auth, kRfc2865Secret, false), FromHex(kRfc2865Accept));
}

// RFC 3579 3.2: HMAC-MD5 keyed with the secret over the packet with the
// Message-Authenticator value zeroed; recomputed here from its definition.
TEST(RadiusCodec, RequestCarriesAMessageAuthenticatorOverTheWholePacket) {
  radius::Packet Request;
  Request.Identifier = 42;
  Request.Auth = AuthFromHex("00112233445566778899aabbccddeeff");
  Request.Attributes.push_back({radius::kUserName, {'a', 'b'}});
  radius::AddEapMessage(Request, {2, 1, 0, 7, 1, 'a', 'b'});
  std::optional<Bytes> Wire = radius::EncodeRequest(Request, "s3cret");
  ASSERT_TRUE(Wire);
  ASSERT_EQ(Wire->size(), 20u + 4u + 9u + 18u);
  EXPECT_EQ((*Wire)[2] << 8 | (*Wire)[3], (int)Wire->size());
  EXPECT_EQ((*Wire)[Wire->size() - 18], radius::kMessageAuthenticator);
  EXPECT_EQ((*Wire)[Wire->size() - 17], 18);
  Bytes Zeroed = *Wire;
  std::fill(Zeroed.end() - 16, Zeroed.end(), 0);
  std::array<std::uint8_t, 16> Mac = radius::HmacMd5("s3cret", Zeroed);
  EXPECT_TRUE(std::equal(Mac.begin(), Mac.end(), Wire->end() - 16));
}

// A reply built the server's way verifies; one whose Message-Authenticator
// was computed under another secret (Response Authenticator right) or
// that carries EAP without one is refused.
TEST(RadiusCodec, ReplyMessageAuthenticatorIsChecked) {
  radius::Authenticator RequestAuth = AuthFromHex("0f0e0d0c0b0a09080706050403020100");
  radius::Packet Reply;
  Reply.PacketCode = radius::Code::AccessChallenge;
  Reply.Identifier = 9;
  Reply.Attributes.push_back({radius::kState, {1, 2, 3}});
  radius::AddEapMessage(Reply, {1, 2, 0, 6, 13, 0x20});
  std::string Error;
  std::optional<Bytes> Good = radius::EncodeReply(Reply, RequestAuth, "secret", true);
  ASSERT_TRUE(Good);
  std::optional<radius::Packet> Parsed = radius::Decode(*Good, &Error);
  ASSERT_TRUE(Parsed);
  EXPECT_EQ(radius::CheckReply(*Good, *Parsed, 9, RequestAuth, "secret"), radius::ReplyCheck::Ok);

  // Message-Authenticator under another key, then a valid Response
  // Authenticator over that packet.
  std::optional<Bytes> Forged = radius::EncodeReply(Reply, RequestAuth, "other", true);
  ASSERT_TRUE(Forged);
  std::copy(RequestAuth.begin(), RequestAuth.end(), Forged->begin() + 4);
  Bytes Input = *Forged;
  Input.insert(Input.end(), {'s', 'e', 'c', 'r', 'e', 't'});
  std::array<std::uint8_t, 16> ResponseAuth = radius::Md5(Input);
  std::copy(ResponseAuth.begin(), ResponseAuth.end(), Forged->begin() + 4);
  Parsed = radius::Decode(*Forged, &Error);
  ASSERT_TRUE(Parsed);
  EXPECT_EQ(radius::CheckReply(*Forged, *Parsed, 9, RequestAuth, "secret"),
            radius::ReplyCheck::BadMessageAuthenticator);

  std::optional<Bytes> Bare = radius::EncodeReply(Reply, RequestAuth, "secret", false);
  Parsed = radius::Decode(*Bare, &Error);
  ASSERT_TRUE(Parsed);
  EXPECT_EQ(radius::CheckReply(*Bare, *Parsed, 9, RequestAuth, "secret"),
            radius::ReplyCheck::MissingMessageAuthenticator);

  Reply.PacketCode = radius::Code::AccessRequest;
  std::optional<Bytes> NotReply = radius::EncodeReply(Reply, RequestAuth, "secret", true);
  Parsed = radius::Decode(*NotReply, &Error);
  EXPECT_EQ(radius::CheckReply(*NotReply, *Parsed, 9, RequestAuth, "secret"), radius::ReplyCheck::NotAReply);
}

TEST(RadiusCodec, EapMessageIsSplitAt253OctetsAndJoinedInOrder) {
  for (size_t Length : {1u, 252u, 253u, 254u, 506u, 507u, 1500u}) {
    Bytes Eap(Length);
    for (size_t Index = 0; Index < Length; ++Index) {
      Eap[Index] = (std::uint8_t)(Index * 7);
    }
    radius::Packet P;
    radius::AddEapMessage(P, Eap);
    EXPECT_EQ(P.Attributes.size(), (Length + 252) / 253) << Length;
    for (size_t Index = 0; Index < P.Attributes.size(); ++Index) {
      EXPECT_EQ(P.Attributes[Index].Value.size(), Index + 1 < P.Attributes.size() ? 253u : Length - 253 * Index);
    }
    // Other attributes in between do not break the order.
    P.Attributes.insert(P.Attributes.begin() + 1, {radius::kState, {9}});
    EXPECT_EQ(P.EapMessage(), Eap) << Length;
    std::optional<Bytes> Wire = radius::EncodeRequest(P, "k");
    ASSERT_TRUE(Wire);
    std::string Error;
    std::optional<radius::Packet> Parsed = radius::Decode(*Wire, &Error);
    ASSERT_TRUE(Parsed) << Error;
    EXPECT_EQ(Parsed->EapMessage(), Eap);
  }
}

TEST(RadiusCodec, PacketsOverTheRadiusMaximumAreNotBuilt) {
  radius::Packet P;
  radius::AddEapMessage(P, Bytes(4096 - 20 - 18 - 2 * 16, 0x5A));  // 16 attributes' headers: fits exactly
  std::optional<Bytes> Wire = radius::EncodeRequest(P, "k");
  ASSERT_TRUE(Wire);
  EXPECT_EQ(Wire->size(), 4096u);
  radius::AddEapMessage(P, {1});
  EXPECT_FALSE(radius::EncodeRequest(P, "k"));
  radius::Packet Long;
  Long.Attributes.push_back({radius::kUserName, Bytes(254, 'x')});
  EXPECT_FALSE(radius::EncodeRequest(Long, "k"));
}

TEST(RadiusCodec, DecodeRefusesWhatDoesNotFit) {
  std::string Error;
  Bytes Header = FromHex("0b01001400000000000000000000000000000000");
  EXPECT_TRUE(radius::Decode(Header, &Error));
  EXPECT_FALSE(radius::Decode(Bytes(Header.begin(), Header.end() - 1), &Error));  // 19 octets
  Bytes Long = Header;
  Long[3] = 0x15;  // says 21 octets, has 20
  EXPECT_FALSE(radius::Decode(Long, &Error));
  Bytes Short = Header;
  Short[3] = 0x13;  // says 19
  EXPECT_FALSE(radius::Decode(Short, &Error));
  Bytes Padded = Header;
  Padded.push_back(0xFF);  // padding past the length field is ignored
  std::optional<radius::Packet> P = radius::Decode(Padded, &Error);
  ASSERT_TRUE(P);
  EXPECT_TRUE(P->Attributes.empty());
  for (const char *Attributes : {"01", "0100", "0101", "0104aa", "010300" "02"}) {
    Bytes Bad = Header;
    Bytes Tail = FromHex(Attributes);
    Bad.insert(Bad.end(), Tail.begin(), Tail.end());
    Bad[3] = (std::uint8_t)Bad.size();
    EXPECT_FALSE(radius::Decode(Bad, &Error)) << Attributes;
  }
  EXPECT_FALSE(radius::Decode(Bytes(4097, 0), &Error));
}

// Recorded from FreeRADIUS 3.2.1 (radius_server.py --reply-keys with the
// keys below, secret "radius test secret"): the Request Authenticator of
// our Access-Request and the MS-MPPE-Recv-Key value of its Access-Accept.
// FreeRADIUS's debug log printed the key in the clear.
const char *const kFreeRadiusSecret = "radius test secret";
const char *const kFreeRadiusRequestAuth = "be835a294b810475cbe70f032eaf0d1d";
const char *const kFreeRadiusRecvKeyValue =
    "8276dd9789b1dd2dade7f08b61f18415a236f3cda21ad221a9e1df2fbc52dc1125f7b623b772f91b5f6a25e4724165951853";
const char *const kFreeRadiusRecvKey = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";

TEST(RadiusCodec, MppeKeyOfFreeRadiusDecrypts) {
  std::optional<Bytes> Key = radius::DecryptMppeKey(FromHex(kFreeRadiusRecvKeyValue), kFreeRadiusSecret,
                                                    AuthFromHex(kFreeRadiusRequestAuth));
  ASSERT_TRUE(Key);
  EXPECT_EQ(*Key, FromHex(kFreeRadiusRecvKey));
}

TEST(RadiusCodec, MppeKeyHidingRoundTripsAndRefusesMalformedValues) {
  radius::Authenticator Auth = AuthFromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
  for (size_t Length : {0u, 15u, 16u, 32u, 64u}) {
    Bytes Key(Length, 0x33);
    Bytes Value = radius::EncryptMppeKey(Key, 0x8123, "k", Auth);
    EXPECT_EQ(Value.size(), 2 + (Length + 1 + 15) / 16 * 16) << Length;
    EXPECT_EQ(radius::DecryptMppeKey(Value, "k", Auth), Key) << Length;
  }
  Bytes Value = radius::EncryptMppeKey(Bytes(32, 1), 0x8001, "k", Auth);
  Bytes NoSaltBit = Value;
  NoSaltBit[0] &= 0x7F;
  EXPECT_FALSE(radius::DecryptMppeKey(NoSaltBit, "k", Auth));
  EXPECT_FALSE(radius::DecryptMppeKey(Bytes(Value.begin(), Value.end() - 1), "k", Auth));
  EXPECT_FALSE(radius::DecryptMppeKey(Bytes(Value.begin(), Value.begin() + 2), "k", Auth));
  // A key-length octet of 255 in a single block runs past the plaintext.
  Bytes Long = radius::EncryptMppeKey(Bytes(15, 0), 0x8001, "k", Auth);
  Bytes MaskInput(1 + Auth.size() + 2);
  MaskInput[0] = 'k';
  std::copy(Auth.begin(), Auth.end(), MaskInput.begin() + 1);
  MaskInput[17] = 0x80;
  MaskInput[18] = 0x01;
  std::array<std::uint8_t, 16> Mask = radius::Md5(MaskInput);
  Long[2] = (std::uint8_t)(255 ^ Mask[0]);
  EXPECT_FALSE(radius::DecryptMppeKey(Long, "k", Auth));
}

TEST(RadiusCodec, MicrosoftVendorAttributesAreFoundByVendorType) {
  radius::Packet P;
  P.Attributes.push_back({radius::kVendorSpecific, FromHex("0000013711040102")});       // type 17, value 0102
  P.Attributes.push_back({radius::kVendorSpecific, FromHex("00000001100401020304")});   // another vendor
  P.Attributes.push_back({radius::kVendorSpecific, FromHex("000001371005aabbcc")});     // type 16
  EXPECT_EQ(radius::MicrosoftAttribute(P, radius::kMsMppeRecvKey), FromHex("0102"));
  EXPECT_EQ(radius::MicrosoftAttribute(P, radius::kMsMppeSendKey), FromHex("aabbcc"));
  radius::Packet Bad;
  Bad.Attributes.push_back({radius::kVendorSpecific, FromHex("0000013711090102")});    // length past the value
  EXPECT_FALSE(radius::MicrosoftAttribute(Bad, radius::kMsMppeRecvKey));
}

}  // namespace
