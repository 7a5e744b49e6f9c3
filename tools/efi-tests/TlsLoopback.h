// A TLS 1.2 client and server of sup_mbedtls joined back to back in memory:
// each side's records go through a pool-backed byte pipe to the other, and
// one loop steps both handshakes in turn. Freestanding, so the same code
// runs inside OVMF and on the host; it proves the configuration the driver's
// EAP-TLS client and the tools' EAP-TLS server share.
#pragma once
#include <uefi/Base.h>

namespace tls_loopback {

// One side's trust anchor, certificate and private key, each PEM (with its
// terminating NUL counted) or DER. KeyPassPhrase is null for plain keys.
struct Credentials {
  const void  *Root;
  UINTN        RootSize;
  const void  *Cert;
  UINTN        CertSize;
  const void  *Key;
  UINTN        KeySize;
  const CHAR8 *KeyPassPhrase;
};

enum class HostnameCheck {
  Skipped,      // never calls mbedtls_ssl_set_hostname (mbedtls 3.6 refuses this)
  ExplicitlyOff,  // mbedtls_ssl_set_hostname(NULL): chain check only
  Name,         // the server certificate must name ServerName
};

struct Settings {
  Credentials   Server;
  Credentials   Client;
  // 0-terminated cipher suite list the client offers; null: all configured.
  const int    *ClientSuites = nullptr;
  HostnameCheck Hostname = HostnameCheck::ExplicitlyOff;
  const CHAR8  *ServerName = nullptr;
};

// RFC 5216 key material: TLS-PRF-128(master secret, "client EAP encryption",
// client random || server random).
constexpr UINTN EapKeyMaterialLength = 128;

struct Outcome {
  int     SetupResult = 0;    // parsing credentials / configuring, 0 or mbedtls error
  int     ClientResult = 0;   // last handshake result, 0 when finished
  int     ServerResult = 0;
  UINT32  ClientVerifyFlags = 0;  // MBEDTLS_X509_BADCERT_* of the server chain
  UINT32  ServerVerifyFlags = 0;  // ... of the client chain
  int     ClientSuite = 0;        // the suite each side ended up with
  int     ServerSuite = 0;
  // Exported by each side through mbedtls_ssl_export_keying_material, and
  // computed from the client's master secret and randoms with the TLS PRF.
  UINT8   ClientKeyMaterial[EapKeyMaterialLength] = {};
  UINT8   ServerKeyMaterial[EapKeyMaterialLength] = {};
  UINT8   KeyMaterialFromMaster[EapKeyMaterialLength] = {};
  bool    KeysExported = false;
  // One application record each way arrived intact.
  bool    ApplicationDataExchanged = false;
};

// Runs one handshake and, when it succeeds, the key export and an
// application-data round trip. Every allocation comes from the UEFI pool and
// is returned before this returns. Random bytes come from an HMAC-DRBG
// seeded with Seed (deterministic, for tests only).
void RunHandshake(const Settings &Setup, UINT64 Seed, Outcome *Result);

}  // namespace tls_loopback
