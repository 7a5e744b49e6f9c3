// Benchmarks of the crypto primitives. Each benchmark has an "own" variant
// (the dispatched path: SHA-NI / AES-NI where present), a "portable" variant
// (extensions forced off) and an "openssl" variant computing the same result
// with OpenSSL 3 on the same input.
//
// OpenSSL picks its code paths from OPENSSL_ia32cap; tools/bench.sh reruns the
// OpenSSL SHA-1 benchmark with the SHA extensions (and SSSE3) masked to get
// its portable speed.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include <crypto/AesCmac.h>
#include <crypto/CpuFeatures.h>
#include <crypto/Hmac.h>
#include <crypto/Kdf.h>

namespace {

enum class Impl { Own, Portable, OpenSsl };

// Forces the portable path for the duration of one benchmark.
class PathChoice {
 public:
  explicit PathChoice(Impl Which) { crypto_force_portable(Which == Impl::Portable); }
  ~PathChoice() { crypto_force_portable(false); }
};

std::vector<UINT8> Pattern(size_t Length) {
  std::vector<UINT8> Data(Length);
  for (size_t i = 0; i < Length; ++i) {
    Data[i] = (UINT8)(i * 131 + 7);
  }
  return Data;
}

void BM_Pbkdf2Psk(benchmark::State &State, Impl Which) {
  PathChoice Path(Which);
  const char Passphrase[] = "password";
  const char Ssid[] = "IEEE";
  UINT8 Psk[32];
  for (auto _ : State) {
    if (Which == Impl::OpenSsl) {
      PKCS5_PBKDF2_HMAC_SHA1(Passphrase, 8, reinterpret_cast<const unsigned char *>(Ssid), 4, 4096, 32, Psk);
    } else {
      psk_from_passphrase(Passphrase, 8, Ssid, 4, Psk);
    }
    benchmark::DoNotOptimize(Psk);
  }
}

// One HMAC-SHA256 with a fresh 32-octet key per message (as the KDF and SAE
// callers use it). OpenSSL reuses one EVP_MAC context and re-keys it.
void BM_HmacSha256_64B(benchmark::State &State, Impl Which) {
  PathChoice Path(Which);
  const std::vector<UINT8> Key = Pattern(32), Message = Pattern(64);
  UINT8 Mac[32];
  EVP_MAC *Hmac = nullptr;
  EVP_MAC_CTX *Context = nullptr;
  OSSL_PARAM Params[2] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char *>("SHA256"), 0),
                          OSSL_PARAM_construct_end()};
  if (Which == Impl::OpenSsl) {
    Hmac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    Context = EVP_MAC_CTX_new(Hmac);
    EVP_MAC_CTX_set_params(Context, Params);
  }
  for (auto _ : State) {
    if (Which == Impl::OpenSsl) {
      size_t Length = 0;
      EVP_MAC_init(Context, Key.data(), Key.size(), nullptr);
      EVP_MAC_update(Context, Message.data(), Message.size());
      EVP_MAC_final(Context, Mac, &Length, sizeof(Mac));
    } else {
      hmac_sha256(Key.data(), Key.size(), Message.data(), Message.size(), Mac);
    }
    benchmark::DoNotOptimize(Mac);
  }
  EVP_MAC_CTX_free(Context);
  EVP_MAC_free(Hmac);
}

template <const EVP_MD *(*OpenSslDigest)(), class OwnDigest>
void DigestBenchmark(benchmark::State &State, Impl Which, OwnDigest Own) {
  PathChoice Path(Which);
  const std::vector<UINT8> Message = Pattern(16 * 1024);
  UINT8 Digest[32];
  for (auto _ : State) {
    if (Which == Impl::OpenSsl) {
      EVP_Digest(Message.data(), Message.size(), Digest, nullptr, OpenSslDigest(), nullptr);
    } else {
      Own(Message, Digest);
    }
    benchmark::DoNotOptimize(Digest);
  }
  State.SetBytesProcessed((int64_t)State.iterations() * (int64_t)Message.size());
}

void BM_Sha256_16KiB(benchmark::State &State, Impl Which) {
  DigestBenchmark<EVP_sha256>(State, Which, [](const std::vector<UINT8> &Message, UINT8 *Digest) {
    sha256_ctx Context;
    sha256_init(&Context);
    sha256_update(&Context, Message.data(), Message.size());
    sha256_final(&Context, Digest);
  });
}

void BM_Sha1_16KiB(benchmark::State &State, Impl Which) {
  DigestBenchmark<EVP_sha1>(State, Which, [](const std::vector<UINT8> &Message, UINT8 *Digest) {
    sha1_ctx Context;
    sha1_init(&Context);
    sha1_update(&Context, Message.data(), Message.size());
    sha1_final(Digest, &Context);
  });
}

