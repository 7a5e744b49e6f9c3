// The server side of EAP-TLS for the host tests: an EAP authenticator's
// request/response loop (Identity, EAP-TLS Start, fragments both ways,
// Success or Failure) written here from RFC 3748 and RFC 5216, over an
// mbedtls TLS 1.2 server. None of the station's EAP code is used, so the
// two sides only agree where both follow the RFCs.
//
// It fragments its own messages at a chosen size, with the L flag on the
// first fragment only or on every one (as the real server does), and
// derives the MSK on its side from its own key export.
#pragma once
#include <uefi/Uefi.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace eap_test {

using Bytes = std::vector<UINT8>;

struct SERVER_OPTIONS {
  const void *CaCert;  // the root client certificates must chain to (PEM with NUL)
  size_t      CaCertSize;
  const void *Cert;  // the server's certificate and key (PEM with NUL)
  size_t      CertSize;
  const void *Key;
  size_t      KeySize;
  size_t      FragmentData = 1014;  // TLS octets per fragment (1024-octet EAP packets with L)
  bool        LengthOnEveryFragment = true;
  bool        LengthOnUnfragmented = true;
  UINT32      Seed = 7;
  // Sees (and may change) each flight the TLS server wrote before it is
  // fragmented: a way to send what mbedtls itself would not.
  std::function<void(Bytes &)> FlightFilter = nullptr;
};

// In a flight, replaces the DER certificate Old in the server's Certificate
// message (its own record, a chain of one) by New and fixes the lengths
// around it. False when the flight has no such message.
bool ReplaceCertificate(Bytes &Flight, const Bytes &Old, const Bytes &New);

class EapTlsServer {
 public:
  explicit EapTlsServer(const SERVER_OPTIONS &Options);
  ~EapTlsServer();
  EapTlsServer(const EapTlsServer &) = delete;
  EapTlsServer &operator=(const EapTlsServer &) = delete;

  bool Ready() const { return Ready_; }

  // The first request: EAP-Request/Identity, as an EAPOL frame.
  Bytes Begin();
  // The station's response (an EAPOL frame) in, the next request out: a
  // Start, a fragment of the server's flight, an acknowledgement of the
  // station's fragment, or at the end EAP-Success / EAP-Failure. An empty
  // result means the response made no sense to the server.
  Bytes Answer(const Bytes &Response);

  // The last request sent again (a retransmission).
  const Bytes &LastRequest() const { return LastRequest_; }
  // Builders for frames tests send out of turn.
  Bytes Success() const;
  Bytes TlsRequest(UINT8 Flags, const Bytes &Data, UINT32 Length = 0) const;
  UINT8 NextIdentifier() const { return Identifier_; }

  bool Finished() const { return Finished_; }   // handshake complete on the server's side
  bool Succeeded() const { return Succeeded_; } // EAP-Success sent
  bool Failed() const { return Failed_; }       // EAP-Failure sent
  const Bytes &Msk() const { return Msk_; }
  // What the MSK is derived from: the master secret, client and server
  // random, and whether the suite's PRF hash is SHA-384.
  const Bytes &MasterSecret() const { return MasterSecret_; }
  const Bytes &Randoms() const { return Randoms_; }
  bool         PrfSha384() const { return PrfSha384_; }
  const std::string &Identity() const { return Identity_; }
  // Sizes of the station's EAP-TLS responses that carried data, and their flags.
  const std::vector<std::pair<UINT8, size_t>> &StationFragments() const { return StationFragments_; }
  int LastTlsError() const { return LastTlsError_; }

 private:
  struct Tls;
  Bytes Request(UINT8 Code, const Bytes &TypeData);
  Bytes NextFragment();
  Bytes RunHandshake();
  Bytes End(bool Success);

  SERVER_OPTIONS        Options_;
  std::unique_ptr<Tls>  Tls_;
  bool                  Ready_ = false;
  UINT8                 Identifier_ = 0x20;
  Bytes                 LastRequest_;
  Bytes                 Inbound_;        // the station's message being collected
  size_t                InboundTotal_ = 0;
  Bytes                 Input_;          // what the TLS server reads
  size_t                InputOffset_ = 0;
  Bytes                 Flight_;         // the server's flight being sent
  size_t                FlightSent_ = 0;
  bool                  Started_ = false;
  bool                  Finished_ = false;
  bool                  Succeeded_ = false;
  bool                  Failed_ = false;
  bool                  HandshakeFailed_ = false;
  int                   LastTlsError_ = 0;
  Bytes                 Msk_;
  Bytes                 MasterSecret_;
  Bytes                 Randoms_;
  bool                  PrfSha384_ = false;
  std::string           Identity_;
  std::mt19937          Random_;
  std::vector<std::pair<UINT8, size_t>> StationFragments_;

  friend struct TlsCallbacks;
};

}  // namespace eap_test
