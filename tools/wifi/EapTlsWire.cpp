#include "EapTlsWire.h"

#include <cstdio>

namespace wifi {
namespace {

constexpr std::uint8_t kEapRequest = 1;
constexpr std::uint8_t kEapTypeTls = 13;
constexpr std::uint8_t kFlagLength = 0x80;
constexpr std::uint8_t kFlagMore = 0x40;
constexpr std::uint8_t kFlagStart = 0x20;

constexpr std::uint8_t kContentChangeCipherSpec = 20;
constexpr std::uint8_t kContentHandshake = 22;
constexpr std::uint8_t kHandshakeServerHello = 2;
constexpr std::uint8_t kHandshakeCertificate = 11;
constexpr std::uint16_t kExtensionSupportedVersions = 43;

size_t Be16(const Bytes &In, size_t Offset) { return (size_t)(In[Offset] << 8 | In[Offset + 1]); }
size_t Be24(const Bytes &In, size_t Offset) { return (size_t)(In[Offset] << 16 | In[Offset + 1] << 8 | In[Offset + 2]); }

struct Suite {
  std::uint16_t Id;
  const char   *Name;
};
// IANA's names of the TLS 1.2 and 1.3 suites a server may pick here.
constexpr Suite kSuites[] = {
    {0x002F, "TLS_RSA_WITH_AES_128_CBC_SHA"},
    {0x0035, "TLS_RSA_WITH_AES_256_CBC_SHA"},
    {0x003C, "TLS_RSA_WITH_AES_128_CBC_SHA256"},
    {0x003D, "TLS_RSA_WITH_AES_256_CBC_SHA256"},
    {0x009C, "TLS_RSA_WITH_AES_128_GCM_SHA256"},
    {0x009D, "TLS_RSA_WITH_AES_256_GCM_SHA384"},
    {0x009E, "TLS_DHE_RSA_WITH_AES_128_GCM_SHA256"},
    {0x009F, "TLS_DHE_RSA_WITH_AES_256_GCM_SHA384"},
    {0xC009, "TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA"},
    {0xC00A, "TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA"},
    {0xC013, "TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA"},
    {0xC014, "TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA"},
    {0xC023, "TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA256"},
    {0xC024, "TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA384"},
    {0xC027, "TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA256"},
    {0xC028, "TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA384"},
    {0xC02B, "TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256"},
    {0xC02C, "TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384"},
    {0xC02F, "TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256"},
    {0xC030, "TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384"},
    {0xCCA8, "TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256"},
    {0xCCA9, "TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256"},
    {0x1301, "TLS_AES_128_GCM_SHA256"},
    {0x1302, "TLS_AES_256_GCM_SHA384"},
    {0x1303, "TLS_CHACHA20_POLY1305_SHA256"},
};

}  // namespace

std::string CipherSuiteName(std::uint16_t Id) {
  for (const Suite &S : kSuites) {
    if (S.Id == Id) {
      std::string Name = S.Name;
      for (char &C : Name) {
        C = C == '_' ? '-' : C;
      }
      return Name;
    }
  }
  char Text[8];
  std::snprintf(Text, sizeof(Text), "0x%04X", Id);
  return Text;
}

std::string TlsVersionName(std::uint16_t Version) {
  switch (Version) {
    case 0x0301:
      return "TLSv1.0";
    case 0x0302:
      return "TLSv1.1";
    case 0x0303:
      return "TLSv1.2";
    case 0x0304:
      return "TLSv1.3";
    default: {
      char Text[8];
      std::snprintf(Text, sizeof(Text), "0x%04X", Version);
      return Text;
    }
  }
}

// EAP-TLS request: code, identifier, length, type 13, flags, then with L
// the 4-octet TLS message length, then the fragment (RFC 5216 3.1).
void EapTlsObserver::FromServer(const Bytes &Eap) {
  if (Eap.size() < 6 || Eap[0] != kEapRequest || Eap[4] != kEapTypeTls || Be16(Eap, 2) != Eap.size()) {
    return;
  }
  Seen_ = true;
  std::uint8_t Flags = Eap[5];
  size_t Offset = 6;
  if ((Flags & kFlagLength) != 0) {
    if (Eap.size() < 10) {
      Problem_ = "EAP-TLS request with the L flag but no length";
      return;
    }
    Offset = 10;
  }
  if ((Flags & kFlagStart) != 0 || Offset == Eap.size()) {
    return;  // Start, or an acknowledgement of our fragment
  }
  if (Message_.size() + (Eap.size() - Offset) > kMaxMessage) {
    Problem_ = "a TLS message of the server longer than " + std::to_string(kMaxMessage) + " octets";
    Message_.clear();
    return;
  }
  Message_.insert(Message_.end(), Eap.begin() + (long)Offset, Eap.end());
  if ((Flags & kFlagMore) == 0) {
    Bytes Whole;
    Whole.swap(Message_);
    Records(Whole);
  }
}

void EapTlsObserver::Records(const Bytes &Stream) {
  for (size_t Offset = 0; Offset + 5 <= Stream.size();) {
    std::uint8_t Type = Stream[Offset];
    size_t Length = Be16(Stream, Offset + 3);
    if (Offset + 5 + Length > Stream.size()) {
      Problem_ = "a TLS record runs past the server's message";
      return;
    }
    if (Type == kContentChangeCipherSpec) {
      Encrypted_ = true;
    } else if (Type == kContentHandshake && !Encrypted_) {
      Handshake(Bytes(Stream.begin() + (long)Offset + 5, Stream.begin() + (long)(Offset + 5 + Length)));
    }
    Offset += 5 + Length;
  }
}

void EapTlsObserver::Handshake(const Bytes &Messages) {
  Pending_.insert(Pending_.end(), Messages.begin(), Messages.end());
  while (Pending_.size() >= 4) {
    size_t Length = Be24(Pending_, 1);
    if (Length > kMaxMessage) {
      Problem_ = "a handshake message longer than " + std::to_string(kMaxMessage) + " octets";
      Pending_.clear();
      return;
    }
    if (Pending_.size() < 4 + Length) {
      return;  // continues in the next record
    }
    Bytes Body(Pending_.begin() + 4, Pending_.begin() + 4 + (long)Length);
    std::uint8_t Type = Pending_[0];
    Pending_.erase(Pending_.begin(), Pending_.begin() + 4 + (long)Length);
    if (Type == kHandshakeServerHello && Body.size() >= 2 + 32 + 1) {
      // version, random, session id, suite, compression, extensions
      size_t Offset = 2 + 32;
      Offset += 1 + Body[Offset];
      if (Offset + 3 > Body.size()) {
        Problem_ = "ServerHello cut short";
        continue;
      }
      Version_ = (std::uint16_t)Be16(Body, 0);
      Suite_ = (std::uint16_t)Be16(Body, Offset);
      Offset += 3;
      // TLS 1.3 names its version in supported_versions.
      if (Offset + 2 <= Body.size()) {
        size_t End = std::min(Body.size(), Offset + 2 + Be16(Body, Offset));
        for (Offset += 2; Offset + 4 <= End;) {
          size_t Type2 = Be16(Body, Offset), Length2 = Be16(Body, Offset + 2);
          if (Type2 == kExtensionSupportedVersions && Length2 == 2 && Offset + 6 <= End) {
            Version_ = (std::uint16_t)Be16(Body, Offset + 4);
          }
          Offset += 4 + Length2;
        }
      }
    } else if (Type == kHandshakeCertificate && Body.size() >= 6 && ServerCertificate_.empty()) {
      size_t First = Be24(Body, 3);
      if (6 + First > Body.size()) {
        Problem_ = "Certificate message cut short";
        continue;
      }
      ServerCertificate_.assign(Body.begin() + 6, Body.begin() + 6 + (long)First);
    }
  }
}

}  // namespace wifi
