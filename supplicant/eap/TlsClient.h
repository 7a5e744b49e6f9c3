// The TLS 1.2 client of EAP-TLS over mbedtls: credentials parsed from the
// caller's buffers, the handshake run over memory (one reassembled server
// message in, one flight out), and the MSK exported when it finishes.
//
// Trust: the server's chain must end at the configured CA, each certificate
// must be valid by the firmware clock, and its key usage must allow a TLS
// server. There is no server name to check (the EAP configuration has
// none), so the CA is the whole of the server's identity: it should be one
// that issues certificates for the authentication servers only.
//
// Objects of this class hold mbedtls objects that point at each other and
// at the class: construct them in place (PoolNew) and never copy or move.
#pragma once
#include <uefi/Uefi.h>

#include "EapPacket.h"
#include "mbedtls/pk.h"
#include "mbedtls/ssl.h"
#include "mbedtls/x509_crt.h"

namespace eap {

// The caller's EAP-TLS settings, kept where the caller keeps them. PEM may
// come with or without its terminating NUL; DER as it is. The password may
// carry one trailing NUL.
struct TLS_CREDENTIALS {
  const UINT8 *CaCert;
  UINTN        CaCertSize;
  const UINT8 *ClientCert;
  UINTN        ClientCertSize;
  const UINT8 *Key;
  UINTN        KeySize;
  const UINT8 *Password;  // may be NULL
  UINTN        PasswordSize;
};

enum class TLS_STEP {
  Continue,        // the handshake waits for the server's next message
  Finished,        // the server's Finished verified: the MSK is ready
  Refused,         // our side refused (credentials, server certificate, malformed TLS)
  PeerAlert,       // the server ended the handshake with a fatal alert
  OutOfResources,  // the pool is exhausted
};

constexpr UINTN MSK_LEN = 64;

// The RFC 5216 key-material label.
inline constexpr char MSK_LABEL[] = "client EAP encryption";

// Wrappers that own one mbedtls object each.
class X509_CHAIN {
 public:
  X509_CHAIN() { mbedtls_x509_crt_init(&Chain); }
  ~X509_CHAIN() { mbedtls_x509_crt_free(&Chain); }
  X509_CHAIN(const X509_CHAIN &) = delete;
  X509_CHAIN &operator=(const X509_CHAIN &) = delete;
  mbedtls_x509_crt Chain;
};

class PK_KEY {
 public:
  PK_KEY() { mbedtls_pk_init(&Key); }
  ~PK_KEY() { mbedtls_pk_free(&Key); }
  PK_KEY(const PK_KEY &) = delete;
  PK_KEY &operator=(const PK_KEY &) = delete;
  mbedtls_pk_context Key;
};

class SSL_CONFIG {
 public:
  SSL_CONFIG() { mbedtls_ssl_config_init(&Config); }
  ~SSL_CONFIG() { mbedtls_ssl_config_free(&Config); }
  SSL_CONFIG(const SSL_CONFIG &) = delete;
  SSL_CONFIG &operator=(const SSL_CONFIG &) = delete;
  mbedtls_ssl_config Config;
};

class SSL_SESSION {
 public:
  SSL_SESSION() { mbedtls_ssl_init(&Ssl); }
  ~SSL_SESSION() { mbedtls_ssl_free(&Ssl); }
  SSL_SESSION(const SSL_SESSION &) = delete;
  SSL_SESSION &operator=(const SSL_SESSION &) = delete;
  mbedtls_ssl_context Ssl;
};

class TLS_CLIENT {
 public:
  TLS_CLIENT() = default;
  ~TLS_CLIENT();
  TLS_CLIENT(const TLS_CLIENT &) = delete;
  TLS_CLIENT &operator=(const TLS_CLIENT &) = delete;

  // Parses the credentials, prepares the handshake and writes the
  // ClientHello into Flight. Continue on success.
  TLS_STEP Start(const TLS_CREDENTIALS &Credentials, TLS_FLIGHT *Flight);

  // Runs the handshake over the server's whole message; what the client
  // answers is appended to the flight given to Start.
  TLS_STEP Receive(const UINT8 *Message, UINTN Length);

  bool Finished() const { return Finished_; }
  // The MSK once Finished().
  const UINT8 *Msk() const { return Msk_; }

 private:
  TLS_STEP LoadCredentials(const TLS_CREDENTIALS &Credentials);
  TLS_STEP Configure();
  TLS_STEP Run();

  static int BioSend(void *Context, const unsigned char *Data, size_t Length);
  static int BioReceive(void *Context, unsigned char *Data, size_t Length);
  static void ExportKeys(void *Context, mbedtls_ssl_key_export_type Type, const unsigned char *Secret,
                         size_t SecretLength, const unsigned char ClientRandom[32],
                         const unsigned char ServerRandom[32], mbedtls_tls_prf_types PrfType);

  // Declared in dependency order: the session uses the configuration, which
  // uses the chains and the key; members are destroyed in reverse.
  X509_CHAIN  Ca_;
  X509_CHAIN  Own_;
  PK_KEY      Key_;
  SSL_CONFIG  Config_;
  SSL_SESSION Session_;

  TLS_FLIGHT  *Flight_ = nullptr;
  const UINT8 *Input_ = nullptr;
  UINTN        InputLength_ = 0;
  UINTN        InputOffset_ = 0;
  bool         SendFailed_ = false;
  bool         MskReady_ = false;
  bool         Finished_ = false;
  UINT8        Msk_[MSK_LEN] = {};
};

// mbedtls's random callback over the driver's random source.
int TlsRandom(void *Context, unsigned char *Output, size_t Length);

// The validity check mbedtls leaves to us (it has no clock here): every
// certificate of the chain must be valid at Now. Exposed for its tests.
bool CertificateValidAt(const mbedtls_x509_crt &Certificate, const EFI_TIME &Now, uint32_t *Flags);

}  // namespace eap
