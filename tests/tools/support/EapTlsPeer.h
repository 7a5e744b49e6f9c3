// Test support for EAP-TLS: the test PKI made once per test program by
// tools/radius/radius_server.py (openssl), and an EAP-TLS peer on mbedtls's
// TLS client with EAP-TLS framing of its own (independent of the driver and
// of the built-in server).
#pragma once
#include <Library/UefiLib.h>
#include <TestSupport/HostEnvTest.h>
#include <gtest/gtest.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>
#include <uefi/Base.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace eaptest {

using Bytes = std::vector<UINT8>;

constexpr UINT8 kEapResponse = 2;
constexpr UINT8 kEapTypeIdentity = 1;
constexpr UINT8 kEapTypeTls = 13;
constexpr UINT8 kFlagLength = 0x80;
constexpr UINT8 kFlagMore = 0x40;
constexpr UINT8 kFlagStart = 0x20;
constexpr size_t kHeader = 6;

// mbedtls allocates from the UEFI pool: each test runs in a fresh host
// environment whose service-table globals the support library uses, and
// fails when the pool holds blocks at its end.
class PoolTest : public TestSupport::HostEnvTest {
 protected:
  void SetUp() override {
    HostEnvTest::SetUp();
    gST = ST();
    gBS = BS();
  }
  void TearDown() override {
    gST = nullptr;
    gBS = nullptr;
    HostEnvTest::TearDown();
  }
};

inline std::string PkiDir() {
  static const std::string Dir = [] {
    char Template[] = "/tmp/eap-tls-pki-XXXXXX";
    std::string Path = mkdtemp(Template);
    std::string Command = std::string("python3 ") + RADIUS_SERVER_SCRIPT + " pki " + Path + " > /dev/null";
    if (std::system(Command.c_str()) != 0) {
      return std::string();
    }
    return Path;
  }();
  return Dir;
}

class PkiCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!PkiDir().empty()) {
      std::filesystem::remove_all(PkiDir());
    }
  }
};
inline const auto *const Cleanup = ::testing::AddGlobalTestEnvironment(new PkiCleanup);

