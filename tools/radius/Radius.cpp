#include "Radius.h"

#include <algorithm>

#include "crypto/Hmac.h"
#include "crypto/Md5.h"

namespace radius {
namespace {

constexpr size_t kMessageAuthenticatorLength = 16;
constexpr size_t kMppeBlock = 16;
constexpr size_t kMppeSaltLength = 2;

void PutBe16(Bytes &Out, size_t Offset, size_t Value) {
  Out[Offset] = (std::uint8_t)(Value >> 8);
  Out[Offset + 1] = (std::uint8_t)Value;
}

size_t Be16(const Bytes &In, size_t Offset) { return (size_t)(In[Offset] << 8 | In[Offset + 1]); }

// Header and attributes; the authenticator field as given, the length set.
std::optional<Bytes> Serialize(const Packet &P, const Authenticator &Auth) {
  Bytes Out(kHeaderLength, 0);
  Out[0] = (std::uint8_t)P.PacketCode;
  Out[1] = P.Identifier;
  std::copy(Auth.begin(), Auth.end(), Out.begin() + 4);
  for (const Attribute &A : P.Attributes) {
    if (A.Value.size() > kMaxAttributeValue) {
      return std::nullopt;
    }
    Out.push_back(A.Type);
    Out.push_back((std::uint8_t)(A.Value.size() + 2));
    Out.insert(Out.end(), A.Value.begin(), A.Value.end());
  }
  if (Out.size() > kMaxPacketLength) {
    return std::nullopt;
  }
  PutBe16(Out, 2, Out.size());
  return Out;
}

// Offset of the Message-Authenticator value in a serialized packet whose
// attributes are well formed; 0 when there is none.
size_t MessageAuthenticatorOffset(const Bytes &Wire) {
  for (size_t Offset = kHeaderLength; Offset + 2 <= Wire.size() && Wire[Offset + 1] >= 2; Offset += Wire[Offset + 1]) {
    if (Wire[Offset] == kMessageAuthenticator && Wire[Offset + 1] == 2 + kMessageAuthenticatorLength) {
      return Offset + 2;
    }
  }
  return 0;
}

// Appends a zeroed Message-Authenticator to P's wire form and fills it in
// with the HMAC over the whole packet as serialized with HeaderAuth.
std::optional<Bytes> WithMessageAuthenticator(const Packet &P, const Authenticator &HeaderAuth,
                                              const std::string &Secret) {
  Packet Copy = P;
  Copy.Attributes.push_back({kMessageAuthenticator, Bytes(kMessageAuthenticatorLength, 0)});
  std::optional<Bytes> Wire = Serialize(Copy, HeaderAuth);
  if (!Wire) {
    return std::nullopt;
  }
  std::array<std::uint8_t, 16> Mac = HmacMd5(Secret, *Wire);
  std::copy(Mac.begin(), Mac.end(), Wire->end() - kMessageAuthenticatorLength);
  return Wire;
}

bool ConstantTimeEqual(const std::uint8_t *A, const std::uint8_t *B, size_t Length) {
  std::uint8_t Difference = 0;
  for (size_t Index = 0; Index < Length; ++Index) {
    Difference |= (std::uint8_t)(A[Index] ^ B[Index]);
  }
  return Difference == 0;
}

// b(i) of the MPPE key hiding: MD5(Secret | Previous), Previous being the
// Request Authenticator and salt for the first block, else c(i-1).
std::array<std::uint8_t, 16> MppeMask(const std::string &Secret, const Bytes &Previous) {
  Bytes Input(Secret.begin(), Secret.end());
  Input.insert(Input.end(), Previous.begin(), Previous.end());
  return Md5(Input);
}

}  // namespace

std::array<std::uint8_t, 16> Md5(const Bytes &Data) {
  md5_ctx Context;
  std::array<std::uint8_t, 16> Digest{};
  md5_init(&Context);
  md5_update(&Context, Data.data(), Data.size());
  md5_final(&Context, Digest.data());
  return Digest;
}

std::array<std::uint8_t, 16> HmacMd5(const std::string &Key, const Bytes &Data) {
  std::array<std::uint8_t, 16> Mac{};
  mic_hmac_md5(Data.data(), Data.size(), reinterpret_cast<const UINT8 *>(Key.data()), Key.size(), Mac.data());
  return Mac;
}

const Attribute *Packet::Find(std::uint8_t Type) const {
  for (const Attribute &A : Attributes) {
    if (A.Type == Type) {
      return &A;
    }
  }
  return nullptr;
}

Bytes Packet::EapMessage() const {
  Bytes Eap;
  for (const Attribute &A : Attributes) {
    if (A.Type == kEapMessage) {
      Eap.insert(Eap.end(), A.Value.begin(), A.Value.end());
    }
  }
  return Eap;
}

void AddEapMessage(Packet &P, const Bytes &Eap) {
  for (size_t Offset = 0; Offset < Eap.size(); Offset += kMaxAttributeValue) {
    size_t Length = std::min(kMaxAttributeValue, Eap.size() - Offset);
    P.Attributes.push_back({kEapMessage, Bytes(Eap.begin() + (long)Offset, Eap.begin() + (long)(Offset + Length))});
  }
}

std::optional<Bytes> EncodeRequest(const Packet &Request, const std::string &Secret) {
  return WithMessageAuthenticator(Request, Request.Auth, Secret);
}

std::optional<Bytes> EncodeReply(const Packet &Reply, const Authenticator &RequestAuth, const std::string &Secret,
                                 bool WithMessageAuth) {
  std::optional<Bytes> Wire =
      WithMessageAuth ? WithMessageAuthenticator(Reply, RequestAuth, Secret) : Serialize(Reply, RequestAuth);
  if (!Wire) {
    return std::nullopt;
  }
  // Response Authenticator: MD5 over the packet with the Request
  // Authenticator in place, then the secret.
  Bytes Input = *Wire;
  Input.insert(Input.end(), Secret.begin(), Secret.end());
  std::array<std::uint8_t, 16> ResponseAuth = Md5(Input);
  std::copy(ResponseAuth.begin(), ResponseAuth.end(), Wire->begin() + 4);
  return Wire;
}

std::optional<Packet> Decode(const Bytes &Datagram, std::string *Error) {
  if (Datagram.size() < kHeaderLength || Datagram.size() > kMaxPacketLength) {
    *Error = "datagram of " + std::to_string(Datagram.size()) + " octets (RADIUS takes 20..4096)";
    return std::nullopt;
  }
  size_t Length = Be16(Datagram, 2);
  // Octets past the length field are padding to be ignored; a length past
  // the datagram is a truncated packet.
  if (Length < kHeaderLength || Length > Datagram.size()) {
    *Error = "length field " + std::to_string(Length) + " does not fit the datagram of " +
             std::to_string(Datagram.size()) + " octets";
    return std::nullopt;
  }
  Packet P;
  P.PacketCode = (Code)Datagram[0];
  P.Identifier = Datagram[1];
  std::copy(Datagram.begin() + 4, Datagram.begin() + 20, P.Auth.begin());
  for (size_t Offset = kHeaderLength; Offset < Length;) {
    if (Offset + 2 > Length || Datagram[Offset + 1] < 2 || Offset + Datagram[Offset + 1] > Length) {
      *Error = "attribute at offset " + std::to_string(Offset) + " is cut short or runs past the packet";
      return std::nullopt;
    }
    size_t AttributeLength = Datagram[Offset + 1];
    P.Attributes.push_back({Datagram[Offset], Bytes(Datagram.begin() + (long)Offset + 2,
                                                    Datagram.begin() + (long)(Offset + AttributeLength))});
    Offset += AttributeLength;
  }
  return P;
}

const char *ReplyCheckName(ReplyCheck Check) {
  switch (Check) {
    case ReplyCheck::Ok:
      return "ok";
    case ReplyCheck::NotAReply:
      return "not an Access-Accept, -Reject or -Challenge";
    case ReplyCheck::WrongIdentifier:
      return "identifier of another request";
    case ReplyCheck::BadResponseAuthenticator:
      return "Response Authenticator does not verify";
    case ReplyCheck::MissingMessageAuthenticator:
      return "EAP-Message without Message-Authenticator";
    case ReplyCheck::BadMessageAuthenticator:
      return "Message-Authenticator does not verify";
  }
  return "?";
}

ReplyCheck CheckReply(const Bytes &Datagram, const Packet &Reply, std::uint8_t RequestId,
                      const Authenticator &RequestAuth, const std::string &Secret) {
  if (Reply.PacketCode != Code::AccessAccept && Reply.PacketCode != Code::AccessReject &&
      Reply.PacketCode != Code::AccessChallenge) {
    return ReplyCheck::NotAReply;
  }
  if (Reply.Identifier != RequestId) {
    return ReplyCheck::WrongIdentifier;
  }
  // Only the octets the length field covers count (Decode checked it).
  size_t Length = Datagram.size() >= kHeaderLength ? Be16(Datagram, 2) : 0;
  if (Length < kHeaderLength || Length > Datagram.size()) {
    return ReplyCheck::NotAReply;
  }
  Bytes Wire(Datagram.begin(), Datagram.begin() + (long)Length);
  for (size_t Index = 0; Index < RequestAuth.size(); ++Index) {
    Wire[4 + Index] = RequestAuth[Index];
  }
  Bytes Input = Wire;
  Input.insert(Input.end(), Secret.begin(), Secret.end());
  std::array<std::uint8_t, 16> Expected = Md5(Input);
  if (!ConstantTimeEqual(Expected.data(), Reply.Auth.data(), Expected.size())) {
    return ReplyCheck::BadResponseAuthenticator;
  }
  size_t MacOffset = MessageAuthenticatorOffset(Wire);
  if (MacOffset == 0) {
    return Reply.Find(kEapMessage) != nullptr ? ReplyCheck::MissingMessageAuthenticator : ReplyCheck::Ok;
  }
  std::array<std::uint8_t, kMessageAuthenticatorLength> Received{};
  for (size_t Index = 0; Index < Received.size(); ++Index) {
    Received[Index] = Wire[MacOffset + Index];
    Wire[MacOffset + Index] = 0;
  }
  std::array<std::uint8_t, 16> Mac = HmacMd5(Secret, Wire);
  return ConstantTimeEqual(Mac.data(), Received.data(), Mac.size()) ? ReplyCheck::Ok
                                                                      : ReplyCheck::BadMessageAuthenticator;
}

std::optional<Bytes> MicrosoftAttribute(const Packet &P, std::uint8_t VendorType) {
  for (const Attribute &A : P.Attributes) {
    // Vendor-Id (4), then vendor type and vendor length (RFC 2548 2).
    if (A.Type != kVendorSpecific || A.Value.size() < 6) {
      continue;
    }
    std::uint32_t Vendor = (std::uint32_t)A.Value[0] << 24 | A.Value[1] << 16 | A.Value[2] << 8 | A.Value[3];
    if (Vendor != kVendorMicrosoft || A.Value[4] != VendorType) {
      continue;
    }
    if (A.Value[5] < 2 || (size_t)A.Value[5] + 4 > A.Value.size()) {
      return std::nullopt;
    }
    return Bytes(A.Value.begin() + 6, A.Value.begin() + 4 + A.Value[5]);
  }
  return std::nullopt;
}

std::optional<Bytes> DecryptMppeKey(const Bytes &Value, const std::string &Secret, const Authenticator &RequestAuth) {
  if (Value.size() < kMppeSaltLength + kMppeBlock || (Value.size() - kMppeSaltLength) % kMppeBlock != 0 ||
      (Value[0] & 0x80) == 0) {
    return std::nullopt;
  }
  Bytes Previous(RequestAuth.begin(), RequestAuth.end());
  Previous.insert(Previous.end(), Value.begin(), Value.begin() + kMppeSaltLength);
  Bytes Plain;
  for (size_t Offset = kMppeSaltLength; Offset < Value.size(); Offset += kMppeBlock) {
    std::array<std::uint8_t, 16> Mask = MppeMask(Secret, Previous);
    for (size_t Index = 0; Index < kMppeBlock; ++Index) {
      Plain.push_back((std::uint8_t)(Value[Offset + Index] ^ Mask[Index]));
    }
    Previous.assign(Value.begin() + (long)Offset, Value.begin() + (long)(Offset + kMppeBlock));
  }
  size_t KeyLength = Plain[0];
  if (KeyLength + 1 > Plain.size()) {
    return std::nullopt;
  }
  return Bytes(Plain.begin() + 1, Plain.begin() + 1 + (long)KeyLength);
}

Bytes EncryptMppeKey(const Bytes &Key, std::uint16_t Salt, const std::string &Secret, const Authenticator &RequestAuth) {
  Bytes Plain = {(std::uint8_t)Key.size()};
  Plain.insert(Plain.end(), Key.begin(), Key.end());
  Plain.resize((Plain.size() + kMppeBlock - 1) / kMppeBlock * kMppeBlock, 0);
  Bytes Out = {(std::uint8_t)(Salt >> 8), (std::uint8_t)Salt};
  Bytes Previous(RequestAuth.begin(), RequestAuth.end());
  Previous.insert(Previous.end(), Out.begin(), Out.end());
  for (size_t Offset = 0; Offset < Plain.size(); Offset += kMppeBlock) {
    std::array<std::uint8_t, 16> Mask = MppeMask(Secret, Previous);
    Previous.clear();
    for (size_t Index = 0; Index < kMppeBlock; ++Index) {
      Previous.push_back((std::uint8_t)(Plain[Offset + Index] ^ Mask[Index]));
    }
    Out.insert(Out.end(), Previous.begin(), Previous.end());
  }
  return Out;
}

}  // namespace radius
