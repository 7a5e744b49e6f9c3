#include "EapTlsServer.h"

#include <mbedtls/error.h>

namespace authenticator {
namespace {

constexpr CHAR8 MskLabel[] = "client EAP encryption";
constexpr UINTN RandomLength = 32;

UINTN Be16(const UINT8 *Bytes) { return (UINTN)(Bytes[0] << 8 | Bytes[1]); }
VOID PutBe16(UINT8 *Bytes, UINTN Value) {
  Bytes[0] = (UINT8)(Value >> 8);
  Bytes[1] = (UINT8)Value;
}
VOID Copy(UINT8 *To, const UINT8 *From, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    To[Index] = From[Index];
  }
}
VOID Wipe(volatile UINT8 *Bytes, UINTN Length) {
  for (UINTN Index = 0; Index < Length; ++Index) {
    Bytes[Index] = 0;
  }
}

int ReceiveHook(void *Context, unsigned char *Buffer, size_t Length) {
  return static_cast<EapTlsServer *>(Context)->Receive(Buffer, Length);
}
int SendHook(void *Context, const unsigned char *Buffer, size_t Length) {
  return static_cast<EapTlsServer *>(Context)->Send(Buffer, Length);
}
void ExportHook(void *Context, mbedtls_ssl_key_export_type Type, const unsigned char *Secret, size_t SecretLength,
                const unsigned char ClientRandom[32], const unsigned char ServerRandom[32],
                mbedtls_tls_prf_types PrfType) {
  if (Type == MBEDTLS_SSL_KEY_EXPORT_TLS12_MASTER_SECRET) {
    static_cast<EapTlsServer *>(Context)->ExportKeys(Secret, SecretLength, ClientRandom, ServerRandom, (int)PrfType);
  }
}
int RandomHook(void *Context, unsigned char *Buffer, size_t Length) {
  const RANDOM_SOURCE *Source = static_cast<const RANDOM_SOURCE *>(Context);
  Source->Fill(Source->Context, Buffer, Length);
  return 0;
}

}  // namespace

const CHAR8 *EapTlsSetupName(EAP_TLS_SETUP Result) {
  switch (Result) {
    case EAP_TLS_SETUP::Ok:
      return "ok";
    case EAP_TLS_SETUP::BadMtu:
      return "MTU too small or too large";
    case EAP_TLS_SETUP::BadCaCert:
      return "CA certificate does not parse";
    case EAP_TLS_SETUP::BadServerCert:
      return "server certificate does not parse";
    case EAP_TLS_SETUP::BadServerKey:
      return "server key does not parse";
    case EAP_TLS_SETUP::TlsSetupFailed:
      return "TLS setup failed";
  }
  return "?";
}

EapTlsServer::EapTlsServer() {
  mbedtls_ssl_init(&Ssl_);
  mbedtls_ssl_config_init(&Conf_);
  mbedtls_x509_crt_init(&Ca_);
  mbedtls_x509_crt_init(&Cert_);
  mbedtls_pk_init(&Key_);
}

EapTlsServer::~EapTlsServer() {
  mbedtls_ssl_free(&Ssl_);
  mbedtls_ssl_config_free(&Conf_);
  mbedtls_x509_crt_free(&Ca_);
  mbedtls_x509_crt_free(&Cert_);
  mbedtls_pk_free(&Key_);
  Wipe(Msk_, sizeof(Msk_));
  Wipe(Out_, sizeof(Out_));
}

EAP_TLS_SETUP EapTlsServer::Setup(const EAP_TLS_SERVER_CONFIG &Config) {
  if (Config.Mtu < EAP_TLS_MIN_MTU || Config.Mtu > EAP_MAX_PACKET_LEN || Stage_ != STAGE::Unconfigured) {
    return EAP_TLS_SETUP::BadMtu;
  }
  Random_ = Config.Random;
  if (mbedtls_x509_crt_parse(&Ca_, Config.CaCert, Config.CaCertLength) != 0) {
    return EAP_TLS_SETUP::BadCaCert;
  }
  if (mbedtls_x509_crt_parse(&Cert_, Config.ServerCert, Config.ServerCertLength) != 0) {
    return EAP_TLS_SETUP::BadServerCert;
  }
  if (mbedtls_pk_parse_key(&Key_, Config.ServerKey, Config.ServerKeyLength, nullptr, 0, RandomHook, &Random_) != 0) {
    return EAP_TLS_SETUP::BadServerKey;
  }
  if (mbedtls_ssl_config_defaults(&Conf_, MBEDTLS_SSL_IS_SERVER, MBEDTLS_SSL_TRANSPORT_STREAM,
                                  MBEDTLS_SSL_PRESET_DEFAULT) != 0) {
    return EAP_TLS_SETUP::TlsSetupFailed;
  }
  mbedtls_ssl_conf_min_tls_version(&Conf_, MBEDTLS_SSL_VERSION_TLS1_2);
  mbedtls_ssl_conf_max_tls_version(&Conf_, MBEDTLS_SSL_VERSION_TLS1_2);
  mbedtls_ssl_conf_rng(&Conf_, RandomHook, &Random_);
  // EAP-TLS authenticates the station by its certificate.
  mbedtls_ssl_conf_authmode(&Conf_, MBEDTLS_SSL_VERIFY_REQUIRED);
  mbedtls_ssl_conf_ca_chain(&Conf_, &Ca_, nullptr);
  if (mbedtls_ssl_conf_own_cert(&Conf_, &Cert_, &Key_) != 0 || mbedtls_ssl_setup(&Ssl_, &Conf_) != 0) {
    return EAP_TLS_SETUP::TlsSetupFailed;
  }
  mbedtls_ssl_set_bio(&Ssl_, this, SendHook, ReceiveHook, nullptr);
  mbedtls_ssl_set_export_keys_cb(&Ssl_, ExportHook, this);
  Mtu_ = Config.Mtu;
  Stage_ = STAGE::AwaitIdentity;
  return EAP_TLS_SETUP::Ok;
}

