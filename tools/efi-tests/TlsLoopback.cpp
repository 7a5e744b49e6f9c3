// Freestanding: mbedtls, the crypto library's HMAC-DRBG and the UEFI pool.
#include "TlsLoopback.h"

#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <crypto/HmacDrbg.h>

#include "mbedtls/pk.h"
#include "mbedtls/ssl.h"
#include "mbedtls/x509_crt.h"

namespace tls_loopback {
namespace {

constexpr CHAR8 EapKeyLabel[] = "client EAP encryption";
constexpr UINTN PipeCapacity = 4096;
// Each step moves at most one pipe's worth; a handshake takes a few dozen.
constexpr UINTN MaxSteps = 400;

// One direction of the connection: a bounded byte queue on the pool. A full
// pipe makes the writer wait, an empty one the reader, as a socket would.
class Pipe {
 public:
  Pipe() : Bytes_(static_cast<UINT8 *>(AllocatePool(PipeCapacity))) {}
  ~Pipe() {
    if (Bytes_ != nullptr) {
      FreePool(Bytes_);
    }
  }
  Pipe(const Pipe &) = delete;
  Pipe &operator=(const Pipe &) = delete;

  bool Ready() const { return Bytes_ != nullptr; }

  static int Send(void *Context, const unsigned char *Data, size_t Length) {
    return static_cast<Pipe *>(Context)->Write(Data, Length);
  }
  static int Receive(void *Context, unsigned char *Data, size_t Length) {
    return static_cast<Pipe *>(Context)->Read(Data, Length);
  }

 private:
  int Write(const UINT8 *Data, UINTN Length) {
    if (Used_ == PipeCapacity) {
      return MBEDTLS_ERR_SSL_WANT_WRITE;
    }
    UINTN Count = Length < PipeCapacity - Used_ ? Length : PipeCapacity - Used_;
    CopyMem(Bytes_ + Used_, Data, Count);
    Used_ += Count;
    return static_cast<int>(Count);
  }
  int Read(UINT8 *Data, UINTN Length) {
    if (Used_ == 0) {
      return MBEDTLS_ERR_SSL_WANT_READ;
    }
    UINTN Count = Length < Used_ ? Length : Used_;
    CopyMem(Data, Bytes_, Count);
    CopyMem(Bytes_, Bytes_ + Count, Used_ - Count);
    Used_ -= Count;
    return static_cast<int>(Count);
  }

  UINT8 *Bytes_;
  UINTN  Used_ = 0;
};

// The deterministic generator both ends draw from.
class TestRandom {
 public:
  explicit TestRandom(UINT64 Seed) {
    UINT8 Entropy[HMAC_DRBG_MIN_ENTROPY] = {};
    for (UINTN Index = 0; Index < sizeof(Seed); ++Index) {
      Entropy[Index] = static_cast<UINT8>(Seed >> (8 * Index));
    }
    Ready_ = hmac_drbg_instantiate(&State_, Entropy, sizeof(Entropy), nullptr, 0, nullptr, 0) == 0;
  }
  ~TestRandom() { hmac_drbg_uninstantiate(&State_); }
  TestRandom(const TestRandom &) = delete;
  TestRandom &operator=(const TestRandom &) = delete;

  bool Ready() const { return Ready_; }

  static int Fill(void *Context, unsigned char *Out, size_t Length) {
    auto *Self = static_cast<TestRandom *>(Context);
    while (Length != 0) {
      UINTN Chunk = Length < HMAC_DRBG_MAX_REQUEST ? Length : HMAC_DRBG_MAX_REQUEST;
      if (hmac_drbg_generate(&Self->State_, Out, Chunk, nullptr, 0) != 0) {
        return MBEDTLS_ERR_SSL_INTERNAL_ERROR;
      }
      Out += Chunk;
      Length -= Chunk;
    }
    return 0;
  }

 private:
  hmac_drbg_state State_ = {};
  bool Ready_ = false;
};

// What the client's key-export callback saw.
struct MasterSecret {
  UINT8 Secret[48];
  UINT8 Randoms[64];  // client random || server random
  mbedtls_tls_prf_types Prf = MBEDTLS_SSL_TLS_PRF_NONE;
  bool Seen = false;
};

void RememberMasterSecret(void *Context, mbedtls_ssl_key_export_type Type, const unsigned char *Secret,
                          size_t SecretLength, const unsigned char ClientRandom[32],
                          const unsigned char ServerRandom[32], mbedtls_tls_prf_types Prf) {
  auto *Saved = static_cast<MasterSecret *>(Context);
  if (Type != MBEDTLS_SSL_KEY_EXPORT_TLS12_MASTER_SECRET || SecretLength != sizeof(Saved->Secret)) {
    return;
  }
  CopyMem(Saved->Secret, Secret, SecretLength);
  CopyMem(Saved->Randoms, ClientRandom, 32);
  CopyMem(Saved->Randoms + 32, ServerRandom, 32);
  Saved->Prf = Prf;
  Saved->Seen = true;
}

// One end: configuration, context, its trust anchor, certificate and key.
class Endpoint {
 public:
  explicit Endpoint(int Side) : Side_(Side) {
    mbedtls_ssl_config_init(&Config_);
    mbedtls_ssl_init(&Ssl_);
    mbedtls_x509_crt_init(&Root_);
    mbedtls_x509_crt_init(&Cert_);
    mbedtls_pk_init(&Key_);
  }
  ~Endpoint() {
    mbedtls_ssl_free(&Ssl_);
    mbedtls_ssl_config_free(&Config_);
    mbedtls_x509_crt_free(&Root_);
    mbedtls_x509_crt_free(&Cert_);
    mbedtls_pk_free(&Key_);
  }
  Endpoint(const Endpoint &) = delete;
  Endpoint &operator=(const Endpoint &) = delete;