// One AES-128-CMAC over 128 octets with the key given per message (the
// EAPOL-Key MIC shape). OpenSSL reuses one EVP_MAC context and re-keys it.
void BM_AesCmac_128B(benchmark::State &State, Impl Which) {
  PathChoice Path(Which);
  const std::vector<UINT8> Key = Pattern(16), Message = Pattern(128);
  UINT8 Mac[16];
  UINTN MacLength = 0;
  EVP_MAC *Cmac = nullptr;
  EVP_MAC_CTX *Context = nullptr;
  OSSL_PARAM Params[2] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, const_cast<char *>("AES-128-CBC"), 0),
      OSSL_PARAM_construct_end()};
  if (Which == Impl::OpenSsl) {
    Cmac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
    Context = EVP_MAC_CTX_new(Cmac);
    EVP_MAC_CTX_set_params(Context, Params);
  }
  for (auto _ : State) {
    if (Which == Impl::OpenSsl) {
      size_t Length = 0;
      EVP_MAC_init(Context, Key.data(), Key.size(), nullptr);
      EVP_MAC_update(Context, Message.data(), Message.size());
      EVP_MAC_final(Context, Mac, &Length, sizeof(Mac));
    } else {
      mic_aes_cmac(Message.data(), Message.size(), Key.data(), Key.size(), Mac, &MacLength);
    }
    benchmark::DoNotOptimize(Mac);
  }
  EVP_MAC_CTX_free(Context);
  EVP_MAC_free(Cmac);
}

// The OpenSSL results must equal ours, or the comparison means nothing.
bool SameResultsAsOpenSsl() {
  UINT8 Own[32], Theirs[32];
  psk_from_passphrase("password", 8, "IEEE", 4, Own);
  PKCS5_PBKDF2_HMAC_SHA1("password", 8, reinterpret_cast<const unsigned char *>("IEEE"), 4, 4096, 32, Theirs);
  bool Same = memcmp(Own, Theirs, 32) == 0;
  const std::vector<UINT8> Key = Pattern(16), Message = Pattern(128);
  UINTN MacLength = 0;
  size_t Length = 0;
  mic_aes_cmac(Message.data(), Message.size(), Key.data(), Key.size(), Own, &MacLength);
  EVP_MAC *Cmac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  EVP_MAC_CTX *Context = EVP_MAC_CTX_new(Cmac);
  OSSL_PARAM Params[2] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, const_cast<char *>("AES-128-CBC"), 0),
      OSSL_PARAM_construct_end()};
  Same = Same && EVP_MAC_init(Context, Key.data(), Key.size(), Params) &&
         EVP_MAC_update(Context, Message.data(), Message.size()) &&
         EVP_MAC_final(Context, Theirs, &Length, sizeof(Theirs)) && memcmp(Own, Theirs, 16) == 0;
  EVP_MAC_CTX_free(Context);
  EVP_MAC_free(Cmac);
  return Same;
}

}  // namespace

BENCHMARK_CAPTURE(BM_Pbkdf2Psk, own, Impl::Own)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Pbkdf2Psk, portable, Impl::Portable)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Pbkdf2Psk, openssl, Impl::OpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_HmacSha256_64B, own, Impl::Own);
BENCHMARK_CAPTURE(BM_HmacSha256_64B, portable, Impl::Portable);
BENCHMARK_CAPTURE(BM_HmacSha256_64B, openssl, Impl::OpenSsl);
BENCHMARK_CAPTURE(BM_Sha256_16KiB, own, Impl::Own)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Sha256_16KiB, portable, Impl::Portable)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Sha256_16KiB, openssl, Impl::OpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Sha1_16KiB, own, Impl::Own)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Sha1_16KiB, portable, Impl::Portable)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Sha1_16KiB, openssl, Impl::OpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_AesCmac_128B, own, Impl::Own);
BENCHMARK_CAPTURE(BM_AesCmac_128B, portable, Impl::Portable);
BENCHMARK_CAPTURE(BM_AesCmac_128B, openssl, Impl::OpenSsl);

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  if (!SameResultsAsOpenSsl()) {
    std::fprintf(stderr, "crypto-bench: our results differ from OpenSSL's\n");
    return 1;
  }
  benchmark::AddCustomContext("sha_extensions", crypto_cpu_has_sha() ? "yes" : "no");
  benchmark::AddCustomContext("aes_ni", crypto_cpu_has_aes() ? "yes" : "no");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
