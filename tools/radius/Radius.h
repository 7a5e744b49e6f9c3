// RADIUS as ap-sim's relay to an authentication server needs it (RFC 2865,
// EAP over RADIUS RFC 3579, MS-MPPE keys RFC 2548): Access-Request out,
// Access-Challenge/Accept/Reject in, every reply checked against the
// request it answers. The hashes are the project's own MD5 and HMAC-MD5.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace radius {

using Bytes = std::vector<std::uint8_t>;
using Authenticator = std::array<std::uint8_t, 16>;

enum class Code : std::uint8_t {
  AccessRequest = 1,
  AccessAccept = 2,
  AccessReject = 3,
  AccessChallenge = 11,
};

// Attribute types used here.
constexpr std::uint8_t kUserName = 1;
constexpr std::uint8_t kNasIpAddress = 4;
constexpr std::uint8_t kServiceType = 6;
constexpr std::uint8_t kFramedMtu = 12;
constexpr std::uint8_t kState = 24;
constexpr std::uint8_t kVendorSpecific = 26;
constexpr std::uint8_t kCalledStationId = 30;
constexpr std::uint8_t kCallingStationId = 31;
constexpr std::uint8_t kNasIdentifier = 32;
constexpr std::uint8_t kNasPortType = 61;
constexpr std::uint8_t kEapMessage = 79;
constexpr std::uint8_t kMessageAuthenticator = 80;

constexpr std::uint32_t kVendorMicrosoft = 311;
constexpr std::uint8_t kMsMppeSendKey = 16;
constexpr std::uint8_t kMsMppeRecvKey = 17;

constexpr size_t kHeaderLength = 20;
// RFC 2865: the largest packet; longer datagrams are not RADIUS.
constexpr size_t kMaxPacketLength = 4096;
// Longest attribute value; the packet's 4096 octets bound how many
// attributes a reply can carry.
constexpr size_t kMaxAttributeValue = 253;

struct Attribute {
  std::uint8_t Type = 0;
  Bytes        Value;
};

struct Packet {
  Code                   PacketCode = Code::AccessRequest;
  std::uint8_t           Identifier = 0;
  Authenticator          Auth{};
  std::vector<Attribute> Attributes;

  // The first attribute of a type; nullptr when there is none.
  const Attribute *Find(std::uint8_t Type) const;
  // Every EAP-Message attribute concatenated in order (RFC 3579 3.1).
  Bytes EapMessage() const;
};

// Appends Eap as EAP-Message attributes of at most 253 octets each.
void AddEapMessage(Packet &P, const Bytes &Eap);

// The wire form of an Access-Request. A Message-Authenticator attribute is
// appended (HMAC-MD5 over the packet with its value zeroed, keyed by the
// shared secret): a server drops requests carrying EAP without it. nullopt
// when the packet would exceed 4096 octets or an attribute 253 octets.
std::optional<Bytes> EncodeRequest(const Packet &Request, const std::string &Secret);

// The wire form of a reply to Request (Response Authenticator and, when
// WithMessageAuthenticator, a Message-Authenticator), as a server builds it.
// ap-sim's tests use it to play the server.
std::optional<Bytes> EncodeReply(const Packet &Reply, const Authenticator &RequestAuth, const std::string &Secret,
                                 bool WithMessageAuthenticator);

// Takes a datagram apart; nullopt (with the reason in *Error) when its
// length field disagrees with the datagram or lies outside 20..4096, or an
// attribute is shorter than 2 octets or runs past the end.
std::optional<Packet> Decode(const Bytes &Datagram, std::string *Error);

enum class ReplyCheck {
  Ok,
  NotAReply,                     // a code other than Accept, Reject, Challenge
  WrongIdentifier,
  BadResponseAuthenticator,
  MissingMessageAuthenticator,   // EAP-Message without Message-Authenticator (RFC 3579 3.2)
  BadMessageAuthenticator,
};
const char *ReplyCheckName(ReplyCheck Check);

// Checks a reply datagram against the request it answers: the identifier,
// the Response Authenticator MD5(Code|Id|Length|RequestAuth|Attributes|
// Secret) and the Message-Authenticator (computed with the Request
// Authenticator in the header and its own value zeroed; required when the
// reply carries EAP).
ReplyCheck CheckReply(const Bytes &Datagram, const Packet &Reply, std::uint8_t RequestId,
                      const Authenticator &RequestAuth, const std::string &Secret);

// The value of a Vendor-Specific attribute of Microsoft with this vendor
// type (RFC 2548), without the vendor header; nullopt when absent or
// malformed.
std::optional<Bytes> MicrosoftAttribute(const Packet &P, std::uint8_t VendorType);

// RFC 2548 2.4.2/2.4.3: an MS-MPPE-Send/Recv-Key value is a 2-octet salt
// (high bit set) and the key-length octet, the key and padding, hidden 16
// octets at a time: b(1) = MD5(Secret | RequestAuth | Salt), b(i) =
// MD5(Secret | c(i-1)), c(i) = p(i) xor b(i). Returns the key (the
// key-length octet's worth); nullopt for a value that is not a whole number
// of blocks, a salt without its high bit, or a length past the plaintext.
std::optional<Bytes> DecryptMppeKey(const Bytes &Value, const std::string &Secret, const Authenticator &RequestAuth);
// The inverse, for the tests' server side: Salt must have its high bit set.
Bytes EncryptMppeKey(const Bytes &Key, std::uint16_t Salt, const std::string &Secret,
                     const Authenticator &RequestAuth);

// MD5 and HMAC-MD5 of the project's crypto library, as byte vectors.
std::array<std::uint8_t, 16> Md5(const Bytes &Data);
std::array<std::uint8_t, 16> HmacMd5(const std::string &Key, const Bytes &Data);

}  // namespace radius