  // TLS 1.2 only, peer certificate required on both ends (EAP-TLS
  // authenticates the station by its certificate).
  int Configure(const Credentials &Own, TestRandom &Random) {
    int Result = mbedtls_x509_crt_parse(&Root_, static_cast<const UINT8 *>(Own.Root), Own.RootSize);
    if (Result == 0) {
      Result = mbedtls_x509_crt_parse(&Cert_, static_cast<const UINT8 *>(Own.Cert), Own.CertSize);
    }
    if (Result == 0) {
      const UINT8 *PassPhrase = reinterpret_cast<const UINT8 *>(Own.KeyPassPhrase);
      UINTN PassPhraseLength = Own.KeyPassPhrase == nullptr ? 0 : AsciiLength(Own.KeyPassPhrase);
      Result = mbedtls_pk_parse_key(&Key_, static_cast<const UINT8 *>(Own.Key), Own.KeySize, PassPhrase,
                                    PassPhraseLength, TestRandom::Fill, &Random);
    }
    if (Result == 0) {
      Result = mbedtls_ssl_config_defaults(&Config_, Side_, MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT);
    }
    if (Result != 0) {
      return Result;
    }
    mbedtls_ssl_conf_min_tls_version(&Config_, MBEDTLS_SSL_VERSION_TLS1_2);
    mbedtls_ssl_conf_max_tls_version(&Config_, MBEDTLS_SSL_VERSION_TLS1_2);
    mbedtls_ssl_conf_rng(&Config_, TestRandom::Fill, &Random);
    mbedtls_ssl_conf_authmode(&Config_, MBEDTLS_SSL_VERIFY_REQUIRED);
    mbedtls_ssl_conf_ca_chain(&Config_, &Root_, nullptr);
    return mbedtls_ssl_conf_own_cert(&Config_, &Cert_, &Key_);
  }

  void OfferSuites(const int *Suites) {
    if (Suites != nullptr) {
      mbedtls_ssl_conf_ciphersuites(&Config_, Suites);
    }
  }

  // Records go out through Out and come in through In.
  int Connect(Pipe &Out, Pipe &In) {
    int Result = mbedtls_ssl_setup(&Ssl_, &Config_);
    if (Result == 0) {
      Link_ = {&Out, &In};
      mbedtls_ssl_set_bio(&Ssl_, &Link_, Link::Send, Link::Receive, nullptr);
    }
    return Result;
  }

  mbedtls_ssl_context *Ssl() { return &Ssl_; }

 private:
  static UINTN AsciiLength(const CHAR8 *Text) {
    UINTN Length = 0;
    while (Text[Length] != '\0') {
      ++Length;
    }
    return Length;
  }

  // The context mbedtls hands both transport callbacks.
  struct Link {
    Pipe *Out;
    Pipe *In;
    static int Send(void *Context, const unsigned char *Data, size_t Length) {
      return Pipe::Send(static_cast<Link *>(Context)->Out, Data, Length);
    }
    static int Receive(void *Context, unsigned char *Data, size_t Length) {
      return Pipe::Receive(static_cast<Link *>(Context)->In, Data, Length);
    }
  };

