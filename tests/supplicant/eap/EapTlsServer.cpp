#include "EapTlsServer.h"

#include <algorithm>
#include <cstring>

#include "mbedtls/error.h"
#include "mbedtls/pk.h"
#include "mbedtls/ssl.h"
#include "mbedtls/x509_crt.h"

namespace eap_test {

namespace {

constexpr UINT8 CodeRequest = 1, CodeResponse = 2, SuccessCode = 3, FailureCode = 4;
constexpr UINT8 TypeIdentity = 1, TypeTls = 13;
constexpr UINT8 FlagLength = 0x80, FlagMore = 0x40, FlagStart = 0x20;

UINT32 Be32(const UINT8 *Bytes) {
  return (UINT32)Bytes[0] << 24 | (UINT32)Bytes[1] << 16 | (UINT32)Bytes[2] << 8 | Bytes[3];
}

UINT32 Be24(const UINT8 *Bytes) { return (UINT32)Bytes[0] << 16 | (UINT32)Bytes[1] << 8 | Bytes[2]; }
void PutBe24(UINT8 *Bytes, UINT32 Value) {
  Bytes[0] = (UINT8)(Value >> 16);
  Bytes[1] = (UINT8)(Value >> 8);
  Bytes[2] = (UINT8)Value;
}

}  // namespace

bool ReplaceCertificate(Bytes &Flight, const Bytes &Old, const Bytes &New) {
  auto At = std::search(Flight.begin(), Flight.end(), Old.begin(), Old.end());
  size_t Pos = (size_t)(At - Flight.begin());
  // record header 5, handshake header 4, list length 3, certificate length 3
  if (At == Flight.end() || Pos < 15) {
    return false;
  }
  UINT8 *Record = Flight.data() + Pos - 15;
  UINT8 *Handshake = Record + 5;
  size_t Old24 = Old.size();
  if (Record[0] != 22 || Handshake[0] != 11 || Be24(Handshake + 7) != Old24 || Be24(Handshake + 4) != Old24 + 3 ||
      Be24(Handshake + 1) != Old24 + 6 || (size_t)(Record[3] << 8 | Record[4]) != Old24 + 10) {
    return false;
  }
  size_t New24 = New.size();
  PutBe24(Handshake + 7, (UINT32)New24);
  PutBe24(Handshake + 4, (UINT32)(New24 + 3));
  PutBe24(Handshake + 1, (UINT32)(New24 + 6));
  Record[3] = (UINT8)((New24 + 10) >> 8);
  Record[4] = (UINT8)(New24 + 10);
  Flight.erase(Flight.begin() + (long)Pos, Flight.begin() + (long)(Pos + Old24));
  Flight.insert(Flight.begin() + (long)Pos, New.begin(), New.end());
  return true;
}

struct EapTlsServer::Tls {
  mbedtls_ssl_context Ssl;
  mbedtls_ssl_config  Config;
  mbedtls_x509_crt    Ca;
  mbedtls_x509_crt    Cert;
  mbedtls_pk_context  Key;
  Tls() {
    mbedtls_ssl_init(&Ssl);
    mbedtls_ssl_config_init(&Config);
    mbedtls_x509_crt_init(&Ca);
    mbedtls_x509_crt_init(&Cert);
    mbedtls_pk_init(&Key);
  }
  ~Tls() {
    mbedtls_ssl_free(&Ssl);
    mbedtls_ssl_config_free(&Config);
    mbedtls_x509_crt_free(&Ca);
    mbedtls_x509_crt_free(&Cert);
    mbedtls_pk_free(&Key);
  }
};

struct TlsCallbacks {
  static int Random(void *Context, unsigned char *Out, size_t Length) {
    auto *Server = static_cast<EapTlsServer *>(Context);
    for (size_t Index = 0; Index < Length; ++Index) {
      Out[Index] = (unsigned char)Server->Random_();
    }
    return 0;
  }
  static int Send(void *Context, const unsigned char *Data, size_t Length) {
    auto *Server = static_cast<EapTlsServer *>(Context);
    Server->Flight_.insert(Server->Flight_.end(), Data, Data + Length);
    return (int)Length;
  }
  static int Receive(void *Context, unsigned char *Data, size_t Length) {
    auto *Server = static_cast<EapTlsServer *>(Context);
    size_t Available = Server->Input_.size() - Server->InputOffset_;
    if (Available == 0) {
      return MBEDTLS_ERR_SSL_WANT_READ;
    }
    size_t Count = std::min(Length, Available);
    std::memcpy(Data, Server->Input_.data() + Server->InputOffset_, Count);
    Server->InputOffset_ += Count;
    return (int)Count;
  }
  // RFC 5216 key material from the server's own master secret.
  static void ExportKeys(void *Context, mbedtls_ssl_key_export_type Type, const unsigned char *Secret,
                         size_t SecretLength, const unsigned char ClientRandom[32],
                         const unsigned char ServerRandom[32], mbedtls_tls_prf_types Prf) {
    auto *Server = static_cast<EapTlsServer *>(Context);
    if (Type != MBEDTLS_SSL_KEY_EXPORT_TLS12_MASTER_SECRET) {
      return;
    }
    unsigned char Randoms[64];
    std::memcpy(Randoms, ClientRandom, 32);
    std::memcpy(Randoms + 32, ServerRandom, 32);
    Server->MasterSecret_.assign(Secret, Secret + SecretLength);
    Server->Randoms_.assign(Randoms, Randoms + 64);
    Server->PrfSha384_ = Prf == MBEDTLS_SSL_TLS_PRF_SHA384;
    Server->Msk_.assign(64, 0);
    if (mbedtls_ssl_tls_prf(Prf, Secret, SecretLength, "client EAP encryption", Randoms, 64, Server->Msk_.data(),
                            64) != 0) {
      Server->Msk_.clear();
    }
  }
};

EapTlsServer::EapTlsServer(const SERVER_OPTIONS &Options) : Options_(Options), Tls_(new Tls), Random_(Options.Seed) {
  Tls &T = *Tls_;
  Ready_ = mbedtls_x509_crt_parse(&T.Ca, static_cast<const unsigned char *>(Options.CaCert), Options.CaCertSize) == 0 &&
           mbedtls_x509_crt_parse(&T.Cert, static_cast<const unsigned char *>(Options.Cert), Options.CertSize) == 0 &&
           mbedtls_pk_parse_key(&T.Key, static_cast<const unsigned char *>(Options.Key), Options.KeySize, nullptr, 0,
                                TlsCallbacks::Random, this) == 0 &&
           mbedtls_ssl_config_defaults(&T.Config, MBEDTLS_SSL_IS_SERVER, MBEDTLS_SSL_TRANSPORT_STREAM,
                                       MBEDTLS_SSL_PRESET_DEFAULT) == 0;
  if (!Ready_) {
    return;
  }
  mbedtls_ssl_conf_authmode(&T.Config, MBEDTLS_SSL_VERIFY_REQUIRED);
  mbedtls_ssl_conf_ca_chain(&T.Config, &T.Ca, nullptr);
  mbedtls_ssl_conf_rng(&T.Config, TlsCallbacks::Random, this);
  mbedtls_ssl_conf_min_tls_version(&T.Config, MBEDTLS_SSL_VERSION_TLS1_2);
  mbedtls_ssl_conf_max_tls_version(&T.Config, MBEDTLS_SSL_VERSION_TLS1_2);
  Ready_ = mbedtls_ssl_conf_own_cert(&T.Config, &T.Cert, &T.Key) == 0 && mbedtls_ssl_setup(&T.Ssl, &T.Config) == 0;
  if (Ready_) {
    mbedtls_ssl_set_bio(&T.Ssl, this, TlsCallbacks::Send, TlsCallbacks::Receive, nullptr);
    mbedtls_ssl_set_export_keys_cb(&T.Ssl, TlsCallbacks::ExportKeys, this);
  }
}

EapTlsServer::~EapTlsServer() = default;

Bytes EapTlsServer::Request(UINT8 Code, const Bytes &TypeData) {
  Bytes Frame = {2, 0, 0, 0, Code, Identifier_++, 0, 0};
  Frame.insert(Frame.end(), TypeData.begin(), TypeData.end());
  UINT16 Length = (UINT16)(Frame.size() - 4);
  Frame[2] = Frame[6] = (UINT8)(Length >> 8);
  Frame[3] = Frame[7] = (UINT8)Length;
  LastRequest_ = Frame;
  return Frame;
}

Bytes EapTlsServer::TlsRequest(UINT8 Flags, const Bytes &Data, UINT32 Length) const {
  Bytes Frame = {2, 0, 0, 0, CodeRequest, Identifier_, 0, 0, TypeTls, Flags};
  if (Flags & FlagLength) {
    Frame.insert(Frame.end(), {(UINT8)(Length >> 24), (UINT8)(Length >> 16), (UINT8)(Length >> 8), (UINT8)Length});
  }
  Frame.insert(Frame.end(), Data.begin(), Data.end());
  UINT16 EapLength = (UINT16)(Frame.size() - 4);
  Frame[2] = Frame[6] = (UINT8)(EapLength >> 8);
  Frame[3] = Frame[7] = (UINT8)EapLength;
  return Frame;
}

Bytes EapTlsServer::Success() const { return {2, 0, 0, 4, SuccessCode, (UINT8)(Identifier_ - 1), 0, 4}; }

Bytes EapTlsServer::Begin() { return Request(CodeRequest, {TypeIdentity}); }

Bytes EapTlsServer::End(bool Succeeded) {
  Bytes Frame = {2, 0, 0, 4, Succeeded ? SuccessCode : FailureCode, (UINT8)(Identifier_ - 1), 0, 4};
  (Succeeded ? Succeeded_ : Failed_) = true;
  LastRequest_ = Frame;
  return Frame;
}

Bytes EapTlsServer::NextFragment() {
  size_t Remaining = Flight_.size() - FlightSent_;
  bool First = FlightSent_ == 0;
  bool More = Remaining > Options_.FragmentData;
  size_t Length = More ? Options_.FragmentData : Remaining;
  bool Fragmented = !(First && !More);
  UINT8 Flags = More ? FlagMore : 0;
  bool WithLength = Fragmented ? (First || Options_.LengthOnEveryFragment) : Options_.LengthOnUnfragmented;
  Bytes TypeData = {TypeTls, 0};
  if (WithLength) {
    Flags |= FlagLength;
    UINT32 Total = (UINT32)Flight_.size();
    TypeData.insert(TypeData.end(), {(UINT8)(Total >> 24), (UINT8)(Total >> 16), (UINT8)(Total >> 8), (UINT8)Total});
  }
  TypeData[1] = Flags;
  TypeData.insert(TypeData.end(), Flight_.begin() + (long)FlightSent_, Flight_.begin() + (long)(FlightSent_ + Length));
  FlightSent_ += Length;
  return Request(CodeRequest, TypeData);
}

Bytes EapTlsServer::RunHandshake() {
  Flight_.clear();
  FlightSent_ = 0;
  InputOffset_ = 0;
  int Result = mbedtls_ssl_handshake(&Tls_->Ssl);
  LastTlsError_ = Result;
  if (Result == 0) {
    Finished_ = true;
  } else if (Result != MBEDTLS_ERR_SSL_WANT_READ) {
    HandshakeFailed_ = true;  // whatever alert it wrote goes out, then Failure
  }
  if (Flight_.empty()) {
    return End(false);
  }
  if (Options_.FlightFilter) {
    Options_.FlightFilter(Flight_);
  }
  return NextFragment();
}

Bytes EapTlsServer::Answer(const Bytes &Frame) {
  if (Frame.size() < 9 || Frame[1] != 0 || Frame[4] != CodeResponse || Frame[5] != (UINT8)(Identifier_ - 1)) {
    return {};
  }
  size_t EapLength = (size_t)(Frame[6] << 8 | Frame[7]);
  if (EapLength + 4 != Frame.size() || Frame[8] == 3) {
    return {};  // a wrong length, or a Nak
  }
  if (Frame[8] == TypeIdentity) {
    Identity_.assign(Frame.begin() + 9, Frame.end());
    Started_ = true;
    return Request(CodeRequest, {TypeTls, FlagStart});
  }
  if (Frame[8] != TypeTls || !Started_ || Frame.size() < 10) {
    return {};
  }
  UINT8 Flags = Frame[9];
  size_t Offset = 10;
  if (Flags & FlagLength) {
    if (Frame.size() < 14) {
      return {};
    }
    InboundTotal_ = Be32(Frame.data() + 10);
    Offset = 14;
  }
  Bytes Data(Frame.begin() + (long)Offset, Frame.end());
  if (!Data.empty()) {
    StationFragments_.push_back({Flags, Data.size()});
  }
  // An acknowledgement: the next fragment of our flight, or the end.
  if (Data.empty()) {
    if (FlightSent_ < Flight_.size()) {
      return NextFragment();
    }
    if (HandshakeFailed_) {
      return End(false);
    }
    return Finished_ ? End(true) : Bytes{};
  }
  Inbound_.insert(Inbound_.end(), Data.begin(), Data.end());
  if (Flags & FlagMore) {
    return Request(CodeRequest, {TypeTls, 0});
  }
  if ((Flags & FlagLength || InboundTotal_ != 0) && Inbound_.size() != InboundTotal_) {
    return {};
  }
  Input_ = Inbound_;
  Inbound_.clear();
  InboundTotal_ = 0;
  return RunHandshake();
}

}  // namespace eap_test
