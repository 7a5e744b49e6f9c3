#include "TlsClient.h"

#include <Library/BaseMemoryLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiLib.h>

#include "Random.h"
#include "mbedtls/error.h"
#include "mbedtls/pem.h"

namespace eap {

namespace {

// ECDHE with ECDSA or RSA server keys, AES-GCM, SHA-256/384 (RFC 5216 asks
// for TLS 1.2; these are its suites with forward secrecy and AEAD).
constexpr int CipherSuites[] = {
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384,
    MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256,
    0,
};

// mbedtls's allocation failures: the high-level codes of the modules the
// handshake runs, and the low-level ones (which may be added to another
// module's high-level code).
bool IsAllocationFailure(int Error) {
  constexpr int HighLevel[] = {MBEDTLS_ERR_SSL_ALLOC_FAILED, MBEDTLS_ERR_X509_ALLOC_FAILED,
                               MBEDTLS_ERR_PK_ALLOC_FAILED,  MBEDTLS_ERR_ECP_ALLOC_FAILED,
                               MBEDTLS_ERR_CIPHER_ALLOC_FAILED, MBEDTLS_ERR_MD_ALLOC_FAILED,
                               MBEDTLS_ERR_PEM_ALLOC_FAILED};
  constexpr int LowLevel[] = {MBEDTLS_ERR_MPI_ALLOC_FAILED, MBEDTLS_ERR_ASN1_ALLOC_FAILED};
  if (Error >= 0) {
    return false;
  }
  int Magnitude = -Error;
  for (int Code : HighLevel) {
    if ((Magnitude & 0xFF80) == -Code) {
      return true;
    }
  }
  for (int Code : LowLevel) {
    if ((Magnitude & 0x007F) == -Code) {
      return true;
    }
  }
  return false;
}

TLS_STEP StepFromError(int Error) {
  if (Error == 0) {
    return TLS_STEP::Continue;
  }
  if (Error == MBEDTLS_ERR_SSL_FATAL_ALERT_MESSAGE) {
    return TLS_STEP::PeerAlert;
  }
  return IsAllocationFailure(Error) ? TLS_STEP::OutOfResources : TLS_STEP::Refused;
}

// The PEM parsers want the text NUL-terminated. A PEM buffer without its
// NUL is parsed from a pool copy that has one (cleared and freed after);
// anything else, DER included, is parsed where the caller keeps it.
bool LooksLikePem(const UINT8 *Data, UINTN Size) {
  constexpr char Marker[] = "-----BEGIN ";
  constexpr UINTN MarkerLength = sizeof(Marker) - 1;
  for (UINTN Offset = 0; Offset + MarkerLength <= Size; ++Offset) {
    if (CompareMem(Data + Offset, Marker, MarkerLength) == 0) {
      return true;
    }
  }
  return false;
}

template <typename Parser>
int ParseTerminated(const UINT8 *Data, UINTN Size, Parser Parse) {
  if (Data[Size - 1] == 0 || !LooksLikePem(Data, Size)) {
    return Parse(Data, Size);
  }
  auto *Copy = static_cast<UINT8 *>(AllocatePool(Size + 1));
  if (Copy == nullptr) {
    return MBEDTLS_ERR_PEM_ALLOC_FAILED;
  }
  CopyMem(Copy, Data, Size);
  Copy[Size] = 0;
  int Result = Parse(Copy, Size + 1);
  FreePoolSecure(Copy, Size + 1);
  return Result;
}

// A chain from one buffer: every certificate in it must parse.
int ParseChain(mbedtls_x509_crt *Chain, const UINT8 *Data, UINTN Size) {
  int Result = ParseTerminated(Data, Size, [Chain](const UINT8 *Bytes, UINTN Length) {
    return mbedtls_x509_crt_parse(Chain, Bytes, Length);
  });
  // A positive result counts the certificates that did not parse.
  return Result > 0 ? MBEDTLS_ERR_X509_INVALID_FORMAT : Result;
}

int ParseKey(mbedtls_pk_context *Key, const TLS_CREDENTIALS &Credentials) {
  const UINT8 *Password = Credentials.Password;
  UINTN PasswordSize = Password != nullptr ? Credentials.PasswordSize : 0;
  if (PasswordSize != 0 && Password[PasswordSize - 1] == 0) {
    --PasswordSize;
  }
  if (PasswordSize == 0) {
    Password = nullptr;
  }
  return ParseTerminated(Credentials.Key, Credentials.KeySize, [&](const UINT8 *Bytes, UINTN Length) {
    return mbedtls_pk_parse_key(Key, Bytes, Length, Password, PasswordSize, TlsRandom, nullptr);
  });
}

bool Present(const UINT8 *Data, UINTN Size) { return Data != nullptr && Size != 0; }

// Fields of an X.509 time, in order of significance.
int CompareTime(const mbedtls_x509_time &Certificate, const EFI_TIME &Now) {
  const int Left[] = {Certificate.year, Certificate.mon, Certificate.day,
                      Certificate.hour, Certificate.min, Certificate.sec};
  const int Right[] = {Now.Year, Now.Month, Now.Day, Now.Hour, Now.Minute, Now.Second};
  for (UINTN Index = 0; Index < sizeof(Left) / sizeof(Left[0]); ++Index) {
    if (Left[Index] != Right[Index]) {
      return Left[Index] < Right[Index] ? -1 : 1;
    }
  }
  return 0;
}

// Called by mbedtls for every certificate of the chain it built, the CA
// included. Without a clock the chain cannot be judged, so it fails.
int VerifyValidity(void *, mbedtls_x509_crt *Certificate, int, uint32_t *Flags) {
  EFI_TIME Now = {};
  if (gRT == nullptr || EFI_ERROR(gRT->GetTime(&Now, nullptr))) {
    *Flags |= MBEDTLS_X509_BADCERT_OTHER;
    return 0;
  }
  CertificateValidAt(*Certificate, Now, Flags);
  return 0;
}

}  // namespace

int TlsRandom(void *, unsigned char *Output, size_t Length) {
  random_bytes(Output, Length);
  return 0;
}

// The firmware clock is taken as UTC, the time zone of X.509 times.
bool CertificateValidAt(const mbedtls_x509_crt &Certificate, const EFI_TIME &Now, uint32_t *Flags) {
  bool Valid = true;
  if (CompareTime(Certificate.valid_from, Now) > 0) {
    *Flags |= MBEDTLS_X509_BADCERT_FUTURE;
    Valid = false;
  }
  if (CompareTime(Certificate.valid_to, Now) < 0) {
    *Flags |= MBEDTLS_X509_BADCERT_EXPIRED;
    Valid = false;
  }
  return Valid;
}

TLS_CLIENT::~TLS_CLIENT() { SecureZeroMem(Msk_, sizeof(Msk_)); }

TLS_STEP TLS_CLIENT::Start(const TLS_CREDENTIALS &Credentials, TLS_FLIGHT *Flight) {
  Flight_ = Flight;
  TLS_STEP Step = LoadCredentials(Credentials);
  if (Step == TLS_STEP::Continue) {
    Step = Configure();
  }
  return Step == TLS_STEP::Continue ? Run() : Step;
}

TLS_STEP TLS_CLIENT::LoadCredentials(const TLS_CREDENTIALS &Credentials) {
  // No CA, no trust: there is no mode that accepts any server.
  if (!Present(Credentials.CaCert, Credentials.CaCertSize) ||
      !Present(Credentials.ClientCert, Credentials.ClientCertSize) ||
      !Present(Credentials.Key, Credentials.KeySize)) {
    return TLS_STEP::Refused;
  }
  int Error = ParseChain(&Ca_.Chain, Credentials.CaCert, Credentials.CaCertSize);
  if (Error == 0) {
    Error = ParseChain(&Own_.Chain, Credentials.ClientCert, Credentials.ClientCertSize);
  }
  if (Error == 0) {
    Error = ParseKey(&Key_.Key, Credentials);
  }
  // The key must be the one the client certificate names.
  if (Error == 0) {
    Error = mbedtls_pk_check_pair(&Own_.Chain.pk, &Key_.Key, TlsRandom, nullptr);
  }
  return StepFromError(Error);
}

TLS_STEP TLS_CLIENT::Configure() {
  mbedtls_ssl_config *Config = &Config_.Config;
  int Error = mbedtls_ssl_config_defaults(Config, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                          MBEDTLS_SSL_PRESET_DEFAULT);
  if (Error != 0) {
    return StepFromError(Error);
  }
  mbedtls_ssl_conf_authmode(Config, MBEDTLS_SSL_VERIFY_REQUIRED);
  mbedtls_ssl_conf_ca_chain(Config, &Ca_.Chain, nullptr);
  mbedtls_ssl_conf_rng(Config, TlsRandom, nullptr);
  mbedtls_ssl_conf_verify(Config, VerifyValidity, nullptr);
  mbedtls_ssl_conf_min_tls_version(Config, MBEDTLS_SSL_VERSION_TLS1_2);
  mbedtls_ssl_conf_max_tls_version(Config, MBEDTLS_SSL_VERSION_TLS1_2);
  mbedtls_ssl_conf_ciphersuites(Config, CipherSuites);
#if defined(MBEDTLS_SSL_SESSION_TICKETS)
  mbedtls_ssl_conf_session_tickets(Config, MBEDTLS_SSL_SESSION_TICKETS_DISABLED);
#endif
  Error = mbedtls_ssl_conf_own_cert(Config, &Own_.Chain, &Key_.Key);
  mbedtls_ssl_context *Ssl = &Session_.Ssl;
  if (Error == 0) {
    Error = mbedtls_ssl_setup(Ssl, Config);
  }
  // No server name to match: the configured CA is the server's identity.
  if (Error == 0) {
    Error = mbedtls_ssl_set_hostname(Ssl, nullptr);
  }
  if (Error != 0) {
    return StepFromError(Error);
  }
  mbedtls_ssl_set_bio(Ssl, this, BioSend, BioReceive, nullptr);
  mbedtls_ssl_set_export_keys_cb(Ssl, ExportKeys, this);
  return TLS_STEP::Continue;
}

TLS_STEP TLS_CLIENT::Receive(const UINT8 *Message, UINTN Length) {
  if (Finished_) {
    return TLS_STEP::Refused;
  }
  Input_ = Message;
  InputLength_ = Length;
  InputOffset_ = 0;
  TLS_STEP Step = Run();
  // Nothing may follow the server's Finished in the same message.
  if (Step == TLS_STEP::Finished && InputOffset_ != InputLength_) {
    Step = TLS_STEP::Refused;
  }
  Input_ = nullptr;
  InputLength_ = 0;
  InputOffset_ = 0;
  return Step;
}

TLS_STEP TLS_CLIENT::Run() {
  int Error = mbedtls_ssl_handshake(&Session_.Ssl);
  if (Error == MBEDTLS_ERR_SSL_WANT_READ) {
    return TLS_STEP::Continue;
  }
  if (SendFailed_) {
    return TLS_STEP::OutOfResources;
  }
  if (Error != 0) {
    return StepFromError(Error);
  }
  if (!MskReady_) {
    return TLS_STEP::Refused;
  }
  Finished_ = true;
  return TLS_STEP::Finished;
}

int TLS_CLIENT::BioSend(void *Context, const unsigned char *Data, size_t Length) {
  auto *Client = static_cast<TLS_CLIENT *>(Context);
  if (!Client->Flight_->Append(Data, Length)) {
    Client->SendFailed_ = true;
    return MBEDTLS_ERR_SSL_ALLOC_FAILED;
  }
  return (int)Length;
}

int TLS_CLIENT::BioReceive(void *Context, unsigned char *Data, size_t Length) {
  auto *Client = static_cast<TLS_CLIENT *>(Context);
  UINTN Available = Client->InputLength_ - Client->InputOffset_;
  if (Available == 0) {
    return MBEDTLS_ERR_SSL_WANT_READ;
  }
  UINTN Count = Length < Available ? Length : Available;
  CopyMem(Data, Client->Input_ + Client->InputOffset_, Count);
  Client->InputOffset_ += Count;
  return (int)Count;
}

// RFC 5216: Key_Material = TLS-PRF-128(master_secret, "client EAP
// encryption", client.random || server.random); the MSK is its first 64
// octets.
void TLS_CLIENT::ExportKeys(void *Context, mbedtls_ssl_key_export_type Type, const unsigned char *Secret,
                            size_t SecretLength, const unsigned char ClientRandom[32],
                            const unsigned char ServerRandom[32], mbedtls_tls_prf_types PrfType) {
  auto *Client = static_cast<TLS_CLIENT *>(Context);
  if (Type != MBEDTLS_SSL_KEY_EXPORT_TLS12_MASTER_SECRET) {
    return;
  }
  UINT8 Randoms[64];
  CopyMem(Randoms, ClientRandom, 32);
  CopyMem(Randoms + 32, ServerRandom, 32);
  Client->MskReady_ = mbedtls_ssl_tls_prf(PrfType, Secret, SecretLength, MSK_LABEL, Randoms, sizeof(Randoms),
                                          Client->Msk_, sizeof(Client->Msk_)) == 0;
  if (!Client->MskReady_) {
    SecureZeroMem(Client->Msk_, sizeof(Client->Msk_));
  }
}

}  // namespace eap