  int Side_;
  Link Link_ = {nullptr, nullptr};
  mbedtls_ssl_config Config_;
  mbedtls_ssl_context Ssl_;
  mbedtls_x509_crt Root_;
  mbedtls_x509_crt Cert_;
  mbedtls_pk_context Key_;
};

bool Pending(int Result) { return Result == MBEDTLS_ERR_SSL_WANT_READ || Result == MBEDTLS_ERR_SSL_WANT_WRITE; }

// Steps both handshakes in turn until both finish or either fails.
void Handshake(Endpoint &Client, Endpoint &Server, Outcome *Result) {
  Result->ClientResult = MBEDTLS_ERR_SSL_WANT_READ;
  Result->ServerResult = MBEDTLS_ERR_SSL_WANT_READ;
  for (UINTN Step = 0; Step < MaxSteps; ++Step) {
    if (Result->ClientResult != 0) {
      Result->ClientResult = mbedtls_ssl_handshake(Client.Ssl());
    }
    if (Result->ServerResult != 0) {
      Result->ServerResult = mbedtls_ssl_handshake(Server.Ssl());
    }
    bool ClientOpen = Result->ClientResult == 0 || Pending(Result->ClientResult);
    bool ServerOpen = Result->ServerResult == 0 || Pending(Result->ServerResult);
    if (!ClientOpen || !ServerOpen || (Result->ClientResult == 0 && Result->ServerResult == 0)) {
      return;
    }
  }
}

// Writes Length bytes on one side and reads them back on the other.
bool CarryRecord(Endpoint &From, Endpoint &To, const UINT8 *Data, UINTN Length) {
  if (mbedtls_ssl_write(From.Ssl(), Data, Length) != static_cast<int>(Length)) {
    return false;
  }
  UINT8 Received[32] = {};
  if (Length > sizeof(Received) || mbedtls_ssl_read(To.Ssl(), Received, sizeof(Received)) != static_cast<int>(Length)) {
    return false;
  }
  return CompareMem(Received, Data, Length) == 0;
}

void ExportKeys(Endpoint &Client, Endpoint &Server, const MasterSecret &Saved, Outcome *Result) {
  const UINTN LabelLength = sizeof(EapKeyLabel) - 1;
  bool Exported =
      mbedtls_ssl_export_keying_material(Client.Ssl(), Result->ClientKeyMaterial, EapKeyMaterialLength, EapKeyLabel,
                                         LabelLength, nullptr, 0, 0) == 0 &&
      mbedtls_ssl_export_keying_material(Server.Ssl(), Result->ServerKeyMaterial, EapKeyMaterialLength, EapKeyLabel,
                                         LabelLength, nullptr, 0, 0) == 0;
  bool Derived = Saved.Seen && mbedtls_ssl_tls_prf(Saved.Prf, Saved.Secret, sizeof(Saved.Secret), EapKeyLabel,
                                                   Saved.Randoms, sizeof(Saved.Randoms),
                                                   Result->KeyMaterialFromMaster, EapKeyMaterialLength) == 0;
  Result->KeysExported = Exported && Derived;
}

void Exchange(const Settings &Setup, TestRandom &Random, Pipe &ToServer, Pipe &ToClient, Outcome *Result) {
  Endpoint Client(MBEDTLS_SSL_IS_CLIENT);
  Endpoint Server(MBEDTLS_SSL_IS_SERVER);
  MasterSecret Saved;
  Result->SetupResult = Client.Configure(Setup.Client, Random);
  if (Result->SetupResult == 0) {
    Result->SetupResult = Server.Configure(Setup.Server, Random);
  }
  if (Result->SetupResult == 0) {
    Client.OfferSuites(Setup.ClientSuites);
    Result->SetupResult = Client.Connect(ToServer, ToClient);
  }
  if (Result->SetupResult == 0) {
    Result->SetupResult = Server.Connect(ToClient, ToServer);
  }
  if (Result->SetupResult == 0 && Setup.Hostname != HostnameCheck::Skipped) {
    Result->SetupResult =
        mbedtls_ssl_set_hostname(Client.Ssl(), Setup.Hostname == HostnameCheck::Name ? Setup.ServerName : nullptr);
  }
  if (Result->SetupResult != 0) {
    return;
  }
  mbedtls_ssl_set_export_keys_cb(Client.Ssl(), RememberMasterSecret, &Saved);

  Handshake(Client, Server, Result);
  Result->ClientVerifyFlags = mbedtls_ssl_get_verify_result(Client.Ssl());
  Result->ServerVerifyFlags = mbedtls_ssl_get_verify_result(Server.Ssl());
  if (Result->ClientResult != 0 || Result->ServerResult != 0) {
    return;
  }
  Result->ClientSuite = mbedtls_ssl_get_ciphersuite_id_from_ssl(Client.Ssl());
  Result->ServerSuite = mbedtls_ssl_get_ciphersuite_id_from_ssl(Server.Ssl());
  ExportKeys(Client, Server, Saved, Result);
  constexpr UINT8 Ping[] = {'p', 'i', 'n', 'g'};
  constexpr UINT8 Pong[] = {'p', 'o', 'n', 'g', '!'};
  Result->ApplicationDataExchanged =
      CarryRecord(Client, Server, Ping, sizeof(Ping)) && CarryRecord(Server, Client, Pong, sizeof(Pong));
  SecureZeroMem(Saved.Secret, sizeof(Saved.Secret));
}

}  // namespace

void RunHandshake(const Settings &Setup, UINT64 Seed, Outcome *Result) {
  *Result = Outcome{};
  TestRandom Random(Seed);
  Pipe ToServer;
  Pipe ToClient;
  if (!Random.Ready() || !ToServer.Ready() || !ToClient.Ready()) {
    Result->SetupResult = MBEDTLS_ERR_SSL_ALLOC_FAILED;
    return;
  }
  Exchange(Setup, Random, ToServer, ToClient, Result);
}

}  // namespace tls_loopback
