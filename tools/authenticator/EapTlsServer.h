// The authentication server's side of EAP-TLS (RFC 5216) on mbedtls's TLS
// 1.2 server: the Start, the server's handshake messages cut into EAP
// packets of at most an MTU (L flag and the message length on the first
// fragment, M on all but the last), acknowledgements of the station's
// fragments and their reassembly, a client certificate required and
// verified against the CA, and the MSK from the master secret by the key
// export hook. Freestanding (mbedtls allocates from the UEFI pool): ap-sim,
// the UEFI test application and the benchmark run it. It shares nothing
// with the driver's EAP implementation.
#pragma once
#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>
#include <uefi/Base.h>

#include "Authenticator.h"
#include "EapAuthenticator.h"
#include "EapTlsFraming.h"

namespace authenticator {

constexpr UINTN EAP_TLS_MSK_LEN = 64;

struct EAP_TLS_SERVER_CONFIG {
  // Certificates and key as mbedtls takes them: PEM with its terminating
  // NUL counted, or DER.
  const UINT8  *CaCert;
  UINTN         CaCertLength;
  const UINT8  *ServerCert;
  UINTN         ServerCertLength;
  const UINT8  *ServerKey;
  UINTN         ServerKeyLength;
  UINTN         Mtu;  // largest EAP packet sent, at least EAP_TLS_MIN_MTU
  RANDOM_SOURCE Random;
};

enum class EAP_TLS_SETUP : UINT8 { Ok, BadMtu, BadCaCert, BadServerCert, BadServerKey, TlsSetupFailed };
const CHAR8 *EapTlsSetupName(EAP_TLS_SETUP Result);

class EapTlsServer {
 public:
  EapTlsServer();
  ~EapTlsServer();
  EapTlsServer(const EapTlsServer &) = delete;
  EapTlsServer &operator=(const EapTlsServer &) = delete;

  // Parses the credentials and prepares one conversation.
  EAP_TLS_SETUP Setup(const EAP_TLS_SERVER_CONFIG &Config);

  // The server's answer to the station's EAP-Response (the first one is
  // the identity response): an EAP-Request, or EAP-Success / EAP-Failure
  // when the conversation ends. Returns its length; 0 only when Capacity
  // cannot hold it (less than the MTU) or after the end.
  UINTN Answer(const UINT8 *Response, UINTN Length, UINT8 *Out, UINTN Capacity);

  EAP_OUTCOME  Outcome() const { return Outcome_; }
  // After success: the MSK (64 octets); the PMK is its first 32.
  const UINT8 *Msk() const { return Msk_; }
  // Why the conversation failed, and mbedtls's error code if TLS failed.
  const CHAR8 *FailureReason() const { return Reason_; }
  int          TlsError() const { return TlsError_; }
  // Requests sent so far (the Start included).
  UINTN        Requests() const { return Requests_; }

  // mbedtls's I/O and key-export hooks (public for the C callbacks).
  int  Receive(UINT8 *Buffer, UINTN Length);
  int  Send(const UINT8 *Buffer, UINTN Length);
  VOID ExportKeys(const UINT8 *Secret, UINTN SecretLength, const UINT8 *ClientRandom, const UINT8 *ServerRandom,
                  int PrfType);

 private:
  enum class STAGE : UINT8 { Unconfigured, AwaitIdentity, AwaitTls, Sending, AwaitFinalAck, Failing, Done };

  UINTN Fail(const CHAR8 *Reason, UINT8 Identifier, UINT8 *Out, UINTN Capacity);
  UINTN Finish(UINT8 Code, UINT8 Identifier, UINT8 *Out, UINTN Capacity);
  UINTN EmptyRequest(UINT8 Flags, UINT8 *Out, UINTN Capacity);
  UINTN NextFragment(UINT8 *Out, UINTN Capacity);
  UINTN TakeStationData(const UINT8 *Eap, UINTN Length, UINT8 *Out, UINTN Capacity);
  UINTN RunHandshake(UINT8 *Out, UINTN Capacity);

  mbedtls_ssl_context Ssl_;
  mbedtls_ssl_config  Conf_;
  mbedtls_x509_crt    Ca_;
  mbedtls_x509_crt    Cert_;
  mbedtls_pk_context  Key_;
  RANDOM_SOURCE       Random_ = {};
  STAGE       Stage_ = STAGE::Unconfigured;
  EAP_OUTCOME Outcome_ = EAP_OUTCOME::Running;
  UINTN       Mtu_ = 0;
  UINT8       Identifier_ = 0;  // of the last request sent
  UINTN       Requests_ = 0;
  const CHAR8 *Reason_ = "";
  int         TlsError_ = 0;
  bool        HandshakeDone_ = false;
  bool        HaveMsk_ = false;
  UINT8       Msk_[EAP_TLS_MSK_LEN] = {};
  // The station's TLS message being reassembled, and how far TLS read it.
  EapTlsReassembler In_;
  UINTN       InRead_ = 0;
  // The server's flight and how much of it went out.
  UINT8       Out_[EAP_TLS_MAX_MESSAGE] = {};
  UINTN       OutLength_ = 0;
  UINTN       OutSent_ = 0;
};

}  // namespace authenticator