int EapTlsServer::Receive(UINT8 *Buffer, UINTN Length) {
  UINTN Available = In_.MessageLength() - InRead_;
  if (Available == 0) {
    return MBEDTLS_ERR_SSL_WANT_READ;
  }
  UINTN Count = Available < Length ? Available : Length;
  Copy(Buffer, In_.Message() + InRead_, Count);
  InRead_ += Count;
  return (int)Count;
}

int EapTlsServer::Send(const UINT8 *Buffer, UINTN Length) {
  // One flight must fit; a larger one is a configuration this server does
  // not take (the handshake fails rather than sending a partial flight).
  if (Length > sizeof(Out_) - OutLength_) {
    return MBEDTLS_ERR_SSL_ALLOC_FAILED;
  }
  Copy(Out_ + OutLength_, Buffer, Length);
  OutLength_ += Length;
  return (int)Length;
}

// MSK = TLS-PRF(master secret, "client EAP encryption", client random ||
// server random), 64 octets (RFC 5216 2.3).
VOID EapTlsServer::ExportKeys(const UINT8 *Secret, UINTN SecretLength, const UINT8 *ClientRandom,
                              const UINT8 *ServerRandom, int PrfType) {
  UINT8 Randoms[2 * RandomLength];
  Copy(Randoms, ClientRandom, RandomLength);
  Copy(Randoms + RandomLength, ServerRandom, RandomLength);
  HaveMsk_ = mbedtls_ssl_tls_prf((mbedtls_tls_prf_types)PrfType, Secret, SecretLength, MskLabel, Randoms,
                                 sizeof(Randoms), Msk_, sizeof(Msk_)) == 0;
}

// The Start, and acknowledgements of the station's fragments.
UINTN EapTlsServer::EmptyRequest(UINT8 Flags, UINT8 *Out, UINTN Capacity) {
  UINTN Length = BuildEapTlsRequest((UINT8)(Identifier_ + 1), Flags, 0, nullptr, 0, Out, Capacity);
  if (Length != 0) {
    Identifier_ = (UINT8)(Identifier_ + 1);
    ++Requests_;
  }
  return Length;
}

UINTN EapTlsServer::Finish(UINT8 Code, UINT8 Identifier, UINT8 *Out, UINTN Capacity) {
  if (Capacity < EAP_HEADER_LEN) {
    return 0;
  }
  Out[0] = Code;
  Out[1] = Identifier;
  PutBe16(Out + 2, EAP_HEADER_LEN);
  Outcome_ = Code == EAP_CODE_SUCCESS ? EAP_OUTCOME::Success : EAP_OUTCOME::Failure;
  Stage_ = STAGE::Done;
  return EAP_HEADER_LEN;
}

UINTN EapTlsServer::Fail(const CHAR8 *Reason, UINT8 Identifier, UINT8 *Out, UINTN Capacity) {
  Reason_ = Reason;
  return Finish(EAP_CODE_FAILURE, Identifier, Out, Capacity);
}

// The next piece of the server's flight (see BuildEapTlsFragment).
UINTN EapTlsServer::NextFragment(UINT8 *Out, UINTN Capacity) {
  UINTN Length = BuildEapTlsFragment((UINT8)(Identifier_ + 1), Out_, OutLength_, &OutSent_, Mtu_, Out, Capacity);
  if (Length == 0) {
    return 0;
  }
  Identifier_ = (UINT8)(Identifier_ + 1);
  ++Requests_;
  if (OutSent_ == OutLength_) {
    OutSent_ = OutLength_ = 0;
    if (Stage_ != STAGE::Failing) {
      Stage_ = HandshakeDone_ ? STAGE::AwaitFinalAck : STAGE::AwaitTls;
    }
  } else if (Stage_ != STAGE::Failing) {
    Stage_ = STAGE::Sending;
  }
  return Length;
}

