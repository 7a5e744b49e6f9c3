// What sup-sim reads of the server's TLS handshake on the wire: the
// ServerHello's version and suite and the first certificate, across EAP-TLS
// fragments and TLS records, nothing after the ChangeCipherSpec, and the
// names it prints.
#include <gtest/gtest.h>

#include "EapTlsWire.h"

namespace {

using wifi::Bytes;

Bytes Record(std::uint8_t Type, const Bytes &Body) {
  Bytes Out = {Type, 3, 3, (std::uint8_t)(Body.size() >> 8), (std::uint8_t)Body.size()};
  Out.insert(Out.end(), Body.begin(), Body.end());
  return Out;
}

Bytes Handshake(std::uint8_t Type, const Bytes &Body) {
  Bytes Out = {Type, (std::uint8_t)(Body.size() >> 16), (std::uint8_t)(Body.size() >> 8), (std::uint8_t)Body.size()};
  Out.insert(Out.end(), Body.begin(), Body.end());
  return Out;
}

Bytes ServerHello(std::uint16_t Suite, const Bytes &Extensions = {}) {
  Bytes Body = {3, 3};
  Body.insert(Body.end(), 32, 0xAA);          // random
  Body.push_back(32);                         // session id
  Body.insert(Body.end(), 32, 0xBB);
  Body.push_back((std::uint8_t)(Suite >> 8));
  Body.push_back((std::uint8_t)Suite);
  Body.push_back(0);                          // compression
  if (!Extensions.empty()) {
    Body.push_back((std::uint8_t)(Extensions.size() >> 8));
    Body.push_back((std::uint8_t)Extensions.size());
    Body.insert(Body.end(), Extensions.begin(), Extensions.end());
  }
  return Handshake(2, Body);
}

Bytes CertificateMessage(const Bytes &First, const Bytes &Second) {
  Bytes List;
  for (const Bytes *Cert : {&First, &Second}) {
    List.push_back(0);
    List.push_back((std::uint8_t)(Cert->size() >> 8));
    List.push_back((std::uint8_t)Cert->size());
    List.insert(List.end(), Cert->begin(), Cert->end());
  }
  Bytes Body = {0, (std::uint8_t)(List.size() >> 8), (std::uint8_t)List.size()};
  Body.insert(Body.end(), List.begin(), List.end());
  return Handshake(11, Body);
}

// EAP-TLS requests carrying Message in fragments of at most Chunk octets.
std::vector<Bytes> Requests(const Bytes &Message, size_t Chunk) {
  std::vector<Bytes> Out;
  for (size_t Offset = 0; Offset < Message.size(); Offset += Chunk) {
    size_t Count = std::min(Chunk, Message.size() - Offset);
    bool First = Offset == 0, More = Offset + Count < Message.size();
    Bytes Eap = {1, (std::uint8_t)Out.size(), 0, 0, 13,
                 (std::uint8_t)((First ? 0x80 : 0) | (More ? 0x40 : 0))};
    if (First) {
      size_t L = Message.size();
      Eap.insert(Eap.end(), {(std::uint8_t)(L >> 24), (std::uint8_t)(L >> 16), (std::uint8_t)(L >> 8), (std::uint8_t)L});
    }
    Eap.insert(Eap.end(), Message.begin() + (long)Offset, Message.begin() + (long)(Offset + Count));
    Eap[2] = (std::uint8_t)(Eap.size() >> 8);
    Eap[3] = (std::uint8_t)Eap.size();
    Out.push_back(Eap);
  }
  return Out;
}

TEST(EapTlsWire, ServerFlightAcrossFragmentsAndRecords) {
  Bytes Leaf(700, 0x30), Issuer(300, 0x31);
  Bytes Messages = ServerHello(0xC02C);
  Bytes Cert = CertificateMessage(Leaf, Issuer);
  Messages.insert(Messages.end(), Cert.begin(), Cert.end());
  // The handshake split over two records, the boundary inside Certificate.
  Bytes Flight = Record(22, Bytes(Messages.begin(), Messages.begin() + 200));
  Bytes Second = Record(22, Bytes(Messages.begin() + 200, Messages.end()));
  Flight.insert(Flight.end(), Second.begin(), Second.end());
  wifi::EapTlsObserver Observer;
  Observer.FromServer({1, 1, 0, 6, 13, 0x20});  // Start
  EXPECT_TRUE(Observer.Seen());
  EXPECT_FALSE(Observer.Suite());
  std::vector<Bytes> Fragments = Requests(Flight, 400);
  ASSERT_GT(Fragments.size(), 2u);
  for (size_t Index = 0; Index < Fragments.size(); ++Index) {
    Observer.FromServer(Fragments[Index]);
    if (Index + 1 < Fragments.size()) {
      EXPECT_FALSE(Observer.Suite()) << "nothing is read before the last fragment";
    }
  }
  ASSERT_TRUE(Observer.Version() && Observer.Suite());
  EXPECT_EQ(*Observer.Version(), 0x0303);
  EXPECT_EQ(*Observer.Suite(), 0xC02C);
  EXPECT_EQ(Observer.ServerCertificate(), Leaf);
  EXPECT_TRUE(Observer.Problem().empty()) << Observer.Problem();
}

TEST(EapTlsWire, NothingIsReadAfterTheChangeCipherSpec) {
  wifi::EapTlsObserver Observer;
  Bytes Flight = Record(20, {1});
  Bytes Encrypted = Record(22, ServerHello(0x009C));  // would be ciphertext
  Flight.insert(Flight.end(), Encrypted.begin(), Encrypted.end());
  for (const Bytes &Eap : Requests(Flight, 1000)) {
    Observer.FromServer(Eap);
  }
  EXPECT_FALSE(Observer.Suite());
}

TEST(EapTlsWire, Tls13VersionComesFromSupportedVersions) {
  wifi::EapTlsObserver Observer;
  Bytes Extension = {0, 43, 0, 2, 3, 4};
  for (const Bytes &Eap : Requests(Record(22, ServerHello(0x1302, Extension)), 1000)) {
    Observer.FromServer(Eap);
  }
  ASSERT_TRUE(Observer.Version());
  EXPECT_EQ(wifi::TlsVersionName(*Observer.Version()), "TLSv1.3");
}

TEST(EapTlsWire, OtherPacketsAndDamageAreIgnoredOrReported) {
  wifi::EapTlsObserver Observer;
  Observer.FromServer({1, 1, 0, 5, 1});                // Identity request
  Observer.FromServer({3, 1, 0, 4});                   // Success
  Observer.FromServer({1, 1, 0, 9, 13, 0x20});         // length field disagrees
  EXPECT_FALSE(Observer.Seen());
  Observer.FromServer({1, 2, 0, 8, 13, 0x80, 0, 0});   // L without its four octets
  EXPECT_FALSE(Observer.Problem().empty());
  wifi::EapTlsObserver Cut;
  Bytes Short = Record(22, ServerHello(0xC02B));
  Short[4] += 10;  // the record says more than there is
  for (const Bytes &Eap : Requests(Short, 1000)) {
    Cut.FromServer(Eap);
  }
  EXPECT_FALSE(Cut.Suite());
  EXPECT_NE(Cut.Problem().find("runs past"), std::string::npos) << Cut.Problem();
}

TEST(EapTlsWire, SuiteAndVersionNames) {
  EXPECT_EQ(wifi::CipherSuiteName(0xC02C), "TLS-ECDHE-ECDSA-WITH-AES-256-GCM-SHA384");
  EXPECT_EQ(wifi::CipherSuiteName(0xC030), "TLS-ECDHE-RSA-WITH-AES-256-GCM-SHA384");
  EXPECT_EQ(wifi::CipherSuiteName(0xC0FF), "0xC0FF");
  EXPECT_EQ(wifi::TlsVersionName(0x0303), "TLSv1.2");
  EXPECT_EQ(wifi::TlsVersionName(0x7F17), "0x7F17");
}

}  // namespace