// A PEM file with its terminating NUL, as mbedtls takes PEM.
inline Bytes Pem(const std::string &Name) {
  std::ifstream In(PkiDir() + "/" + Name, std::ios::binary);
  Bytes Data((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  Data.push_back(0);
  return Data;
}

inline void FillRandom(VOID *, UINT8 *Buffer, UINTN Length) {
  static std::random_device Device;
  for (UINTN Index = 0; Index < Length; ++Index) {
    Buffer[Index] = (UINT8)Device();
  }
}

inline int ClientRandom(void *, unsigned char *Buffer, size_t Length) {
  FillRandom(nullptr, Buffer, Length);
  return 0;
}

// An EAP-TLS peer on mbedtls's TLS client, with its own framing: answers
// requests, acknowledges the server's fragments, fragments its own
// messages at its MTU with L on the first.
class Peer {
 public:
  Peer(const std::string &Ca, const std::string &Cert, const std::string &Key, UINTN Mtu) : Mtu_(Mtu) {
    mbedtls_ssl_init(&Ssl_);
    mbedtls_ssl_config_init(&Conf_);
    mbedtls_x509_crt_init(&Ca_);
    mbedtls_x509_crt_init(&Cert_);
    mbedtls_pk_init(&Key_);
    Bytes CaPem = Pem(Ca), CertPem = Pem(Cert), KeyPem = Pem(Key);
    Ok_ = mbedtls_x509_crt_parse(&Ca_, CaPem.data(), CaPem.size()) == 0 &&
          mbedtls_x509_crt_parse(&Cert_, CertPem.data(), CertPem.size()) == 0 &&
          mbedtls_pk_parse_key(&Key_, KeyPem.data(), KeyPem.size(), nullptr, 0, ClientRandom, nullptr) == 0 &&
          mbedtls_ssl_config_defaults(&Conf_, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                      MBEDTLS_SSL_PRESET_DEFAULT) == 0;
    mbedtls_ssl_conf_min_tls_version(&Conf_, MBEDTLS_SSL_VERSION_TLS1_2);
    mbedtls_ssl_conf_max_tls_version(&Conf_, MBEDTLS_SSL_VERSION_TLS1_2);
    mbedtls_ssl_conf_rng(&Conf_, ClientRandom, nullptr);
    mbedtls_ssl_conf_authmode(&Conf_, MBEDTLS_SSL_VERIFY_REQUIRED);
    mbedtls_ssl_conf_ca_chain(&Conf_, &Ca_, nullptr);
    Ok_ = Ok_ && mbedtls_ssl_conf_own_cert(&Conf_, &Cert_, &Key_) == 0 && mbedtls_ssl_setup(&Ssl_, &Conf_) == 0;
    // The station checks the chain to its CA, no host name (none is
    // configured for EAP-TLS here).
    Ok_ = Ok_ && mbedtls_ssl_set_hostname(&Ssl_, nullptr) == 0;
    mbedtls_ssl_set_bio(&Ssl_, this, SendHook, ReceiveHook, nullptr);
    mbedtls_ssl_set_export_keys_cb(&Ssl_, ExportHook, this);
  }
  ~Peer() {
    mbedtls_ssl_free(&Ssl_);
    mbedtls_ssl_config_free(&Conf_);
    mbedtls_x509_crt_free(&Ca_);
    mbedtls_x509_crt_free(&Cert_);
    mbedtls_pk_free(&Key_);
  }
  bool Ok() const { return Ok_; }

  Bytes Identity(UINT8 Id) const { return {kEapResponse, Id, 0, 9, kEapTypeIdentity, 'a', 'l', 'i', 'x'}; }

  // The response to one EAP-TLS request; empty when the client gave up.
  Bytes Answer(const Bytes &Request) {
    UINT8 Flags = Request[5];
    UINTN Offset = kHeader + ((Flags & kFlagLength) != 0 ? 4 : 0);
    bool Empty = Offset == Request.size() && (Flags & kFlagStart) == 0;
    if (Empty && OutSent_ < Out_.size()) {
      return NextFragment(Request[1]);  // the server acknowledged our fragment
    }
    In_.insert(In_.end(), Request.begin() + (long)Offset, Request.end());
    if ((Flags & kFlagMore) != 0) {
      return Response(Request[1], 0, {});  // acknowledge
    }
    Out_.clear();
    OutSent_ = 0;
    while (!Done_) {
      int Result = mbedtls_ssl_handshake(&Ssl_);
      if (Result == 0) {
        Done_ = true;
      } else if (Result == MBEDTLS_ERR_SSL_WANT_READ) {
        break;
      } else {
        Error_ = Result;
        break;
      }
    }
    In_.clear();
    InRead_ = 0;
    // Nothing to send (also after a failure without an alert of its own):
    // an empty response, as a peer acknowledges an alert.
    if (Out_.empty()) {
      return Response(Request[1], 0, {});
    }
    return NextFragment(Request[1]);
  }

  bool         Done() const { return Done_; }
  int          Error() const { return Error_; }
  const UINT8 *Msk() const { return Msk_; }
  unsigned     Fragments() const { return Fragments_; }

 private:
  Bytes Response(UINT8 Id, UINT8 Flags, const Bytes &Data) {
    Bytes Out = {kEapResponse, Id, 0, 0, kEapTypeTls, Flags};
    Out.insert(Out.end(), Data.begin(), Data.end());
    Out[2] = (UINT8)(Out.size() >> 8);
    Out[3] = (UINT8)Out.size();
    return Out;
  }
  Bytes NextFragment(UINT8 Id) {
    bool First = OutSent_ == 0;
    bool Fragmented = Out_.size() > Mtu_ - kHeader;
    UINTN Room = Mtu_ - kHeader - (First && Fragmented ? 4 : 0);
    UINTN Count = std::min<UINTN>(Room, Out_.size() - OutSent_);
    Bytes Data;
    if (First && Fragmented) {
      UINTN L = Out_.size();
      Data = {(UINT8)(L >> 24), (UINT8)(L >> 16), (UINT8)(L >> 8), (UINT8)L};
    }
    Data.insert(Data.end(), Out_.begin() + (long)OutSent_, Out_.begin() + (long)(OutSent_ + Count));
    OutSent_ += Count;
    ++Fragments_;
    UINT8 Flags = (UINT8)((First && Fragmented ? kFlagLength : 0) |
                          (OutSent_ < Out_.size() ? kFlagMore : 0));
    return Response(Id, Flags, Data);
  }
  static int SendHook(void *Context, const unsigned char *Buffer, size_t Length) {
    Peer *Self = static_cast<Peer *>(Context);
    Self->Out_.insert(Self->Out_.end(), Buffer, Buffer + Length);
    return (int)Length;
  }
  static int ReceiveHook(void *Context, unsigned char *Buffer, size_t Length) {
    Peer *Self = static_cast<Peer *>(Context);
    size_t Count = std::min(Length, Self->In_.size() - Self->InRead_);
    if (Count == 0) {
      return MBEDTLS_ERR_SSL_WANT_READ;
    }
    std::copy(Self->In_.begin() + (long)Self->InRead_, Self->In_.begin() + (long)(Self->InRead_ + Count), Buffer);
    Self->InRead_ += Count;
    return (int)Count;
  }
  static void ExportHook(void *Context, mbedtls_ssl_key_export_type Type, const unsigned char *Secret,
                         size_t SecretLength, const unsigned char ClientRandom[32],
                         const unsigned char ServerRandom[32], mbedtls_tls_prf_types Prf) {
    if (Type != MBEDTLS_SSL_KEY_EXPORT_TLS12_MASTER_SECRET) {
      return;
    }
    unsigned char Randoms[64];
    std::copy(ClientRandom, ClientRandom + 32, Randoms);
    std::copy(ServerRandom, ServerRandom + 32, Randoms + 32);
    mbedtls_ssl_tls_prf(Prf, Secret, SecretLength, "client EAP encryption", Randoms, 64,
                        static_cast<Peer *>(Context)->Msk_, 64);
  }

  mbedtls_ssl_context Ssl_;
  mbedtls_ssl_config  Conf_;
  mbedtls_x509_crt    Ca_, Cert_;
  mbedtls_pk_context  Key_;
  bool  Ok_ = false;
  UINTN Mtu_;
  Bytes In_, Out_;
  size_t InRead_ = 0, OutSent_ = 0;
  bool  Done_ = false;
  int   Error_ = 0;
  unsigned Fragments_ = 0;
  UINT8 Msk_[64] = {};
};

}  // namespace eaptest