// Drives the handshake over what the station sent and answers with the
// server's next flight; a failed handshake sends the alert mbedtls wrote,
// if any, then EAP-Failure.
UINTN EapTlsServer::RunHandshake(UINT8 *Out, UINTN Capacity) {
  int Result = 0;
  while (!HandshakeDone_) {
    Result = mbedtls_ssl_handshake(&Ssl_);
    if (Result == 0) {
      HandshakeDone_ = true;
    } else {
      break;
    }
  }
  In_.Reset();
  InRead_ = 0;
  if (Result != 0 && Result != MBEDTLS_ERR_SSL_WANT_READ) {
    TlsError_ = Result;
    Reason_ = "TLS handshake failed";
    if (OutLength_ == 0) {
      return Finish(EAP_CODE_FAILURE, Identifier_, Out, Capacity);
    }
    Stage_ = STAGE::Failing;
    return NextFragment(Out, Capacity);
  }
  if (HandshakeDone_ && !HaveMsk_) {
    return Fail("no master secret exported", Identifier_, Out, Capacity);
  }
  if (OutLength_ == 0) {
    // The station owes more before the server can answer (not in TLS 1.2's
    // full handshake); an empty request asks for it.
    return EmptyRequest(0, Out, Capacity);
  }
  return NextFragment(Out, Capacity);
}

// One EAP-TLS response with data: acknowledged while M is set, handed to
// TLS when the message is whole.
UINTN EapTlsServer::TakeStationData(const UINT8 *Eap, UINTN Length, UINT8 *Out, UINTN Capacity) {
  switch (In_.Take(Eap, Length)) {
    case REASSEMBLY::More:
      return EmptyRequest(0, Out, Capacity);
    case REASSEMBLY::Complete:
      return RunHandshake(Out, Capacity);
    case REASSEMBLY::Malformed:
      return Fail("EAP-TLS response cut short", Eap[1], Out, Capacity);
    case REASSEMBLY::TooLong:
      return Fail("the station's TLS message is longer than it said or than the server takes", Eap[1], Out,
                  Capacity);
    case REASSEMBLY::Inconsistent:
      break;
  }
  return Fail("the station's fragments do not add up to the length it gave", Eap[1], Out, Capacity);
}

UINTN EapTlsServer::Answer(const UINT8 *Eap, UINTN Length, UINT8 *Out, UINTN Capacity) {
  if (Capacity < Mtu_ || Stage_ == STAGE::Done || Stage_ == STAGE::Unconfigured) {
    return 0;
  }
  if (Length < EAP_HEADER_LEN + 1 || Be16(Eap + 2) != Length || Eap[0] != EAP_CODE_RESPONSE) {
    return Fail("not an EAP-Response", Identifier_, Out, Capacity);
  }
  if (Stage_ == STAGE::AwaitIdentity) {
    if (Eap[4] != EAP_TYPE_IDENTITY) {
      return Fail("the first response is not the identity", Eap[1], Out, Capacity);
    }
    Identifier_ = Eap[1];
    Stage_ = STAGE::AwaitTls;
    return EmptyRequest(EAP_TLS_FLAG_START, Out, Capacity);
  }
  if (Eap[1] != Identifier_) {
    return Fail("response to another request", Eap[1], Out, Capacity);
  }
  if (Eap[4] != EAP_TYPE_TLS || Length < EAP_TLS_HEADER_LEN) {
    return Fail(Eap[4] == EAP_TYPE_NAK ? "the station declined EAP-TLS" : "not an EAP-TLS response", Eap[1], Out,
                Capacity);
  }
  bool Acknowledgement = Length == EAP_TLS_HEADER_LEN && Eap[5] == 0;
  switch (Stage_) {
    case STAGE::Sending:
      return Acknowledgement ? NextFragment(Out, Capacity)
                             : Fail("no acknowledgement of the server's fragment", Eap[1], Out, Capacity);
    case STAGE::Failing:
      // The alert went out; whatever the station says, it is over.
      if (OutLength_ != 0 && Acknowledgement) {
        return NextFragment(Out, Capacity);
      }
      return Finish(EAP_CODE_FAILURE, Eap[1], Out, Capacity);
    case STAGE::AwaitFinalAck:
      if (!Acknowledgement) {
        return Fail("data after the server's Finished", Eap[1], Out, Capacity);
      }
      return Finish(EAP_CODE_SUCCESS, Eap[1], Out, Capacity);
    case STAGE::AwaitTls:
      if (Acknowledgement) {
        return Fail("an acknowledgement where the station's TLS data was due", Eap[1], Out, Capacity);
      }
      return TakeStationData(Eap, Length, Out, Capacity);
    default:
      return 0;
  }
}

}  // namespace authenticator
