// What the station's connection manager can read of an EAP-TLS exchange on
// the wire, independent of the driver: the server's TLS handshake messages
// carried in the EAP-TLS requests (fragments reassembled), from which the
// negotiated version, the cipher suite and the server certificate's
// subject. Encrypted records (after the server's ChangeCipherSpec) are not
// looked into.
#pragma once
#include <optional>
#include <string>

#include "Hex.h"

namespace wifi {

// "TLS-ECDHE-ECDSA-WITH-AES-256-GCM-SHA384" for the IANA suite
// TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384; "0xC0FF" for one not known here.
std::string CipherSuiteName(std::uint16_t Suite);
// "TLSv1.2" for 0x0303 and its siblings.
std::string TlsVersionName(std::uint16_t Version);

class EapTlsObserver {
 public:
  // A TLS message from the server larger than this is not reassembled.
  static constexpr size_t kMaxMessage = 65536;

  // Feeds one EAP packet the access point sent (any code and type; only
  // EAP-TLS requests are read).
  void FromServer(const Bytes &Eap);

  bool Seen() const { return Seen_; }  // an EAP-TLS request came
  std::optional<std::uint16_t> Version() const { return Version_; }
  std::optional<std::uint16_t> Suite() const { return Suite_; }
  // The first certificate of the server's Certificate message (DER).
  const Bytes &ServerCertificate() const { return ServerCertificate_; }
  // Set when something could not be read (a note for the report).
  const std::string &Problem() const { return Problem_; }

 private:
  void Records(const Bytes &Stream);
  void Handshake(const Bytes &Messages);

  bool        Seen_ = false;
  bool        Encrypted_ = false;  // the server's ChangeCipherSpec came
  Bytes       Message_;            // fragments of the current TLS message
  Bytes       Pending_;            // handshake bytes awaiting a whole message
  std::optional<std::uint16_t> Version_;
  std::optional<std::uint16_t> Suite_;
  Bytes       ServerCertificate_;
  std::string Problem_;
};

// The subject of a DER certificate as "CN=..., O=..." (mbedtls's X.509
// reader); empty when it does not parse.
std::string CertificateSubject(const Bytes &Der);

}  // namespace wifi
